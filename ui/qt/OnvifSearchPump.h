#pragma once
// The window's ONVIF discovery: each search starts an OnvifProbe on a thread
// of its own beside the native search; its devices come back to the UI
// thread, queued, when the probe is done. A new search (or the window
// closing) ends the probe before and drops what it found.

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "discovery/NetworkConfig.h"
#include "discovery/OnvifDevices.h"

class OnvifSearchPump : public QObject {
public:
    using Found = std::function<void(const std::vector<qdipc::OnvifDevice>&)>;

    OnvifSearchPump(QObject* parent, Found found);
    ~OnvifSearchPump() override;

    // Ends a probe still running, then probes afresh.
    void Start(const qdipc::NetworkConfig& config);
    // Ends a probe still running; its devices are dropped.
    void Stop();

private:
    Found m_found;
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_stop;
};
