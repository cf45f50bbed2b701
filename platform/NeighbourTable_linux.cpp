// The neighbour table and default routes on Linux, from /proc/net/arp and
// /proc/net/route.

#include <arpa/inet.h>
#include <net/if.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/NeighbourTable.h"

namespace qdipc {
namespace {

// ATF_COM: the entry's link-layer address is known.
constexpr unsigned long kArpComplete = 0x2;
// RTF_UP and RTF_GATEWAY.
constexpr unsigned long kRouteUp = 0x1;
constexpr unsigned long kRouteGateway = 0x2;

std::string ReadFile(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The whitespace-separated words of one line.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > begin) {
            words.push_back(line.substr(begin, i - begin));
        }
    }
    return words;
}

template <typename Each>
void ForEachLine(std::string_view text, Each each) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        each(text.substr(begin, end - begin));
        begin = end + 1;
    }
}

// A whole word as an unsigned number in the given base; nothing otherwise.
std::optional<unsigned long> Number(std::string_view word, int base) {
    const std::string text(word);
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, base);
    if (end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool IsDottedQuad(std::string_view word) {
    in_addr address{};
    return inet_pton(AF_INET, std::string(word).c_str(), &address) == 1;
}

bool IsZeroMac(std::string_view word) {
    for (char c : word) {
        if (c != '0' && c != ':') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<NeighbourEntry> ParseProcNetArp(std::string_view text,
                                            std::vector<std::string>* interfaceNames) {
    // IP address  HW type  Flags  HW address  Mask  Device
    std::vector<NeighbourEntry> entries;
    ForEachLine(text, [&](std::string_view line) {
        const std::vector<std::string_view> words = Words(line);
        if (words.size() < 6 || !IsDottedQuad(words[0])) {
            return;  // the heading, or a line that is not an entry
        }
        const std::optional<unsigned long> flags = Number(words[2], 0);
        if (!flags || (*flags & kArpComplete) == 0 || IsZeroMac(words[3])) {
            return;
        }
        // The kernel writes six bytes as hex pairs with colons; anything else
        // (another link type) is no MAC to compare.
        std::string mac(words[3].size() == 17 ? words[3] : std::string_view());
        for (char& c : mac) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        entries.push_back({std::string(words[0]), 0, std::move(mac)});
        if (interfaceNames != nullptr) {
            interfaceNames->emplace_back(words[5]);
        }
    });
    return entries;
}

std::vector<DefaultRoute> ParseProcNetRoute(std::string_view text) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the
    // addresses are the kernel's 32-bit words in hexadecimal, in memory order.
    std::vector<DefaultRoute> routes;
    ForEachLine(text, [&](std::string_view line) {
        const std::vector<std::string_view> words = Words(line);
        if (words.size() < 8) {
            return;
        }
        const auto destination = Number(words[1], 16);
        const auto gateway = Number(words[2], 16);
        const auto flags = Number(words[3], 16);
        const auto mask = Number(words[7], 16);
        if (!destination || !gateway || !flags || !mask || *destination != 0 || *mask != 0 ||
            *gateway == 0 || (*flags & kRouteUp) == 0 || (*flags & kRouteGateway) == 0) {
            return;
        }
        in_addr address{};
        address.s_addr = static_cast<in_addr_t>(*gateway);
        char dotted[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, dotted, sizeof dotted) == nullptr) {
            return;
        }
        routes.push_back({std::string(words[0]), dotted});
    });
    return routes;
}

std::vector<NeighbourEntry> ReachableNeighbours() {
    std::vector<std::string> names;
    std::vector<NeighbourEntry> entries = ParseProcNetArp(ReadFile("/proc/net/arp"), &names);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].interfaceIndex = if_nametoindex(names[i].c_str());
    }
    return entries;
}

std::optional<std::string> DefaultGatewayOf(std::uint32_t interfaceIndex) {
    if (interfaceIndex == 0) {
        return std::nullopt;
    }
    for (const DefaultRoute& route : ParseProcNetRoute(ReadFile("/proc/net/route"))) {
        if (if_nametoindex(route.interfaceName.c_str()) == interfaceIndex) {
            return route.gateway;
        }
    }
    return std::nullopt;
}

}  // namespace qdipc
