#include "cli/CommandLineRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "cli/BatchCommand.h"
#include "cli/ListOutput.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "platform/NetworkInterfaces.h"
#include "platform/TextDecoding.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

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
            err << kPrefix << "no up, broadcast-capable IPv4 interface is named '"
                << options.interfaceName << "'; there are:";
            for (const Ipv4Interface& i : interfaces) {
                err << " " << i.name << " (" << i.address << ")";
            }
            err << (interfaces.empty() ? " none\n" : "\n");
            return kExitUsage;
        }
    }
    StartSocketLibrary();
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
    std::this_thread::sleep_for(std::chrono::milliseconds(options.waitMs));
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
    out << FormatDeviceList(options.format, entries) << std::flush;
    err << list.RowCount() << (list.RowCount() == 1 ? " camera" : " cameras") << " found\n";
    if (!out) {
        // A full disk or a closed pipe must not pass for a complete list.
        err << kPrefix << "the list could not be written out in full\n";
        return 1;
    }
    return 0;
}

int RunModify(const ModifyOptions& options, const NetworkConfig& config, std::ostream& out) {
    // The device ID as a settings window opened for its row holds it: the
    // eight bytes of the text, a zero tail.
    std::array<std::uint8_t, record::kDevIdBlockSize> devIdBlock{};
    ParseDeviceId(options.deviceId.c_str(), devIdBlock.data());
    const NetSettingsRecord record = BuildModifyRecord(devIdBlock, options.mode, options.ip,
                                                       options.mask, options.gateway, options.mac);

    StartSocketLibrary();
    // Where the camera is is not known here: the record goes out on every
    // network, as the window's does for a camera whose network is unknown.
    const SettingsBroadcaster broadcaster(config.settingsDestination, SystemSeconds,
                                          config.interfaces);
    const BroadcastOutcome outcome = broadcaster.SendSettingsRecord(record, 0);
    out << BroadcastOutcomeText(outcome) << "\n" << std::flush;
    return outcome == BroadcastOutcome::Ok ? 0 : 1;
}

}  // namespace

std::string PrintableCell(std::string_view bytes) {
    return PrintableCellText(bytes, Gb18030ToUtf8);
}

int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const NetworkConfig& config) {
    switch (commandLine.mode) {
        case CommandMode::Help:
            out << HelpText() << std::flush;
            return out ? 0 : 1;
        case CommandMode::Version:
            out << VersionText() << std::flush;
            return out ? 0 : 1;
        case CommandMode::UsageError:
            err << kPrefix << commandLine.error << "\n"
                << "Try 'qd_ip_search --help' for the options.\n";
            return kExitUsage;
        case CommandMode::List:
            return RunList(commandLine.list, config, out, err);
        case CommandMode::Modify:
            return RunModify(commandLine.modify, config, out);
        case CommandMode::Assign:
        case CommandMode::Plan:
            return RunBatchCommand(commandLine.mode, commandLine.batch, config, out, err);
        case CommandMode::Window:
            break;
    }
    return kExitUsage;
}

}  // namespace qdipc
