#include "settings/PlanFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// Splits RFC 4180 text into records. A quote inside an unquoted field, text
// after a closing quote, or a quote left open is an error naming its line.
bool SplitCsv(std::string_view text, std::vector<CsvRecord>& records, std::string& error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    int line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        CsvRecord record;
        record.line = line;
        bool endOfRecord = false;
        while (!endOfRecord) {
            std::string field;
            if (i < text.size() && text[i] == '"') {
                const int opened = line;
                ++i;
                while (true) {
                    if (i >= text.size()) {
                        error = "line " + std::to_string(opened) + ": a quoted field is not closed";
                        return false;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') {
                        ++line;
                    }
                    field += text[i++];
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    error = "line " + std::to_string(line) + ": text after a closing quote";
                    return false;
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    if (text[i] == '"') {
                        error = "line " + std::to_string(line) +
                                ": a quote inside a field that does not start with one";
                        return false;
                    }
                    field += text[i++];
                }
                // Spaces around an unquoted value are not part of it.
                const auto notSpace = [](char c) { return c != ' ' && c != '\t'; };
                field.erase(field.begin(), std::find_if(field.begin(), field.end(), notSpace));
                field.erase(std::find_if(field.rbegin(), field.rend(), notSpace).base(),
                            field.end());
            }
            record.fields.push_back(std::move(field));
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '\r') {
                ++i;
            }
            if (i < text.size() && text[i] == '\n') {
                ++i;
            }
            ++line;
            endOfRecord = true;
        }
        const bool empty = record.fields.size() == 1 && record.fields[0].empty();
        if (!empty) {
            records.push_back(std::move(record));
        }
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Six hex pairs joined by one kind of separator, ":" or "-", as six
// lowercase pairs joined by ":".
std::optional<std::string> NormalMac(std::string_view text) {
    const auto mac = ParseMacStrict(text);
    if (!mac) {
        return std::nullopt;
    }
    return FormatMac(mac->data());
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string Where(int line, const std::string& column) {
    return "line " + std::to_string(line) + (column.empty() ? "" : ", column " + column);
}

enum Field { kDevId, kMac, kIp, kMask, kGateway, kMode, kFieldCount };
constexpr std::array<const char*, kFieldCount> kFieldNames = {"dev_id", "mac",     "ip",
                                                              "mask",   "gateway", "mode"};

// A list title (lowercase) as a plan column: the column's name, or nullptr
// for a list column a plan does not use; not a list title: nothing.
const char* const* ListTitleField(const std::string& title) {
    static constexpr std::array<std::pair<const char*, const char*>, 12> kTitles = {{
        {"no.", nullptr},
        {"dev id", "dev_id"},
        {"name", nullptr},
        {"ip", "ip"},
        {"port", nullptr},
        {"mac", "mac"},
        {"app ver", nullptr},
        {"hardware ver", nullptr},
        {"kernel ver", nullptr},
        {"mask", "mask"},
        {"web port", nullptr},
        {"gateway", "gateway"},
    }};
    for (const auto& entry : kTitles) {
        if (title == entry.first) {
            return &entry.second;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<PlanFault> CheckPlanSettings(const PlanLine& line) {
    // The MAC a camera keeps is its own, known when the record is built; a
    // line that names the camera by MAC has it checked here already.
    constexpr std::string_view kAnyUnicastMac = "02:00:00:00:00:01";
    const std::string_view mac = line.mac.empty() ? kAnyUnicastMac : std::string_view(line.mac);
    const auto problem = ValidateSettings(line.ip, line.mask, line.gateway, mac, line.mode);
    if (!problem) {
        return std::nullopt;
    }
    static constexpr std::array<const char*, 4> kColumns = {"ip", "mask", "gateway", "mac"};
    // The reason starts with the field's own name ("IP: "); the column says it.
    std::string reason = problem->reason;
    if (const auto colon = reason.find(": "); colon != std::string::npos) {
        reason.erase(0, colon + 2);
    }
    return PlanFault{kColumns[static_cast<std::size_t>(problem->field)], reason};
}

namespace {

PlanFile ReadLines(std::string_view text, const PlanSettingsCheck& check) {
    PlanFile plan;
    std::vector<CsvRecord> records;
    if (!SplitCsv(text, records, plan.error)) {
        return plan;
    }
    if (records.empty()) {
        plan.error = "line 1: the file is empty; its first line names the columns";
        return plan;
    }

    std::array<int, kFieldCount> columnOf{};
    columnOf.fill(-1);
    const CsvRecord& header = records.front();
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        std::string name = Lower(header.fields[c]);
        // The titles --list --format csv writes: an exported list, edited,
        // is a plan; its columns that a plan does not use are passed over.
        if (const auto* title = ListTitleField(name)) {
            if (*title == nullptr) {
                continue;
            }
            name = *title;
        }
        // The Assign dialog's exported results are a plan too: what each
        // camera had and how its change ended are passed over.
        if (name == "old_ip" || name == "result" || name == "reason") {
            continue;
        }
        // How each device was found (--list's last column) plans nothing.
        if (name == "seen via" || name == "seen_via") {
            continue;
        }
        const auto known = std::find(kFieldNames.begin(), kFieldNames.end(), name);
        if (known == kFieldNames.end()) {
            plan.error =
                Where(header.line, "") + ": unknown column " + Quoted(header.fields[c]) +
                " (the columns are dev_id or mac, ip, mask, gateway, mode, or the titles --list"
                " --format csv writes)";
            return plan;
        }
        int& slot = columnOf[static_cast<std::size_t>(known - kFieldNames.begin())];
        if (slot >= 0) {
            plan.error = Where(header.line, "") + ": column " + name + " is named twice";
            return plan;
        }
        slot = static_cast<int>(c);
    }
    if (columnOf[kDevId] < 0 && columnOf[kMac] < 0) {
        plan.error = Where(header.line, "") + ": no dev_id or mac column names the cameras";
        return plan;
    }
    for (int required : {kIp, kMask, kGateway}) {
        if (columnOf[static_cast<std::size_t>(required)] < 0) {
            plan.error = Where(header.line, "") + ": no " +
                         kFieldNames[static_cast<std::size_t>(required)] + " column";
            return plan;
        }
    }

    std::map<std::string, int> cameras;  // dev_id or mac -> line
    std::map<std::string, int> staticIps;
    for (std::size_t r = 1; r < records.size(); ++r) {
        const CsvRecord& record = records[r];
        if (record.fields.size() != header.fields.size()) {
            plan.error = Where(record.line, "") + ": " + std::to_string(record.fields.size()) +
                         " fields where the header names " + std::to_string(header.fields.size());
            return plan;
        }
        const auto field = [&](Field f) -> std::string {
            const int c = columnOf[static_cast<std::size_t>(f)];
            return c < 0 ? std::string() : record.fields[static_cast<std::size_t>(c)];
        };
        PlanLine line;
        line.line = record.line;
        const std::string devId = field(kDevId);
        if (!devId.empty() && !ParseDeviceIdStrict(devId)) {
            plan.error = Where(record.line, "dev_id") + ": " + Quoted(devId) +
                         " is not a device ID such as 0011aabb-0000ff01";
            return plan;
        }
        line.deviceId = Lower(devId);
        const std::string mac = field(kMac);
        if (!mac.empty()) {
            const auto normal = NormalMac(mac);
            if (!normal) {
                plan.error = Where(record.line, "mac") + ": " + Quoted(mac) +
                             " is not six hex pairs such as 00:1a:2b:3c:4d:5e";
                return plan;
            }
            line.mac = *normal;
        }
        if (line.deviceId.empty() && line.mac.empty()) {
            plan.error = Where(record.line, columnOf[kDevId] >= 0 ? "dev_id" : "mac") +
                         ": the line names no camera";
            return plan;
        }
        const std::string mode = Lower(field(kMode));
        if (mode == "dhcp") {
            line.mode = AddressingMode::Dhcp;
        } else if (mode == "adsl") {
            line.mode = AddressingMode::Adsl;
        } else if (!mode.empty() && mode != "static") {
            plan.error = Where(record.line, "mode") + ": " + Quoted(field(kMode)) +
                         " is not static, dhcp or adsl";
            return plan;
        }
        line.ip = field(kIp);
        line.mask = field(kMask);
        line.gateway = field(kGateway);
        if (check) {
            if (const auto fault = check(line)) {
                plan.error = Where(record.line, fault->column) + ": " + fault->reason;
                return plan;
            }
        }
        const std::string camera = !line.deviceId.empty() ? line.deviceId : line.mac;
        if (const auto [at, added] = cameras.emplace(camera, record.line); !added) {
            plan.error = Where(record.line, !line.deviceId.empty() ? "dev_id" : "mac") +
                         ": the camera " + camera + " is planned on line " +
                         std::to_string(at->second) + " already";
            return plan;
        }
        if (line.mode == AddressingMode::Static) {
            if (const auto [at, added] = staticIps.emplace(line.ip, record.line); !added) {
                plan.error = Where(record.line, "ip") + ": " + line.ip +
                             " is given to another camera on line " + std::to_string(at->second);
                return plan;
            }
        }
        plan.lines.push_back(std::move(line));
    }
    return plan;
}

}  // namespace

PlanFile ReadPlanFile(std::string_view text, const PlanSettingsCheck& check) {
    PlanFile plan = ReadLines(text, check);
    if (!plan.Ok()) {
        plan.lines.clear();  // a plan with a fault is no plan at all
    }
    return plan;
}

}  // namespace qdipc
