// Fuzzes the list output writers with arbitrary cell bytes: whatever a camera
// sends, no output (TSV, CSV, JSON, the clipboard rows) may hold a control
// character other than its own separators and line ends, every output is
// well-formed UTF-8, no output holds a bidirectional control, the JSON
// parses, every TSV field unescapes to exactly its cell (a backslash always
// starts an escape), and the CSV and the clipboard rows parse back into
// exactly the fields that were meant, a cell that would run as a
// spreadsheet formula with a leading apostrophe, every other one as TSV has it.
//
// Input: the first byte gives the number of records (1 to 3); then for each
// cell one length byte (0 to 31) and that many bytes. The legacy decoder is
// Latin-1, which turns bytes 0x80..0x9F into C1 controls: the escape must
// catch them after decoding too.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/ListOutput.h"

namespace {

using namespace qdipc;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::optional<std::string> Latin1(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// No C0 control but the allowed ones, no DEL, no C1 (C2 80..C2 9F).
void RequireNoControls(std::string_view text, std::string_view allowed) {
    Require(IsValidUtf8(text));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20) {
            Require(allowed.find(text[i]) != std::string_view::npos);
        }
        Require(byte != 0x7F);
        if (byte == 0xC2 && i + 1 < text.size()) {
            Require(static_cast<unsigned char>(text[i + 1]) >= 0xA0);
        }
        // U+202A..U+202E, U+2066..U+2069, U+200E, U+200F, U+061C.
        if (byte == 0xE2 && i + 2 < text.size()) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            Require(!(b1 == 0x80 && ((b2 >= 0xAA && b2 <= 0xAE) || b2 == 0x8E || b2 == 0x8F)));
            Require(!(b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9));
        }
        Require(!(byte == 0xD8 && i + 1 < text.size() &&
                  static_cast<unsigned char>(text[i + 1]) == 0x9C));
    }
}

// A strict reader of the JSON grammar (RFC 8259); true when text is one value.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}
    bool Document() {
        Space();
        if (!Value(0)) {
            return false;
        }
        Space();
        return at_ == text_.size();
    }

private:
    bool Value(int depth) {
        if (depth > 16 || at_ >= text_.size()) {
            return false;
        }
        switch (text_[at_]) {
            case '"':
                return String();
            case '[':
                return Sequence(']', depth, [this](int d) { return Value(d); });
            case '{':
                return Sequence('}', depth, [this](int d) {
                    if (!String()) {
                        return false;
                    }
                    Space();
                    if (!Take(':')) {
                        return false;
                    }
                    Space();
                    return Value(d);
                });
            case 't':
                return Word("true");
            case 'f':
                return Word("false");
            case 'n':
                return Word("null");
            default:
                return Number();
        }
    }
    template <typename Item>
    bool Sequence(char close, int depth, Item item) {
        ++at_;
        Space();
        if (Take(close)) {
            return true;
        }
        while (true) {
            Space();
            if (!item(depth + 1)) {
                return false;
            }
            Space();
            if (Take(close)) {
                return true;
            }
            if (!Take(',')) {
                return false;
            }
        }
    }
    bool String() {
        if (!Take('"')) {
            return false;
        }
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (at_ >= text_.size()) {
                    return false;
                }
                const char e = text_[at_++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k) {
                        if (at_ >= text_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(text_[at_++]))) {
                            return false;
                        }
                    }
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        const std::size_t start = at_;
        Take('-');
        if (Take('0')) {
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if ((Take('e') || Take('E'))) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        return at_ > start;
    }
    bool Digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ > start;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Space() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// RFC 4180 lines ending in CR LF; the fields of each record.
std::vector<std::vector<std::string>> ReadCsv(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            record.push_back(field);
            field.clear();
            records.push_back(record);
            record.clear();
            ++i;
        } else {
            Require(c != '"');  // a quote inside an unquoted field
            field += c;
        }
    }
    Require(!quoted && field.empty() && record.empty());
    return records;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Undoes the escape of a cell that was valid UTF-8: \\ a backslash, \xNN and
// \uNNNN a code point. Any other backslash is a fault.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        Require(i + 1 < text.size());
        const char kind = text[++i];
        if (kind == '\\') {
            out += '\\';
            continue;
        }
        Require(kind == 'x' || kind == 'u');
        const std::size_t digits = kind == 'x' ? 2 : 4;
        const std::string hex(text.substr(i + 1, digits));
        Require(hex.size() == digits && std::all_of(hex.begin(), hex.end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                }));
        AppendUtf8(out, static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16)));
        i += digits;
    }
    return out;
}

std::vector<std::string> SplitTabs(std::string_view line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The records of tab-separated lines (each ends with LF).
std::vector<std::vector<std::string>> ReadTsv(std::string_view text) {
    std::vector<std::vector<std::string>> records;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        Require(end != std::string_view::npos);
        records.push_back(SplitTabs(text.substr(0, end)));
        text.remove_prefix(end + 1);
    }
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t count = 1 + data[0] % 3;
    std::vector<ListRecord> records(count);
    std::size_t at = 1;
    for (ListRecord& record : records) {
        for (std::string& cell : record) {
            const std::size_t length = at < size ? data[at++] % 32 : 0;
            const std::string_view bytes = input.substr(std::min(at, size), length);
            at += bytes.size();
            cell = PrintableCellText(bytes, Latin1);
            Require(IsValidUtf8(cell));
        }
    }

    // Each record with an interface name of raw bytes and any flag bits, as
    // --list prints them.
    std::vector<ListEntry> entries;
    for (const ListRecord& record : records) {
        const std::size_t length = at < size ? data[at++] % 16 : 0;
        const std::string_view name = input.substr(std::min(at, size), length);
        at += name.size();
        const std::uint32_t flags = at < size ? data[at++] : 0;
        entries.push_back(ListEntry{record, std::string(name), flags});
    }

    const std::string tsv = FormatDeviceList(ListFormat::Tsv, entries);
    RequireNoControls(tsv, "\t\n");
    const std::string clipboard = ClipboardRows(records);
    RequireNoControls(clipboard, "\t\n");
    const auto tsvRecords = ReadTsv(tsv);
    const auto clipboardRecords = ReadTsv(clipboard);
    Require(tsvRecords.size() == records.size() + 1 &&
            clipboardRecords.size() == tsvRecords.size());
    for (std::size_t r = 0; r < records.size(); ++r) {
        // and the flags and how the device was found
        Require(tsvRecords[r + 1].size() == records[r].size() + 2);
        Require(clipboardRecords[r + 1].size() == records[r].size());
        for (std::size_t c = 0; c < records[r].size(); ++c) {
            // TSV keeps the exact text: its escape undone gives the cell back.
            const std::string& field = tsvRecords[r + 1][c];
            Require(Unescape(field) == records[r][c]);
            // The clipboard: the same, behind an apostrophe where a
            // spreadsheet would see a formula.
            const bool formula =
                !records[r][c].empty() &&
                std::string_view("=+-@\t\r").find(records[r][c][0]) != std::string_view::npos;
            Require(clipboardRecords[r + 1][c] == (formula ? "'" + field : field));
        }
    }

    const std::string json = FormatDeviceList(ListFormat::Json, entries);
    RequireNoControls(json, "\n");
    Require(JsonReader(json).Document());

    const std::string csv = FormatDeviceList(ListFormat::Csv, entries);
    RequireNoControls(csv, "\r\n");
    const auto parsed = ReadCsv(csv);
    Require(parsed.size() == records.size() + 1);
    for (std::size_t r = 0; r < records.size(); ++r) {
        Require(parsed[r + 1].size() == records[r].size() + 1);  // and "Seen Via"
        for (std::size_t c = 0; c < records[r].size(); ++c) {
            const std::string& field = parsed[r + 1][c];
            Require(field.empty() ||
                    std::string_view("=+-@\t\r").find(field[0]) == std::string_view::npos);
            Require(field == ClipboardCell(records[r][c]));
            Require((field == EscapeControls(records[r][c])) != StartsLikeFormula(records[r][c]));
        }
    }
    return 0;
}
