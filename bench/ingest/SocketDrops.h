#pragma once
// Reads the kernel's per-socket counters of UDP sockets from /proc/net/udp.

#include <cstdint>
#include <optional>

namespace ingest_bench {

struct UdpSocketCounters {
    std::uint64_t rxQueueBytes = 0;  // bytes waiting in the receive queue
    std::uint64_t drops = 0;         // datagrams dropped, mostly for a full receive buffer
};

// The counters of the IPv4 UDP socket bound to this local port, or nothing
// when there is none.
std::optional<UdpSocketCounters> ReadUdpSocketCounters(std::uint16_t localPort);

}  // namespace ingest_bench
