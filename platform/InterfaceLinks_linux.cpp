// Linux: interfaces and their IPv4 addresses from getifaddrs (IFF_RUNNING is
// the link's operational state: up with a carrier), Wi-Fi and bridges from
// /sys/class/net/<name>/{wireless,phy80211,bridge}, the reverse-path filter
// from /proc/sys/net/ipv4/conf/{all,<name>}/rp_filter.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>

#include "platform/InterfaceLinks.h"

namespace qdipc {
namespace {

std::string DottedQuad(in_addr address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    if (inet_ntop(AF_INET, &address, text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::optional<int> ReadSmallNumber(const std::string& path) {
    std::ifstream in(path);
    int value = -1;
    if (!(in >> value) || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::vector<InterfaceLink>> ListInterfaceLinks() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::vector<InterfaceLink> links;
    const auto linkNamed = [&](const std::string& name) -> InterfaceLink& {
        for (InterfaceLink& link : links) {
            if (link.name == name) {
                return link;
            }
        }
        links.push_back({});
        links.back().name = name;
        return links.back();
    };
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            continue;
        }
        std::string name = entry->ifa_name;
        // An address label such as "eth0:1" belongs to the interface "eth0".
        if (const auto colon = name.find(':'); colon != std::string::npos) {
            name.resize(colon);
        }
        InterfaceLink& link = linkNamed(name);
        const unsigned flags = entry->ifa_flags;
        link.up = (flags & IFF_UP) != 0;
        link.broadcast = (flags & IFF_BROADCAST) != 0;
        link.loopback = (flags & IFF_LOOPBACK) != 0;
        link.carrier = (flags & IFF_RUNNING) != 0;
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            in_addr mask{};
            if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET) {
                mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr;
            }
            link.ipv4.push_back(
                {DottedQuad(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr),
                 DottedQuad(mask)});
        }
    }
    freeifaddrs(list);

    const std::optional<int> all = ReadSmallNumber("/proc/sys/net/ipv4/conf/all/rp_filter");
    for (InterfaceLink& link : links) {
        const std::string sys = "/sys/class/net/" + link.name;
        link.wireless = Exists(sys + "/wireless") || Exists(sys + "/phy80211");
        link.bridge = Exists(sys + "/bridge");
        const std::optional<int> own =
            ReadSmallNumber("/proc/sys/net/ipv4/conf/" + link.name + "/rp_filter");
        if (own && all) {
            link.rpFilter = std::max(*own, *all);
        }
    }
    return links;
}

std::optional<std::uint64_t> ReversePathFilterDrops() {
    std::ifstream in("/proc/net/netstat");
    std::ostringstream text;
    text << in.rdbuf();
    return NetstatCounter(text.str(), "TcpExt", "IPReversePathFilter");
}

}  // namespace qdipc
