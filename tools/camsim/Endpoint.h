#pragma once
// IPv4 endpoints as the simulator's options write them ("127.0.0.1:15050").

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

struct Endpoint {
    std::string address;  // dotted quad
    std::uint16_t port = 0;
};

// "a.b.c.d:port" with a port from 0 to 65535; nothing when malformed.
std::optional<Endpoint> ParseEndpoint(std::string_view text);
std::optional<std::uint16_t> ParsePort(std::string_view text);
// Nothing when the address is not a dotted quad.
std::optional<sockaddr_in> ToSockaddr(const Endpoint& endpoint);
std::string FormatEndpoint(const Endpoint& endpoint);
std::string FormatSockaddr(const sockaddr_in& address);

}  // namespace camsim
