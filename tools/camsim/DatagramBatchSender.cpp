#include "tools/camsim/DatagramBatchSender.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>

namespace camsim {

DatagramBatchSender::DatagramBatchSender(int fd, bool connected) : fd_(fd), connected_(connected) {}

SendCounts DatagramBatchSender::Send(std::span<const std::span<const std::uint8_t>> datagrams,
                                     const sockaddr_in& destination) {
    SendCounts counts;
    std::array<mmsghdr, kBatch> headers{};
    std::array<iovec, kBatch> vectors{};
    sockaddr_in target = destination;
    std::size_t next = 0;
    while (next < datagrams.size()) {
        const std::size_t count = std::min(kBatch, datagrams.size() - next);
        for (std::size_t i = 0; i < count; ++i) {
            const std::span<const std::uint8_t> datagram = datagrams[next + i];
            vectors[i].iov_base = const_cast<std::uint8_t*>(datagram.data());
            vectors[i].iov_len = datagram.size();
            headers[i] = mmsghdr{};
            if (!connected_) {
                headers[i].msg_hdr.msg_name = &target;
                headers[i].msg_hdr.msg_namelen = sizeof target;
            }
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = sendmmsg(fd_, headers.data(), static_cast<unsigned>(count), 0);
        if (done > 0) {
            counts.sent += static_cast<std::size_t>(done);
            next += static_cast<std::size_t>(done);
        } else if (done < 0 && errno == EINTR) {
            continue;
        } else {
            // The first datagram of the batch was refused: count it and go on
            // with the next one.
            counts.lastError = done < 0 ? errno : 0;
            ++counts.failed;
            ++next;
        }
    }
    return counts;
}

}  // namespace camsim
