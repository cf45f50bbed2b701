// The part of the address probe that both systems share: which link an
// address is on.

#include <cstdio>
#include <optional>
#include <string>

#include "platform/AddressProbe.h"

namespace qdipc {
namespace {

// A dotted quad as a host-order number; nothing when it is not one.
std::optional<std::uint32_t> Quad(const std::string& text) {
    unsigned parts[4] = {};
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
                    &tail) != 4) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (unsigned part : parts) {
        if (part > 255) {
            return std::nullopt;
        }
        value = (value << 8) | part;
    }
    return value;
}

}  // namespace

const Ipv4Interface* LinkOf(const std::vector<Ipv4Interface>& interfaces, std::uint32_t address) {
    for (const Ipv4Interface& network : interfaces) {
        const auto own = Quad(network.address);
        const auto mask = Quad(network.netmask);
        if (!own || !mask || *mask == 0xffffffffu) {
            continue;
        }
        const std::uint32_t subnet = *own & *mask;
        if ((address & *mask) == subnet && address != subnet && address != (subnet | ~*mask)) {
            return &network;
        }
    }
    return nullptr;
}

}  // namespace qdipc
