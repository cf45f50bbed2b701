#pragma once
// What the main window gets from outside: its network endpoints, the
// interfaces it sends on, where the error log goes, how message boxes are shown and
// how the firewall is asked to open the receive port. The defaults are the
// tool's fixed values; tests inject loopback endpoints and a message recorder.

#include <QUrl>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MessagePresenter.h"
#include "discovery/DiscoveryDatagrams.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "platform/Firewall.h"
#include "platform/NeighbourTable.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

struct SearchDlgConfig {
    // Where the discovery request goes: 255.255.255.255, port 5050.
    Ipv4Endpoint searchDestination{kLimitedBroadcast, kCameraCommandPort};
    // Where the modify request of a settings window goes: 255.255.255.255, port 5050.
    Ipv4Endpoint settingsDestination{kLimitedBroadcast, kCameraCommandPort};
    // Where the receive worker listens: 0.0.0.0, port 8089.
    ReceiverConfig receiver{};
    // The interfaces a search and a modify go out on, each search request
    // carrying its interface's address; empty: the host's up, broadcast-capable,
    // non-loopback IPv4 interfaces.
    InterfaceLister interfaces{};
    // Directory of QDIPC_Error.log; empty: the working directory.
    std::filesystem::path errorLogDirectory{};
    // Shows the warning boxes; null: real message boxes.
    std::shared_ptr<MessagePresenter> messages{};
    // Run once at start-up, hidden and detached.
    std::function<void()> openFirewall = OpenReceivePortInFirewall;
    // Least time between two batches of rows reaching the list.
    std::chrono::milliseconds replyDrainInterval{100};
    // UI time one batch of rows may take, about.
    std::chrono::milliseconds replySliceBudget{10};
    // Replies that may wait for the list; beyond it the newest are dropped.
    std::size_t maxPendingReplies = ReplyQueue::kDefaultMaxPending;
    // What an address plan avoids and offers: the neighbour table and the
    // default gateway per interface; empty: the host's own.
    std::function<std::vector<NeighbourEntry>()> neighbours{};
    std::function<std::optional<std::string>(std::uint32_t)> gatewayOf{};
    // Opens a camera's web page; empty: the desktop's browser.
    std::function<bool(const QUrl&)> openUrl{};
};

}  // namespace qdipc
