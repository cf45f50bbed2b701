#pragma once
// One ONVIF discovery: a Probe for dn:NetworkVideoTransmitter and one for
// tds:Device multicast out of every broadcast-capable IPv4 interface (a socket
// per interface address, bound to it, so that the unicast ProbeMatches come
// back to it), each sent four times on the ProbeSchedule with its own
// MessageID, then listening until the time is up. Only ProbeMatches whose
// RelatesTo names one of the two probes count; what they say is merged per
// device (OnvifDeviceSet). Toolkit-free; the native search's own requests are
// not touched.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/OnvifDevices.h"
#include "discovery/WsDiscovery.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

struct OnvifProbeOptions {
    // Where the probes go; tests inject a loopback endpoint.
    Ipv4Endpoint destination{kWsdMulticastGroup, kWsdPort};
    // The interfaces to probe from; the host's broadcast-capable ones when empty.
    InterfaceLister interfaces;
    // Only the interface of this name ("" all).
    std::string onlyInterface;
    // The whole discovery, from the first send to the end of listening.
    std::chrono::milliseconds listen{2500};
    // Whether the host receives its own probes (off on a real network).
    bool multicastLoop = false;
    // The first gap of the schedule; a random 50-250 ms when empty.
    GapDraw drawFirstGap;
    // Seeds the MessageIDs; from the system's random device when 0.
    std::uint64_t seed = 0;
};

// What happened on one interface.
struct OnvifInterfaceCount {
    Ipv4Interface network;
    bool opened = false;          // its socket was made and bound
    std::uint16_t localPort = 0;  // the port it was bound to (the answers' destination)
    int probesSent = 0;           // datagrams sent (two probes, four times each)
    int datagrams = 0;            // datagrams received
    int accepted = 0;             // ProbeMatches relating to our probes
};

class OnvifProbe {
public:
    explicit OnvifProbe(OnvifProbeOptions options = {});

    // Probes and listens; returns when the time is up or stop becomes true.
    // False when no interface could be probed from.
    bool Run(const std::atomic<bool>* stop = nullptr);

    const OnvifDeviceSet& Devices() const { return m_devices; }
    const std::vector<OnvifInterfaceCount>& Counts() const { return m_counts; }
    // The MessageIDs of the NetworkVideoTransmitter and the Device probe.
    const std::array<std::string, 2>& MessageIds() const { return m_messageIds; }
    // Datagrams that were no ProbeMatches of ours (unreadable, another
    // RelatesTo, another message).
    int Ignored() const { return m_ignored; }

private:
    OnvifProbeOptions m_options;
    OnvifDeviceSet m_devices;
    std::vector<OnvifInterfaceCount> m_counts;
    std::array<std::string, 2> m_messageIds;
    int m_ignored = 0;
};

}  // namespace qdipc
