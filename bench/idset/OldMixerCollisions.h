#pragma once
// Device IDs made to collide in a set that hashes with the unkeyed splitmix64
// finaliser (the device-ID map's hash before it was keyed): the finaliser is a
// bijection that anyone can invert, so a sender who knows it can pick keys
// whose hashes share the shard byte and every slot bit, one probe chain for
// all of them. The bench and the ID map's test use these keys to show what
// such a sender gains against the keyed hash.

#include <cstdint>
#include <vector>

namespace qdipc::attack {

// The multiplicative inverse of an odd number modulo 2^64 (Newton's
// iteration; each step doubles the number of correct low bits).
constexpr std::uint64_t InverseOdd(std::uint64_t odd) {
    std::uint64_t inverse = odd;  // correct in the low 3 bits
    for (int i = 0; i < 5; ++i) {
        inverse *= 2 - odd * inverse;
    }
    return inverse;
}

// x ^= x >> shift, undone.
constexpr std::uint64_t UnshiftXor(std::uint64_t y, int shift) {
    std::uint64_t x = y;
    for (int done = shift; done < 64; done += shift) {
        x = y ^ (x >> shift);
    }
    return x;
}

constexpr std::uint64_t OldMix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

constexpr std::uint64_t OldMixInverse(std::uint64_t h) {
    h = UnshiftXor(h, 31);
    h *= InverseOdd(0x94D049BB133111EBull);
    h = UnshiftXor(h, 27);
    h *= InverseOdd(0xBF58476D1CE4E5B9ull);
    return UnshiftXor(h, 30);
}

static_assert(OldMixInverse(OldMix(0x0011AABB0000FF01ull)) == 0x0011AABB0000FF01ull);

// count distinct nonzero keys whose old hashes have a zero top byte (shard 0)
// and 32 zero low bits (slot 0 of any table up to 2^32 slots).
inline std::vector<std::uint64_t> CollidingKeys(std::size_t count) {
    std::vector<std::uint64_t> keys;
    keys.reserve(count);
    for (std::uint64_t n = 1; keys.size() < count; ++n) {
        keys.push_back(OldMixInverse(n << 32));
    }
    return keys;
}

}  // namespace qdipc::attack
