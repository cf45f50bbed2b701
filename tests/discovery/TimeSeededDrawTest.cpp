#include "discovery/TimeSeededDraw.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

namespace qdipc {
namespace {

TEST(TimeSeededDrawTest, KnownSeeds) {
    // Values worked out by hand from state * 214013 + 2531011, bits 16..30.
    struct Case {
        std::int64_t seconds;
        std::uint32_t value;
    };
    const Case cases[] = {
        {0, 38},
        {1, 41},  // the C runtime's well-known first value after srand(1)
        {2, 45},
        {1767198605, 23535},  // 2025-12-31 16:30:05 UTC
        {1772334245, 17158},  // 2026-03-01 03:04:05 UTC
        {4294967295, 35},
        {4294967296, 38},  // the seed is taken modulo 2^32
        {-1, 35},
        {4102444800, 22191},  // 2100-01-01 00:00:00 UTC
        {12345, 7584},        // 12345 * 214013 + 2531011 = 0x9DA03218
        {2147483647, 35},     // state differs from -1 only in bit 31, left out
        {1800000000, 20497},  // 2027-01-15 08:00:00 UTC
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimeSeededDraw(c.seconds), c.value) << c.seconds;
}

TEST(TimeSeededDrawTest, ConsecutiveSecondsMoveByThreeOrFour) {
    for (std::int64_t s = 1767000000; s < 1767000000 + 100000; ++s) {
        const std::uint32_t a = TimeSeededDraw(s);
        const std::uint32_t b = TimeSeededDraw(s + 1);
        ASSERT_LE(a, 32767u);
        const std::uint32_t step = (b - a) & 0x7FFF;
        ASSERT_TRUE(step == 3 || step == 4) << s << ": " << a << " -> " << b;
    }
}

TEST(TimeSeededDrawTest, SystemSecondsIsTheCalendarTime) {
    using namespace std::chrono;
    const std::int64_t before =
        duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t now = SystemSeconds();
    const std::int64_t after =
        duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

}  // namespace
}  // namespace qdipc
