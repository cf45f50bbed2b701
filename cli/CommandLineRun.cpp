#include "cli/CommandLineRun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "cli/BatchCommand.h"
#include "cli/DetailsCommand.h"
#include "cli/DiagnoseCommand.h"
#include "cli/OnvifSearchRun.h"
#include "cli/ProvisioningRun.h"
#include "cli/SnapshotCommand.h"
#include "cli/WatchCommand.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/ListOutput.h"
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
    // The ONVIF probes go out beside the search, on their own sockets and
    // thread, so that both take the time of the longer one.
    std::optional<OnvifSearchRun> onvif;
    if (options.protocol != SearchProtocol::Native) {
        onvif.emplace(config, options.interfaceName);
    }
    // The list the window fills: replies of this search, one row per
    // device ID, in arrival order. Each batch goes into it as it comes, so
    // that no reply is kept twice.
    DeviceList list;
    list.SetHostInterfaces(ConfiguredInterfaces(config));
    if (options.protocol != SearchProtocol::Onvif) {
        CliNetwork network(config, options.interfaceName);
        if (!network.Open(err)) {
            return 1;
        }
        if (!network.Search(std::chrono::milliseconds(options.waitMs),
                            [&](const std::vector<AcceptedReply>& batch) {
                                list.AddReplies(batch, network.SearchId());
                            })) {
            err << kPrefix << SearchFailureText(network.LastSearchOutcome()) << "\n";
            return 1;
        }
        network.Close();
    }
    if (onvif) {
        onvif->AddTo(list);
    }

    // Written row by row, in chunks: neither every entry nor the whole text
    // is held at once.
    constexpr std::size_t kChunk = 64 * 1024;
    std::string chunk = DeviceListHead(options.format);
    bool written = true;
    for (int row = 0; row < list.RowCount() && written; ++row) {
        AppendDeviceListRow(chunk, options.format, ListEntryOf(list, row, false), row == 0);
        if (chunk.size() >= kChunk) {
            written = WriteAll(out, chunk);
            chunk.clear();
        }
    }
    chunk += DeviceListTail(options.format, list.RowCount() == 0);
    written = written && WriteAll(out, chunk);
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

}  // namespace

std::string PrintableCell(std::string_view bytes) {
    return DecodeCellText(bytes);
}

int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const NetworkConfig& config, const SnapshotTaker& snapshot) {
    switch (commandLine.mode) {
        case CommandMode::Help:
            return WriteAll(out, HelpText()) ? 0 : OutputLost(err, "the help");
        case CommandMode::Version:
            return WriteAll(out, VersionText()) ? 0 : OutputLost(err, "the version");
        case CommandMode::UsageError:
            // One line: what is wrong, and where the options are.
            err << kPrefix << commandLine.error << " (see 'qd_ip_search --help')\n";
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
        case CommandMode::Watch:
            StartSocketLibrary();
            return RunWatch(commandLine.watch, config, out, err, StopOnSignals());
        case CommandMode::Diagnose:
            return RunDiagnose(commandLine.diagnose, config, out, err);
        case CommandMode::Snapshot:
            StartSocketLibrary();
            return RunSnapshot(commandLine.snapshot, snapshot, out, err);
        case CommandMode::Details:
            return RunDetails(commandLine.details, out, err);
        case CommandMode::Window:
            break;
    }
    return kExitUsage;
}

}  // namespace qdipc
