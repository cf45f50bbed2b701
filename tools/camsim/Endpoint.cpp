#include "tools/camsim/Endpoint.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace camsim {

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    Endpoint endpoint{std::string(text.substr(0, colon)), 0};
    const std::optional<std::uint16_t> port = ParsePort(text.substr(colon + 1));
    if (!port || !ToSockaddr(endpoint)) {
        return std::nullopt;
    }
    endpoint.port = *port;
    return endpoint;
}

std::optional<sockaddr_in> ToSockaddr(const Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    if (inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr) != 1) {
        return std::nullopt;
    }
    return address;
}

std::string FormatEndpoint(const Endpoint& endpoint) {
    return endpoint.address + ":" + std::to_string(endpoint.port);
}

std::string FormatSockaddr(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace camsim
