// The host's IPv4 interfaces on Linux and other POSIX systems (getifaddrs).

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <string>

#include "platform/NetworkInterfaces.h"

namespace qdipc {
namespace {

std::string DottedQuad(in_addr address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET, &address, text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

std::uint32_t IndexOf(const char* name) {
    std::string base(name);
    // An address label such as "eth0:1" belongs to the interface "eth0".
    if (const auto colon = base.find(':'); colon != std::string::npos) {
        base.resize(colon);
    }
    return if_nametoindex(base.c_str());
}

// One entry per IPv4 address of the interfaces that pass keep(flags).
template <typename Keep>
std::vector<Ipv4Interface> ListIpv4(Keep keep) {
    std::vector<Ipv4Interface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return found;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            entry->ifa_name == nullptr || !keep(entry->ifa_flags)) {
            continue;
        }
        const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        in_addr mask{};
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
            mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr;
        }
        in_addr broadcast{};
        broadcast.s_addr = address.s_addr | ~mask.s_addr;
        Ipv4Interface item;
        item.name = entry->ifa_name;
        item.index = IndexOf(entry->ifa_name);
        item.address = DottedQuad(address);
        item.netmask = DottedQuad(mask);
        item.broadcast = DottedQuad(broadcast);
        if (item.index != 0 && !item.address.empty()) {
            found.push_back(std::move(item));
        }
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

std::vector<Ipv4Interface> ListBroadcastInterfaces() {
    return ListIpv4([](unsigned flags) {
        return (flags & IFF_UP) != 0 && (flags & IFF_BROADCAST) != 0 && (flags & IFF_LOOPBACK) == 0;
    });
}

std::optional<Ipv4Interface> LoopbackInterface() {
    for (auto& entry : ListIpv4(
             [](unsigned flags) { return (flags & IFF_UP) != 0 && (flags & IFF_LOOPBACK) != 0; })) {
        if (entry.address == "127.0.0.1") {
            return std::move(entry);
        }
    }
    return std::nullopt;
}

}  // namespace qdipc
