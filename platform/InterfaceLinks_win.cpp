// Windows: adapters from GetAdaptersAddresses. An adapter listed but not
// operationally up has no link (cable out, not associated); Wi-Fi is the
// IEEE 802.11 interface type. Windows has no reverse-path filter setting of
// this kind and no such drop counter: both stay unknown.

// Winsock 2 must come before windows.h and iphlpapi.h.
#include "platform/Winsock_win.h"

#include <iphlpapi.h>
#include <windows.h>

#include <array>

#include "platform/InterfaceLinks.h"

namespace qdipc {
namespace {

using win::DottedQuad;
using win::MaskOf;
using win::Utf8;

}  // namespace

std::optional<std::vector<InterfaceLink>> ListInterfaceLinks() {
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
    if (status != NO_ERROR && status != ERROR_NO_DATA) {
        return std::nullopt;
    }
    std::vector<InterfaceLink> links;
    if (status == ERROR_NO_DATA) {
        return links;
    }
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data());
         adapter != nullptr; adapter = adapter->Next) {
        InterfaceLink link;
        link.name = Utf8(adapter->FriendlyName);
        if (link.name.empty() && adapter->AdapterName != nullptr) {
            link.name = adapter->AdapterName;
        }
        link.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        link.broadcast =
            !link.loopback && adapter->IfType != IF_TYPE_TUNNEL && adapter->IfType != IF_TYPE_PPP;
        // Listed adapters are enabled; an enabled adapter without a link is
        // reported down (media disconnected).
        link.up = true;
        link.carrier = adapter->OperStatus == IfOperStatusUp;
        link.wireless = adapter->IfType == IF_TYPE_IEEE80211;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) {
                continue;
            }
            in_addr mask{};
            mask.s_addr = MaskOf(unicast->OnLinkPrefixLength);
            link.ipv4.push_back(
                {DottedQuad(reinterpret_cast<const sockaddr_in*>(address)->sin_addr),
                 DottedQuad(mask)});
        }
        links.push_back(std::move(link));
    }
    return links;
}

std::optional<std::uint64_t> ReversePathFilterDrops() {
    return std::nullopt;
}

}  // namespace qdipc
