#include "cli/ListOutput.h"

#include <cstdint>

#include "discovery/CellText.h"

namespace qdipc {
namespace {

// Control characters in any field are written as \xNN; nothing else changes,
// so no separator or line break is left inside a field.
std::string TsvField(std::string_view text) {
    return EscapeControls(text);
}

// Quoted when the field holds a comma or a quote (control characters, line
// breaks included, are \xNN by then).
std::string CsvField(std::string_view text) {
    const std::string escaped = EscapeControls(text);
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

// The column titles as a header line, then one line per row.
template <typename Field>
void AppendTable(std::string& out, const std::vector<ListRecord>& rows, Field field,
                 std::string_view separator, std::string_view lineEnd) {
    ListRecord titles;
    for (std::size_t c = 0; c < titles.size(); ++c) {
        titles[c] = kColumnTitles[c];
    }
    AppendLine(out, titles, field, separator, lineEnd);
    for (const ListRecord& row : rows) {
        AppendLine(out, row, field, separator, lineEnd);
    }
}

}  // namespace

std::string FormatDeviceList(ListFormat format, const std::vector<ListRecord>& records) {
    std::string out;
    switch (format) {
        case ListFormat::Tsv:
            AppendTable(out, records, TsvField, "\t", "\n");
            break;
        case ListFormat::Csv:
            AppendTable(out, records, CsvField, ",", "\r\n");
            break;
        case ListFormat::Json:
            out += "[";
            for (std::size_t r = 0; r < records.size(); ++r) {
                out += r == 0 ? "\n  {" : ",\n  {";
                for (std::size_t c = 0; c < records[r].size(); ++c) {
                    if (c != 0) {
                        out += ", ";
                    }
                    out += JsonString(kColumnTitles[c]);
                    out += ": ";
                    out += JsonString(records[r][c]);
                }
                out += "}";
            }
            out += records.empty() ? "]\n" : "\n]\n";
            break;
    }
    return out;
}

std::string ClipboardRows(const std::vector<ListRecord>& rows) {
    std::string out;
    AppendTable(out, rows, EscapeControls, "\t", "\n");
    return out;
}

}  // namespace qdipc
