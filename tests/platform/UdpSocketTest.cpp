#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "platform/ArrivalInterface_posix.h"
#endif

namespace qdipc {
namespace {

const Ipv4Endpoint kLoopbackAnyPort{"127.0.0.1", 0};

struct BoundReceiver {
    UdpSocket socket;
    Ipv4Endpoint endpoint;

    BoundReceiver() {
        EXPECT_TRUE(socket.Open());
        EXPECT_TRUE(socket.Bind(kLoopbackAnyPort));
        endpoint = {"127.0.0.1", socket.LocalPort()};
        EXPECT_NE(endpoint.port, 0);
    }
};

long SendBytes(const std::vector<std::uint8_t>& bytes, const Ipv4Endpoint& to) {
    UdpSocket sender;
    EXPECT_TRUE(sender.Open());
    return sender.SendTo(bytes.data(), bytes.size(), to);
}

// Receives until count datagrams have arrived or attempts run out; a blocked
// receive is cut short by the caller's interrupt, never by time.
std::vector<std::vector<std::uint8_t>> ReceiveCount(UdpSocket& socket, std::size_t count,
                                                    std::size_t capacity) {
    std::vector<std::array<std::uint8_t, 512>> storage(8);
    std::vector<DatagramSlot> slots(storage.size());
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (int attempt = 0; attempt < 1000 && datagrams.size() < count; ++attempt) {
        for (std::size_t i = 0; i < slots.size(); ++i)
            slots[i] = {storage[i].data(), capacity, 0};
        const int n = socket.ReceiveBatch(slots);
        if (n <= 0)
            break;
        for (int i = 0; i < n; ++i) {
            const auto& slot = slots[static_cast<std::size_t>(i)];
            std::vector<std::uint8_t> bytes(slot.buffer,
                                            slot.buffer + std::min(slot.length, slot.capacity));
            bytes.resize(slot.length);  // keep the reported length visible to the test
            datagrams.push_back(bytes);
        }
    }
    return datagrams;
}

TEST(UdpSocketTest, SendAndReceiveOverLoopbackWithRealLengths) {
    BoundReceiver receiver;
    std::vector<std::uint8_t> normal(52);
    for (std::size_t i = 0; i < normal.size(); ++i)
        normal[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(SendBytes(normal, receiver.endpoint), 52);
    EXPECT_EQ(SendBytes({}, receiver.endpoint), 0);
    EXPECT_EQ(SendBytes(std::vector<std::uint8_t>(400, 0xAB), receiver.endpoint), 400);

    const auto got = ReceiveCount(receiver.socket, 3, 380);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], normal);
    EXPECT_EQ(got[1].size(), 0u);    // an empty datagram is reported with length 0
    EXPECT_EQ(got[2].size(), 400u);  // truncated to 380 but reported as 400
    EXPECT_EQ(got[2][379], 0xAB);
}

TEST(UdpSocketTest, BatchReceiveTakesEverythingPending) {
    BoundReceiver receiver;
    constexpr int kCount = 200;
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(SendBytes({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)},
                            receiver.endpoint),
                  2);
    }
    const auto got = ReceiveCount(receiver.socket, kCount, 380);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(got[static_cast<std::size_t>(i)][0] | (got[static_cast<std::size_t>(i)][1] << 8),
                  i);
    }
}

TEST(UdpSocketTest, EachDatagramNamesItsSender) {
    BoundReceiver receiver;
    // Two senders on different loopback addresses: the source is read per
    // datagram, not assumed from the receiver's side.
    UdpSocket first;
    UdpSocket second;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(second.Open());
    ASSERT_TRUE(first.Bind({"127.0.0.9", 0}));
    ASSERT_TRUE(second.Bind({"127.0.0.1", 0}));
    const std::uint8_t byte = 1;
    ASSERT_EQ(first.SendTo(&byte, 1, receiver.endpoint), 1);
    ASSERT_EQ(second.SendTo(&byte, 1, receiver.endpoint), 1);

    std::array<std::uint8_t, 16> storage[2];
    std::vector<DatagramSlot> slots(2);
    std::vector<DatagramSlot> got;
    for (int attempt = 0; attempt < 100 && got.size() < 2; ++attempt) {
        for (std::size_t i = 0; i < slots.size(); ++i)
            slots[i] = {storage[i].data(), storage[i].size(), 0};
        const int n = receiver.socket.ReceiveBatch(slots);
        ASSERT_GT(n, 0);
        got.insert(got.end(), slots.begin(), slots.begin() + n);
    }
    ASSERT_EQ(got.size(), 2u);
#ifndef _WIN32
    // Wine sends from 127.0.0.1 whatever loopback address the socket is bound to.
    EXPECT_EQ(got[0].sourceAddress, 0x7F000009u);
#endif
    EXPECT_EQ(got[0].sourcePort, first.LocalPort());
    EXPECT_EQ(got[1].sourceAddress, 0x7F000001u);
    EXPECT_EQ(got[1].sourcePort, second.LocalPort());
}

TEST(UdpSocketTest, InterruptWakesAWaitingReceiveAndStaysInEffect) {
    BoundReceiver receiver;
    std::array<std::uint8_t, 64> buffer{};
    DatagramSlot slot{buffer.data(), buffer.size(), 0};
    auto waiting = std::async(std::launch::async, [&] {
        return receiver.socket.ReceiveBatch(std::span<DatagramSlot>(&slot, 1));
    });
    // Give the receive time to block in the system's wait, so that the wake-up
    // (eventfd, or the Winsock event) is what ends it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    receiver.socket.Interrupt();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
    // Even with a datagram pending, an interrupted socket answers 0 at once.
    SendBytes({1, 2, 3}, receiver.endpoint);
    EXPECT_EQ(receiver.socket.ReceiveBatch(std::span<DatagramSlot>(&slot, 1)), 0);
}

TEST(UdpSocketTest, InterruptBeforeOpenAlsoCounts) {
    UdpSocket socket;
    socket.Interrupt();
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(socket.Bind(kLoopbackAnyPort));
    std::array<std::uint8_t, 8> buffer{};
    DatagramSlot slot{buffer.data(), buffer.size(), 0};
    EXPECT_EQ(socket.ReceiveBatch(std::span<DatagramSlot>(&slot, 1)), 0);
}

TEST(UdpSocketTest, FailuresAreReportedNotThrown) {
    UdpSocket closed;
    EXPECT_FALSE(closed.IsOpen());
    const std::uint8_t byte = 1;
    EXPECT_EQ(closed.SendTo(&byte, 1, {"127.0.0.1", 9}), -1);
    EXPECT_FALSE(closed.SetBroadcast(true));
    EXPECT_FALSE(closed.Bind(kLoopbackAnyPort));
    EXPECT_EQ(closed.LocalPort(), 0);
    EXPECT_EQ(closed.RequestReceiveBuffer(1 << 20), 0);

    BoundReceiver taken;
    UdpSocket second;
    ASSERT_TRUE(second.Open());
    EXPECT_FALSE(second.Bind(taken.endpoint));  // the port is held
    EXPECT_FALSE(second.Bind({"not an address", 0}));
    EXPECT_EQ(second.SendTo(&byte, 1, {"999.1.1.1", 9}), -1);
    EXPECT_TRUE(second.SetBroadcast(true));

    second.Close();
    EXPECT_FALSE(second.IsOpen());
    second.Close();  // twice is harmless
}

TEST(UdpSocketTest, ReceiveBufferGrowsToTheSystemCapAtLeast) {
    UdpSocket socket;
    ASSERT_TRUE(socket.Open());
    const int requested = 8 * 1024 * 1024;
    const int granted = socket.RequestReceiveBuffer(requested);
#ifdef _WIN32
    // Winsock grants any size asked for.
    const int cap = requested;
#else
    int cap = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> cap;
#endif
    EXPECT_GE(granted, std::min(requested, cap));
    RecordProperty("granted", granted);
}

#ifndef _WIN32
// The arrival interface is read only from a complete IP_PKTINFO message; a
// message the kernel cut short, or one whose header claims too little room,
// gives "unknown" (0), not whatever the control buffer held.
TEST(UdpSocketTest, ArrivalInterfaceOnlyFromACompleteControlMessage) {
    struct Case {
        const char* name;
        int flags;
        std::size_t controlLength;  // cmsg_len of the one message
        int type;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"complete", 0, CMSG_LEN(sizeof(in_pktinfo)), IP_PKTINFO, 7},
        {"control data cut short", MSG_CTRUNC, CMSG_LEN(sizeof(in_pktinfo)), IP_PKTINFO, 0},
        {"header shorter than in_pktinfo", 0, CMSG_LEN(sizeof(int)), IP_PKTINFO, 0},
        {"another message type", 0, CMSG_LEN(sizeof(in_pktinfo)), IP_TTL, 0},
    };
    for (const Case& c : cases) {
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
        // A stale interface where an in_pktinfo's index would lie.
        std::memset(control, 0x07, sizeof control);
        msghdr message{};
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        message.msg_flags = c.flags;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = c.type;
        header->cmsg_len = c.controlLength;
        in_pktinfo info{};
        info.ipi_ifindex = 7;
        if (c.controlLength >= CMSG_LEN(sizeof info)) {
            std::memcpy(CMSG_DATA(header), &info, sizeof info);
        }
        EXPECT_EQ(ArrivalInterfaceOf(message), c.expected) << c.name;
    }
    msghdr none{};
    EXPECT_EQ(ArrivalInterfaceOf(none), 0u) << "no control buffer";
}
#endif

}  // namespace
}  // namespace qdipc
