#include "cli/ListOutput.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

#include "discovery/CellText.h"
#include "discovery/DeviceList.h"  // the flags' names

namespace qdipc {
namespace {

// Control characters in any field are written as \xNN; nothing else changes,
// so no separator or line break is left inside a field.
std::string TsvField(std::string_view text) {
    return EscapeControls(text);
}

// Formula-safe, then quoted when the field holds a comma or a quote (control
// characters, line breaks included, are \xNN by then).
std::string CsvField(std::string_view text) {
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

// A quote and a backslash as \" and \\, control characters as \u00NN.
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

const ListRecord& CellsOf(const ListRecord& row) {
    return row;
}

// The column titles as a header line, then one line per row.
template <typename Row, typename Field>
void AppendTable(std::string& out, const std::vector<Row>& rows, Field field,
                 std::string_view separator, std::string_view lineEnd) {
    AppendTitles(out, field, separator, lineEnd);
    for (const Row& row : rows) {
        AppendLine(out, CellsOf(row), field, separator, lineEnd);
    }
}

// The --list table: the column titles and "Seen Via", then per camera its
// twelve cells and how it was found.
template <typename Field>
void AppendListTable(std::string& out, const std::vector<ListEntry>& entries, Field field,
                     std::string_view separator, std::string_view lineEnd) {
    const auto cut = [&out, lineEnd] { out.resize(out.size() - lineEnd.size()); };
    AppendTitles(out, field, separator, lineEnd);
    cut();
    out += separator;
    out += field("Seen Via");
    out += lineEnd;
    for (const ListEntry& entry : entries) {
        AppendLine(out, entry.cells, field, separator, lineEnd);
        cut();
        out += separator;
        out += field(entry.seenVia);
        out += lineEnd;
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

std::string TimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string FormatWatchEvent(ListFormat format, std::string_view event, const ListEntry& entry) {
    std::string out;
    if (format == ListFormat::Json) {
        std::string object;
        AppendJsonObject(object, entry);
        // {"event": "...", then the object's own keys.
        out = "{\"event\": " + JsonString(event) + ", " + object.substr(1) + "\n";
        return out;
    }
    out += TsvField(event);
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
    std::string out = "Event";
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

std::string FormatSavedListAbout(const SavedListAbout& about) {
    std::string out = "{";
    AppendAbout(out, about);
    out += "}\n";
    return out;
}

std::string FormatDeviceList(ListFormat format, const std::vector<ListEntry>& entries) {
    std::string out;
    switch (format) {
        case ListFormat::Tsv:
            AppendListTable(out, entries, TsvField, "\t", "\n");
            break;
        case ListFormat::Csv:
            AppendListTable(out, entries, CsvField, ",", "\r\n");
            break;
        case ListFormat::Json:
            out += "[";
            for (std::size_t r = 0; r < entries.size(); ++r) {
                out += r == 0 ? "\n  " : ",\n  ";
                AppendJsonObject(out, entries[r]);
            }
            out += entries.empty() ? "]\n" : "\n]\n";
            break;
    }
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
            table(CsvField, ",", "\r\n");
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
