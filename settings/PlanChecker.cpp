#include "settings/PlanChecker.h"

#include <utility>

namespace qdipc {

PlanChecker::PlanChecker(std::function<void()> wake)
    : m_wake(std::move(wake)), m_thread([this] { Loop(); }) {}

PlanChecker::~PlanChecker() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_cancel.store(true);
    }
    m_changed.notify_all();
    m_thread.join();
}

void PlanChecker::Submit(std::uint64_t generation, Job job) {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.emplace(generation, std::move(job));
        m_cancel.store(true);  // the running job, if any, is stale now
    }
    m_changed.notify_all();
}

std::optional<PlanChecker::Done> PlanChecker::Take() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<Done> done = std::move(m_done);
    m_done.reset();
    return done;
}

void PlanChecker::Loop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_ending || m_waiting.has_value(); });
        if (m_ending) {
            return;
        }
        auto [generation, job] = std::move(*m_waiting);
        m_waiting.reset();
        m_cancel.store(false);
        lock.unlock();
        BatchPlan plan = job(m_cancel);
        lock.lock();
        // A job given up for a newer one or for the end is not handed over.
        if (m_waiting.has_value() || m_ending) {
            continue;
        }
        m_done = Done{generation, std::move(plan)};
        lock.unlock();
        if (m_wake) {
            m_wake();
        }
        lock.lock();
    }
}

AddressProber CancellableProber(AddressProber probe, const std::atomic<bool>& cancel) {
    if (!probe) {
        return {};
    }
    return [probe = std::move(probe), &cancel](const std::vector<std::uint32_t>& addresses) {
        if (cancel.load()) {
            return std::vector<ProbeAnswer>(addresses.size(), ProbeAnswer::NotProbed);
        }
        return probe(addresses);
    };
}

}  // namespace qdipc
