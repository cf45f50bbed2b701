#pragma once
// Text forms of the reply's raw-byte fields and the parsers that read cell
// and operator text back into bytes. The parsers never fail on content: a
// character that is not a hexadecimal digit reads as 0 or ends a field.

#include <cstdint>
#include <string>

namespace qdipc {

// '0'-'9' -> 0-9, 'a'-'f' and 'A'-'F' -> 10-15, anything else -> 0.
int HexDigitValue(char c);

std::string FormatDeviceId(const std::uint8_t* bytes8);    // "0011aabb-0000ff01"
std::string FormatMac(const std::uint8_t* bytes6);         // "00:1a:2b:3c:4d:5e"
std::string FormatHardwareVer(const std::uint8_t* bytes8); // "01:02:03:04:0a:0b:0c:ff"

// Reads exactly the characters at positions 0..16 of text (the caller passes
// at least 17). Returns -1 and writes nothing when text or out is null.
int ParseDeviceId(const char* text, std::uint8_t* out8);
// Six fields of hexadecimal digits, each followed by any one character.
// Returns -1 and writes nothing when text or out is null.
int ParseMac(const char* text, std::uint8_t* out6);
// Unsigned, no sign, no white space, no prefix; 32-bit wrap-around. When stop
// is given it receives the position of the first non-digit character.
std::int32_t ParseUnsigned(const char* text, int radix, const char** stop = nullptr);

}  // namespace qdipc
