#pragma once
// When a search sends its request: once at Start (the caller sends it), then
// again at each of kSearchRepeatOffsets after it, byte for byte. It owns no
// socket or timer and reads no clock: its owner passes the time to Start and
// Tick, sends one repeat for each that Tick counts, and wakes at NextDue. The
// window drives it from a timer, the command line from its loop, so both
// repeat a search at the same times.

#include <chrono>
#include <cstddef>
#include <optional>

namespace qdipc {

class SearchSchedule {
public:
    using Clock = std::chrono::steady_clock;

    // The first request went out at now; a search that came before ends here
    // (its repeats not yet sent are dropped). Repeats at or after `until`
    // (counted from now) are not sent: a search that ends sooner has no use
    // for them.
    void Start(Clock::time_point now, Clock::duration until = Clock::duration::max());
    // No more repeats.
    void Stop() { m_active = false; }

    // How many repeats are due at now, each counted as sent: the caller sends
    // the request that many times. More than one only after a late tick.
    std::size_t Tick(Clock::time_point now);
    // When the next repeat is due; nothing when none is left.
    std::optional<Clock::time_point> NextDue() const;
    // A repeat is still to come.
    bool Repeating() const { return NextDue().has_value(); }

private:
    bool m_active = false;
    Clock::time_point m_start{};
    Clock::duration m_until{};
    std::size_t m_sent = 0;
};

}  // namespace qdipc
