#include "cli/CommandLineRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "cli/BatchCommand.h"
#include "cli/DiagnoseCommand.h"
#include "cli/ListOutput.h"
#include "cli/WatchCommand.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "platform/NetworkInterfaces.h"
#include "platform/TextDecoding.h"
#include "settings/ChangeConfirmation.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

// Output that could not be written ends the command with exit code 1. A
// reader that has gone (a closed pipe: | head) is not told about it; any
// other failure (a full disk) is named on standard error.
int OutputLost(std::ostream& err, const char* what) {
    if (errno != EPIPE) {
        err << kPrefix << what << " could not be written out in full\n";
    }
    return 1;
}

// Writes text and flushes; false when the stream failed.
bool WriteAll(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text << std::flush;
    return static_cast<bool>(out);
}

std::vector<Ipv4Interface> Interfaces(const NetworkConfig& config) {
    return config.interfaces ? config.interfaces() : ListBroadcastInterfaces();
}

int RunList(const ListOptions& options, const NetworkConfig& config, std::ostream& out,
            std::ostream& err) {
    if (!options.interfaceName.empty()) {
        const std::vector<Ipv4Interface> interfaces = Interfaces(config);
        const bool known =
            std::any_of(interfaces.begin(), interfaces.end(),
                        [&](const Ipv4Interface& i) { return i.name == options.interfaceName; });
        if (!known) {
            // Names as the system gives them, control characters as \xNN.
            err << kPrefix << "no up, broadcast-capable IPv4 interface is named '"
                << EscapeControls(options.interfaceName) << "'; there are:";
            for (const Ipv4Interface& i : interfaces) {
                err << " " << EscapeControls(i.name) << " (" << i.address << ")";
            }
            err << (interfaces.empty() ? " none\n" : "\n");
            return kExitUsage;
        }
    }
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue({}, config.maxPendingReplies);
    ErrorLog log(config.errorLogDirectory);
    RecvSearchThread worker(searchId, queue, log, config.receiver);
    // The receive port is bound before the request leaves, so that a camera
    // that answers at once is heard; its replies wait in the socket until the
    // worker reads them.
    if (!worker.Bind()) {
        err << kPrefix << "cannot receive on UDP port " << config.receiver.bind.port
            << " (is another program using it?)\n";
        return 1;
    }

    SearchCommand command(searchId, config.searchDestination, config.interfaces);
    const SearchOutcome outcome = command.Run({}, options.interfaceName);
    if (outcome != SearchOutcome::Sent) {
        err << kPrefix << SearchFailureText(outcome) << "\n";
        return 1;
    }
    if (!worker.Start()) {
        err << kPrefix << "cannot start the receive worker\n";
        return 1;
    }
    // The request goes out again within the wait, for cameras that missed
    // it; a repeat that fails is not reported (the first one went out).
    const auto start = std::chrono::steady_clock::now();
    const std::chrono::milliseconds wait(options.waitMs);
    for (const std::chrono::milliseconds offset : kSearchRepeatOffsets) {
        if (offset >= wait) {
            break;
        }
        std::this_thread::sleep_until(start + offset);
        command.Repeat();
    }
    std::this_thread::sleep_until(start + wait);
    worker.Stop();

    // The list the window fills: replies of this search, one row per
    // device ID, in arrival order.
    DeviceList list;
    list.SetHostInterfaces(Interfaces(config));
    list.AddReplies(queue.TakeAll(), searchId.load());
    std::vector<ListEntry> entries(static_cast<std::size_t>(list.RowCount()));
    for (int row = 0; row < list.RowCount(); ++row) {
        ListEntry& entry = entries[static_cast<std::size_t>(row)];
        for (int c = 0; c < kColumnCount; ++c) {
            entry.cells[static_cast<std::size_t>(c)] = PrintableCell(list.CellBytes(row, c));
        }
        entry.interfaceName = list.ArrivalInterfaceName(row);
        entry.flags = list.Flags(row);
    }
    const bool written = WriteAll(out, FormatDeviceList(options.format, entries));
    const int lostErrno = errno;
    err << list.RowCount() << (list.RowCount() == 1 ? " camera" : " cameras") << " found\n";
    if (list.RowCount() == 0) {
        err << kPrefix
            << "no camera answered; 'qd_ip_search --diagnose' checks this PC's "
               "network for the reason\n";
    }
    if (!written) {
        // A full disk or a closed pipe must not pass for a complete list.
        errno = lostErrno;
        return OutputLost(err, "the list");
    }
    return 0;
}

int RunModify(const ModifyOptions& options, const NetworkConfig& config, std::ostream& out,
              std::ostream& err) {
    // The device ID as a settings window opened for its row holds it: the
    // eight bytes of the text, a zero tail.
    std::array<std::uint8_t, record::kDevIdBlockSize> devIdBlock{};
    ParseDeviceId(options.deviceId.c_str(), devIdBlock.data());
    const NetSettingsRecord record = BuildModifyRecord(devIdBlock, options.mode, options.ip,
                                                       options.mask, options.gateway, options.mac);

    // The camera's answers are heard on the receive port, bound before the
    // record leaves: a change that cannot be confirmed is not sent.
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue;
    ErrorLog log(config.errorLogDirectory);
    RecvSearchThread worker(searchId, queue, log, config.receiver);
    const bool confirm = options.verifyWaitMs > 0;
    if (confirm && !worker.Bind()) {
        err << kPrefix << "cannot receive on UDP port " << config.receiver.bind.port
            << " to confirm the change (is another program using it? --verify-wait 0 sends "
               "without confirming); nothing was sent\n";
        return 1;
    }

    // Where the camera is is not known here: the record goes out on every
    // network, as the window's does for a camera whose network is unknown.
    const SettingsBroadcaster broadcaster(config.settingsDestination, SystemSeconds,
                                          config.interfaces);
    std::string failure;
    const BroadcastOutcome outcome = broadcaster.SendSettingsRecord(record, 0, &failure);
    if (!WriteAll(out, std::string(BroadcastOutcomeText(outcome)) + "\n")) {
        return OutputLost(err, "the outcome");
    }
    if (outcome != BroadcastOutcome::Ok) {
        err << kPrefix << failure << "\n";
        return 1;
    }
    if (!confirm) {
        return 0;
    }
    if (!worker.Start()) {
        err << kPrefix << "cannot start the receive worker\n";
        return 1;
    }
    ConfirmationOptions confirmationOptions;
    confirmationOptions.timeout = std::chrono::milliseconds(options.verifyWaitMs);
    ChangeConfirmation confirmation(confirmationOptions);
    confirmation.Add(record, ChangeConfirmation::Clock::now());
    // The first probe draws a search ID; the later ones repeat it.
    SearchCommand command(searchId, config.searchDestination, config.interfaces);
    bool searched = false;
    const std::vector<ConfirmationOutcome> outcomes =
        WaitForConfirmations(confirmation, queue, [&] {
            if (searched) {
                command.Repeat();
            } else {
                searched = command.Run({}) == SearchOutcome::Sent;
            }
        });
    worker.Stop();
    const bool confirmed = !outcomes.empty() && outcomes.front().confirmed;
    if (!outcomes.empty() &&
        !WriteAll(out, EscapeControls(ConfirmationText(outcomes.front())) + "\n")) {
        return OutputLost(err, "the confirmation");
    }
    return confirmed ? 0 : kExitNotConfirmed;
}

}  // namespace

std::string PrintableCell(std::string_view bytes) {
    return DecodeCellText(bytes);
}

int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const NetworkConfig& config) {
    switch (commandLine.mode) {
        case CommandMode::Help:
            return WriteAll(out, HelpText()) ? 0 : OutputLost(err, "the help");
        case CommandMode::Version:
            return WriteAll(out, VersionText()) ? 0 : OutputLost(err, "the version");
        case CommandMode::UsageError:
            err << kPrefix << commandLine.error << "\n"
                << "Try 'qd_ip_search --help' for the options.\n";
            return kExitUsage;
        case CommandMode::List:
            // Winsock first: listing the interfaces needs it on Windows.
            StartSocketLibrary();
            return RunList(commandLine.list, config, out, err);
        case CommandMode::Modify:
            StartSocketLibrary();
            return RunModify(commandLine.modify, config, out, err);
        case CommandMode::Assign:
        case CommandMode::Plan:
            StartSocketLibrary();
            return RunBatchCommand(commandLine.mode, commandLine.batch, config, out, err);
        case CommandMode::Watch:
            StartSocketLibrary();
            return RunWatch(commandLine.watch, config, out, err, StopOnSignals());
        case CommandMode::Diagnose:
            return RunDiagnose(commandLine.diagnose, config, out, err);
        case CommandMode::Window:
            break;
    }
    return kExitUsage;
}

}  // namespace qdipc
