#pragma once
// The time-seeded draw behind the search ID and the modify stamp: reseed the
// Microsoft C runtime's linear congruential generator with the time in whole
// seconds and take its first value. Implemented here rather than with the C
// library's rand(), so the value is the same on every platform.

#include <cstdint>
#include <functional>

namespace qdipc {

// Seconds since 1970-01-01 00:00 UTC.
using SecondsClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

// state = seconds mod 2^32; state = state * 214013 + 2531011; value = bits 16..30.
std::uint32_t TimeSeededDraw(std::int64_t seconds);

}  // namespace qdipc
