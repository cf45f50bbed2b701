// Windows: the port's owners from the UDP tables with owner process IDs
// (GetExtendedUdpTable, IPv4 and IPv6), the program's name from its image
// path (QueryFullProcessImageNameW). A process this user may not open keeps
// its PID with an empty name.

// Winsock 2 must come before windows.h and iphlpapi.h.
#include "platform/Winsock_win.h"

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/PortOwner.h"

namespace qdipc {
namespace {

using win::Utf8;

std::string ProgramName(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        return {};
    }
    std::array<wchar_t, 1024> path{};
    DWORD size = static_cast<DWORD>(path.size());
    std::string name;
    if (QueryFullProcessImageNameW(process, 0, path.data(), &size) != 0) {
        name = Utf8(path.data());
        const auto slash = name.find_last_of("\\/");
        if (slash != std::string::npos) {
            name.erase(0, slash + 1);
        }
    }
    CloseHandle(process);
    return name;
}

// The owners' PIDs of the port in one address family's table.
template <typename Table>
bool CollectOwners(ULONG family, std::uint16_t port, std::vector<DWORD>& pids) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> storage;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        storage.resize(size);
        status = GetExtendedUdpTable(storage.data(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
    }
    if (status != NO_ERROR) {
        return false;
    }
    const auto* table = reinterpret_cast<const Table*>(storage.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const auto& row = table->table[i];
        if (ntohs(static_cast<u_short>(row.dwLocalPort)) == port &&
            std::find(pids.begin(), pids.end(), row.dwOwningPid) == pids.end()) {
            pids.push_back(row.dwOwningPid);
        }
    }
    return true;
}

}  // namespace

std::vector<std::uint64_t> UdpSocketInodes(std::string_view, std::uint16_t) {
    return {};  // Windows has no /proc
}

PortOwnerLookup UdpPortOwners(std::uint16_t port) {
    PortOwnerLookup lookup;
    std::vector<DWORD> pids;
    const bool v4 = CollectOwners<MIB_UDPTABLE_OWNER_PID>(AF_INET, port, pids);
    const bool v6 = CollectOwners<MIB_UDP6TABLE_OWNER_PID>(AF_INET6, port, pids);
    lookup.checked = v4 || v6;
    const DWORD self = GetCurrentProcessId();
    for (DWORD pid : pids) {
        if (pid != self) {
            // PID 0 would read as "hidden"; the system idle process holds no port.
            lookup.owners.push_back({ProgramName(pid), static_cast<std::uint32_t>(pid)});
        }
    }
    return lookup;
}

}  // namespace qdipc
