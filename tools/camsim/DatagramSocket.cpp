#include "tools/camsim/DatagramSocket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace camsim {

int OpenDatagramSocket(const Endpoint& endpoint, sockaddr_in& address, std::string& error) {
    const std::optional<sockaddr_in> converted = ToSockaddr(endpoint);
    if (!converted) {
        error = "not an IPv4 address: " + endpoint.address;
        return -1;
    }
    address = *converted;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    return fd;
}

}  // namespace camsim
