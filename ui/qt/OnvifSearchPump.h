#pragma once
// The Qt window's ONVIF discovery beside each search (OnvifSearchRound): the
// devices come back to the UI thread, queued, when the round is done. A new
// search (or the window closing) ends the round before and drops what it
// found.

#include <QObject>
#include <functional>
#include <vector>

#include "discovery/NetworkConfig.h"
#include "discovery/OnvifDevices.h"
#include "discovery/OnvifSearchRound.h"

class OnvifSearchPump : public QObject {
public:
    using Found = std::function<void(const std::vector<qdipc::OnvifDevice>&)>;

    OnvifSearchPump(QObject* parent, Found found);

    // Ends a round still running, then probes afresh.
    void Start(const qdipc::NetworkConfig& config);
    // Ends a round still running; its devices are dropped.
    void Stop() { m_round.Stop(); }

private:
    Found m_found;
    qdipc::OnvifSearchRound m_round;
};
