#include "cli/OnvifSearchRun.h"

#include <unordered_map>
#include <utility>

namespace qdipc {
namespace {

OnvifProbeOptions ProbeOptions(const NetworkConfig& config, const std::string& onlyInterface) {
    OnvifProbeOptions options;
    options.destination = config.onvifDestination;
    options.interfaces = config.interfaces;
    options.onlyInterface = onlyInterface;
    return options;
}

}  // namespace

OnvifSearchRun::OnvifSearchRun(const NetworkConfig& config, const std::string& onlyInterface,
                               NeighbourReader neighbours)
    : m_probe(ProbeOptions(config, onlyInterface)), m_neighbours(std::move(neighbours)) {
    m_thread = std::thread([this] { m_probe.Run(); });
}

OnvifSearchRun::~OnvifSearchRun() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

const OnvifProbe& OnvifSearchRun::Finish() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_probe;
}

int OnvifSearchRun::AddTo(DeviceList& list) {
    const OnvifProbe& probe = Finish();
    // The neighbour table, read after the devices answered: the MAC of an
    // address that talked to this host, learnt without any password.
    std::unordered_map<std::string, std::string> macOf;
    if (probe.Devices().Size() > 0) {
        for (NeighbourEntry& entry : m_neighbours ? m_neighbours() : ReachableNeighbours()) {
            if (!entry.mac.empty()) {
                macOf.emplace(std::move(entry.address), std::move(entry.mac));
            }
        }
    }
    int added = 0;
    for (OnvifDevice device : probe.Devices().Devices()) {
        if (device.mac.empty()) {
            // Only the address the device answered from is known to be its own.
            if (const auto found = macOf.find(DottedQuadOf(device.sourceAddress));
                found != macOf.end() && device.ip == found->first) {
                device.mac = found->second;
            }
        }
        if (list.AddOnvifDevice(device) >= 0) {
            ++added;
        }
    }
    return added;
}

std::vector<std::string> OnvifSearchRun::Addresses() {
    std::vector<std::string> addresses;
    for (const OnvifDevice& device : Finish().Devices().Devices()) {
        if (!device.ip.empty()) {
            addresses.push_back(device.ip);
        }
    }
    return addresses;
}

}  // namespace qdipc
