#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/TcpReach.h"

namespace qdipc {

TcpReach TryTcpConnect(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds wait) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return TcpReach::NoAnswer;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    TcpReach reach = TcpReach::NoAnswer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        reach = TcpReach::Connected;
    } else if (errno == ECONNREFUSED) {
        reach = TcpReach::Refused;
    } else if (errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        if (poll(&waiting, 1, static_cast<int>(wait.count())) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            reach = error == 0              ? TcpReach::Connected
                    : error == ECONNREFUSED ? TcpReach::Refused
                                            : TcpReach::NoAnswer;
        }
    }
    close(fd);
    return reach;
}

}  // namespace qdipc
