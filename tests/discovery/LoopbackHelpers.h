#pragma once
// Loopback helpers for the worker and search tests: bounded waits, a sender,
// a receiving socket on an ephemeral port, and reply datagrams written from
// the reply layout.

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tests/discovery/TestBytes.h"

namespace qdipc::test {

// Polls pred until it holds or the deadline passes; answers pred's last value.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return pred();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The loopback interface standing in for the host's networks, once per given
// address (each a 127.0.0.x address, local on loopback, under a name of its
// own), so that what a search or a modify sends in a test stays on the host.
inline InterfaceLister LoopbackNetworks(std::vector<std::string> addresses = {"127.0.0.1"}) {
    return [addresses] {
        std::vector<Ipv4Interface> networks;
        const auto loopback = LoopbackInterface();
        if (!loopback) {
            return networks;
        }
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            Ipv4Interface network = *loopback;
            network.name = i == 0 ? loopback->name : loopback->name + "-" + std::to_string(i);
            network.address = addresses[i];
            networks.push_back(network);
        }
        return networks;
    };
}

// Whether the system refuses a socket bound to an address that is not the
// host's (TEST-NET 192.0.2.1), so that a send on a network whose address has
// gone fails. Linux and Windows refuse it; Wine binds it all the same.
inline bool ForeignSourceRefused() {
    UdpSocket probe;
    return probe.Open() && !probe.Bind({"192.0.2.1", 0});
}

// A port on 127.0.0.1 that a test names before the socket that uses it is
// bound (the worker binds at the first Search). It is free now and lies below
// the system's ephemeral range (32768 and up on Linux, 49152 and up on
// Windows), so no socket bound to port 0, in this test or another running
// beside it, is handed it in between. 0 when none of 50 tries was free.
inline std::uint16_t ReservedLoopbackPort() {
    std::random_device seed;
    std::mt19937 pick(seed());
    std::uniform_int_distribution<int> ports(20000, 32000);
    for (int i = 0; i < 50; ++i) {
        const auto port = static_cast<std::uint16_t>(ports(pick));
        UdpSocket probe;
        if (probe.Open() && probe.Bind({"127.0.0.1", port})) {
            return port;
        }
    }
    return 0;
}

// One socket for many datagrams.
class UdpSender {
public:
    UdpSender() { socket_.Open(); }
    long Send(const std::vector<std::uint8_t>& bytes, std::uint16_t port) {
        return socket_.SendTo(bytes.data(), bytes.size(), {"127.0.0.1", port});
    }

private:
    UdpSocket socket_;
};

inline long SendDatagram(const std::vector<std::uint8_t>& bytes, std::uint16_t port) {
    UdpSocket sender;
    sender.Open();
    return sender.SendTo(bytes.data(), bytes.size(), {"127.0.0.1", port});
}

// A 380-byte reply: D4 ED CB B3 (or "Kelmora" and a zero), the device ID
// bytes at 23, an IP text at 39 and the search ID at 248.
inline std::vector<std::uint8_t> MakeReply(std::uint32_t searchId, std::uint8_t deviceByte,
                                           bool alternativeSignature = false) {
    std::vector<std::uint8_t> bytes(380, 0);
    Put(bytes, 0,
        alternativeSignature ? Hex("4B 65 6C 6D 6F 72 61 00") : Hex("D4 ED CB B3 01 02 03 04"));
    Put(bytes, 23, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, deviceByte});
    PutText(bytes, 39, "10.0.0." + std::to_string(deviceByte));
    Put(bytes, 248,
        {static_cast<std::uint8_t>(searchId), static_cast<std::uint8_t>(searchId >> 8),
         static_cast<std::uint8_t>(searchId >> 16), static_cast<std::uint8_t>(searchId >> 24)});
    return bytes;
}

// A socket bound to 127.0.0.1 on a port of the system's choosing.
class LoopbackReceiver {
public:
    LoopbackReceiver() {
        socket_.Open();
        socket_.Bind({"127.0.0.1", 0});
    }
    std::uint16_t Port() const { return socket_.LocalPort(); }
    Ipv4Endpoint Endpoint() const { return {"127.0.0.1", Port()}; }

    // The next datagram (up to 1024 bytes). A wait that outlasts the limit is
    // interrupted, which leaves the receiver unusable and answers nothing.
    std::vector<std::uint8_t> Next(std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::vector<std::uint8_t> buffer(1024);
        DatagramSlot slot{buffer.data(), buffer.size(), 0};
        auto receive = std::async(std::launch::async, [&] {
            return socket_.ReceiveBatch(std::span<DatagramSlot>(&slot, 1));
        });
        if (receive.wait_for(limit) != std::future_status::ready) {
            socket_.Interrupt();
        }
        if (receive.get() != 1) {
            return {};
        }
        buffer.resize(slot.length);
        return buffer;
    }

private:
    UdpSocket socket_;
};

}  // namespace qdipc::test
