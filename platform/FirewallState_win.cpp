// Windows: the Windows Defender Firewall's rules are not read; every reading
// says so, with the rule the program asks netsh for at start-up as the fix.

#include "platform/FirewallState.h"

namespace qdipc {

HostFirewallReadings ReadHostFirewalls(const std::vector<std::string>&, std::uint16_t port) {
    HostFirewallReadings readings;
    const std::string portText = std::to_string(port);
    readings.netfilter = {FirewallVerdict::NotChecked,
                          "the Windows firewall's rules are not read by this program",
                          "netsh advfirewall firewall add rule name=\"qd_ip_search\" dir=in "
                          "action=allow protocol=UDP localport=" +
                              portText};
    readings.firewalld = {FirewallVerdict::NotChecked, "firewalld is a Linux firewall", ""};
    readings.ufw = {FirewallVerdict::NotChecked, "ufw is a Linux firewall", ""};
    return readings;
}

std::optional<std::string> ConfigValue(std::string_view, std::string_view) {
    return std::nullopt;
}
std::vector<std::string> FirewalldZoneInterfaces(std::string_view) {
    return {};
}
bool FirewalldZoneAdmits(std::string_view, std::uint16_t, std::string_view) {
    return false;
}
bool UfwRulesAdmit(std::string_view, std::uint16_t) {
    return false;
}
FirewallReading NftRulesetReading(std::string_view, std::uint16_t) {
    return {};
}

}  // namespace qdipc
