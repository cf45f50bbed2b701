#include "cli/BatchCommand.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cli/OptionParser.h"
#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ListOutput.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

constexpr int kMaxVerifyWaitMs = 600000;

CommandLine Fail(std::string message) {
    CommandLine result;
    result.mode = CommandMode::UsageError;
    result.error = std::move(message);
    return result;
}

std::optional<int> ParseMilliseconds(std::string_view text) {
    if (text.empty() || text.size() > 7 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(std::string(text));
    return value <= kMaxVerifyWaitMs ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

CommandLine ParseBatchCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    BatchOptions& o = result.batch;
    OptionParser parser;
    for (const char* flag : {"--assign", "--all", "--dry-run", "--no-rollback", "--no-firewall",
                             "--help,-h", "--version,-V"}) {
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
                            QuotedText(value));
            }
            (name == "--from" ? o.from : name == "--mask" ? o.mask : o.gateway) = value;
        } else if (name == "--select-ip") {
            if (!ParseIpv4Strict(value)) {
                return Fail("--select-ip needs a dotted quad, not " + QuotedText(value));
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
                        QuotedText(id));
                }
                if (std::find(o.ids.begin(), o.ids.end(), LowerAscii(id)) == o.ids.end()) {
                    o.ids.push_back(LowerAscii(id));
                }
                start = comma + 1;
            }
        } else if (name == "--verify-wait") {
            const auto wait = ParseMilliseconds(value);
            if (!wait) {
                return Fail("--verify-wait takes whole milliseconds from 0 to " +
                            std::to_string(kMaxVerifyWaitMs) + ", not " + QuotedText(value));
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
                return Fail("--format is tsv, csv or json, not " + QuotedText(value));
            }
        } else if (name == "--interface") {
            if (value.empty()) {
                return Fail("--interface needs an interface name");
            }
            o.interfaceName = value;
        } else if (name == "--dry-run") {
            o.dryRun = true;
        } else if (name == "--no-rollback") {
            o.noRollback = true;
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

std::string FormatBatchRecords(ListFormat format, const std::vector<BatchRecord>& records) {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(records.size());
    for (const BatchRecord& r : records) {
        rows.push_back({r.deviceId, r.mac, r.ip, r.newIp, r.newMask, r.newGateway, r.mode, r.result,
                        r.reason});
    }
    return FormatRecords(
        format,
        {"dev_id", "mac", "ip", "new_ip", "new_mask", "new_gateway", "mode", "result", "reason"},
        rows);
}

}  // namespace qdipc
