#pragma once
// What the main window gets from outside: the network set it shares with the
// command line (endpoints, interfaces, error log, pending cap), how message
// boxes are shown and how the firewall is asked to open the receive port. The
// defaults are the tool's fixed values; tests inject loopback endpoints and a
// message recorder.

#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MessagePresenter.h"
#include "discovery/NetworkConfig.h"
#include "discovery/SearchCommand.h"
#include "platform/Firewall.h"
#include "platform/NeighbourTable.h"
#include "settings/ChangeConfirmation.h"

namespace qdipc {

struct SearchDlgConfig : NetworkConfig {
    // Shows the warning boxes; null: real message boxes.
    std::shared_ptr<MessagePresenter> messages{};
    // Run once at start-up, hidden and detached.
    std::function<void()> openFirewall = OpenReceivePortInFirewall;
    // Least time between two batches of rows reaching the list.
    std::chrono::milliseconds replyDrainInterval{100};
    // UI time one batch of rows may take, about.
    std::chrono::milliseconds replySliceBudget{10};
    // What an address plan avoids and offers: the neighbour table and the
    // default gateway per interface; empty: the host's own.
    std::function<std::vector<NeighbourEntry>()> neighbours{};
    std::function<std::optional<std::string>(std::uint32_t)> gatewayOf{};
    // Opens a camera's web page; empty: the desktop's browser.
    std::function<bool(const QUrl&)> openUrl{};
    // How a sent settings change is confirmed; a zero timeout sends only.
    ConfirmationOptions confirmation{};
};

}  // namespace qdipc
