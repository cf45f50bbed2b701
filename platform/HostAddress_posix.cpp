// The host's own IPv4 address on Linux and other POSIX systems.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <utility>

#include "platform/HostAddress.h"

namespace qdipc {
namespace {

bool IsLoopback(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

std::string DottedQuad(const in_addr& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET, &address, text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

// The first non-loopback IPv4 address of the host's own name, in the order
// the resolver lists them.
std::optional<std::string> FromHostName() {
    std::array<char, 128> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) {
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

// The first IPv4 address of an interface that is up and not a loopback.
std::optional<std::string> FromInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!IsLoopback(address->sin_addr)) {
            std::string text = DottedQuad(address->sin_addr);
            if (!text.empty()) {
                result = std::move(text);
                break;
            }
        }
    }
    freeifaddrs(list);
    return result;
}

}  // namespace

std::optional<std::string> LocalIpv4Address() {
    if (auto address = FromHostName()) {
        return address;
    }
    return FromInterfaces();
}

}  // namespace qdipc
