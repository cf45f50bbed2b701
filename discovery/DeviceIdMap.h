#pragma once
// The device IDs (their eight bytes as one 64-bit key) that the device list
// holds, each with a 32-bit value (the list keeps the row's serial there):
// 256 open-addressing tables with linear probing. A lookup mostly touches one
// cache line, a key costs 24 bytes or less, and a growing table rehashes only
// its own 256th of the keys, so no insertion holds the UI thread up for long,
// even with a million IDs.
//
// Device IDs come from anyone on the LAN who answers a broadcast, so the hash
// is keyed (KeyedHash: a random key per map). Without the key nobody can pick
// IDs that share a shard and a probe chain; crafted IDs cost what random ones
// cost.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "discovery/KeyedHash.h"

namespace qdipc {

class DeviceIdMap {
public:
    // Adds key with value; false (and the value kept) when the key was there already.
    bool Insert(std::uint64_t key, std::uint32_t value = 0) {
        if (key == 0) {
            const bool fresh = !hasZero_;
            if (fresh) {
                hasZero_ = true;
                zeroValue_ = value;
                ++size_;
            }
            return fresh;
        }
        const std::uint64_t hash = Hash(key);
        Shard& shard = shards_[hash >> 56];
        if ((shard.count + 1) * 2 > shard.keys.size()) {
            Grow(shard);
        }
        const std::size_t mask = shard.keys.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            if (shard.keys[i] == key) {
                return false;
            }
            if (shard.keys[i] == 0) {
                shard.keys[i] = key;
                shard.values[i] = value;
                ++shard.count;
                ++size_;
                return true;
            }
        }
    }

    bool Contains(std::uint64_t key) const { return Find(key).has_value(); }

    std::optional<std::uint32_t> Find(std::uint64_t key) const {
        if (key == 0) {
            return hasZero_ ? std::optional<std::uint32_t>(zeroValue_) : std::nullopt;
        }
        const std::uint64_t hash = Hash(key);
        const Shard& shard = shards_[hash >> 56];
        if (shard.keys.empty()) {
            return std::nullopt;
        }
        const std::size_t mask = shard.keys.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            if (shard.keys[i] == key) {
                return shard.values[i];
            }
            if (shard.keys[i] == 0) {
                return std::nullopt;
            }
        }
    }

    std::size_t Size() const { return size_; }

    // The most slots any one lookup visits: the longest distance from a key's
    // home slot to where it lies, plus one; 0 for an empty set. Walks every
    // key (measurements and tests).
    std::size_t LongestProbeChain() const {
        std::size_t longest = 0;
        for (const Shard& shard : shards_) {
            const std::size_t mask = shard.keys.size() - 1;
            for (std::size_t i = 0; i < shard.keys.size(); ++i) {
                if (shard.keys[i] != 0) {
                    const std::size_t home = Hash(shard.keys[i]) & mask;
                    longest = std::max(longest, ((i - home) & mask) + 1);
                }
            }
        }
        return longest;
    }

private:
    // Zero marks an empty slot; the key 0 is kept aside in hasZero_.
    struct Shard {
        std::vector<std::uint64_t> keys;  // a power of two in size, at most half full
        std::vector<std::uint32_t> values;
        std::size_t count = 0;
    };

    std::uint64_t Hash(std::uint64_t key) const { return hash_(key); }

    void Grow(Shard& shard) const {
        const std::size_t size = shard.keys.empty() ? 16 : shard.keys.size() * 2;
        std::vector<std::uint64_t> oldKeys(size, 0);
        std::vector<std::uint32_t> oldValues(size, 0);
        oldKeys.swap(shard.keys);
        oldValues.swap(shard.values);
        const std::size_t mask = size - 1;
        for (std::size_t k = 0; k < oldKeys.size(); ++k) {
            if (oldKeys[k] == 0) {
                continue;
            }
            std::size_t i = Hash(oldKeys[k]) & mask;
            while (shard.keys[i] != 0) {
                i = (i + 1) & mask;
            }
            shard.keys[i] = oldKeys[k];
            shard.values[i] = oldValues[k];
        }
    }

    KeyedHash hash_;  // a key of the map's own
    std::array<Shard, 256> shards_{};
    bool hasZero_ = false;
    std::uint32_t zeroValue_ = 0;
    std::size_t size_ = 0;
};

}  // namespace qdipc
