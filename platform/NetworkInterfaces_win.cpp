// The host's IPv4 interfaces on Windows (GetAdaptersAddresses). Needs the
// socket library started for the address texts.

// Winsock 2 must come before windows.h and iphlpapi.h.
#include "platform/Winsock_win.h"

#include <iphlpapi.h>
#include <windows.h>

#include <array>
#include <string>

#include "platform/NetworkInterfaces.h"

namespace qdipc {
namespace {

using win::DottedQuad;
using win::MaskOf;
using win::Utf8;

// Adapters whose link is a broadcast medium (Ethernet, Wi-Fi and the like):
// not loopbacks, tunnels or point-to-point links.
bool CanBroadcast(const IP_ADAPTER_ADDRESSES& adapter) {
    switch (adapter.IfType) {
        case IF_TYPE_SOFTWARE_LOOPBACK:
        case IF_TYPE_TUNNEL:
        case IF_TYPE_PPP:
            return false;
        default:
            return true;
    }
}

// One entry per IPv4 address of the up adapters that pass keep(adapter).
template <typename Keep>
std::vector<Ipv4Interface> ListIpv4(Keep keep) {
    std::vector<Ipv4Interface> found;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> storage;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.resize(size);
        status =
            GetAdaptersAddresses(AF_INET, flags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    }
    if (status != NO_ERROR) {
        return found;
    }
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data());
         adapter != nullptr; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || !keep(*adapter)) {
            continue;
        }
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) {
                continue;
            }
            const in_addr ipv4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
            in_addr mask{};
            mask.s_addr = MaskOf(unicast->OnLinkPrefixLength);
            in_addr broadcast{};
            broadcast.s_addr = ipv4.s_addr | ~mask.s_addr;
            Ipv4Interface item;
            item.name = Utf8(adapter->FriendlyName);
            if (item.name.empty()) {
                item.name = adapter->AdapterName != nullptr ? adapter->AdapterName : "";
            }
            item.index = adapter->IfIndex;
            item.address = DottedQuad(ipv4);
            item.netmask = DottedQuad(mask);
            item.broadcast = DottedQuad(broadcast);
            if (item.index != 0 && !item.address.empty()) {
                found.push_back(std::move(item));
            }
        }
    }
    return found;
}

}  // namespace

std::vector<Ipv4Interface> ListBroadcastInterfaces() {
    return ListIpv4([](const IP_ADAPTER_ADDRESSES& adapter) { return CanBroadcast(adapter); });
}

std::optional<Ipv4Interface> LoopbackInterface() {
    for (auto& entry : ListIpv4([](const IP_ADAPTER_ADDRESSES& adapter) {
             return adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
         })) {
        if (entry.address == "127.0.0.1") {
            return std::move(entry);
        }
    }
    return std::nullopt;
}

}  // namespace qdipc
