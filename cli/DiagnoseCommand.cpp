#include "cli/DiagnoseCommand.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "cli/ListOutput.h"
#include "cli/OptionParser.h"
#include "discovery/CellText.h"
#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/NetworkDiagnosis.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

// The search of the diagnosis: bind, send, repeat, wait, as --list does.
SearchFacts Search(const NetworkConfig& config) {
    SearchFacts facts;
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue({}, config.maxPendingReplies);
    ErrorLog log(config.errorLogDirectory);
    RecvSearchThread worker(searchId, queue, log, config.receiver);
    if (!worker.Bind()) {
        facts.bound = false;
        return facts;
    }
    const std::optional<std::uint64_t> dropsBefore = ReversePathFilterDrops();
    SearchCommand command(searchId, config.searchDestination, config.interfaces);
    facts.searched = true;
    facts.outcome = command.Run({});
    if (facts.outcome == SearchOutcome::Sent && worker.Start()) {
        const auto start = std::chrono::steady_clock::now();
        const std::chrono::milliseconds wait(kDefaultListWaitMs);
        for (const std::chrono::milliseconds offset : kSearchRepeatOffsets) {
            std::this_thread::sleep_until(start + offset);
            command.Repeat();
        }
        std::this_thread::sleep_until(start + wait);
    }
    worker.Stop();
    facts.failedNetworks = command.FailedNetworks();
    facts.rejected = worker.Rejected();
    const std::optional<std::uint64_t> dropsAfter = ReversePathFilterDrops();
    if (dropsBefore && dropsAfter && *dropsAfter >= *dropsBefore) {
        facts.reversePathDrops = *dropsAfter - *dropsBefore;
    }

    DeviceList list;
    list.SetHostInterfaces(config.interfaces ? config.interfaces() : ListBroadcastInterfaces());
    list.AddReplies(queue.TakeAll(), searchId.load());
    facts.cameras = list.RowCount();
    for (int row = 0; row < list.RowCount(); ++row) {
        if ((list.Flags(row) & OtherSubnet) != 0) {
            ++facts.camerasInOtherSubnets;
            if (facts.otherSubnetExample.empty()) {
                facts.otherSubnetExample = list.CellText(row, kColIp);
            }
        }
    }
    return facts;
}

}  // namespace

CommandLine ParseDiagnoseCommandLine(const std::vector<std::string>& args) {
    const auto fail = [](std::string message) {
        CommandLine failed;
        failed.mode = CommandMode::UsageError;
        failed.error = std::move(message);
        return failed;
    };
    OptionParser parser;
    parser.AddFlag("--diagnose");
    parser.AddValue("--format");
    if (const auto fault = parser.Parse(args)) {
        return fail(*fault);
    }
    CommandLine result;
    for (const std::string& name : parser.Order()) {
        if (parser.Count(name) > 1) {
            return fail(name + " is given twice");
        }
        if (name != "--format") {
            continue;
        }
        const std::string value = parser.Value(name);
        if (value == "tsv") {
            result.diagnose.format = ListFormat::Tsv;
        } else if (value == "json") {
            result.diagnose.format = ListFormat::Json;
        } else {
            return fail("--format of --diagnose is tsv or json, not '" + EscapeControls(value) +
                        "'");
        }
    }
    if (const auto leftover = parser.Leftover()) {
        return fail(*leftover);
    }
    result.mode = CommandMode::Diagnose;
    return result;
}

int RunDiagnose(const DiagnoseOptions& options, const NetworkConfig& config, std::ostream& out,
                std::ostream& err) {
    StartSocketLibrary();
    // The port's owners are read before this program binds it.
    const HostFacts host = GatherHostFacts(config.receiver.bind.port);
    const SearchFacts search = Search(config);
    const std::vector<DiagnosisLine> lines = Diagnose(host, search);

    std::vector<std::vector<std::string>> rows;
    int problems = 0;
    for (const DiagnosisLine& line : lines) {
        rows.push_back({line.check, CheckResultName(line.result), line.finding, line.fix});
        problems += line.result == CheckResult::Problem ? 1 : 0;
    }
    errno = 0;
    out << FormatRecords(options.format, {"check", "result", "finding", "fix"}, rows) << std::flush;
    if (!out) {
        if (errno != EPIPE) {
            err << kPrefix << "the diagnosis could not be written out in full\n";
        }
        return 1;
    }
    if (search.searched) {
        err << search.cameras << (search.cameras == 1 ? " camera" : " cameras") << " found\n";
    }
    if (problems == 0) {
        err << "no problem found\n";
        return 0;
    }
    err << problems << (problems == 1 ? " problem" : " problems") << " found\n";
    return kExitProblemFound;
}

}  // namespace qdipc
