#pragma once
// What the host knows of the machines next to it: the neighbour (ARP) table's
// reachable IPv4 addresses, and the default gateway of each interface. An
// address planner skips the former and offers the latter.
// NeighbourTable_linux.cpp reads /proc/net/arp and /proc/net/route,
// NeighbourTable_win.cpp asks GetIpNetTable2 and GetIpForwardTable2.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

struct NeighbourEntry {
    std::string address;               // dotted quad
    std::uint32_t interfaceIndex = 0;  // 0 when unknown
    std::string mac{};  // its link-layer address, "00:1a:2b:3c:4d:5e"; "" when not six bytes
};

// The neighbour table's IPv4 entries whose link-layer address is known
// (complete, reachable, stale or permanent): a machine answers, or answered
// lately, at that address. Empty when the system cannot tell.
std::vector<NeighbourEntry> ReachableNeighbours();

// The default gateway (a route to 0.0.0.0/0) through the interface with that
// index, dotted quad; nothing when that interface has none.
std::optional<std::string> DefaultGatewayOf(std::uint32_t interfaceIndex);

struct DefaultRoute {
    std::string interfaceName;
    std::string gateway;  // dotted quad
};

// Linux only: the parsers of the Linux files, kept apart from the files for tests: the
// text of /proc/net/arp (entries with flag 0x2, complete, and a link-layer
// address that is not all zeros; interfaceIndex left 0 and the device's
// name in interfaceNames), and of /proc/net/route (default routes with the
// gateway flag). Lines that do not parse are skipped.
std::vector<NeighbourEntry> ParseProcNetArp(std::string_view text,
                                            std::vector<std::string>* interfaceNames = nullptr);
std::vector<DefaultRoute> ParseProcNetRoute(std::string_view text);

}  // namespace qdipc
