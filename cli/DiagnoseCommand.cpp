#include "cli/DiagnoseCommand.h"

#include <cerrno>
#include <chrono>
#include <sstream>

#include "cli/OnvifSearchRun.h"
#include "cli/OptionParser.h"
#include "cli/ProvisioningRun.h"
#include "discovery/CellText.h"
#include "discovery/DeviceList.h"
#include "discovery/ListOutput.h"
#include "discovery/NetworkDiagnosis.h"
#include "discovery/OnvifDiagnosis.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

// The search of the diagnosis: bind, send, repeat, wait, as --list does.
SearchFacts Search(const NetworkConfig& config) {
    SearchFacts facts;
    CliNetwork network(config, "");
    std::ostringstream bindFailure;  // the diagnosis names a taken port itself
    if (!network.Open(bindFailure)) {
        facts.bound = false;
        return facts;
    }
    const std::optional<std::uint64_t> dropsBefore = ReversePathFilterDrops();
    facts.searched = true;
    const std::optional<std::vector<AcceptedReply>> replies =
        network.Search(std::chrono::milliseconds(kDefaultListWaitMs));
    facts.outcome = network.LastSearchOutcome();
    network.Close();
    facts.failedNetworks = network.Command().FailedNetworks();
    facts.rejected = network.Worker().Rejected();
    const std::optional<std::uint64_t> dropsAfter = ReversePathFilterDrops();
    if (dropsBefore && dropsAfter && *dropsAfter >= *dropsBefore) {
        facts.reversePathDrops = *dropsAfter - *dropsBefore;
    }
    if (!replies) {
        return facts;
    }
    DeviceList list;
    list.SetHostInterfaces(ConfiguredInterfaces(config));
    for (const AcceptedReply& reply : *replies) {
        if (reply.searchId == network.SearchId()) {
            facts.NoteReplySource(reply.sourceAddress);
        }
    }
    list.AddReplies(*replies, network.SearchId());
    facts.cameras = list.RowCount();
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
    parser.AddFlag("--help,-h");
    parser.AddFlag("--version,-V");
    parser.AddValue("--format");
    if (const auto fault = parser.Parse(args)) {
        return fail(*fault);
    }
    CommandLine result;
    // As with the other verbs, --help and --version win.
    if (parser.Given("--help") || parser.Given("--version")) {
        result.mode = parser.Given("--help") ? CommandMode::Help : CommandMode::Version;
        return result;
    }
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
    // The ONVIF probes go out beside the search.
    OnvifSearchRun onvif(config, "");
    const SearchFacts search = Search(config);
    std::vector<DiagnosisLine> lines = Diagnose(host, search);
    const OnvifProbe& probe = onvif.Finish();
    OnvifFacts onvifFacts;
    onvifFacts.probed = true;
    onvifFacts.interfaces = probe.Counts();
    onvifFacts.devices = static_cast<int>(probe.Devices().Size());
    std::vector<std::string> names;
    for (const OnvifInterfaceCount& count : probe.Counts()) {
        names.push_back(count.network.name);
        if (onvifFacts.replyPort == 0) {
            onvifFacts.replyPort = count.localPort;
        }
    }
    if (onvifFacts.replyPort != 0) {
        onvifFacts.firewalls = ReadHostFirewalls(names, onvifFacts.replyPort);
    }
    for (DiagnosisLine& line : DiagnoseOnvif(onvifFacts)) {
        lines.push_back(std::move(line));
    }

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
    err << onvifFacts.devices << (onvifFacts.devices == 1 ? " ONVIF device" : " ONVIF devices")
        << " found\n";
    if (problems == 0) {
        err << "no problem found\n";
        return 0;
    }
    err << problems << (problems == 1 ? " problem" : " problems") << " found\n";
    return kExitProblemFound;
}

}  // namespace qdipc
