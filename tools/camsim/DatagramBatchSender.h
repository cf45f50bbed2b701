#pragma once
// Sends many datagrams to one destination with as few system calls as
// possible (sendmmsg, up to 64 datagrams a call).

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace camsim {

struct SendCounts {
    std::size_t sent = 0;    // datagrams the system took
    std::size_t failed = 0;  // datagrams it refused
    int lastError = 0;       // errno of the latest refusal
};

class DatagramBatchSender {
public:
    static constexpr std::size_t kBatch = 64;

    // fd: an open UDP socket, owned by the caller. A connected socket sends
    // to its peer and ignores the destination given to Send.
    explicit DatagramBatchSender(int fd, bool connected = false);

    // Sends every datagram, in order, to the destination. A datagram the
    // system refuses is counted and skipped; an interrupted call is repeated.
    SendCounts Send(std::span<const std::span<const std::uint8_t>> datagrams,
                    const sockaddr_in& destination);

private:
    int fd_;
    bool connected_;
};

}  // namespace camsim
