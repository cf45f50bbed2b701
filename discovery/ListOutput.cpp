#include "discovery/ListOutput.h"

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <cstdio>

#include "discovery/CellText.h"
#include "discovery/DeviceList.h"  // the flags' names

namespace qdipc {
namespace {

// Control characters in any field are written as \xNN; nothing else changes,
// so no separator or line break is left inside a field.
std::string TsvField(std::string_view text) {
    return EscapeControls(text);
}

// The one JSON string writer: a quote and a backslash as \" and \\, control
// characters (C0, DEL, C1) and bidirectional controls as \uNNNN, a byte that
// is not UTF-8 as the text \\xNN. Written here rather than by nlohmann-json
// (which the firewall reading uses) because nlohmann writes C1 and
// bidirectional controls as they are and refuses or replaces bytes that are not
// UTF-8, so the exact escapes of every other output could not be kept.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    std::size_t plain = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '"' && text[i] != '\\') {
            continue;
        }
        AppendEscapedControls(out, text.substr(plain, i - plain), ControlEscape::JsonUnicode);
        if (i < text.size()) {
            out += '\\';
            out += text[i];
        }
        plain = i + 1;
    }
    out += '"';
    return out;
}

template <typename Field>
void AppendLine(std::string& out, const ListRecord& cells, Field field, std::string_view separator,
                std::string_view lineEnd) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c != 0) {
            out += separator;
        }
        out += field(cells[c]);
    }
    out += lineEnd;
}

void AppendTitles(std::string& out, auto field, std::string_view separator,
                  std::string_view lineEnd) {
    ListRecord titles;
    for (std::size_t c = 0; c < titles.size(); ++c) {
        titles[c] = kColumnTitles[c];
    }
    AppendLine(out, titles, field, separator, lineEnd);
}

// The column titles as a header line, then one line per row.
template <typename Field>
void AppendTable(std::string& out, const std::vector<ListRecord>& rows, Field field,
                 std::string_view separator, std::string_view lineEnd) {
    AppendTitles(out, field, separator, lineEnd);
    for (const ListRecord& row : rows) {
        AppendLine(out, row, field, separator, lineEnd);
    }
}

// The numeric cells are written as their digits; they always are digits (a
// "%d" count and two unsigned 16-bit values), and anything else would be null.
std::string JsonNumber(std::string_view text) {
    // JSON allows no leading zero.
    const bool digits =
        !text.empty() && text.size() <= 10 && (text.size() == 1 || text.front() != '0') &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    return digits ? std::string(text) : std::string("null");
}

void AppendJsonObject(std::string& out, const ListEntry& entry) {
    out += "{";
    for (std::size_t c = 0; c < entry.cells.size(); ++c) {
        if (c != 0) {
            out += ", ";
        }
        out += JsonString(kJsonKeys[c]);
        out += ": ";
        const bool number = c == kColNumber || c == kColPort || c == kColWebPort;
        out += number ? JsonNumber(entry.cells[c]) : JsonString(entry.cells[c]);
    }
    out += ", \"interface\": ";
    out += JsonString(entry.interfaceName);
    out += ", \"flags\": [";
    const auto names = DeviceFlagNames(entry.flags);
    for (std::size_t i = 0; i < names.size(); ++i) {
        out += i == 0 ? "" : ", ";
        out += JsonString(names[i]);
    }
    out += "]";
    if (!entry.seenVia.empty()) {
        out += ", \"seen_via\": " + JsonString(entry.seenVia);
    }
    if (!entry.firstSeen.empty()) {
        out += ", \"first_seen\": " + JsonString(entry.firstSeen);
        out += ", \"last_seen\": " + JsonString(entry.lastSeen);
    }
    out += "}";
}

void AppendAbout(std::string& out, const SavedListAbout& about) {
    out += "\"tool\": \"qd_ip_search\", \"version\": " + JsonString(about.version);
    out += ", \"saved_at\": " + JsonString(about.savedAt);
    out += ", \"interfaces\": [";
    for (std::size_t i = 0; i < about.interfaces.size(); ++i) {
        const Ipv4Interface& host = about.interfaces[i];
        out += i == 0 ? "{" : ", {";
        out += "\"name\": " + JsonString(host.name);
        out += ", \"address\": " + JsonString(host.address);
        out += ", \"netmask\": " + JsonString(host.netmask) + "}";
    }
    out += "]";
}

}  // namespace

std::string ClipboardCell(std::string_view text) {
    std::string escaped = EscapeControls(text);
    // A spreadsheet shows a cell with a leading apostrophe as text.
    if (StartsLikeFormula(text)) {
        escaped.insert(0, 1, '\'');
    }
    return escaped;
}

std::string CsvCell(std::string_view text) {
    // Formula-safe, then quoted when the cell holds a comma or a quote
    // (control characters, line breaks included, are \xNN by then).
    const std::string escaped = ClipboardCell(text);
    if (escaped.find_first_of(",\"") == std::string::npos) {
        return escaped;
    }
    std::string out = "\"";
    for (char c : escaped) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        line += (i == 0 ? "" : ",") + CsvCell(cells[i]);
    }
    return line + "\r\n";
}

std::string TimeText(std::chrono::system_clock::time_point time) {
    // The civil calendar of <chrono>, not gmtime: the system's gmtime fails
    // before 1970 on Windows, and an empty time would break the line.
    using namespace std::chrono;
    const auto second = floor<seconds>(time);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss clock{second - day};
    char text[40] = {};
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string MillisecondTimeText(std::chrono::system_clock::time_point time) {
    const auto second = std::chrono::floor<std::chrono::seconds>(time);
    const auto ms = (std::chrono::floor<std::chrono::milliseconds>(time) - second).count();
    std::string text = TimeText(second);
    const std::string fraction = std::to_string(1000 + ms).substr(1);
    text.insert(text.size() - 1, "." + fraction);
    return text;
}

std::string FormatWatchEvent(ListFormat format, std::string_view event, std::string_view time,
                             const ListEntry& entry) {
    std::string out;
    if (format == ListFormat::Json) {
        std::string object;
        AppendJsonObject(object, entry);
        // {"event": "...", "time": "...", then the object's own keys.
        out = "{\"event\": " + JsonString(event) + ", \"time\": " + JsonString(time) + ", " +
              object.substr(1) + "\n";
        return out;
    }
    out += TsvField(event) + "\t" + TsvField(time);
    for (const std::string& cell : entry.cells) {
        out += "\t" + TsvField(cell);
    }
    out += "\t" + TsvField(entry.firstSeen) + "\t" + TsvField(entry.lastSeen) + "\n";
    return out;
}

std::string WatchEventHeader(ListFormat format) {
    if (format == ListFormat::Json) {
        return {};
    }
    std::string out = "Event\tTime";
    for (const char* title : kColumnTitles) {
        out += "\t";
        out += title;
    }
    out += "\tFirst Seen\tLast Seen\n";
    return out;
}

std::string FormatSavedList(ListFormat format, const std::vector<ListEntry>& entries,
                            const SavedListAbout& about) {
    if (format != ListFormat::Json) {
        return FormatDeviceList(format, entries);
    }
    std::string out = "{";
    AppendAbout(out, about);
    out += ", \"cameras\": [";
    for (std::size_t r = 0; r < entries.size(); ++r) {
        out += r == 0 ? "\n  " : ",\n  ";
        AppendJsonObject(out, entries[r]);
    }
    out += entries.empty() ? "]}\n" : "\n]}\n";
    return out;
}

std::string SavedListPath(std::string_view path, ListFormat chosen) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size()) {
        return std::string(path);
    }
    const char* extension = chosen == ListFormat::Json  ? ".json"
                            : chosen == ListFormat::Tsv ? ".tsv"
                                                        : ".csv";
    // "site." gets "csv", not ".csv".
    return std::string(path) + (name.ends_with('.') ? extension + 1 : extension);
}

std::string FormatSavedListAbout(const SavedListAbout& about) {
    std::string out = "{";
    AppendAbout(out, about);
    out += "}\n";
    return out;
}

std::string DeviceListHead(ListFormat format) {
    std::string out;
    switch (format) {
        case ListFormat::Tsv:
            // The twelve cells, then "Flags": the flags' names joined by ","
            // (as JSON's "flags" holds them; empty for none), then how the
            // device was found.
            AppendTitles(out, TsvField, "\t", "");
            out += "\tFlags\tSeen Via\n";
            break;
        case ListFormat::Csv:
            AppendTitles(out, CsvCell, ",", "");
            out += ",Seen Via\r\n";
            break;
        case ListFormat::Json:
            out += "[";
            break;
    }
    return out;
}

void AppendDeviceListRow(std::string& out, ListFormat format, const ListEntry& entry, bool first) {
    switch (format) {
        case ListFormat::Tsv: {
            AppendLine(out, entry.cells, TsvField, "\t", "\t");
            const auto names = DeviceFlagNames(entry.flags);
            for (std::size_t i = 0; i < names.size(); ++i) {
                out += i == 0 ? "" : ",";
                out += names[i];
            }
            out += "\t" + TsvField(entry.seenVia) + "\n";
            break;
        }
        case ListFormat::Csv:
            AppendLine(out, entry.cells, CsvCell, ",", ",");
            out += CsvCell(entry.seenVia) + "\r\n";
            break;
        case ListFormat::Json:
            out += first ? "\n  " : ",\n  ";
            AppendJsonObject(out, entry);
            break;
    }
}

std::string DeviceListTail(ListFormat format, bool empty) {
    if (format != ListFormat::Json) {
        return {};
    }
    return empty ? "]\n" : "\n]\n";
}

std::string FormatDeviceList(ListFormat format, const std::vector<ListEntry>& entries) {
    std::string out = DeviceListHead(format);
    for (std::size_t r = 0; r < entries.size(); ++r) {
        AppendDeviceListRow(out, format, entries[r], r == 0);
    }
    out += DeviceListTail(format, entries.empty());
    return out;
}

std::string FormatRecords(ListFormat format, const std::vector<std::string>& names,
                          const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    const auto table = [&](auto field, std::string_view separator, std::string_view lineEnd) {
        const auto line = [&](const std::vector<std::string>& cells) {
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (c != 0) {
                    out += separator;
                }
                out += field(cells[c]);
            }
            out += lineEnd;
        };
        line(names);
        for (const auto& row : rows) {
            line(row);
        }
    };
    switch (format) {
        case ListFormat::Tsv:
            table(TsvField, "\t", "\n");
            break;
        case ListFormat::Csv:
            table(CsvCell, ",", "\r\n");
            break;
        case ListFormat::Json:
            out += "[";
            for (std::size_t r = 0; r < rows.size(); ++r) {
                out += r == 0 ? "\n  {" : ",\n  {";
                for (std::size_t c = 0; c < rows[r].size() && c < names.size(); ++c) {
                    out += c == 0 ? "" : ", ";
                    out += JsonString(names[c]) + ": " + JsonString(rows[r][c]);
                }
                out += "}";
            }
            out += rows.empty() ? "]\n" : "\n]\n";
            break;
    }
    return out;
}

std::string ClipboardRows(const std::vector<ListRecord>& rows) {
    std::string out;
    AppendTable(out, rows, ClipboardCell, "\t", "\n");
    return out;
}

}  // namespace qdipc
