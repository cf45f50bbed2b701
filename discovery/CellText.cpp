#include "discovery/CellText.h"

#include <cctype>

#include <cstdint>

#include "platform/TextDecoding.h"

namespace qdipc {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

// The length of the well-formed UTF-8 sequence at the start of bytes (1 to
// 4), or 0 when it is not one, with its code point.
std::size_t Utf8SequenceAt(std::string_view bytes, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length = 0;
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
        return 0;
    }
    if (length > bytes.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (overlong || surrogate || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool IsControl(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The invisible marks that reorder the text around them: the embeddings and
// overrides U+202A..U+202E, the isolates U+2066..U+2069 and the three marks
// LRM, RLM and ALM. A name "abc\u202Egpj.exe" would otherwise read backwards.
bool IsBidiControl(std::uint32_t code) {
    return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
           code == 0x200E || code == 0x200F || code == 0x061C;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceAt(bytes.substr(i), code);
        if (length == 0) {
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
            if (IsValidUtf8(*decoded)) {
                return *decoded;
            }
        }
    }
    // Neither: the bytes as they are; the escape writes each one that is
    // not UTF-8 as \xNN.
    return std::string(bytes);
}

std::string DecodeCellText(std::string_view bytes) {
    return PrintableCellText(bytes, Gb18030ToUtf8);
}

std::string DisplayCellText(std::string_view bytes) {
    return EscapeControls(DecodeCellText(bytes));
}

void AppendEscapedControls(std::string& out, std::string_view text, ControlEscape style) {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceAt(text.substr(i), code);
        if (length == 0) {
            // Not UTF-8: the byte by its value, never the byte itself (0x9B
            // alone starts a control sequence on an 8-bit terminal).
            out += style == ControlEscape::Hex ? "\\x" : "\\\\x";
            AppendHexByte(out, static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (IsControl(code)) {
            out += style == ControlEscape::Hex ? "\\x" : "\\u00";
            AppendHexByte(out, static_cast<unsigned char>(code));
        } else if (IsBidiControl(code)) {
            out += "\\u";
            AppendHexByte(out, static_cast<unsigned char>(code >> 8));
            AppendHexByte(out, static_cast<unsigned char>(code & 0xFF));
        } else if (code == '\\' && style == ControlEscape::Hex) {
            // So that \x1b in the output always means the byte.
            out += "\\\\";
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscapedControls(out, text);
    return out;
}

bool StartsLikeFormula(std::string_view text) {
    return !text.empty() &&
           std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

std::string QuotedText(std::string_view text) {
    return "'" + EscapeControls(text) + "'";
}

std::string CutText(std::string_view text, std::size_t length) {
    std::size_t characters = 0;
    std::size_t continuations = 0;  // bytes the current UTF-8 sequence still takes
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (continuations > 0 && (byte & 0xC0) == 0x80) {
            --continuations;
            continue;
        }
        if (characters == length) {
            return std::string(text.substr(0, i)) + "\xE2\x80\xA6";  // …
        }
        ++characters;
        continuations = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    }
    return std::string(text);
}

std::string QuotedField(std::string_view text) {
    return QuotedText(CutText(text));
}

std::string LowerAscii(std::string text) {
    // Not std::tolower: that follows the locale the toolkit set, and a
    // device ID compares the same whatever the locale.
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace qdipc
