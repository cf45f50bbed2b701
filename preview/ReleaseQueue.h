#pragma once
// Runs jobs one after another on a thread of its own, in the order they were
// posted. The video pane uses it to release media players: libvlc's stop
// joins the player's threads, which can take seconds on a silent camera, and
// must not freeze the window.

#include <chrono>
#include <functional>
#include <memory>

namespace qdipc {

class ReleaseQueue {
public:
    ReleaseQueue();
    // Does not wait: an idle thread is joined, a busy one is left to finish
    // its jobs on its own (it owns what it uses) and then ends.
    ~ReleaseQueue();
    ReleaseQueue(const ReleaseQueue&) = delete;
    ReleaseQueue& operator=(const ReleaseQueue&) = delete;

    void Post(std::function<void()> job);
    // True when every posted job has finished within the limit.
    bool WaitUntilIdle(std::chrono::milliseconds limit);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

}  // namespace qdipc
