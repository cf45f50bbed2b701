#pragma once
// The set of device IDs (their eight bytes as one 64-bit key) that the device
// table holds: 256 open-addressing tables with linear probing. A lookup
// mostly touches one cache line, a key costs 16 bytes or less, and a growing
// table rehashes only its own 256th of the keys, so no insertion holds the UI
// thread up for long, even with a million IDs.
//
// Device IDs come from anyone on the LAN who answers a broadcast, so the hash
// is keyed: SipHash-1-3 with a 128-bit key drawn from the system's random
// source when the set is made. Without the key nobody can pick IDs that share
// a shard and a probe chain; crafted IDs cost what random ones cost.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <random>
#include <vector>

namespace qdipc {

// SipHash-c-d of one 64-bit message (its eight bytes in little-endian order)
// under the key (k0, k1), as the reference implementation computes it.
template <int kCompressionRounds, int kFinalRounds>
std::uint64_t SipHash64(std::uint64_t k0, std::uint64_t k1, std::uint64_t message) {
    auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    std::uint64_t v0 = k0 ^ 0x736F6D6570736575ull;
    std::uint64_t v1 = k1 ^ 0x646F72616E646F6Dull;
    std::uint64_t v2 = k0 ^ 0x6C7967656E657261ull;
    std::uint64_t v3 = k1 ^ 0x7465646279746573ull;
    auto rounds = [&](int count) {
        for (int i = 0; i < count; ++i) {
            v0 += v1;
            v1 = rotl(v1, 13);
            v1 ^= v0;
            v0 = rotl(v0, 32);
            v2 += v3;
            v3 = rotl(v3, 16);
            v3 ^= v2;
            v0 += v3;
            v3 = rotl(v3, 21);
            v3 ^= v0;
            v2 += v1;
            v1 = rotl(v1, 17);
            v1 ^= v2;
            v2 = rotl(v2, 32);
        }
    };
    // The message block, then the last block: no tail bytes, the length 8 in
    // its top byte.
    constexpr std::uint64_t kLastBlock = std::uint64_t{8} << 56;
    v3 ^= message;
    rounds(kCompressionRounds);
    v0 ^= message;
    v3 ^= kLastBlock;
    rounds(kCompressionRounds);
    v0 ^= kLastBlock;
    v2 ^= 0xFF;
    rounds(kFinalRounds);
    return v0 ^ v1 ^ v2 ^ v3;
}

class DeviceIdSet {
public:
    // A set with a key of its own from the system's random source.
    DeviceIdSet() : key_(DrawKey()) {}

    // False when the key was there already.
    bool Insert(std::uint64_t key) {
        if (key == 0) {
            const bool fresh = !hasZero_;
            hasZero_ = true;
            size_ += fresh ? 1 : 0;
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
                ++shard.count;
                ++size_;
                return true;
            }
        }
    }

    bool Contains(std::uint64_t key) const {
        if (key == 0) {
            return hasZero_;
        }
        const std::uint64_t hash = Hash(key);
        const Shard& shard = shards_[hash >> 56];
        if (shard.keys.empty()) {
            return false;
        }
        const std::size_t mask = shard.keys.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            if (shard.keys[i] == key) {
                return true;
            }
            if (shard.keys[i] == 0) {
                return false;
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
        std::size_t count = 0;
    };

    struct Key {
        std::uint64_t k0 = 0;
        std::uint64_t k1 = 0;
    };

    // 128 bits from std::random_device. Should the system have no random
    // source, the clock and the set's address stand in: not secret, but
    // different for every set and every run.
    Key DrawKey() const {
        try {
            std::random_device source;
            auto word = [&source] {
                return std::uint64_t{source()} << 32 | std::uint64_t{source()};
            };
            const std::uint64_t k0 = word();
            return {k0, word()};
        } catch (const std::exception&) {
            const auto ticks = static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count());
            return {ticks, reinterpret_cast<std::uintptr_t>(this) ^ 0x9E3779B97F4A7C15ull};
        }
    }

    // Every key bit reaches the shard and slot bits; without key_ the hash of
    // no key can be foreseen.
    std::uint64_t Hash(std::uint64_t key) const { return SipHash64<1, 3>(key_.k0, key_.k1, key); }

    void Grow(Shard& shard) const {
        std::vector<std::uint64_t> old(shard.keys.empty() ? 16 : shard.keys.size() * 2, 0);
        old.swap(shard.keys);
        const std::size_t mask = shard.keys.size() - 1;
        for (const std::uint64_t key : old) {
            if (key == 0) {
                continue;
            }
            std::size_t i = Hash(key) & mask;
            while (shard.keys[i] != 0) {
                i = (i + 1) & mask;
            }
            shard.keys[i] = key;
        }
    }

    Key key_;
    std::array<Shard, 256> shards_{};
    bool hasZero_ = false;
    std::size_t size_ = 0;
};

}  // namespace qdipc
