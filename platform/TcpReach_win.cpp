#include "platform/Winsock_win.h"
// after the Winsock header
#include "platform/TcpReach.h"

namespace qdipc {

TcpReach TryTcpConnect(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds wait) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return TcpReach::NoAnswer;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    TcpReach reach = TcpReach::NoAnswer;
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        reach = TcpReach::Connected;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        // A refusal shows as an exception on the socket, a connection as
        // writable.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit{static_cast<long>(wait.count() / 1000),
                      static_cast<long>((wait.count() % 1000) * 1000)};
        if (select(0, nullptr, &writable, &failed, &limit) > 0) {
            if (FD_ISSET(s, &writable)) {
                reach = TcpReach::Connected;
            } else {
                int error = 0;
                int length = sizeof error;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
                reach = error == WSAECONNREFUSED ? TcpReach::Refused : TcpReach::NoAnswer;
            }
        }
    } else if (WSAGetLastError() == WSAECONNREFUSED) {
        reach = TcpReach::Refused;
    }
    closesocket(s);
    return reach;
}

}  // namespace qdipc
