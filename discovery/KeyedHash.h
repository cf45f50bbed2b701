#pragma once
// A keyed hash of 64-bit keys for tables filled with values that strangers
// choose (device IDs from anyone who answers a broadcast): SipHash-1-3 under
// a 128-bit key drawn from the system's random source. Without the key no one
// can foresee where a value lands, so values crafted to collide cost what
// random ones cost.

#include <chrono>
#include <cstdint>
#include <exception>
#include <random>

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

class KeyedHash {
public:
    // A fresh key from std::random_device. Should the system have no random
    // source, the clock and an address stand in: not secret, but different
    // for every table and every run.
    KeyedHash() {
        try {
            std::random_device source;
            auto word = [&source] {
                return std::uint64_t{source()} << 32 | std::uint64_t{source()};
            };
            k0_ = word();
            k1_ = word();
        } catch (const std::exception&) {
            k0_ = static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count());
            k1_ = reinterpret_cast<std::uintptr_t>(this) ^ 0x9E3779B97F4A7C15ull;
        }
    }

    std::uint64_t operator()(std::uint64_t value) const { return SipHash64<1, 3>(k0_, k1_, value); }

private:
    std::uint64_t k0_ = 0;
    std::uint64_t k1_ = 0;
};

}  // namespace qdipc
