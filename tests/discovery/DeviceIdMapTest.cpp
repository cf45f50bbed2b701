// The device-ID map's keyed hash: SipHash-1-3 as the reference computes it,
// and IDs crafted to share one probe chain under the former unkeyed hash
// spread like random ones.

#include "discovery/DeviceIdMap.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bench/idset/OldMixerCollisions.h"

namespace qdipc {
namespace {

// Expected values from CPython's siphash13 (PYTHONHASHSEED=0 gives it the
// zero key): hash(bytes(range(8))) and hash(b"\xff" * 8), as unsigned.
TEST(DeviceIdMapTest, HashIsSipHash13) {
    EXPECT_EQ((SipHash64<1, 3>(0, 0, 0x0706050403020100ull)), 0xEAD411E67EBE2EEAull);
    EXPECT_EQ((SipHash64<1, 3>(0, 0, ~0ull)), 0x2F205BE2FEC8E38Dull);
}

TEST(DeviceIdMapTest, CraftedIdsProbeNoLongerThanRandomOnes) {
    constexpr std::size_t kCount = 20000;
    const std::vector<std::uint64_t> crafted = attack::CollidingKeys(kCount);
    // Under the old hash they all start in slot 0 of shard 0: one chain of
    // kCount keys, every insertion walking all earlier ones.
    for (const std::uint64_t key : crafted) {
        ASSERT_EQ(attack::OldMix(key) & 0xFF000000FFFFFFFFull, 0u);
    }
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> randomKeys;
    for (std::size_t i = 0; i < kCount; ++i) {
        randomKeys.push_back(random() | 1);
    }
    for (const auto& keys : {crafted, randomKeys}) {
        DeviceIdMap set;
        for (const std::uint64_t key : keys) {
            ASSERT_TRUE(set.Insert(key));
        }
        EXPECT_EQ(set.Size(), kCount);
        // Linear probing at most half full: a few dozen slots at the very
        // most, against kCount for the crafted keys under the old hash.
        EXPECT_LE(set.LongestProbeChain(), 64u);
        for (std::size_t i = 0; i < kCount; i += 101) {
            EXPECT_TRUE(set.Contains(keys[i]));
            EXPECT_FALSE(set.Insert(keys[i]));
        }
    }
}

}  // namespace
}  // namespace qdipc
