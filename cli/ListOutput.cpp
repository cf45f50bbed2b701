#include "cli/ListOutput.h"

#include <algorithm>
#include <cstdint>

#include "discovery/DeviceList.h"

namespace qdipc {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

// Writes a tab, a line break or a backslash as its two-character escape (\t,
// \n, \r, \\), as both TSV fields and JSON strings spell them. False for any
// other character, which the caller writes its own way.
bool AppendBackslashEscape(std::string& out, char c) {
    switch (c) {
        case '\t':
            out += "\\t";
            return true;
        case '\n':
            out += "\\n";
            return true;
        case '\r':
            out += "\\r";
            return true;
        case '\\':
            out += "\\\\";
            return true;
        default:
            return false;
    }
}

std::string TsvField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (!AppendBackslashEscape(out, c)) {
            out += c;
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"') {
            out += "\\\"";
        } else if (!AppendBackslashEscape(out, c)) {
            if (byte < 0x20) {
                out += "\\u00";
                AppendHexByte(out, byte);
            } else {
                out += c;
            }
        }
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

template <typename Field>
void AppendTable(std::string& out, const std::vector<ListEntry>& entries, Field field,
                 std::string_view separator, std::string_view lineEnd) {
    AppendTitles(out, field, separator, lineEnd);
    for (const ListEntry& entry : entries) {
        AppendLine(out, entry.cells, field, separator, lineEnd);
    }
}

// The numeric cells are written as their digits; they always are digits (a
// "%d" count and two unsigned 16-bit values), and anything else would be null.
std::string JsonNumber(std::string_view text) {
    const bool digits =
        !text.empty() && text.size() <= 10 &&
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
    out += "]}";
}

}  // namespace

std::string FormatDeviceList(ListFormat format, const std::vector<ListEntry>& entries) {
    std::string out;
    switch (format) {
        case ListFormat::Tsv:
            AppendTable(out, entries, TsvField, "\t", "\n");
            break;
        case ListFormat::Csv:
            AppendTable(out, entries, CsvField, ",", "\r\n");
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

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        if (overlong || surrogate || code > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string PrintableCellText(std::string_view bytes, const LegacyDecoder& legacy) {
    if (IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    if (legacy) {
        if (std::optional<std::string> decoded = legacy(bytes)) {
            return *decoded;
        }
    }
    std::string out;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x80) {
            out += c;
        } else {
            out += "\\x";
            AppendHexByte(out, byte);
        }
    }
    return out;
}

std::string ClipboardRows(const std::vector<ListRecord>& rows) {
    const auto field = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) {
            if (c == '\t' || c == '\n' || c == '\r') {
                c = ' ';
            }
        }
        return out;
    };
    std::string out;
    AppendTable(out, rows, field, "\t", "\n");
    return out;
}

}  // namespace qdipc
