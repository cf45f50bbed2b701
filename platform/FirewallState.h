#pragma once
// Whether the host's firewalls would let the cameras' replies reach the
// receive port, read without changing anything and without a password
// prompt. FirewallState_linux.cpp reads firewalld's and ufw's saved
// configuration under /etc and /usr/lib, and (as root only) the nftables
// ruleset of this network namespace; FirewallState_win.cpp answers "not
// checked". CMake picks the file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

enum class FirewallVerdict {
    NotChecked,  // could not be read (no rights, no tool, not this system)
    Inactive,    // not installed or not running
    Admits,      // running and lets UDP to the port in
    Blocks,      // running and drops it (or may: enabled, rules unreadable)
};

struct FirewallReading {
    FirewallVerdict verdict = FirewallVerdict::NotChecked;
    std::string finding;  // one line: what was found
    std::string fix;      // one line: the command that fixes it ("" when none is needed)
};

struct HostFirewallReadings {
    FirewallReading firewalld;
    FirewallReading ufw;
    FirewallReading netfilter;  // the nftables ruleset itself (Linux)
};

// Reads the firewalls for UDP to port on the named interfaces.
HostFirewallReadings ReadHostFirewalls(const std::vector<std::string>& interfaceNames,
                                       std::uint16_t port);

// The pieces of the Linux readings, on texts the caller supplies (tests):
// a key's value in a KEY=value file ("DefaultZone", "ENABLED"), quotes removed;
std::optional<std::string> ConfigValue(std::string_view text, std::string_view key);
// the interfaces a firewalld zone file names;
std::vector<std::string> FirewalldZoneInterfaces(std::string_view zoneXml);
// whether a firewalld zone file admits UDP to port: the service named
// service, a udp port or range holding port, or the target ACCEPT;
bool FirewalldZoneAdmits(std::string_view zoneXml, std::uint16_t port, std::string_view service);
// whether ufw's user.rules hold an allow rule for UDP (or any protocol) to
// port, in its "### tuple ###" lines;
bool UfwRulesAdmit(std::string_view userRules, std::uint16_t port);
// what the input path of an nftables ruleset (`nft -j list ruleset`) does
// with a new UDP datagram to port: Admits, Blocks (with the chain and rule)
// or NotChecked when a rule's match cannot be judged.
FirewallReading NftRulesetReading(std::string_view json, std::uint16_t port);

}  // namespace qdipc
