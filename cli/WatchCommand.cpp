#include "cli/WatchCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include "cli/OptionParser.h"
#include "cli/ProvisioningRun.h"
#include "discovery/CellText.h"
#include "discovery/DeviceList.h"
#include "discovery/ListOutput.h"
#include "discovery/OnvifWatch.h"
#include "discovery/SearchSchedule.h"
#include "discovery/SiteWatch.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";
// How often the loop looks for replies and the signal: an event is on the
// output within this time of its reply.
constexpr std::chrono::milliseconds kPoll{50};

std::atomic<bool> g_stopRequested{false};

extern "C" void RequestStop(int /*signal*/) {
    g_stopRequested.store(true);
}

CommandLine Fail(std::string message) {
    CommandLine result;
    result.mode = CommandMode::UsageError;
    result.error = std::move(message);
    return result;
}

// Seconds with at most three decimals, as milliseconds.
std::optional<int> ParseSeconds(std::string_view text) {
    long long whole = 0;
    long long thousandths = 0;
    std::size_t i = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 8; ++i, ++digits) {
        whole = whole * 10 + (text[i] - '0');
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        long long scale = 100;
        std::size_t decimals = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && decimals < 3;
             ++i, ++decimals) {
            thousandths += (text[i] - '0') * scale;
            scale /= 10;
        }
        if (decimals == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    const long long ms = whole * 1000 + thousandths;
    if (ms < kMinWatchIntervalMs || ms > kMaxWatchIntervalMs) {
        return std::nullopt;
    }
    return static_cast<int>(ms);
}

bool Write(std::ostream& out, const std::string& text) {
    errno = 0;
    out << text << std::flush;
    return static_cast<bool>(out);
}

}  // namespace

CommandLine ParseWatchCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    result.mode = CommandMode::Watch;
    OptionParser parser;
    for (const char* flag : {"--watch", "--no-firewall", "--help,-h", "--version,-V"}) {
        parser.AddFlag(flag);
    }
    for (const char* option : {"--interval", "--format", "--interface"}) {
        parser.AddValue(option);
    }
    if (const auto fault = parser.Parse(args)) {
        return Fail(*fault);
    }
    for (const std::string& name : parser.Order()) {
        if (parser.Count(name) > 1) {
            return Fail(EscapeControls(name) + " is given twice");
        }
        const std::string value = parser.Value(name);
        if (name == "--interval") {
            const auto ms = ParseSeconds(value);
            if (!ms) {
                return Fail("--interval takes seconds from 0.2 to 3600, not '" +
                            EscapeControls(value) + "'");
            }
            result.watch.intervalMs = *ms;
        } else if (name == "--format") {
            if (value == "tsv") {
                result.watch.format = ListFormat::Tsv;
            } else if (value == "jsonl") {
                result.watch.format = ListFormat::Json;
            } else if (value == "json") {
                // One document cannot be written line by line as events come.
                return Fail(
                    "--format json is not for --watch: use jsonl (one JSON object per "
                    "line)");
            } else {
                return Fail("--format is tsv or jsonl for --watch, not '" + EscapeControls(value) +
                            "'");
            }
        } else if (name == "--interface") {
            if (value.empty()) {
                return Fail("--interface needs an interface name");
            }
            result.watch.interfaceName = value;
        } else if (name == "--no-firewall") {
            result.noFirewall = true;
        }
    }
    if (auto leftover = parser.Leftover()) {
        if (leftover->rfind("unknown option ", 0) == 0) {
            *leftover += " for --watch";
        }
        return Fail(*leftover);
    }
    if (parser.Given("--help")) {
        result.mode = CommandMode::Help;
    } else if (parser.Given("--version")) {
        result.mode = CommandMode::Version;
    }
    return result;
}

const std::atomic<bool>& StopOnSignals() {
    static const bool installed = [] {
        std::signal(SIGINT, RequestStop);
        std::signal(SIGTERM, RequestStop);
        return true;
    }();
    (void)installed;
    return g_stopRequested;
}

int RunWatch(const WatchCommandOptions& options, const NetworkConfig& config, std::ostream& out,
             std::ostream& err, const std::atomic<bool>& stop) {
    if (!CheckInterfaceName(config, options.interfaceName, err)) {
        return kExitUsage;
    }
    CliNetwork network(config, options.interfaceName);
    if (!network.Open(err)) {
        return 1;
    }
    if (!network.Probe(true)) {
        err << kPrefix << SearchFailureText(network.LastSearchOutcome()) << "\n";
        return 1;
    }

    DeviceList list;
    list.SetHostInterfaces(ConfiguredInterfaces(config));
    // ONVIF devices: their Hello and Bye at once, and a round of probes on
    // every cycle (the first now, beside the search).
    OnvifWatchOptions onvifOptions;
    onvifOptions.announcements = config.onvifAnnouncements;
    onvifOptions.interfaces = config.interfaces;
    onvifOptions.onlyInterface = options.interfaceName;
    onvifOptions.probe.destination = config.onvifDestination;
    OnvifWatchSource onvif(onvifOptions);
    if (!onvif.Listen()) {
        err << kPrefix << "ONVIF Hello and Bye are not heard (port "
            << config.onvifAnnouncements.port
            << " cannot be bound); the probes of each cycle still find ONVIF devices\n";
    }
    onvif.Probe();
    WatchOptions watchOptions;
    watchOptions.interval = std::chrono::milliseconds(options.intervalMs);
    SiteWatch watch(list, watchOptions);
    const auto start = SiteWatch::Clock::now();
    watch.Start(start);
    SearchSchedule repeats;
    repeats.Start(start);
    std::vector<WatchEvent> events;
    // A reader that has gone (a closed pipe) is not told about it; any other
    // failure is named.
    const auto outputLost = [&] {
        const int lost = errno;
        network.Close();
        onvif.Stop();
        if (lost != EPIPE) {
            err << kPrefix << "the events could not be written out in full\n";
        }
        return 1;
    };
    if (!Write(out, WatchEventHeader(options.format))) {
        return outputLost();
    }
    while (!stop.load()) {
        const auto now = SiteWatch::Clock::now();
        // The search's own repeats first; the cycles' requests after them.
        for (std::size_t due = repeats.Tick(now); due > 0; --due) {
            network.Probe(false);
        }
        events.clear();
        watch.Observe(network.TakeReplies(), network.SearchId(), events);
        watch.ObserveOnvif(onvif.Take(), events);
        if (watch.Tick(now, events)) {
            network.Probe(false);
            onvif.Probe();  // unless the last round is still listening
        }
        std::string lines;
        for (const WatchEvent& event : events) {
            lines += FormatWatchEvent(options.format, WatchEventName(event.kind),
                                      MillisecondTimeText(event.time),
                                      ListEntryOf(list, event.row, true));
        }
        if (!lines.empty() && !Write(out, lines)) {
            return outputLost();
        }
        std::this_thread::sleep_for(kPoll);
    }
    network.Close();
    onvif.Stop();
    return 0;
}

}  // namespace qdipc
