#pragma once
// The one rule by which a cell's raw bytes become text, for the window and
// for every output (the list's TSV, CSV and JSON, the clipboard), and the one
// escape that keeps control characters out of what is shown or printed.
//
// A camera's texts are whatever bytes it sends (anyone on the LAN can answer
// a broadcast), so they are decoded as UTF-8 when that is valid, else as
// GB18030 (the cameras' own encoding, a superset of GBK), else kept as bytes.
// Then one escape, the same for camera text, file text and arguments echoed
// in messages: every byte that is not UTF-8 and every control character (C0,
// DEL and the C1 range U+0080..U+009F) is written as \xNN, every bidirectional
// control (U+202A..U+202E, U+2066..U+2069, LRM, RLM, ALM) as \uNNNN and a
// backslash as \\, so that no text can move a terminal's cursor, retitle its
// window, recolour it or reorder what is shown, and \x1b in the output always
// means the byte.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Decodes 8-bit text of another encoding into UTF-8; nullopt when the bytes
// are not valid in it.
using LegacyDecoder = std::function<std::optional<std::string>(std::string_view)>;

// A cell's raw bytes as text: as they are when valid UTF-8, else by the
// legacy decoder when that gives UTF-8, else the bytes as they are (no byte is
// lost). Not yet printable: every output passes it through EscapeControls
// (or the JSON form of it), which writes the bytes that are not UTF-8 as \xNN.
std::string PrintableCellText(std::string_view bytes, const LegacyDecoder& legacy);

// The rule itself: PrintableCellText with GB18030 as the legacy encoding.
std::string DecodeCellText(std::string_view bytes);

// A cell as the window shows it and the clipboard copies it: decoded, its
// control characters as \xNN.
std::string DisplayCellText(std::string_view bytes);

// How an escaped control character is written: \xNN for text, \u00NN
// inside a JSON string.
enum class ControlEscape { Hex, JsonUnicode };

// Appends text with every C0 control, DEL and C1 control written as \xNN
// (or \u00NN), every bidirectional control as \uNNNN, a backslash as \\ (in
// JSON the caller writes it) and every byte that is not part of well-formed
// UTF-8 as \xNN (in JSON as the text \\xNN), the rest as it is. The result
// holds no byte below 0x20, no 0x7F, no C1 and no bidirectional control, and
// is well-formed UTF-8.
void AppendEscapedControls(std::string& out, std::string_view text,
                           ControlEscape style = ControlEscape::Hex);
std::string EscapeControls(std::string_view text);

// Whether a spreadsheet would read a cell as a formula: it starts with =, +,
// -, @, a tab or a carriage return. Every CSV the program writes puts a
// leading apostrophe before such a cell.
bool StartsLikeFormula(std::string_view text);

// An argument or a file name as messages echo it: in single quotes, its
// control characters escaped.
std::string QuotedText(std::string_view text);

// A field as a message repeats it: at most kEchoedFieldLength characters
// (UTF-8 code points; a byte that is not UTF-8 counts as one), a longer text
// cut there and ended with "…", then quoted as QuotedText does. So an error
// about a field of megabytes says a line, not the megabytes.
inline constexpr std::size_t kEchoedFieldLength = 60;
std::string CutText(std::string_view text, std::size_t length = kEchoedFieldLength);
std::string QuotedField(std::string_view text);


// ASCII letters in lowercase, as device IDs and MACs are compared.
std::string LowerAscii(std::string text);

}  // namespace qdipc
