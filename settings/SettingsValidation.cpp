#include "settings/SettingsValidation.h"

#include <utility>

namespace qdipc {
namespace {

constexpr int kMinPrefix = 1;
constexpr int kMaxPrefix = 30;

enum class QuadError { None, Malformed, LeadingZero };

// The dotted quad's value, or why it is not one: the core's parsers, the
// lenient one telling a leading zero from no address at all ("01.2.3" is
// not an address).
std::optional<std::uint32_t> ParseQuad(std::string_view text, QuadError& error) {
    const std::optional<std::uint32_t> value = ParseIpv4Strict(text);
    error = value                    ? QuadError::None
            : ParseIpv4Lenient(text) ? QuadError::LeadingZero
                                     : QuadError::Malformed;
    return value;
}

std::string Shown(std::string_view text) {
    return std::string(text);
}

SettingsProblem Problem(SettingsField field, std::string reason) {
    static constexpr std::array<const char*, 4> kNames = {"IP", "Mask", "Gateway", "MAC"};
    return {field, std::string(kNames[static_cast<std::size_t>(field)]) + ": " + reason};
}

// A dotted quad or the problem with the text; what makes a good one is named
// by `what` ("an IPv4 address", "a netmask") and shown by `example`.
std::optional<std::uint32_t> ParseField(SettingsField field, std::string_view text,
                                        const char* what, const char* example,
                                        std::optional<SettingsProblem>& problem) {
    if (text.empty()) {
        problem = Problem(field, std::string("empty; it needs ") + what + " such as " + example);
        return std::nullopt;
    }
    QuadError error = QuadError::None;
    const std::optional<std::uint32_t> value = ParseQuad(text, error);
    if (error == QuadError::LeadingZero) {
        problem = Problem(field, Shown(text) +
                                     " has a number with a leading zero, which some systems "
                                     "read as octal; write it without");
    } else if (!value) {
        problem = Problem(field, Shown(text) + " is not " + what +
                                     " (four numbers from 0 to 255 separated by dots, e.g. " +
                                     example + ")");
    }
    return value;
}

// Why no host may use the address, or nothing.
std::optional<std::string> SpecialAddressReason(std::uint32_t address) {
    const std::string text = FormatIpv4(address);
    if (address == 0) {
        return text + " is the unspecified address, not a host address";
    }
    if ((address >> 24) == 0) {
        return text + " is in 0.0.0.0/8, which no host may use";
    }
    if ((address >> 24) == 127) {
        return text + " is a loopback address (127.0.0.0/8)";
    }
    if (address == 0xFFFFFFFFu) {
        return text + " is the broadcast address";
    }
    if ((address >> 28) == 0xE) {
        return text + " is a multicast address (224.0.0.0/4)";
    }
    if ((address >> 28) == 0xF) {
        return text + " is a reserved address (240.0.0.0/4)";
    }
    return std::nullopt;
}

std::optional<SettingsProblem> ValidateStatic(std::string_view ipText, std::string_view maskText,
                                              std::string_view gatewayText) {
    std::optional<SettingsProblem> problem;
    const auto ip =
        ParseField(SettingsField::Ip, ipText, "an IPv4 address", "192.168.1.64", problem);
    if (!ip) {
        return problem;
    }
    if (const auto special = SpecialAddressReason(*ip)) {
        return Problem(SettingsField::Ip, *special);
    }

    const auto mask =
        ParseField(SettingsField::Mask, maskText, "a netmask", "255.255.255.0", problem);
    if (!mask) {
        return problem;
    }
    const std::optional<int> prefix = MaskPrefixLength(*mask);
    if (!prefix) {
        return Problem(SettingsField::Mask, Shown(maskText) +
                                                " is not a valid netmask (its ones must be "
                                                "contiguous)");
    }
    const std::string allowed = "; a camera needs a prefix of /" + std::to_string(kMinPrefix) +
                                " to /" + std::to_string(kMaxPrefix);
    if (*prefix < kMinPrefix) {
        return Problem(SettingsField::Mask,
                       Shown(maskText) + " (/0) has no network part" + allowed);
    }
    if (*prefix > kMaxPrefix) {
        return Problem(SettingsField::Mask, Shown(maskText) + " (/" + std::to_string(*prefix) +
                                                ") leaves no room for a gateway" + allowed);
    }

    const std::uint32_t network = *ip & *mask;
    const std::uint32_t broadcast = network | ~*mask;
    const std::string subnet = FormatIpv4(network) + "/" + std::to_string(*prefix);
    const auto subnetRole = [&](std::uint32_t address) -> std::optional<std::string> {
        if (address == network) {
            return FormatIpv4(address) + " is the network address of " + subnet;
        }
        if (address == broadcast) {
            return FormatIpv4(address) + " is the broadcast address of " + subnet;
        }
        return std::nullopt;
    };
    if (const auto role = subnetRole(*ip)) {
        return Problem(SettingsField::Ip, *role);
    }

    const auto gateway =
        ParseField(SettingsField::Gateway, gatewayText, "an IPv4 address", "192.168.1.1", problem);
    if (!gateway) {
        return problem;
    }
    if (const auto special = SpecialAddressReason(*gateway)) {
        return Problem(SettingsField::Gateway, *special);
    }
    if ((*gateway & *mask) != network) {
        return Problem(SettingsField::Gateway,
                       Shown(gatewayText) + " is outside the IP's subnet " + subnet);
    }
    if (const auto role = subnetRole(*gateway)) {
        return Problem(SettingsField::Gateway, *role);
    }
    if (*gateway == *ip) {
        return Problem(SettingsField::Gateway, Shown(gatewayText) + " is the IP itself");
    }
    return std::nullopt;
}

std::optional<SettingsProblem> ValidateMac(std::string_view text) {
    if (text.empty()) {
        return Problem(SettingsField::Mac,
                       "empty; it needs a MAC address such as "
                       "00:1a:2b:3c:4d:5e");
    }
    const auto mac = ParseMacStrict(text);
    if (!mac) {
        return Problem(SettingsField::Mac, Shown(text) +
                                               " is not a MAC address (six hex pairs separated "
                                               "by ':' or '-', e.g. 00:1a:2b:3c:4d:5e)");
    }
    bool allZero = true;
    bool allOnes = true;
    for (std::uint8_t octet : *mac) {
        allZero = allZero && octet == 0x00;
        allOnes = allOnes && octet == 0xFF;
    }
    if (allZero) {
        return Problem(SettingsField::Mac, Shown(text) + " is all zeros, not a device's address");
    }
    if (allOnes) {
        return Problem(SettingsField::Mac, Shown(text) + " is the broadcast address");
    }
    if (((*mac)[0] & 0x01) != 0) {
        return Problem(SettingsField::Mac,
                       Shown(text) + " is a multicast address (the first octet is odd)");
    }
    return std::nullopt;
}

}  // namespace

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<SettingsProblem> ValidateSettings(std::string_view ip, std::string_view mask,
                                                std::string_view gateway, std::string_view mac,
                                                AddressingMode mode) {
    if (mode == AddressingMode::Static) {
        if (auto problem = ValidateStatic(ip, mask, gateway)) {
            return problem;
        }
    } else {
        // The camera asks the network for these; a text that is given must
        // still be an address, never something the camera could store as one.
        const std::array<std::pair<SettingsField, std::string_view>, 3> texts = {{
            {SettingsField::Ip, ip},
            {SettingsField::Mask, mask},
            {SettingsField::Gateway, gateway},
        }};
        for (const auto& [field, text] : texts) {
            std::optional<SettingsProblem> problem;
            if (!text.empty() &&
                !ParseField(
                    field, text, field == SettingsField::Mask ? "a netmask" : "an IPv4 address",
                    field == SettingsField::Mask ? "255.255.255.0" : "192.168.1.64", problem)) {
                return problem;
            }
        }
    }
    return ValidateMac(mac);
}

std::optional<SettingsProblem> ValidateRestoreSettings(std::string_view ip, std::string_view mask,
                                                       std::string_view gateway,
                                                       std::string_view mac, AddressingMode mode) {
    if (mode == AddressingMode::Static) {
        // The address and mask by the static rules; the gateway is not theirs.
        if (auto problem = ValidateSettings(ip, mask, "", mac, mode);
            problem && problem->field != SettingsField::Gateway) {
            return problem;
        }
    }
    // Empty or a dotted quad, and the MAC: the rules of a DHCP change.
    return ValidateSettings(mode == AddressingMode::Static ? "" : ip,
                            mode == AddressingMode::Static ? "" : mask, gateway, mac,
                            AddressingMode::Dhcp);
}

}  // namespace qdipc
