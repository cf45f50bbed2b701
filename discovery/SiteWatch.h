#pragma once
// Watching a site: the list is kept up to date by one discovery request per
// cycle instead of being cleared and filled afresh. A camera heard for the
// first time is appended, a listed camera that reports new values is updated
// in place and marked changed, a camera that misses a number of cycles in a
// row is marked gone (its row stays), and a gone camera that answers again
// is back. ONVIF devices are watched too (ObserveOnvif): their Hello and
// Bye count at once, the probes of each cycle catch those that say neither.
//
// It owns no thread, socket or timer, and reads no clock: its owner passes
// the time to Start and Tick, sends the request Tick asks for (the search's
// request again, same search ID) and shows it the accepted replies. The
// window drives it from a timer, the command line from a loop. The rows'
// times and states live in the DeviceList.

#include <chrono>
#include <cstdint>
#include <vector>

#include "discovery/DeviceList.h"
#include "discovery/OnvifDevices.h"
#include "discovery/ReplyQueue.h"

namespace qdipc {

struct WatchOptions {
    // Time between two requests.
    std::chrono::milliseconds interval{5000};
    // Cycles in a row without an answer that make a camera gone.
    int goneAfterCycles = 3;
};

enum class WatchEventKind { Added, Changed, Gone, Back };

// "added", "changed", "gone", "back".
const char* WatchEventName(WatchEventKind kind);

struct WatchEvent {
    WatchEventKind kind = WatchEventKind::Added;
    int row = 0;  // the row's position when the event was made
    // When it was made, by the list's clock (DeviceList::Now).
    std::chrono::system_clock::time_point time{};
};

class SiteWatch {
public:
    using Clock = std::chrono::steady_clock;

    explicit SiteWatch(DeviceList& list, WatchOptions options = {});

    // Watching begins at now: the owner has just sent a request (or a search
    // that is still repeating its own), and the first cycle ends one interval
    // later. Every listed row starts with no missed cycles.
    void Start(Clock::time_point now);
    void Stop() { m_watching = false; }
    bool Watching() const { return m_watching; }
    const WatchOptions& Options() const { return m_options; }
    // When Tick next has something to do.
    Clock::time_point NextDue() const { return m_due; }
    // Cycles completed since Start.
    int Cycles() const { return m_cycles; }

    // When a cycle is due: ends it (rows that did not answer during it miss
    // one more; those reaching the limit are gone and reported) and answers
    // true: the owner sends one request now. Otherwise nothing, false. A tick
    // that comes late starts the next cycle from now.
    bool Tick(Clock::time_point now, std::vector<WatchEvent>& events);

    // The accepted replies, in arrival order. Those of another search ID are
    // dropped; a listed camera is seen (back when it was gone) and, when it
    // reports new values, updated and changed; new cameras are appended. A
    // gone camera that comes back with new values is one "back" event, its
    // row already updated.
    void Observe(const std::vector<AcceptedReply>& batch, std::uint32_t searchId,
                 std::vector<WatchEvent>& events);

    // What the ONVIF devices said (OnvifWatchSource), in order, at once: a
    // Hello or an answer to the cycle's probes appends a new device (added),
    // returns a gone one (back) and updates a listed one (changed when its
    // cells differ; a device that comes back as it was is only back); a Bye
    // makes its device gone now; the end of a round of probes closes it for
    // the rows of ONVIF devices alone (gone after as many rounds without an
    // answer as cycles make a camera gone).
    void ObserveOnvif(const std::vector<OnvifSighting>& sightings, std::vector<WatchEvent>& events);

private:
    DeviceList& m_list;
    WatchOptions m_options;
    bool m_watching = false;
    Clock::time_point m_due{};
    int m_cycles = 0;
    std::vector<int> m_newlyGone;
};

}  // namespace qdipc
