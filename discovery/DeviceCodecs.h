#pragma once
// Text forms of the reply's raw-byte fields and the one parser of each kind
// of text: for an address, a device ID and a MAC a strict one that takes the
// exact form only and says no otherwise, and a lenient one. The lenient
// device-ID and MAC parsers make bytes of whatever text the settings window
// sends (they never fail on content: a character that is not a hexadecimal
// digit reads as 0 or ends a field); the lenient address parser reads a
// camera's address with leading zeros as well.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// '0'-'9' -> 0-9, 'a'-'f' and 'A'-'F' -> 10-15, anything else -> 0.
int HexDigitValue(char c);

std::string FormatDeviceId(const std::uint8_t* bytes8);     // "0011aabb-0000ff01"
std::string FormatMac(const std::uint8_t* bytes6);          // "00:1a:2b:3c:4d:5e"
std::string FormatHardwareVer(const std::uint8_t* bytes8);  // "01:02:03:04:0a:0b:0c:ff"

// Reads exactly the characters at positions 0..16 of text (the caller passes
// at least 17). Returns -1 and writes nothing when text or out is null.
int ParseDeviceId(const char* text, std::uint8_t* out8);
// Six fields of hexadecimal digits, each followed by any one character.
// Returns -1 and writes nothing when text or out is null.
int ParseMac(const char* text, std::uint8_t* out6);
// A dotted quad: exactly four decimal numbers 0..255 separated by single
// dots, nothing else (no sign, space, empty part or trailing dot). A number
// with a leading zero ("01", "00") is refused, since some network stacks read
// it as octal. The value is a << 24 | b << 16 | c << 8 | d.
std::optional<std::uint32_t> ParseIpv4Strict(std::string_view text);
// The one prefix length of a netmask (host order): the number of its leading
// ones when its ones are contiguous (255.255.255.0 is 24, 0.0.0.0 is 0);
// nothing for a mask with a zero between its ones (255.0.255.0).
std::optional<int> MaskPrefixLength(std::uint32_t mask);
// The same with leading zeros allowed ("010.001.1.1" is 10.1.1.1), each
// number one to three digits.
std::optional<std::uint32_t> ParseIpv4Lenient(std::string_view text);
// A device ID as the list shows it: four hexadecimal pairs (either case), a
// hyphen, four more pairs, 17 characters such as 0011aabb-0000ff01.
std::optional<std::array<std::uint8_t, 8>> ParseDeviceIdStrict(std::string_view text);
// Six pairs of hexadecimal digits (either case) separated by ':' or by '-',
// one separator kind throughout: 00:1a:2b:3c:4d:5e or 00-1A-2B-3C-4D-5E.
std::optional<std::array<std::uint8_t, 6>> ParseMacStrict(std::string_view text);

// Unsigned, no sign, no white space, no prefix; 32-bit wrap-around. When stop
// is given it receives the position of the first non-digit character.
std::int32_t ParseUnsigned(const char* text, int radix, const char** stop = nullptr);

}  // namespace qdipc
