#include "discovery/TimeSeededDraw.h"

#include <chrono>

namespace qdipc {

std::int64_t SystemSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::uint32_t TimeSeededDraw(std::int64_t seconds) {
    // The seed is the time as an unsigned 32-bit number; the first output of
    // the generator is bits 16..30 of the state after one step.
    std::uint32_t state = static_cast<std::uint32_t>(seconds);
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
}

}  // namespace qdipc
