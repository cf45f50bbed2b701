#pragma once
// The host's IPv4 networks: one entry per address of every interface that is
// up, can broadcast and is not a loopback. A search sends one request out of
// each, with that entry's address as the request's local address, so cameras
// on every attached LAN hear it. NetworkInterfaces_posix.cpp reads them with
// getifaddrs, NetworkInterfaces_win.cpp with GetAdaptersAddresses.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qdipc {

struct Ipv4Interface {
    std::string name;         // system name: "eth0"; on Windows the adapter's friendly name
    std::uint32_t index = 0;  // the system's interface index
    std::string address;      // dotted quad of the interface's IPv4 address
    std::string netmask;      // dotted quad
    std::string broadcast;    // the network's directed broadcast, dotted quad
};

// Every up, broadcast-capable, non-loopback IPv4 interface address, in the
// system's order. Empty when there is none or the system cannot tell.
std::vector<Ipv4Interface> ListBroadcastInterfaces();

// The loopback interface's 127.0.0.1 entry, for talking to programs on the
// same host (tests, a camera simulator); nothing when the host has none.
std::optional<Ipv4Interface> LoopbackInterface();

// Where the interfaces to send on come from; tests inject their own.
using InterfaceLister = std::function<std::vector<Ipv4Interface>()>;

}  // namespace qdipc
