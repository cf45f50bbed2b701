#pragma once
// The checks a settings change passes before it is sent, shared by the
// settings window and the command line. A camera takes whatever the record
// holds, so a text that is not an address, or an address it cannot live on,
// could leave it unreachable; these checks refuse such a change with the
// field and the reason, in plain English.
//
// The parsers here are strict on purpose and serve only these checks: cell
// texts are still read by the lenient codecs of the device table.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/NetSettingsRecord.h"

namespace qdipc {

// A dotted quad: exactly four decimal numbers 0..255 separated by single
// dots, nothing else (no sign, space, empty part or trailing dot). A number
// with a leading zero ("01", "00") is refused, since some network stacks read
// it as octal. The value is a << 24 | b << 16 | c << 8 | d.
std::optional<std::uint32_t> ParseIpv4Strict(std::string_view text);

// Six pairs of hexadecimal digits (either case) separated by ':' or by '-',
// one separator kind throughout: 00:1a:2b:3c:4d:5e or 00-1A-2B-3C-4D-5E.
std::optional<std::array<std::uint8_t, 6>> ParseMacStrict(std::string_view text);

// "a.b.c.d" of a value as ParseIpv4Strict gives it.
std::string FormatIpv4(std::uint32_t address);

enum class SettingsField { Ip, Mask, Gateway, Mac };

struct SettingsProblem {
    SettingsField field;
    // One line that starts with the field's name: "IP: ...", "Mask: ...",
    // "Gateway: ..." or "MAC: ...".
    std::string reason;
};

// The first problem of a change, in the window's order IP, Mask, Gateway,
// MAC; nothing when it may be sent.
//
// Static mode:
// - IP: a dotted quad; not in 0.0.0.0/8 (0.0.0.0 included), not loopback
//   127.0.0.0/8, not multicast 224.0.0.0/4, not reserved 240.0.0.0/4 (which
//   holds 255.255.255.255); not the network or broadcast address of its mask.
// - Mask: a dotted quad whose ones are contiguous from the top, a prefix of
//   /1 to /30 (/0 has no network; /31 and /32 leave no room for a gateway).
// - Gateway: a dotted quad under the IP's rules, inside the IP's subnet, not
//   its network or broadcast address and not the IP itself.
// - MAC: ParseMacStrict; unicast (low bit of the first octet clear, so
//   ff:ff:ff:ff:ff:ff is refused too) and not all zeros.
// DHCP and ADSL: the camera takes its address from the network, so IP, Mask
// and Gateway may each be empty or must be a dotted quad, without the rules
// above; the MAC is checked as in static mode.
std::optional<SettingsProblem> ValidateSettings(std::string_view ip, std::string_view mask,
                                                std::string_view gateway, std::string_view mac,
                                                AddressingMode mode);

}  // namespace qdipc
