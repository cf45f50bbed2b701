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

#include "discovery/DeviceCodecs.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {

// ParseIpv4Strict, ParseMacStrict and their lenient kin are the core's
// (discovery/DeviceCodecs.h).

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

// The settings a camera reported before, as a rollback puts them back: in
// static mode the IP and mask pass the rules above, the gateway may be empty
// or any dotted quad (0.0.0.0 and an address off the subnet included: it is
// what the camera had); DHCP and ADSL as above. The MAC as above.
std::optional<SettingsProblem> ValidateRestoreSettings(std::string_view ip, std::string_view mask,
                                                       std::string_view gateway,
                                                       std::string_view mac, AddressingMode mode);

}  // namespace qdipc
