#pragma once
// A UDP socket on 127.0.0.1 with an ephemeral port for tests: sends to a
// loopback port and receives with a time-out, so no test waits forever.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim::test {

class LoopbackSocket {
public:
    LoopbackSocket() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = Loopback(0);
        bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        const timeval timeout{3, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int buffer = 4 * 1024 * 1024;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    }
    ~LoopbackSocket() { close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    std::uint16_t Port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }

    bool SendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes) const {
        const sockaddr_in to = Loopback(port);
        return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(bytes.size());
    }

    // The next datagram, or nothing after three seconds without one.
    std::optional<std::vector<std::uint8_t>> Receive() const {
        std::vector<std::uint8_t> bytes(70000);
        const ssize_t length = recv(fd_, bytes.data(), bytes.size(), 0);
        if (length < 0) {
            return std::nullopt;
        }
        bytes.resize(static_cast<std::size_t>(length));
        return bytes;
    }

    // The next datagram and its source address (dotted quad), or nothing.
    std::optional<std::vector<std::uint8_t>> ReceiveFrom(std::string& source) const {
        std::vector<std::uint8_t> bytes(70000);
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(fd_, bytes.data(), bytes.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            return std::nullopt;
        }
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        source = text;
        bytes.resize(static_cast<std::size_t>(length));
        return bytes;
    }

private:
    static sockaddr_in Loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    int fd_ = -1;
};

}  // namespace camsim::test
