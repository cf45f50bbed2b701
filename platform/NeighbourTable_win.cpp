// The neighbour table and default routes on Windows (GetIpNetTable2,
// GetIpForwardTable2).

// Winsock 2 must come before windows.h and iphlpapi.h.
#include "platform/Winsock_win.h"

#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>

#include <array>
#include <cstdio>

#include "platform/NeighbourTable.h"

namespace qdipc {
namespace {

using win::DottedQuad;

}  // namespace

std::vector<NeighbourEntry> ReachableNeighbours() {
    std::vector<NeighbourEntry> entries;
    MIB_IPNET_TABLE2* table = nullptr;
    if (GetIpNetTable2(AF_INET, &table) != NO_ERROR || table == nullptr) {
        return entries;
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        const bool known = row.State == NlnsReachable || row.State == NlnsStale ||
                           row.State == NlnsPermanent || row.State == NlnsDelay ||
                           row.State == NlnsProbe;
        if (!known || row.Address.si_family != AF_INET || row.PhysicalAddressLength == 0) {
            continue;
        }
        const std::string address = DottedQuad(row.Address.Ipv4.sin_addr);
        std::string mac;
        if (row.PhysicalAddressLength == 6) {
            char text[18];
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x",
                          row.PhysicalAddress[0], row.PhysicalAddress[1], row.PhysicalAddress[2],
                          row.PhysicalAddress[3], row.PhysicalAddress[4], row.PhysicalAddress[5]);
            mac = text;
        }
        if (!address.empty()) {
            entries.push_back({address, row.InterfaceIndex, mac});
        }
    }
    FreeMibTable(table);
    return entries;
}

std::optional<std::string> DefaultGatewayOf(std::uint32_t interfaceIndex) {
    if (interfaceIndex == 0) {
        return std::nullopt;
    }
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (GetIpForwardTable2(AF_INET, &table) != NO_ERROR || table == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> gateway;
    ULONG bestMetric = ~0UL;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& row = table->Table[i];
        if (row.InterfaceIndex != interfaceIndex || row.DestinationPrefix.PrefixLength != 0 ||
            row.NextHop.si_family != AF_INET || row.NextHop.Ipv4.sin_addr.s_addr == 0 ||
            row.Metric >= bestMetric) {
            continue;
        }
        const std::string text = DottedQuad(row.NextHop.Ipv4.sin_addr);
        if (!text.empty()) {
            gateway = text;
            bestMetric = row.Metric;
        }
    }
    FreeMibTable(table);
    return gateway;
}

}  // namespace qdipc
