#pragma once
// Checks an Assign dialog's plans against the network on a thread of its
// own, so that typing in the dialog's fields never waits for a probe (up to
// 1 s a round). A window submits the latest job on every change; a job still
// waiting is replaced, and a running one is told to give up (its probes then
// answer at once, without asking). When a job is done, wake is called on the
// checker's thread and its result waits, under its generation, until the
// window takes it. The destructor gives up the running job and joins.
// Toolkit-free.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "settings/BatchAssign.h"

namespace qdipc {

class PlanChecker {
public:
    // cancel becomes true when a newer job came or the checker ends.
    using Job = std::function<BatchPlan(const std::atomic<bool>& cancel)>;
    struct Done {
        std::uint64_t generation = 0;
        BatchPlan plan;
    };

    explicit PlanChecker(std::function<void()> wake);
    ~PlanChecker();
    PlanChecker(const PlanChecker&) = delete;
    PlanChecker& operator=(const PlanChecker&) = delete;

    void Submit(std::uint64_t generation, Job job);
    // The latest finished job's result, once.
    std::optional<Done> Take();

private:
    void Loop();

    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::pair<std::uint64_t, Job>> m_waiting;
    std::optional<Done> m_done;
    std::atomic<bool> m_cancel{false};
    bool m_ending = false;
    std::thread m_thread;  // last: it uses the members above
};

// A prober that asks probe until cancel becomes true, and then answers every
// address as not probed at once.
AddressProber CancellableProber(AddressProber probe, const std::atomic<bool>& cancel);

}  // namespace qdipc
