#pragma once
// Every network interface with what the network diagnosis asks of it: up,
// broadcast-capable, link (carrier), Wi-Fi, its IPv4 addresses and the
// reverse-path filter in effect. InterfaceLinks_linux.cpp reads getifaddrs,
// /sys/class/net and /proc/sys/net/ipv4/conf; InterfaceLinks_win.cpp
// GetAdaptersAddresses; CMake picks the file.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

struct InterfaceLink {
    std::string name;  // system name; on Windows the adapter's friendly name
    bool up = false;
    bool broadcast = false;
    bool loopback = false;
    std::optional<bool> carrier;  // a link is there (cable in, associated); unknown: nullopt
    bool wireless = false;
    bool bridge = false;  // a software bridge: its carrier follows its ports
    struct Address {
        std::string address;  // dotted quads
        std::string netmask;
    };
    std::vector<Address> ipv4;
    // Linux: max(net.ipv4.conf.all.rp_filter, net.ipv4.conf.<name>.rp_filter),
    // the value the kernel applies (0 off, 1 strict, 2 loose); nullopt where the
    // system has no such setting or it could not be read.
    std::optional<int> rpFilter;
};

// Every interface, in the system's order; nullopt when the system cannot say.
std::optional<std::vector<InterfaceLink>> ListInterfaceLinks();

// How many datagrams the reverse-path filter has dropped so far (Linux: the
// IPReversePathFilter counter of /proc/net/netstat, for this network
// namespace); nullopt where it is not known.
std::optional<std::uint64_t> ReversePathFilterDrops();

// A counter of a /proc/net/netstat or /proc/net/snmp text, where each group
// is a line of names ("TcpExt: SyncookiesSent ...") followed by a line of
// values in the same order: the value named name in the group; nullopt when
// absent or not a number.
inline std::optional<std::uint64_t> NetstatCounter(std::string_view text, std::string_view group,
                                                   std::string_view name) {
    const auto words = [](std::string_view line) {
        std::vector<std::string_view> out;
        std::size_t at = 0;
        while (at < line.size()) {
            const std::size_t start = line.find_first_not_of(' ', at);
            if (start == std::string_view::npos) {
                break;
            }
            const std::size_t end = std::min(line.find(' ', start), line.size());
            out.push_back(line.substr(start, end - start));
            at = end;
        }
        return out;
    };
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    const std::string prefix = std::string(group) + ":";
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const auto names = words(lines[i]);
        const auto values = words(lines[i + 1]);
        if (names.empty() || names[0] != prefix || values.empty() || values[0] != prefix ||
            names.size() != values.size()) {
            continue;
        }
        for (std::size_t k = 1; k < names.size(); ++k) {
            if (names[k] != name) {
                continue;
            }
            std::uint64_t value = 0;
            if (values[k].empty()) {
                return std::nullopt;
            }
            for (const char c : values[k]) {
                if (c < '0' || c > '9') {
                    return std::nullopt;
                }
                value = value * 10 + static_cast<std::uint64_t>(c - '0');
            }
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace qdipc
