#include "cli/BatchCommand.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "cli/CommandLineRun.h"
#include "cli/ListOutput.h"
#include "cli/OptionParser.h"
#include "discovery/CellText.h"
#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyCells.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "settings/AddressPlanner.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeConfirmation.h"
#include "settings/PlanFile.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";
constexpr int kMaxVerifyWaitMs = 600000;

CommandLine Fail(std::string message) {
    CommandLine result;
    result.mode = CommandMode::UsageError;
    result.error = std::move(message);
    return result;
}

// Arguments and file texts are echoed with their control characters escaped.
std::string Quoted(std::string_view text) {
    return "'" + EscapeControls(text) + "'";
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::optional<int> ParseMilliseconds(std::string_view text) {
    if (text.empty() || text.size() > 7 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(std::string(text));
    return value <= kMaxVerifyWaitMs ? std::optional<int>(value) : std::nullopt;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return !file.bad();
}

AssignCamera CameraOfRow(const DeviceList& list, int row) {
    return {list.CellText(row, kColDevId),   list.CellText(row, kColMac),
            list.CellText(row, kColIp),      list.CellText(row, kColMask),
            list.CellText(row, kColGateway), list.ArrivalInterface(row)};
}

}  // namespace

CommandLine ParseBatchCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    BatchOptions& o = result.batch;
    OptionParser parser;
    for (const char* flag :
         {"--assign", "--all", "--dry-run", "--no-firewall", "--help,-h", "--version,-V"}) {
        parser.AddFlag(flag);
    }
    for (const char* option : {"--plan", "--from", "--mask", "--gateway", "--select-ip", "--ids",
                               "--verify-wait", "--format", "--interface"}) {
        parser.AddValue(option);
    }
    // The verb named first decides which options belong.
    const auto verb = std::find_if(args.begin(), args.end(), [](const std::string& arg) {
        return arg == "--assign" || arg.substr(0, arg.find('=')) == "--plan";
    });
    const bool assign = verb != args.end() && *verb == "--assign";
    if (const auto fault = parser.Parse(args)) {
        return Fail(*fault);
    }
    if (parser.Given("--assign") && parser.Given("--plan")) {
        return Fail(std::string(assign ? "--plan" : "--assign") + " cannot be used with " +
                    (assign ? "--assign" : "--plan"));
    }
    for (const std::string& name : parser.Order()) {
        const std::string shown = EscapeControls(name);
        const bool assignOnly = name == "--from" || name == "--mask" || name == "--gateway" ||
                                name == "--select-ip" || name == "--ids" || name == "--all";
        if (assignOnly && !assign) {
            return Fail(shown + " belongs to --assign; a plan file names its own addresses");
        }
        if (parser.Count(name) > 1) {
            return Fail(shown + " is given twice");
        }
        const std::string value = parser.Value(name);
        if (name == "--plan") {
            if (value.empty()) {
                return Fail("--plan needs a CSV file");
            }
            o.planFile = value;
        } else if (name == "--from" || name == "--mask" || name == "--gateway") {
            if (!ParseIpv4Strict(value)) {
                return Fail(shown + " needs a dotted quad such as 192.168.1.64, not " +
                            Quoted(value));
            }
            (name == "--from" ? o.from : name == "--mask" ? o.mask : o.gateway) = value;
        } else if (name == "--select-ip") {
            if (!ParseIpv4Strict(value)) {
                return Fail("--select-ip needs a dotted quad, not " + Quoted(value));
            }
            o.selectIp = value;
        } else if (name == "--ids") {
            std::size_t start = 0;
            while (start <= value.size()) {
                const std::size_t comma = std::min(value.find(',', start), value.size());
                const std::string id = value.substr(start, comma - start);
                if (!IsDeviceIdText(id)) {
                    return Fail(
                        "--ids needs device IDs as the list shows them (0011aabb-0000ff01),"
                        " separated by commas, not " +
                        Quoted(id));
                }
                if (std::find(o.ids.begin(), o.ids.end(), Lower(id)) == o.ids.end()) {
                    o.ids.push_back(Lower(id));
                }
                start = comma + 1;
            }
        } else if (name == "--verify-wait") {
            const auto wait = ParseMilliseconds(value);
            if (!wait) {
                return Fail("--verify-wait takes whole milliseconds from 0 to " +
                            std::to_string(kMaxVerifyWaitMs) + ", not " + Quoted(value));
            }
            o.verifyWaitMs = *wait;
        } else if (name == "--format") {
            if (value == "tsv") {
                o.format = ListFormat::Tsv;
            } else if (value == "csv") {
                o.format = ListFormat::Csv;
            } else if (value == "json") {
                o.format = ListFormat::Json;
            } else {
                return Fail("--format is tsv, csv or json, not " + Quoted(value));
            }
        } else if (name == "--interface") {
            if (value.empty()) {
                return Fail("--interface needs an interface name");
            }
            o.interfaceName = value;
        } else if (name == "--dry-run") {
            o.dryRun = true;
        } else if (name == "--no-firewall") {
            result.noFirewall = true;
        }
    }
    if (auto leftover = parser.Leftover()) {
        if (leftover->rfind("unknown option ", 0) == 0) {
            *leftover += assign ? " for --assign" : " for --plan";
        }
        return Fail(*leftover);
    }
    if (parser.Given("--help")) {
        result.mode = CommandMode::Help;
        return result;
    }
    if (parser.Given("--version")) {
        result.mode = CommandMode::Version;
        return result;
    }
    if (assign) {
        for (const char* needed : {"--from", "--mask", "--gateway"}) {
            if (!parser.Given(needed)) {
                return Fail(std::string("--assign needs ") + needed);
            }
        }
        const int selectors = static_cast<int>(!o.selectIp.empty()) +
                              static_cast<int>(!o.ids.empty()) +
                              static_cast<int>(parser.Given("--all"));
        if (selectors != 1) {
            return Fail("--assign needs exactly one of --select-ip IP, --ids ID[,ID...] or --all");
        }
        o.select = !o.selectIp.empty() ? BatchOptions::Select::Ip
                   : !o.ids.empty()    ? BatchOptions::Select::Ids
                                       : BatchOptions::Select::All;
        result.mode = CommandMode::Assign;
    } else {
        result.mode = CommandMode::Plan;
    }
    return result;
}

int RunBatchCommand(CommandMode mode, const BatchOptions& options, const NetworkConfig& config,
                    std::ostream& out, std::ostream& err, const BatchEnvironment& environment) {
    using Clock = std::chrono::steady_clock;
    // A plan with a fault sends nothing: it is read and checked before the
    // network is touched.
    PlanFile plan;
    if (mode == CommandMode::Plan) {
        std::string text;
        const auto read = environment.readFile ? environment.readFile : ReadWholeFile;
        if (!read(options.planFile, text)) {
            err << kPrefix << "cannot read the plan " << Quoted(options.planFile) << "\n";
            return kExitUsage;
        }
        plan = ReadPlanFile(text);
        if (!plan.Ok()) {
            err << kPrefix << EscapeControls(options.planFile + ": " + plan.error) << "\n";
            return kExitUsage;
        }
    }
    const std::vector<Ipv4Interface> interfaces =
        config.interfaces ? config.interfaces() : ListBroadcastInterfaces();
    if (!options.interfaceName.empty() &&
        std::none_of(interfaces.begin(), interfaces.end(),
                     [&](const Ipv4Interface& i) { return i.name == options.interfaceName; })) {
        err << kPrefix << "no up, broadcast-capable IPv4 interface is named "
            << Quoted(options.interfaceName) << "\n";
        return kExitUsage;
    }

    StartSocketLibrary();
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue({}, config.maxPendingReplies);
    ErrorLog log(config.errorLogDirectory);
    RecvSearchThread worker(searchId, queue, log, config.receiver);
    if (!worker.Bind()) {
        err << kPrefix << "cannot receive on UDP port " << config.receiver.bind.port
            << " (is another program using it?)\n";
        return 1;
    }
    SearchCommand command(searchId, config.searchDestination, config.interfaces);
    const auto probe = [&] { return command.Run({}, options.interfaceName); };
    const SearchOutcome outcome = probe();
    if (outcome != SearchOutcome::Sent) {
        err << kPrefix << SearchFailureText(outcome) << "\n";
        return 1;
    }
    if (!worker.Start()) {
        err << kPrefix << "cannot start the receive worker\n";
        return 1;
    }

    // The search, with its repeats, so that a camera that misses one request
    // is still found; every reply the worker accepted is of this run.
    DeviceList list;
    const auto takeReplies = [&] {
        std::vector<AcceptedReply> replies = queue.TakeAll();
        for (AcceptedReply& reply : replies) {
            reply.searchId = 0;
        }
        return replies;
    };
    const Clock::time_point searchStart = Clock::now();
    for (const std::chrono::milliseconds at : kSearchRepeatOffsets) {
        if (at.count() < environment.searchWaitMs) {
            std::this_thread::sleep_until(searchStart + at);
            command.Repeat();
        }
    }
    std::this_thread::sleep_until(searchStart +
                                  std::chrono::milliseconds(environment.searchWaitMs));
    list.AddReplies(takeReplies(), 0);
    err << list.RowCount() << (list.RowCount() == 1 ? " camera" : " cameras") << " found\n";

    // The batch and its orders, in list order (--assign) or file order (--plan);
    // records of cameras that did not answer come along as not_found.
    std::vector<AssignOrder> orders;
    std::vector<BatchRecord> records;  // one per order, then the ones not found
    std::vector<BatchRecord> notFound;
    std::vector<bool> inBatch(static_cast<std::size_t>(list.RowCount()), false);
    if (mode == CommandMode::Assign) {
        std::vector<AssignCamera> batch;
        const auto take = [&](int row) {
            inBatch[static_cast<std::size_t>(row)] = true;
            batch.push_back(CameraOfRow(list, row));
        };
        if (options.select == BatchOptions::Select::Ids) {
            for (const std::string& id : options.ids) {
                const int row = list.FindRow(id);
                if (row >= 0) {
                    take(row);
                } else {
                    notFound.push_back({id, "", "", "", "not_found"});
                }
            }
        } else {
            for (int row = 0; row < list.RowCount(); ++row) {
                if (options.select == BatchOptions::Select::All ||
                    list.CellText(row, kColIp) == options.selectIp) {
                    take(row);
                }
            }
        }
        AssignSurroundings surroundings;
        surroundings.interfaces = interfaces;
        for (int row = 0; row < list.RowCount(); ++row) {
            if (!inBatch[static_cast<std::size_t>(row)]) {
                surroundings.otherCameras.push_back(list.CellText(row, kColIp));
            }
        }
        surroundings.neighbours =
            environment.neighbours ? environment.neighbours() : ReachableNeighbours();
        surroundings.gatewayOf =
            environment.gatewayOf
                ? environment.gatewayOf
                : std::function<std::optional<std::string>(std::uint32_t)>(DefaultGatewayOf);
        const BatchPlan planned =
            PlanBatch(batch, {options.from, options.mask, options.gateway}, surroundings);
        if (!planned.Ok()) {
            worker.Stop();
            err << kPrefix << EscapeControls(planned.error) << "\n";
            return kExitUsage;
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            orders.push_back({batch[i], planned.newIps[i], options.mask, options.gateway,
                              AddressingMode::Static});
        }
    } else {
        for (const PlanLine& line : plan.lines) {
            int row = line.deviceId.empty() ? -1 : list.FindRow(line.deviceId);
            if (line.deviceId.empty()) {
                for (int r = 0; r < list.RowCount() && row < 0; ++r) {
                    if (Lower(list.CellText(r, kColMac)) == line.mac) {
                        row = r;
                    }
                }
            } else if (row >= 0 && !line.mac.empty() &&
                       Lower(list.CellText(row, kColMac)) != line.mac) {
                row = -1;  // the device ID answers with another MAC: not this camera
            }
            if (row < 0) {
                notFound.push_back({line.deviceId, line.mac, "", line.ip, "not_found"});
                continue;
            }
            orders.push_back({CameraOfRow(list, row), line.ip, line.mask, line.gateway, line.mode});
        }
    }
    // Every record passes the settings rules before the first one leaves.
    for (const AssignOrder& order : orders) {
        if (const auto problem = ValidateSettings(order.newIp, order.mask, order.gateway,
                                                  order.camera.mac, order.mode)) {
            worker.Stop();
            err << kPrefix << EscapeControls(order.camera.deviceId + ": " + problem->reason)
                << "; nothing was sent\n";
            return kExitUsage;
        }
    }
    for (const AssignOrder& order : orders) {
        records.push_back({PrintableCell(order.camera.deviceId), PrintableCell(order.camera.mac),
                           PrintableCell(order.camera.ip), order.newIp,
                           options.dryRun ? "planned" : "not_confirmed"});
    }

    bool sendFailed = false;
    if (!options.dryRun && !orders.empty()) {
        ConfirmationOptions confirmationOptions;
        confirmationOptions.timeout = std::chrono::milliseconds(options.verifyWaitMs);
        confirmationOptions.probeInterval = std::chrono::milliseconds(environment.probeIntervalMs);
        ChangeConfirmation confirmation(confirmationOptions);
        std::unordered_map<std::string, std::size_t> orderOf;  // lowercase device ID
        const SettingsBroadcaster broadcaster(config.settingsDestination, SystemSeconds,
                                              config.interfaces);
        takeReplies();  // what came before the records confirms nothing
        // Paced, so that a switch or a camera's queue does not drop them.
        const Clock::time_point sendStart = Clock::now();
        for (std::size_t i = 0; i < orders.size(); ++i) {
            std::this_thread::sleep_until(sendStart + i * kAssignPacing);
            const NetSettingsRecord record = orders[i].Record();
            std::string failure;
            if (broadcaster.SendSettingsRecord(record, orders[i].camera.arrivalInterface,
                                               &failure) == BroadcastOutcome::Ok) {
                records[i].result = "sent";
                orderOf[Lower(orders[i].camera.deviceId)] = i;
                if (options.verifyWaitMs > 0) {
                    confirmation.Add(record, ChangeConfirmation::Clock::now());
                }
            } else {
                records[i].result = "not_confirmed";
                err << kPrefix << EscapeControls(orders[i].camera.deviceId) << ": " << failure
                    << "\n";
                sendFailed = true;
            }
        }
        err << orders.size() << " records sent in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sendStart)
                   .count()
            << " ms\n";
        if (options.verifyWaitMs > 0) {
            // Cameras restart their network after a change and may be silent
            // for seconds: the confirmation probes until each answers with
            // its new values or its wait is over.
            const Clock::time_point confirmStart = Clock::now();
            std::size_t confirmed = 0;
            for (const ConfirmationOutcome& outcome :
                 WaitForConfirmations(confirmation, queue, [&] { command.Repeat(); })) {
                const auto index = orderOf.find(Lower(outcome.deviceId));
                if (index != orderOf.end()) {
                    records[index->second].result =
                        outcome.confirmed ? "confirmed" : "not_confirmed";
                    confirmed += outcome.confirmed ? 1 : 0;
                }
            }
            err << confirmed << " of " << orders.size() << " confirmed in "
                << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                         confirmStart)
                       .count()
                << " ms\n";
        }
    }
    worker.Stop();

    records.insert(records.end(), notFound.begin(), notFound.end());
    out << FormatBatchRecords(options.format, records) << std::flush;
    if (!out) {
        err << kPrefix << "the records could not be written out in full\n";
        return 1;
    }
    if (sendFailed) {
        err << kPrefix << "some records could not be sent\n";
        return 1;
    }
    if (records.empty()) {
        err << kPrefix << "no camera matched\n";
        return kExitNotConfirmed;
    }
    const bool allGood = std::all_of(records.begin(), records.end(), [](const BatchRecord& r) {
        return r.result == "confirmed" || r.result == "planned" || r.result == "sent";
    });
    return allGood ? 0 : kExitNotConfirmed;
}

std::string FormatBatchRecords(ListFormat format, const std::vector<BatchRecord>& records) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(records.size());
    for (const BatchRecord& r : records) {
        rows.push_back({r.deviceId, r.mac, r.ip, r.newIp, r.result});
    }
    return FormatRecords(format, {"dev_id", "mac", "ip", "new_ip", "result"}, rows);
}

}  // namespace qdipc
