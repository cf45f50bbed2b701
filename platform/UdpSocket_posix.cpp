// Linux implementation of UdpSocket: BSD sockets, an eventfd that wakes a
// waiting receive, recvmmsg for batches, and IP_PKTINFO both for the arrival
// interface of a received datagram and for choosing the interface a datagram
// leaves by (which, unlike SO_BINDTODEVICE, needs no privilege).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ArrivalInterface_posix.h"
#include "platform/UdpSocket.h"

namespace qdipc {
namespace {

bool ToSockaddr(const Ipv4Endpoint& endpoint, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(endpoint.port);
    return inet_pton(AF_INET, endpoint.address.c_str(), &out.sin_addr) == 1;
}

// Room for one IP_PKTINFO control message, aligned for its header.
struct PacketInfoControl {
    alignas(cmsghdr) unsigned char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
};

}  // namespace

struct UdpSocket::Impl {
    int fd = -1;
    // Written by Interrupt from any thread, polled together with the socket.
    int wakeFd = -1;
    std::atomic<bool> interrupted{false};
    // Per-batch bookkeeping of recvmmsg, kept between calls to avoid
    // allocating in the receive loop.
    std::vector<mmsghdr> headers;
    std::vector<iovec> vectors;
    std::vector<PacketInfoControl> controls;
    std::vector<sockaddr_in> sources;  // the senders of the last batch
    bool packetInfo = false;           // IP_PKTINFO asked for

    Impl() { wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
    ~Impl() {
        if (fd >= 0) {
            ::close(fd);
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }
};

UdpSocket::UdpSocket() : impl_(std::make_unique<Impl>()) {}

UdpSocket::~UdpSocket() = default;

bool UdpSocket::Open() {
    Close();
    impl_->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return impl_->fd >= 0;
}

bool UdpSocket::IsOpen() const {
    return impl_->fd >= 0;
}

void UdpSocket::Close() {
    if (impl_->fd >= 0) {
        ::close(impl_->fd);
        impl_->fd = -1;
    }
}

bool UdpSocket::SetBroadcast(bool on) {
    const int value = on ? 1 : 0;
    return impl_->fd >= 0 &&
           ::setsockopt(impl_->fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

int UdpSocket::RequestReceiveBuffer(int bytes) {
    if (impl_->fd < 0) {
        return 0;
    }
    auto granted = [this]() {
        int value = 0;
        socklen_t size = sizeof value;
        if (::getsockopt(impl_->fd, SOL_SOCKET, SO_RCVBUF, &value, &size) != 0) {
            return 0;
        }
        // The kernel reports twice the requested size (it counts its own
        // bookkeeping); halve it to compare with what was asked for.
        return value / 2;
    };
    ::setsockopt(impl_->fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    if (granted() < bytes) {
        // SO_RCVBUF is capped by net.core.rmem_max; a privileged process may
        // go past the cap. Without the privilege this fails quietly.
        ::setsockopt(impl_->fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    }
    return granted();
}

bool UdpSocket::Bind(const Ipv4Endpoint& local) {
    sockaddr_in address;
    if (impl_->fd < 0 || !ToSockaddr(local, address)) {
        return false;
    }
    return ::bind(impl_->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::uint16_t UdpSocket::LocalPort() const {
    if (impl_->fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(impl_->fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool UdpSocket::SetMulticastInterface(const std::string& interfaceAddress) {
    in_addr address{};
    return impl_->fd >= 0 && inet_pton(AF_INET, interfaceAddress.c_str(), &address) == 1 &&
           ::setsockopt(impl_->fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) == 0;
}

bool UdpSocket::SetMulticastLoop(bool on) {
    const unsigned char value = on ? 1 : 0;
    return impl_->fd >= 0 &&
           ::setsockopt(impl_->fd, IPPROTO_IP, IP_MULTICAST_LOOP, &value, sizeof value) == 0;
}

bool UdpSocket::JoinGroup(const std::string& group, const std::string& interfaceAddress) {
    ip_mreq request{};
    return impl_->fd >= 0 && inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) == 1 &&
           inet_pton(AF_INET, interfaceAddress.c_str(), &request.imr_interface) == 1 &&
           ::setsockopt(impl_->fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

bool UdpSocket::SetReuseAddress(bool on) {
    const int value = on ? 1 : 0;
    return impl_->fd >= 0 &&
           ::setsockopt(impl_->fd, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) == 0;
}

bool UdpSocket::ReportArrivalInterface() {
    const int on = 1;
    impl_->packetInfo =
        impl_->fd >= 0 && ::setsockopt(impl_->fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
    return impl_->packetInfo;
}

long UdpSocket::SendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to) {
    sockaddr_in address;
    if (impl_->fd < 0 || !ToSockaddr(to, address)) {
        return -1;
    }
    ssize_t sent;
    do {
        sent = ::sendto(impl_->fd, data, length, 0, reinterpret_cast<const sockaddr*>(&address),
                        sizeof address);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long UdpSocket::SendToVia(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to,
                          const Ipv4Interface& via) {
    sockaddr_in address;
    in_addr source{};
    if (impl_->fd < 0 || !ToSockaddr(to, address) ||
        inet_pton(AF_INET, via.address.c_str(), &source) != 1) {
        return -1;
    }
    iovec vector{const_cast<std::uint8_t*>(data), length};
    PacketInfoControl control{};
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    // The interface index picks the way out (also for 255.255.255.255, which
    // the routing table alone sends by the default route); the address becomes
    // the datagram's source.
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(via.index);
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    ssize_t sent;
    do {
        sent = ::sendmsg(impl_->fd, &message, 0);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

int UdpSocket::ReceiveBatch(std::span<DatagramSlot> slots) {
    if (slots.empty() || impl_->fd < 0) {
        return -1;
    }
    auto& headers = impl_->headers;
    auto& vectors = impl_->vectors;
    auto& controls = impl_->controls;
    auto& sources = impl_->sources;
    headers.resize(slots.size());
    sources.resize(slots.size());
    vectors.resize(slots.size());
    if (impl_->packetInfo) {
        controls.resize(slots.size());
    }
    while (true) {
        if (impl_->interrupted.load()) {
            return 0;
        }
        pollfd waits[2] = {{impl_->fd, POLLIN, 0}, {impl_->wakeFd, POLLIN, 0}};
        const nfds_t count = impl_->wakeFd >= 0 ? 2 : 1;
        // Without an eventfd (never seen in practice) the wait wakes now and
        // then to look at the interrupt flag.
        const int timeoutMs = impl_->wakeFd >= 0 ? -1 : 100;
        const int ready = ::poll(waits, count, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (impl_->interrupted.load() || (count == 2 && waits[1].revents != 0)) {
            return 0;
        }
        if (waits[0].revents == 0) {
            continue;
        }
        for (std::size_t i = 0; i < slots.size(); ++i) {
            vectors[i] = {slots[i].buffer, slots[i].capacity};
            std::memset(&headers[i], 0, sizeof headers[i]);
            std::memset(&sources[i], 0, sizeof sources[i]);
            headers[i].msg_hdr.msg_name = &sources[i];
            headers[i].msg_hdr.msg_namelen = sizeof sources[i];
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
            if (impl_->packetInfo) {
                // Zeroed per datagram: no interface of an earlier datagram can
                // be read back from a control message the kernel left short.
                std::memset(controls[i].bytes, 0, sizeof controls[i].bytes);
                headers[i].msg_hdr.msg_control = controls[i].bytes;
                headers[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
            }
        }
        // MSG_TRUNC makes the kernel report a datagram's real length even when
        // it did not fit, so over-long datagrams can be told apart.
        const int received =
            ::recvmmsg(impl_->fd, headers.data(), static_cast<unsigned>(headers.size()),
                       MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;  // woken for nothing (e.g. a datagram with a bad checksum)
            }
            return -1;
        }
        if (received == 0) {
            continue;
        }
        for (int i = 0; i < received; ++i) {
            auto& header = headers[static_cast<std::size_t>(i)];
            slots[static_cast<std::size_t>(i)].length = header.msg_len;
            slots[static_cast<std::size_t>(i)].arrivalInterface =
                ArrivalInterfaceOf(header.msg_hdr);
            const sockaddr_in& source = sources[static_cast<std::size_t>(i)];
            const bool known =
                header.msg_hdr.msg_namelen >= sizeof source && source.sin_family == AF_INET;
            slots[static_cast<std::size_t>(i)].sourceAddress =
                known ? ntohl(source.sin_addr.s_addr) : 0;
            slots[static_cast<std::size_t>(i)].sourcePort = known ? ntohs(source.sin_port) : 0;
        }
        return received;
    }
}

void UdpSocket::Interrupt() {
    impl_->interrupted.store(true);
    if (impl_->wakeFd >= 0) {
        const std::uint64_t one = 1;
        // The eventfd stays readable from now on: every later wait wakes at once.
        [[maybe_unused]] const ssize_t written = ::write(impl_->wakeFd, &one, sizeof one);
    }
}

bool StartSocketLibrary() {
    return true;
}

}  // namespace qdipc
