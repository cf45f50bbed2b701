#pragma once
// Whether anything answers at some IPv4 addresses of this host's links: a
// free address is one nobody answers for, not one this host has not talked
// to lately. Every address is probed at once, so a /24 takes about one wait.
// AddressProbe_linux.cpp sends each address a datagram (UDP, discard port),
// which makes the kernel resolve its link-layer address, and reads the
// neighbour table until every address resolved or the wait is over;
// AddressProbe_win.cpp asks SendARP on one thread per address.
//
// Addresses are host-order 32-bit numbers, as ParseIpv4Strict gives them.

#include <chrono>
#include <cstdint>
#include <vector>

#include "platform/NetworkInterfaces.h"

namespace qdipc {

enum class ProbeAnswer {
    Answered,   // something answered at the address (or it is this host's own)
    Silent,     // probed; nobody answered within the wait
    NotProbed,  // not on a link of this host: nothing can be asked there
};

// How long a probe waits for answers.
inline constexpr std::chrono::milliseconds kAddressProbeWait{1000};

// One answer per address, in the order given.
// Only addresses on the links of interfaces (ListBroadcastInterfaces, or
// what the caller's configuration gives) are probed.
std::vector<ProbeAnswer> ProbeAddresses(const std::vector<std::uint32_t>& addresses,
                                        const std::vector<Ipv4Interface>& interfaces,
                                        std::chrono::milliseconds wait = kAddressProbeWait);

// The interface whose subnet holds address (its network and broadcast
// addresses excluded), or null: then the address is on no link of this host.
const Ipv4Interface* LinkOf(const std::vector<Ipv4Interface>& interfaces, std::uint32_t address);

}  // namespace qdipc
