// The host's own IPv4 address on Windows. Needs the socket library started.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 must come before windows.h and iphlpapi.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <array>
#include <utility>
#include <vector>

#include "platform/HostAddress.h"

namespace qdipc {
namespace {

bool IsLoopback(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

std::string DottedQuad(const in_addr& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    if (InetNtopA(AF_INET, &address, text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

// The first non-loopback IPv4 address of the host's own name.
std::optional<std::string> FromHostName() {
    std::array<char, 128> name{};
    if (gethostname(name.data(), static_cast<int>(name.size() - 1)) != 0) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.data(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        if (!IsLoopback(address->sin_addr)) {
            std::string text = DottedQuad(address->sin_addr);
            if (!text.empty()) {
                result = std::move(text);
                break;
            }
        }
    }
    freeaddrinfo(found);
    return result;
}

// The first IPv4 address of an adapter that is up and not a loopback.
std::optional<std::string> FromAdapters() {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                        GAA_FLAG_SKIP_FRIENDLY_NAME;
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
        return std::nullopt;
    }
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data());
         adapter != nullptr; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
            continue;
        }
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) {
                continue;
            }
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
            if (IsLoopback(ipv4->sin_addr)) {
                continue;
            }
            std::string text = DottedQuad(ipv4->sin_addr);
            if (!text.empty()) {
                return text;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> LocalIpv4Address() {
    if (auto address = FromHostName()) {
        return address;
    }
    return FromAdapters();
}

}  // namespace qdipc
