#include "preview/ReleaseQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace qdipc {

// Shared with the thread, so that a thread left running owns what it uses.
struct ReleaseQueue::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    bool busy = false;
    bool stopping = false;
    std::thread thread;

    static void Run(const std::shared_ptr<State>& self) {
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->changed.wait(lock, [&] { return self->stopping || !self->jobs.empty(); });
            if (self->jobs.empty()) {
                return;  // stopping, and nothing left to do
            }
            std::function<void()> job = std::move(self->jobs.front());
            self->jobs.pop_front();
            self->busy = true;
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            self->busy = false;
            self->changed.notify_all();
        }
    }

    bool Idle() const { return jobs.empty() && !busy; }
};

ReleaseQueue::ReleaseQueue() : m_state(std::make_shared<State>()) {}

ReleaseQueue::~ReleaseQueue() {
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->changed.notify_all();
    const bool idle = m_state->Idle();
    lock.unlock();
    if (!m_state->thread.joinable()) {
        return;
    }
    if (idle) {
        m_state->thread.join();
    } else {
        m_state->thread.detach();
    }
}

void ReleaseQueue::Post(std::function<void()> job) {
    std::lock_guard lock(m_state->mutex);
    m_state->jobs.push_back(std::move(job));
    if (!m_state->thread.joinable()) {
        m_state->thread = std::thread(&State::Run, m_state);
    }
    m_state->changed.notify_all();
}

bool ReleaseQueue::WaitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, limit, [&] { return m_state->Idle(); });
}

}  // namespace qdipc
