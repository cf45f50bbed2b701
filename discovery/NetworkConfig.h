#pragma once
// Where the tool talks to the cameras: its network endpoints, the interfaces
// it sends on, where the error log goes and how many replies may wait. The
// defaults are the tool's fixed values; tests inject loopback endpoints. The
// window and the command line take the same set.

#include <cstddef>
#include <filesystem>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/WsDiscovery.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

struct NetworkConfig {
    // Where the discovery request goes: 255.255.255.255, port 5050.
    Ipv4Endpoint searchDestination{kLimitedBroadcast, kCameraCommandPort};
    // Where the ONVIF devices' WS-Discovery probes go: 239.255.255.250, port 3702.
    Ipv4Endpoint onvifDestination{kWsdMulticastGroup, kWsdPort};
    // Where a watch hears ONVIF devices' Hello and Bye: the group joined on
    // each interface and the port listened on (239.255.255.250, port 3702);
    // a unicast address is bound to and nothing joined (tests).
    Ipv4Endpoint onvifAnnouncements{kWsdMulticastGroup, kWsdPort};
    // Where a modify request goes: 255.255.255.255, port 5050.
    Ipv4Endpoint settingsDestination{kLimitedBroadcast, kCameraCommandPort};
    // Where the receive worker listens: 0.0.0.0, port 8089.
    ReceiverConfig receiver{};
    // The interfaces a search and a modify go out on, each search request
    // carrying its interface's address; empty: the host's up, broadcast-capable,
    // non-loopback IPv4 interfaces.
    InterfaceLister interfaces{};
    // Directory of QDIPC_Error.log; empty: the working directory.
    std::filesystem::path errorLogDirectory{};
    // Where a settings run writes its rollback plan; empty: the user's state
    // directory (UserStateDirectory).
    std::filesystem::path stateDirectory{};
    // Replies that may wait for the list; beyond it the newest are dropped.
    std::size_t maxPendingReplies = ReplyQueue::kDefaultMaxPending;
};

}  // namespace qdipc
