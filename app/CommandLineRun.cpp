#include "app/CommandLineRun.h"

#include <QStringDecoder>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/ListOutput.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceTable.h"
#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

// Starts the worker and returns once its socket is bound (true) or the bind
// has failed (false). The request goes out only after this, so that no reply
// can arrive before anyone listens.
bool StartListening(RecvSearchThread& worker) {
    if (!worker.Start()) {
        return false;
    }
    // Binding is the worker's first step; this only bounds a hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (worker.BoundPort() == 0 && worker.GetState() == RecvSearchThread::State::Running &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return worker.BoundPort() != 0;
}

int RunList(const ListOptions& options, const SearchDlgConfig& config, std::ostream& out,
            std::ostream& err) {
    if (!options.interfaceName.empty()) {
        err << kPrefix << "--interface is not available in this build\n";
        return kExitUsage;
    }
    StartSocketLibrary();
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue;
    ErrorLog log(config.errorLogDirectory);
    RecvSearchThread worker(searchId, queue, log, config.receiver);
    if (!StartListening(worker)) {
        err << kPrefix << "cannot receive on UDP port " << config.receiver.bind.port
            << " (is another program using it?)\n";
        return 1;
    }

    SearchCommand command(searchId, config.searchDestination, config.hostLookup);
    const SearchOutcome outcome = command.Run({});
    if (outcome != SearchOutcome::Sent) {
        err << kPrefix << SearchFailureText(outcome) << "\n";
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(options.waitMs));
    worker.Stop();

    // The table the window fills: replies of this search, one row per
    // device ID, in arrival order.
    DeviceTable table;
    table.AddReplies(queue.TakeAll(), searchId.load());
    std::vector<ListRecord> records(static_cast<std::size_t>(table.RowCount()));
    for (int row = 0; row < table.RowCount(); ++row) {
        for (int c = 0; c < kColumnCount; ++c) {
            records[static_cast<std::size_t>(row)][static_cast<std::size_t>(c)] =
                PrintableCell(table.CellBytes(row, c));
        }
    }
    out << FormatDeviceList(options.format, records) << std::flush;
    err << table.RowCount() << (table.RowCount() == 1 ? " camera" : " cameras") << " found\n";
    return 0;
}

int RunModify(const ModifyOptions& options, const SearchDlgConfig& config, std::ostream& out) {
    // The device ID as a settings window opened for its row holds it: the
    // eight bytes of the text, a zero tail.
    std::array<std::uint8_t, record::kDevIdBlockSize> devIdBlock{};
    ParseDeviceId(options.deviceId.c_str(), devIdBlock.data());
    const NetSettingsRecord record = BuildModifyRecord(devIdBlock, options.mode, options.ip,
                                                       options.mask, options.gateway, options.mac);

    StartSocketLibrary();
    const SettingsBroadcaster broadcaster(config.settingsDestination);
    const BroadcastOutcome outcome = broadcaster.SendSettingsRecord(record);
    out << BroadcastOutcomeText(outcome) << "\n" << std::flush;
    return outcome == BroadcastOutcome::Ok ? 0 : 1;
}

}  // namespace

std::string PrintableCell(std::string_view bytes) {
    static const LegacyDecoder gb18030 = [](std::string_view text) -> std::optional<std::string> {
        QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
        if (!decoder.isValid()) {
            return std::nullopt;
        }
        const QString decoded =
            decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
        if (decoder.hasError()) {
            return std::nullopt;
        }
        return decoded.toStdString();
    };
    return PrintableCellText(bytes, gb18030);
}

int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const SearchDlgConfig& config) {
    switch (commandLine.mode) {
        case CommandMode::Help:
            out << HelpText() << std::flush;
            return 0;
        case CommandMode::Version:
            out << VersionText() << std::flush;
            return 0;
        case CommandMode::UsageError:
            err << kPrefix << commandLine.error << "\n"
                << "Try 'qd_ip_search --help' for the options.\n";
            return kExitUsage;
        case CommandMode::List:
            return RunList(commandLine.list, config, out, err);
        case CommandMode::Modify:
            return RunModify(commandLine.modify, config, out);
        case CommandMode::Window:
            break;
    }
    return kExitUsage;
}

}  // namespace qdipc
