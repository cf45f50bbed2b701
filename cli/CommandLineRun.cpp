#include "cli/CommandLineRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "cli/BatchCommand.h"
#include "cli/ListOutput.h"
#include "cli/ProvisioningRun.h"
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

int RunList(const ListOptions& options, const NetworkConfig& config, std::ostream& out,
            std::ostream& err) {
    if (!CheckInterfaceName(config, options.interfaceName, err)) {
        return kExitUsage;
    }
    CliNetwork network(config, options.interfaceName);
    if (!network.Open(err)) {
        return 1;
    }
    // The search of a settings run without a plan: the request, its repeats
    // within the wait, every reply of this search kept for the list.
    std::vector<AcceptedReply> replies;
    ProvisioningOptions searchOnly;
    searchOnly.searchWait = std::chrono::milliseconds(options.waitMs);
    ProvisioningHooks hooks = network.Hooks();
    hooks.plan = [](const std::vector<FoundCamera>&) { return ProvisioningPlan{}; };
    ProvisioningSession session(searchOnly, std::move(hooks));
    if (!session.StartSearch(ProvisioningSession::Clock::now())) {
        err << kPrefix << SearchFailureText(network.LastSearchOutcome()) << "\n";
        return 1;
    }
    // The session only keeps the schedule; the replies go to the list alone.
    network.Drive(
        session,
        [&](const std::vector<AcceptedReply>& batch) {
            replies.insert(replies.end(), batch.begin(), batch.end());
        },
        false);
    network.Close();

    // The list the window fills: replies of this search, one row per
    // device ID, in arrival order.
    DeviceList list;
    list.SetHostInterfaces(ConfiguredInterfaces(config));
    list.AddReplies(replies, network.SearchId());
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
    if (!written) {
        // A full disk or a closed pipe must not pass for a complete list.
        errno = lostErrno;
        return OutputLost(err, "the list");
    }
    return 0;
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
            return RunModifyCommand(commandLine.modify, config, out, err);
        case CommandMode::Assign:
        case CommandMode::Plan:
            StartSocketLibrary();
            return RunBatchCommand(commandLine.mode, commandLine.batch, config, out, err);
        case CommandMode::Window:
            break;
    }
    return kExitUsage;
}

}  // namespace qdipc
