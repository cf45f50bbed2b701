#pragma once
// Floods for the benchmarks: junk datagrams (the current search ID but
// neither signature, so each one is a log entry) with real replies spread
// evenly among them, or a long run of distinct replies. Datagrams are made
// from one encoded reply per batch as they go, so a million of them cost the
// sending process no memory.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/camsim/Endpoint.h"

namespace bench {

struct FloodPlan {
    camsim::Endpoint destination;
    std::uint32_t searchId = 0;
    std::size_t junk = 0;  // datagrams without a signature
    std::size_t real = 0;  // distinct replies, cameras firstCamera onwards
    std::uint32_t firstCamera = 1;
    // The junk carries another search ID, so the receiver drops it silently
    // (the baseline without log entries).
    bool junkUnderOtherSearch = false;
    // Zero: as fast as the system takes them; else spread evenly over it.
    std::chrono::milliseconds duration{0};
};

struct FloodResult {
    std::size_t sent = 0;
    std::size_t realSent = 0;
    std::size_t failed = 0;
    std::chrono::nanoseconds elapsed{0};
};

// Sends the plan on a fresh socket; false with the reason in error.
bool SendFlood(const FloodPlan& plan, FloodResult& result, std::string& error);

}  // namespace bench
