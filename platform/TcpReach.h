#pragma once
// Whether a TCP port of an IPv4 host takes a connection: what the preview
// pane says when a stream failed and the media library does not say why
// (libvlc's own RTSP client reports only that it failed). The connection is
// closed at once; nothing is sent on it.

#include <chrono>
#include <cstdint>

namespace qdipc {

enum class TcpReach {
    Connected,  // the port took the connection
    Refused,    // the host answered that nothing listens there
    NoAnswer    // no answer within the wait (or no route to the host)
};

// address: host order, as ParseIpv4Strict gives it.
TcpReach TryTcpConnect(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds wait);

}  // namespace qdipc
