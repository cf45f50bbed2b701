#pragma once
// The ONVIF discovery that runs beside each search of a window: an
// OnvifProbe on a thread of its own. When it is done, wake is called (on
// that thread) and its devices wait until the owner takes them. A new Start,
// Stop or the end of the object ends the round still running and drops what
// it found, so a replaced search's devices never reach the list.
// Toolkit-free.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "discovery/OnvifDevices.h"
#include "discovery/OnvifProbe.h"

namespace qdipc {

class OnvifSearchRound {
public:
    explicit OnvifSearchRound(std::function<void()> wake);
    ~OnvifSearchRound();
    OnvifSearchRound(const OnvifSearchRound&) = delete;
    OnvifSearchRound& operator=(const OnvifSearchRound&) = delete;

    // Ends a round still running, then probes afresh.
    void Start(OnvifProbeOptions options);
    // Ends a round still running; its devices are dropped.
    void Stop();
    // Whether a round is probing or listening now.
    bool Running() const { return m_running.load(); }
    // The devices of the round that ended, once; nothing before it ends.
    std::optional<std::vector<OnvifDevice>> Take();

private:
    std::function<void()> m_wake;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::mutex m_mutex;
    std::optional<std::vector<OnvifDevice>> m_found;
};

}  // namespace qdipc
