#pragma once
// The command line's ONVIF discovery: an OnvifProbe on a thread of its own,
// started beside the native search, its devices added to the list once it is
// done (a device without a MAC of its own takes the one the neighbour table
// learnt when it answered).

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/DeviceList.h"
#include "discovery/NetworkConfig.h"
#include "discovery/OnvifProbe.h"
#include "platform/NeighbourTable.h"

namespace qdipc {

class OnvifSearchRun {
public:
    using NeighbourReader = std::function<std::vector<NeighbourEntry>()>;

    // Starts probing at once, out of onlyInterface ("" every interface).
    OnvifSearchRun(const NetworkConfig& config, const std::string& onlyInterface,
                   NeighbourReader neighbours = {});
    ~OnvifSearchRun();
    OnvifSearchRun(const OnvifSearchRun&) = delete;
    OnvifSearchRun& operator=(const OnvifSearchRun&) = delete;

    // Waits for the end of the probe.
    const OnvifProbe& Finish();
    // Finish, then every device found into list; returns how many.
    int AddTo(DeviceList& list);
    // Finish, then the IP of every device found (the addresses they hold).
    std::vector<std::string> Addresses();

private:
    OnvifProbe m_probe;
    NeighbourReader m_neighbours;
    std::thread m_thread;
};

}  // namespace qdipc
