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

#include "discovery/NetworkConfig.h"
#include "discovery/NetworkDiagnosis.h"
#include "discovery/SearchCommand.h"
#include "discovery/SiteWatch.h"
#include "platform/Firewall.h"
#include "platform/NeighbourTable.h"
#include "platform/PortOwner.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeConfirmation.h"
#include "ui/qt/MessagePresenter.h"

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
    // Asks whether anything answers at addresses (ProbeAddresses); empty:
    // the probe on the configured interfaces.
    AddressProber probeAddresses{};
    // Opens a camera's web page; empty: the desktop's browser.
    std::function<bool(const QUrl&)> openUrl{};
    // How a sent settings change is confirmed; a zero timeout sends only.
    ConfirmationOptions confirmation{};
    // "Keep Watching": the time between requests and the cycles to gone.
    WatchOptions watch{};
    // Asks where "Save List As…" writes; an empty answer saves nothing.
    // Empty: a file dialog.
    std::function<QString(QWidget*)> chooseSaveFile{};
    // Asks which plan file "Apply Plan…" opens; an empty answer opens
    // nothing. Empty: a file dialog.
    std::function<QString(QWidget*)> choosePlanFile{};
    // When a search with its repeats counts as ended: an empty list then says
    // "No camera answered" and offers the diagnosis.
    std::chrono::milliseconds searchEndDelay{2000};
    // What the diagnosis reads of the host, and the reverse-path filter's drop
    // counter; empty: the host's own (GatherHostFacts, ReversePathFilterDrops).
    std::function<HostFacts()> hostFacts{};
    std::function<std::optional<std::uint64_t>()> reversePathDrops{};
    // Who holds a UDP port, named on the bar when the receive port is
    // taken; empty: the system's answer (UdpPortOwners).
    std::function<PortOwnerLookup(std::uint16_t)> portOwners{};
};

}  // namespace qdipc
