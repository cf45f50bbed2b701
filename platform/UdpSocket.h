#pragma once
// A small IPv4 UDP socket, the one place that knows the operating system's
// socket calls. UdpSocket_posix.cpp is the Linux implementation,
// UdpSocket_win.cpp the Winsock one; CMake picks the file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/NetworkInterfaces.h"

namespace qdipc {

struct Ipv4Endpoint {
    std::string address;  // dotted quad
    std::uint16_t port = 0;
};

// One slot of a batch receive: the caller's buffer, and what arrived in it.
struct DatagramSlot {
    std::uint8_t* buffer = nullptr;
    std::size_t capacity = 0;
    // The datagram's real length, also when it was longer than capacity and so
    // truncated (then length > capacity).
    std::size_t length = 0;
    // The index of the interface the datagram came in on; 0 when unknown
    // (ReportArrivalInterface not asked for, or the system did not say).
    std::uint32_t arrivalInterface = 0;
    // The sender's IPv4 address and port in host byte order (10.0.0.5 is
    // 0x0A000005); 0 when the system did not say.
    std::uint32_t sourceAddress = 0;
    std::uint16_t sourcePort = 0;
};

class UdpSocket {
public:
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Creates an IPv4 datagram socket. False when the system refuses.
    bool Open();
    bool IsOpen() const;
    void Close();

    bool SetBroadcast(bool on);
    // Asks for a receive buffer of the given size; returns the size in effect
    // afterwards (0 when unknown). Never fails loudly.
    int RequestReceiveBuffer(int bytes);
    bool Bind(const Ipv4Endpoint& local);
    // The bound local port (after Bind with port 0), 0 when unknown.
    std::uint16_t LocalPort() const;

    // Multicast: datagrams to a group leave through the interface with this
    // address (IP_MULTICAST_IF); whether the host's own copy comes back
    // (IP_MULTICAST_LOOP); receive a group's datagrams on that interface
    // (IP_ADD_MEMBERSHIP); share a port with other listeners (SO_REUSEADDR).
    // Each false when the system refuses.
    bool SetMulticastInterface(const std::string& interfaceAddress);
    bool SetMulticastLoop(bool on);
    bool JoinGroup(const std::string& group, const std::string& interfaceAddress);
    bool SetReuseAddress(bool on);

    // Asks the system to tell each received datagram's arrival interface
    // (IP_PKTINFO); false when it cannot.
    bool ReportArrivalInterface();

    // Sends one datagram; the byte count sent or -1.
    long SendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to);
    // Sends one datagram out of the given interface, with that interface's
    // address as its source (Linux: sendmsg with IP_PKTINFO on this socket;
    // Windows: a socket of its own bound to the interface's address, with this
    // socket's broadcast permission). The byte count sent or -1.
    long SendToVia(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to,
                   const Ipv4Interface& via);

    // Waits until at least one datagram is there or Interrupt() is called, then
    // fills as many slots as are ready without waiting again (recvmmsg where the
    // platform has it). Returns the number of slots filled, 0 when interrupted,
    // -1 on a receive error.
    int ReceiveBatch(std::span<DatagramSlot> slots);

    // Wakes a ReceiveBatch that waits, from any thread; every later call returns
    // 0 at once.
    void Interrupt();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Starts the socket library where the platform has one (Winsock); a no-op
// returning true elsewhere.
bool StartSocketLibrary();

}  // namespace qdipc
