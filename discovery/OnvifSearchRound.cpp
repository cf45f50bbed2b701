#include "discovery/OnvifSearchRound.h"

#include <utility>

namespace qdipc {

OnvifSearchRound::OnvifSearchRound(std::function<void()> wake) : m_wake(std::move(wake)) {}

OnvifSearchRound::~OnvifSearchRound() {
    Stop();
}

void OnvifSearchRound::Stop() {
    m_stop.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_found.reset();
}

void OnvifSearchRound::Start(OnvifProbeOptions options) {
    Stop();
    m_stop.store(false);
    m_running.store(true);
    m_thread = std::thread([this, options = std::move(options)] {
        OnvifProbe probe(options);
        probe.Run(&m_stop);
        if (!m_stop.load()) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_found = probe.Devices().Devices();
        }
        m_running.store(false);
        // Stop joins this thread before the owner goes, so the call is safe;
        // a round that was ended wakes nobody.
        if (!m_stop.load() && m_wake) {
            m_wake();
        }
    });
}

std::optional<std::vector<OnvifDevice>> OnvifSearchRound::Take() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<std::vector<OnvifDevice>> found = std::move(m_found);
    m_found.reset();
    return found;
}

}  // namespace qdipc
