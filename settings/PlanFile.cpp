#include "settings/PlanFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <unordered_map>

#include "discovery/CellText.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// Reads the next RFC 4180 record of text from i on (line: the file line i is
// on), skipping empty lines; false at the end of the text or on an error (a
// quote inside an unquoted field, text after a closing quote, or a quote left
// open), which names its line. One record at a time, so a plan is never held
// twice.
bool NextRecord(std::string_view text, std::size_t& i, int& line, CsvRecord& record,
                std::string& error) {
    while (i < text.size()) {
        record.line = line;
        record.fields.clear();
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
                const std::size_t begin = i;
                while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    if (text[i] == '"') {
                        error = "line " + std::to_string(line) +
                                ": a quote inside a field that does not start with one";
                        return false;
                    }
                    ++i;
                }
                // Spaces around an unquoted value are not part of it.
                std::string_view value = text.substr(begin, i - begin);
                while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                    value.remove_prefix(1);
                }
                while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
                    value.remove_suffix(1);
                }
                field.assign(value);
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
            return true;
        }
    }
    return false;
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

// A field as a message repeats it: cut and quoted (the message is escaped
// where it is shown).
std::string Quoted(std::string_view text) {
    return "'" + CutText(text) + "'";
}

std::string Where(int line, const std::string& column) {
    return "line " + std::to_string(line) + (column.empty() ? "" : ", column " + column);
}

enum Field { kDevId, kMac, kIp, kMask, kGateway, kMode, kNewMac, kRestore, kFieldCount };
constexpr std::array<const char*, kFieldCount> kFieldNames = {
    "dev_id", "mac", "ip", "mask", "gateway", "mode", "new_mac", "restore"};

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
    const std::string_view given = line.newMac.empty() ? mac : std::string_view(line.newMac);
    const auto problem =
        line.restore ? ValidateRestoreSettings(line.ip, line.mask, line.gateway, given, line.mode)
                     : ValidateSettings(line.ip, line.mask, line.gateway, given, line.mode);
    if (!problem) {
        return std::nullopt;
    }
    static constexpr std::array<const char*, 4> kColumns = {"ip", "mask", "gateway", "mac"};
    const char* column = kColumns[static_cast<std::size_t>(problem->field)];
    if (problem->field == SettingsField::Mac && !line.newMac.empty()) {
        column = "new_mac";
    }
    // The reason starts with the field's own name ("IP: "); the column says it.
    std::string reason = problem->reason;
    if (const auto colon = reason.find(": "); colon != std::string::npos) {
        reason.erase(0, colon + 2);
    }
    return PlanFault{column, reason};
}

namespace {

PlanFile ReadLines(std::string_view text, const PlanSettingsCheck& check) {
    PlanFile plan;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::size_t at = 0;
    int lineNumber = 1;
    CsvRecord header;
    if (!NextRecord(text, at, lineNumber, header, plan.error)) {
        if (plan.error.empty()) {
            plan.error = "line 1: the file is empty; its first line names the columns";
        }
        return plan;
    }

    std::array<int, kFieldCount> columnOf{};
    columnOf.fill(-1);
    for (std::size_t c = 0; c < header.fields.size(); ++c) {
        std::string name = LowerAscii(header.fields[c]);
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
            plan.error = Where(header.line, "") + ": unknown column " + Quoted(header.fields[c]) +
                         " (the columns are dev_id or mac, ip, mask, gateway, mode, new_mac, "
                         "restore, or the titles --list --format csv writes)";
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

    // Hashed, so that checking stays linear in the lines.
    std::unordered_map<std::string, int> cameras;  // dev_id or mac -> line
    // A static address -> its first line, and whether every line giving it so
    // far is a restore (restores may share one: a factory batch).
    struct Holder {
        int line = 0;
        bool restoresOnly = true;
    };
    std::unordered_map<std::string, Holder> staticIps;
    // One allocation for the lines (a line break per line, at most): a
    // growing vector would hold its old and new storage at once.
    plan.lines.reserve(std::min<std::size_t>(
        kMaxPlanLines, static_cast<std::size_t>(std::count(
                           text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), '\n')) +
                           1));
    CsvRecord record;
    std::string none;  // the field of a column the header does not name
    while (NextRecord(text, at, lineNumber, record, plan.error)) {
        if (plan.lines.size() >= kMaxPlanLines) {
            plan.error = Where(record.line, "") + ": the plan holds more than " +
                         std::to_string(kMaxPlanLines) + " lines";
            return plan;
        }
        if (record.fields.size() != header.fields.size()) {
            plan.error = Where(record.line, "") + ": " + std::to_string(record.fields.size()) +
                         " fields where the header names " + std::to_string(header.fields.size());
            return plan;
        }
        const auto field = [&](Field f) -> std::string& {
            const int c = columnOf[static_cast<std::size_t>(f)];
            none.clear();
            return c < 0 ? none : record.fields[static_cast<std::size_t>(c)];
        };
        PlanLine line;
        line.line = record.line;
        const std::string& devId = field(kDevId);
        if (!devId.empty() && !ParseDeviceIdStrict(devId)) {
            plan.error = Where(record.line, "dev_id") + ": " + Quoted(devId) +
                         " is not a device ID such as 0011aabb-0000ff01";
            return plan;
        }
        line.deviceId = LowerAscii(devId);
        for (const Field f : {kMac, kNewMac}) {
            const std::string& mac = field(f);
            if (mac.empty()) {
                continue;
            }
            const auto normal = NormalMac(mac);
            if (!normal) {
                plan.error = Where(record.line, kFieldNames[f]) + ": " + Quoted(mac) +
                             " is not six hex pairs such as 00:1a:2b:3c:4d:5e";
                return plan;
            }
            (f == kMac ? line.mac : line.newMac) = *normal;
        }
        if (line.deviceId.empty() && line.mac.empty()) {
            plan.error = Where(record.line, columnOf[kDevId] >= 0 ? "dev_id" : "mac") +
                         ": the line names no camera";
            return plan;
        }
        const std::string mode = LowerAscii(field(kMode));
        if (mode == "dhcp") {
            line.mode = AddressingMode::Dhcp;
        } else if (mode == "adsl") {
            line.mode = AddressingMode::Adsl;
        } else if (!mode.empty() && mode != "static") {
            plan.error = Where(record.line, "mode") + ": " + Quoted(field(kMode)) +
                         " is not static, dhcp or adsl";
            return plan;
        }
        const std::string restore = LowerAscii(field(kRestore));
        if (restore == "yes") {
            line.restore = true;
        } else if (!restore.empty() && restore != "no") {
            plan.error = Where(record.line, "restore") + ": " + Quoted(field(kRestore)) +
                         " is not yes or no";
            return plan;
        }
        line.ip = std::move(field(kIp));
        line.mask = std::move(field(kMask));
        line.gateway = std::move(field(kGateway));
        if (check) {
            if (const auto fault = check(line)) {
                if (!line.restore) {
                    plan.error = Where(record.line, fault->column) + ": " + fault->reason;
                    return plan;
                }
                // A restore that cannot be sent is refused alone.
                line.refusal =
                    (fault->column.empty() ? "" : "column " + fault->column + ": ") + fault->reason;
            }
        }
        const std::string& camera = !line.deviceId.empty() ? line.deviceId : line.mac;
        if (const auto [where, added] = cameras.emplace(camera, record.line); !added) {
            plan.error = Where(record.line, !line.deviceId.empty() ? "dev_id" : "mac") +
                         ": the camera " + camera + " is planned on line " +
                         std::to_string(where->second) + " already";
            return plan;
        }
        if (line.mode == AddressingMode::Static && line.refusal.empty()) {
            const auto [where, added] =
                staticIps.emplace(line.ip, Holder{record.line, line.restore});
            const bool shared = where->second.restoresOnly && line.restore;
            if (!added && !shared) {
                plan.error = Where(record.line, "ip") + ": " + line.ip +
                             " is given to another camera on line " +
                             std::to_string(where->second.line);
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
