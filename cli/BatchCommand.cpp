#include "cli/BatchCommand.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cli/ListOutput.h"
#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
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

}  // namespace

CommandLine ParseBatchCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    BatchOptions& o = result.batch;
    const bool assign = !args.empty() && args[0] == "--assign";
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty() || arg[0] != '-') {
            return Fail("unexpected argument " + Quoted(arg));
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const std::string shown = EscapeControls(name);
        static const std::array<std::pair<const char*, bool>, 13> kKnown = {{
            {"--assign", false},
            {"--plan", true},
            {"--from", true},
            {"--mask", true},
            {"--gateway", true},
            {"--select-ip", true},
            {"--ids", true},
            {"--all", false},
            {"--dry-run", false},
            {"--verify-wait", true},
            {"--format", true},
            {"--interface", true},
            {"--no-firewall", false},
        }};
        const auto known = std::find_if(kKnown.begin(), kKnown.end(),
                                        [&](const auto& entry) { return name == entry.first; });
        if (known == kKnown.end()) {
            return Fail("unknown option " + Quoted(name) + " for " +
                        (assign ? "--assign" : "--plan"));
        }
        if ((name == "--assign" || name == "--plan") && i != 0) {
            return Fail(shown + " must come first");
        }
        const bool assignOnly = name == "--from" || name == "--mask" || name == "--gateway" ||
                                name == "--select-ip" || name == "--ids" || name == "--all";
        if (assignOnly && !assign) {
            return Fail(shown + " belongs to --assign; a plan file names its own addresses");
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return Fail(shown + " is given twice");
        }
        seen.push_back(name);
        std::string value;
        if (known->second) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return Fail(shown + " needs a value");
            }
        } else if (equals != std::string::npos) {
            return Fail(shown + " takes no value");
        }

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
    if (assign) {
        for (const char* needed : {"--from", "--mask", "--gateway"}) {
            if (std::find(seen.begin(), seen.end(), needed) == seen.end()) {
                return Fail(std::string("--assign needs ") + needed);
            }
        }
        const int selectors =
            static_cast<int>(!o.selectIp.empty()) + static_cast<int>(!o.ids.empty()) +
            static_cast<int>(std::find(seen.begin(), seen.end(), "--all") != seen.end());
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
        rows.push_back({r.deviceId, r.mac, r.ip, r.newIp, r.result});
    }
    return FormatRecords(format, {"dev_id", "mac", "ip", "new_ip", "result"}, rows);
}

}  // namespace qdipc
