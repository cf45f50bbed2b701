// Windows implementation of UdpSocket: Winsock 2, an event object that wakes
// a waiting receive, and a loop of non-blocking receives for batches (WSARecvMsg
// with IP_PKTINFO once the arrival interface is asked for, recvfrom before).
// Each datagram is received whole into a scratch buffer and copied into its
// slot, since Winsock does not tell the real length of a truncated datagram.
// A datagram meant for one interface leaves from a socket bound to that
// interface's address.
// The socket library must have been started (StartSocketLibrary) before a
// socket is opened.

// Winsock 2 must come before windows.h.
#include "platform/Winsock_win.h"

#include <mswsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/UdpSocket.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace qdipc {
namespace {

// The largest payload an IPv4 UDP datagram can carry is 65507 bytes.
constexpr std::size_t kLargestDatagram = 65536;

bool ToSockaddr(const Ipv4Endpoint& endpoint, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(endpoint.port);
    return InetPtonA(AF_INET, endpoint.address.c_str(), &out.sin_addr) == 1;
}

}  // namespace

struct UdpSocket::Impl {
    SOCKET socket = INVALID_SOCKET;
    // Signalled by the socket when datagrams are waiting (FD_READ); created on
    // the first receive, which also makes the socket non-blocking.
    WSAEVENT readEvent = WSA_INVALID_EVENT;
    // Manual-reset event set by Interrupt from any thread; stays set.
    HANDLE wakeEvent = nullptr;
    std::atomic<bool> interrupted{false};
    // Room for the largest UDP datagram; allocated by the first receive.
    std::vector<char> scratch;
    // WSARecvMsg, found once IP_PKTINFO is on; null: plain recvfrom.
    LPFN_WSARECVMSG receiveMessage = nullptr;

    Impl() { wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Impl() {
        CloseSocket();
        if (wakeEvent != nullptr) {
            CloseHandle(wakeEvent);
        }
    }

    // Receives one datagram whole into the scratch buffer without waiting;
    // its length, or SOCKET_ERROR with the error in WSAGetLastError.
    int ReceiveOne(DatagramSlot& slot) {
        sockaddr_in from{};
        slot.sourceAddress = 0;
        slot.sourcePort = 0;
        const auto noteSource = [&slot, &from](int fromLength) {
            if (fromLength >= static_cast<int>(sizeof from) && from.sin_family == AF_INET) {
                slot.sourceAddress = ntohl(from.sin_addr.s_addr);
                slot.sourcePort = ntohs(from.sin_port);
            }
        };
        if (receiveMessage == nullptr) {
            int fromLength = sizeof from;
            const int received = recvfrom(socket, scratch.data(), static_cast<int>(scratch.size()),
                                          0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (received != SOCKET_ERROR) {
                noteSource(fromLength);
            }
            return received;
        }
        WSABUF data{static_cast<ULONG>(scratch.size()), scratch.data()};
        alignas(WSACMSGHDR) char control[64] = {};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control.buf = control;
        message.Control.len = sizeof control;
        DWORD received = 0;
        if (receiveMessage(socket, &message, &received, nullptr, nullptr) != 0) {
            return SOCKET_ERROR;
        }
        noteSource(static_cast<int>(message.namelen));
        // Only a complete IP_PKTINFO counts: cut control data (MSG_CTRUNC) or
        // a header shorter than the structure leaves the interface unknown.
        if ((message.dwFlags & MSG_CTRUNC) != 0) {
            return static_cast<int>(received);
        }
        for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
             header = WSA_CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                if (header->cmsg_len >= WSA_CMSG_LEN(sizeof(IN_PKTINFO))) {
                    IN_PKTINFO info;
                    std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
                    slot.arrivalInterface = static_cast<std::uint32_t>(info.ipi_ifindex);
                }
                break;
            }
        }
        return static_cast<int>(received);
    }

    void CloseSocket() {
        if (socket != INVALID_SOCKET) {
            closesocket(socket);
            socket = INVALID_SOCKET;
        }
        if (readEvent != WSA_INVALID_EVENT) {
            WSACloseEvent(readEvent);
            readEvent = WSA_INVALID_EVENT;
        }
        receiveMessage = nullptr;
    }
};

UdpSocket::UdpSocket() : impl_(std::make_unique<Impl>()) {}

UdpSocket::~UdpSocket() = default;

bool UdpSocket::Open() {
    Close();
    impl_->socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (impl_->socket == INVALID_SOCKET) {
        return false;
    }
    // Without this, an ICMP "port unreachable" for an earlier send makes the
    // next receive fail with WSAECONNRESET.
    BOOL reportResets = FALSE;
    DWORD returned = 0;
    WSAIoctl(impl_->socket, SIO_UDP_CONNRESET, &reportResets, sizeof reportResets, nullptr, 0,
             &returned, nullptr, nullptr);
    return true;
}

bool UdpSocket::IsOpen() const {
    return impl_->socket != INVALID_SOCKET;
}

void UdpSocket::Close() {
    impl_->CloseSocket();
}

bool UdpSocket::SetBroadcast(bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return impl_->socket != INVALID_SOCKET &&
           setsockopt(impl_->socket, SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

int UdpSocket::RequestReceiveBuffer(int bytes) {
    if (impl_->socket == INVALID_SOCKET) {
        return 0;
    }
    setsockopt(impl_->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
    int value = 0;
    int size = sizeof value;
    if (getsockopt(impl_->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &size) !=
        0) {
        return 0;
    }
    return value;
}

bool UdpSocket::Bind(const Ipv4Endpoint& local) {
    sockaddr_in address;
    if (impl_->socket == INVALID_SOCKET || !ToSockaddr(local, address)) {
        return false;
    }
    return bind(impl_->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::uint16_t UdpSocket::LocalPort() const {
    if (impl_->socket == INVALID_SOCKET) {
        return 0;
    }
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(impl_->socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool UdpSocket::SetMulticastInterface(const std::string& interfaceAddress) {
    in_addr address{};
    return impl_->socket != INVALID_SOCKET &&
           InetPtonA(AF_INET, interfaceAddress.c_str(), &address) == 1 &&
           setsockopt(impl_->socket, IPPROTO_IP, IP_MULTICAST_IF,
                      reinterpret_cast<const char*>(&address), sizeof address) == 0;
}

bool UdpSocket::SetMulticastLoop(bool on) {
    const DWORD value = on ? 1 : 0;
    return impl_->socket != INVALID_SOCKET &&
           setsockopt(impl_->socket, IPPROTO_IP, IP_MULTICAST_LOOP,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool UdpSocket::JoinGroup(const std::string& group, const std::string& interfaceAddress) {
    ip_mreq request{};
    return impl_->socket != INVALID_SOCKET &&
           InetPtonA(AF_INET, group.c_str(), &request.imr_multiaddr) == 1 &&
           InetPtonA(AF_INET, interfaceAddress.c_str(), &request.imr_interface) == 1 &&
           setsockopt(impl_->socket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

bool UdpSocket::SetReuseAddress(bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return impl_->socket != INVALID_SOCKET &&
           setsockopt(impl_->socket, SOL_SOCKET, SO_REUSEADDR,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool UdpSocket::ReportArrivalInterface() {
    impl_->receiveMessage = nullptr;
    if (impl_->socket == INVALID_SOCKET) {
        return false;
    }
    const DWORD on = 1;
    if (setsockopt(impl_->socket, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
        return false;
    }
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD returned = 0;
    if (WSAIoctl(impl_->socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                 sizeof function, &returned, nullptr, nullptr) != 0) {
        return false;
    }
    impl_->receiveMessage = function;
    return function != nullptr;
}

long UdpSocket::SendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to) {
    sockaddr_in address;
    if (impl_->socket == INVALID_SOCKET || !ToSockaddr(to, address)) {
        return -1;
    }
    const int sent =
        sendto(impl_->socket, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

long UdpSocket::SendToVia(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to,
                          const Ipv4Interface& via) {
    sockaddr_in address;
    sockaddr_in source;
    if (impl_->socket == INVALID_SOCKET || !ToSockaddr(to, address) ||
        !ToSockaddr({via.address, 0}, source)) {
        return -1;
    }
    // Windows sends a datagram from a socket bound to an interface's address
    // out of that interface, the limited broadcast included.
    SOCKET own = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (own == INVALID_SOCKET) {
        return -1;
    }
    BOOL broadcast = FALSE;
    int size = sizeof broadcast;
    getsockopt(impl_->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&broadcast), &size);
    setsockopt(own, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
               sizeof broadcast);
    int sent = SOCKET_ERROR;
    if (bind(own, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0) {
        sent = sendto(own, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                      reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    closesocket(own);
    return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

int UdpSocket::ReceiveBatch(std::span<DatagramSlot> slots) {
    if (slots.empty() || impl_->socket == INVALID_SOCKET) {
        return -1;
    }
    if (impl_->scratch.empty()) {
        impl_->scratch.resize(kLargestDatagram);
    }
    if (impl_->readEvent == WSA_INVALID_EVENT) {
        impl_->readEvent = WSACreateEvent();
        if (impl_->readEvent == WSA_INVALID_EVENT ||
            WSAEventSelect(impl_->socket, impl_->readEvent, FD_READ) != 0) {
            return -1;
        }
    }
    while (true) {
        if (impl_->interrupted.load()) {
            return 0;
        }
        // Reset before reading: a datagram that arrives after the last read
        // below signals the event again.
        WSAResetEvent(impl_->readEvent);
        int filled = 0;
        while (static_cast<std::size_t>(filled) < slots.size()) {
            DatagramSlot& slot = slots[static_cast<std::size_t>(filled)];
            slot.arrivalInterface = 0;
            const int received = impl_->ReceiveOne(slot);
            if (received != SOCKET_ERROR) {
                slot.length = static_cast<std::size_t>(received);
                std::memcpy(slot.buffer, impl_->scratch.data(),
                            std::min(slot.length, slot.capacity));
                ++filled;
                continue;
            }
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                break;
            }
            if (error == WSAECONNRESET || error == WSAENETRESET) {
                continue;
            }
            if (filled > 0) {
                break;
            }
            return -1;
        }
        if (filled > 0) {
            return filled;
        }
        HANDLE events[2] = {impl_->readEvent, impl_->wakeEvent};
        const DWORD waited =
            WSAWaitForMultipleEvents(impl_->wakeEvent != nullptr ? 2 : 1, events, FALSE,
                                     impl_->wakeEvent != nullptr ? WSA_INFINITE : 100, FALSE);
        if (waited == WSA_WAIT_FAILED) {
            return -1;
        }
        if (impl_->interrupted.load() || waited == WSA_WAIT_EVENT_0 + 1) {
            return 0;
        }
    }
}

void UdpSocket::Interrupt() {
    impl_->interrupted.store(true);
    if (impl_->wakeEvent != nullptr) {
        SetEvent(impl_->wakeEvent);
    }
}

bool StartSocketLibrary() {
    // Winsock counts start-ups; every successful one is matched by the
    // process's end, as the program never stops using sockets before it.
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

}  // namespace qdipc
