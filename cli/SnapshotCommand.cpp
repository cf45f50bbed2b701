#include "cli/SnapshotCommand.h"

#include <cerrno>

#include "cli/OptionParser.h"
#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "preview/StreamFacts.h"

namespace qdipc {

namespace {

constexpr const char* kPrefix = "qd_ip_search: ";

CommandLine Fail(std::string message) {
    CommandLine failed;
    failed.mode = CommandMode::UsageError;
    failed.error = std::move(message);
    return failed;
}

}  // namespace

CommandLine ParseSnapshotCommandLine(const std::vector<std::string>& args) {
    // The file is the argument after the IP; CLI11 reads the rest.
    std::vector<std::string> options;
    std::string file;
    bool fileTaken = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        options.push_back(args[i]);
        const bool bare = args[i] == "--snapshot";
        if (bare || args[i].starts_with("--snapshot=")) {
            if (bare && i + 1 < args.size()) {
                options.push_back(args[++i]);
            }
            if (!fileTaken && i + 1 < args.size()) {
                file = args[++i];
                fileTaken = true;
            }
        }
    }
    OptionParser parser;
    parser.AddFlag("--no-firewall");
    parser.AddFlag("--help,-h");
    parser.AddFlag("--version,-V");
    parser.AddValue("--snapshot");
    if (const auto fault = parser.Parse(options)) {
        return Fail(*fault);
    }
    CommandLine result;
    if (parser.Given("--help") || parser.Given("--version")) {
        result.mode = parser.Given("--help") ? CommandMode::Help : CommandMode::Version;
        return result;
    }
    if (parser.Count("--snapshot") > 1) {
        return Fail("--snapshot is given twice");
    }
    const std::string ip = parser.Value("--snapshot");
    // Only a plain dotted quad, as the pane: "10.0.0.5:1@10.0.0.6" would
    // reach another host than the one named.
    if (!ParseIpv4Strict(ip)) {
        return Fail("--snapshot needs the camera's IP as a dotted quad (10.0.0.5), not " +
                    QuotedText(ip));
    }
    if (!fileTaken || file.empty()) {
        return Fail("--snapshot needs the PNG file to write after the IP");
    }
    if (const auto leftover = parser.Leftover()) {
        return Fail(*leftover);
    }
    result.mode = CommandMode::Snapshot;
    result.noFirewall = parser.Given("--no-firewall");
    result.snapshot.ip = ip;
    result.snapshot.file = file;
    return result;
}

int RunSnapshot(const SnapshotCommandOptions& options, const SnapshotTaker& taker,
                std::ostream& out, std::ostream& err) {
    if (!taker) {
        err << kPrefix << "this build takes no snapshots (it has no video decoder)\n";
        return 1;
    }
    SnapshotRequest request;
    request.location = PreviewLocationFor(options.ip);
    request.file = options.file;
    request.limit = kSnapshotLimit;
    const SnapshotResult result = taker(request);
    if (result.status != SnapshotResult::Status::Written) {
        err << kPrefix << EscapeControls(result.reason) << "\n";
        return 1;
    }
    errno = 0;
    out << EscapeControls(options.file) << ": " << result.width << "x" << result.height
        << " picture of " << options.ip << "\n"
        << std::flush;
    if (!out) {
        if (errno != EPIPE) {
            err << kPrefix << "the result could not be written out in full\n";
        }
        return 1;
    }
    return 0;
}

}  // namespace qdipc
