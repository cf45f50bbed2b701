#include "discovery/SearchCommand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/discovery/LoopbackHelpers.h"

namespace qdipc {
namespace {

using test::Hex;
using test::LoopbackNetworks;

constexpr std::int64_t kNow = 1767198605;  // draws search ID 23535 = 0x5BEF

// True when nothing but what was already taken reached the camera: a marker
// sent now is the next datagram it gets.
bool NothingMoreArrived(test::LoopbackReceiver& camera) {
    const std::vector<std::uint8_t> marker{0x4D, 0x4B};
    test::SendDatagram(marker, camera.Port());
    return camera.Next() == marker;
}

std::string LocalIpOf(const std::vector<std::uint8_t>& request) {
    return request.size() == 52 ? std::string(reinterpret_cast<const char*>(request.data()) + 13)
                                : std::string();
}

TEST(SearchCommandTest, ClearsDrawsAndSendsTheRequest) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{999};
    SearchCommand command(searchId, camera.Endpoint(), LoopbackNetworks({"127.7.0.9"}),
                          [] { return kNow; });
    int clears = 0;
    std::uint32_t idSeenByClear = 0;
    const SearchOutcome outcome = command.Run([&] {
        ++clears;
        idSeenByClear = searchId.load();
    });
    EXPECT_EQ(outcome, SearchOutcome::Sent);
    EXPECT_EQ(SearchFailureText(outcome), nullptr);
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(idSeenByClear, 999u);  // cleared before the new ID is drawn
    EXPECT_EQ(searchId.load(), 23535u);

    const auto expected = Hex(
        "D3 ED CB B3  00 00 00 00 00 00 00 00  02"
        " 31 32 37 2E 37 2E 30 2E 39 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        " 00  BA 13  00 00  EF 5B 00 00");
    EXPECT_EQ(camera.Next(), expected);
    // With one network exactly one request goes out.
    EXPECT_TRUE(NothingMoreArrived(camera));
}

TEST(SearchCommandTest, SameSecondSameId) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    std::int64_t now = 1;
    SearchCommand command(searchId, camera.Endpoint(), LoopbackNetworks(), [&now] { return now; });
    EXPECT_EQ(command.Run({}), SearchOutcome::Sent);
    EXPECT_EQ(searchId.load(), 41u);
    EXPECT_EQ(command.Run({}), SearchOutcome::Sent);
    EXPECT_EQ(searchId.load(), 41u);
    now = 2;
    EXPECT_EQ(command.Run({}), SearchOutcome::Sent);
    EXPECT_EQ(searchId.load(), 45u);
    for (std::uint8_t id : {41, 41, 45}) {
        const auto datagram = camera.Next();
        ASSERT_EQ(datagram.size(), 52u);
        EXPECT_EQ(datagram[48], id);
    }
}

TEST(SearchCommandTest, RepeatSendsTheSameBytesOnTheSameNetworksWithoutClearingOrDrawing) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    std::int64_t now = kNow;
    const InterfaceLister networks = LoopbackNetworks({"127.0.0.1", "127.0.3.3"});
    SearchCommand command(searchId, camera.Endpoint(), networks, [&now] { return now; });
    int clears = 0;
    ASSERT_EQ(command.Run([&] { ++clears; }, networks().back().name), SearchOutcome::Sent);
    const auto first = camera.Next();
    ASSERT_EQ(LocalIpOf(first), "127.0.3.3");
    now += 5;  // a repeat a few seconds later still carries the search's ID
    for (int repeat = 0; repeat < 2; ++repeat) {
        ASSERT_EQ(command.Repeat(), SearchOutcome::Sent);
        EXPECT_EQ(camera.Next(), first);
    }
    EXPECT_TRUE(NothingMoreArrived(camera));
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(searchId.load(), 23535u);
}

TEST(SearchCommandTest, ProbesCarryAFreshIdThatNoRecentRequestUsed) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    SearchCommand command(searchId, camera.Endpoint(), LoopbackNetworks({"127.0.0.1"}),
                          [] { return kNow; });
    ASSERT_EQ(command.Run({}), SearchOutcome::Sent);
    std::vector<std::uint32_t> ids{searchId.load()};
    camera.Next();
    // Within the same second (where the search's own draw repeats itself),
    // every probe has an ID of 0 to 32767 that none of the latest 64 had,
    // stored before its request leaves and written into it.
    for (int probe = 0; probe < 200; ++probe) {
        ASSERT_EQ(command.Probe(), SearchOutcome::Sent);
        const std::uint32_t id = searchId.load();
        EXPECT_EQ(command.SearchId(), id);
        EXPECT_LE(id, 32767u);
        const std::size_t from = ids.size() > 64 ? ids.size() - 64 : 0;
        EXPECT_EQ(std::find(ids.begin() + static_cast<std::ptrdiff_t>(from), ids.end(), id),
                  ids.end())
            << probe;
        ids.push_back(id);
        const auto datagram = camera.Next();
        ASSERT_EQ(datagram.size(), 52u);
        EXPECT_EQ(datagram[48] | (datagram[49] << 8), static_cast<int>(id));
    }
}

TEST(SearchCommandTest, NoNetworkSendsNothingButKeepsTheNewId) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{999};
    std::int64_t now = kNow;
    bool networkUp = false;
    const InterfaceLister loopback = LoopbackNetworks({"127.1.2.3"});
    SearchCommand command(
        searchId, camera.Endpoint(),
        [&] { return networkUp ? loopback() : std::vector<Ipv4Interface>{}; },
        [&now] { return now; });
    int clears = 0;
    const SearchOutcome failed = command.Run([&] { ++clears; });
    EXPECT_EQ(failed, SearchOutcome::HostLookupFailed);
    EXPECT_STREQ(SearchFailureText(failed), "gethostbyname error");
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(searchId.load(), 23535u);

    // The next datagram to arrive is the one of the later, successful search.
    networkUp = true;
    now = 0;
    ASSERT_EQ(command.Run([&] { ++clears; }), SearchOutcome::Sent);
    const auto datagram = camera.Next();
    ASSERT_EQ(datagram.size(), 52u);
    EXPECT_EQ(datagram[48], 38);  // the ID drawn at second 0
    EXPECT_EQ(LocalIpOf(datagram), "127.1.2.3");
}

TEST(SearchCommandTest, FailedSendIsReported) {
    std::atomic<std::uint32_t> searchId{0};
    // An address the socket layer refuses stands in for a failed send.
    SearchCommand command(searchId, {"no-such-address", 5050}, LoopbackNetworks(),
                          [] { return kNow; });
    int clears = 0;
    const SearchOutcome outcome = command.Run([&] { ++clears; });
    EXPECT_EQ(outcome, SearchOutcome::SendFailed);
    EXPECT_STREQ(SearchFailureText(outcome), "creat socket error");
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(searchId.load(), 23535u);
    // The diagnosis names the network whose request did not go out, once,
    // also after a repeat failed on it again.
    const auto failedOnce = command.FailedNetworks();
    ASSERT_EQ(failedOnce.size(), 1u);
    EXPECT_EQ(failedOnce[0].address, "127.0.0.1");
    EXPECT_EQ(command.Repeat(), SearchOutcome::SendFailed);
    EXPECT_EQ(command.FailedNetworks().size(), 1u);
}

TEST(SearchCommandTest, OneRequestPerNetworkEachWithItsOwnAddress) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    // Three networks; the middle one's address is not the host's (TEST-NET),
    // so its send fails and the others still go out.
    const bool foreignFails = test::ForeignSourceRefused();
    auto networks = foreignFails ? LoopbackNetworks({"127.0.0.1", "192.0.2.1", "127.0.3.3"})
                                 : LoopbackNetworks({"127.0.0.1", "127.0.3.3"});
    SearchCommand command(searchId, camera.Endpoint(), networks, [] { return kNow; });
    ASSERT_EQ(command.Run({}), SearchOutcome::Sent);
    const auto first = camera.Next();
    const auto second = camera.Next();
    EXPECT_EQ(LocalIpOf(first), "127.0.0.1");
    EXPECT_EQ(LocalIpOf(second), "127.0.3.3");
    // Apart from the local address the requests are the same bytes.
    ASSERT_EQ(first.size(), second.size());
    EXPECT_TRUE(std::equal(first.begin() + 43, first.end(), second.begin() + 43));
    EXPECT_EQ(first[48], 0xEF);
    EXPECT_TRUE(NothingMoreArrived(camera));
    ASSERT_EQ(command.FailedNetworks().size(), foreignFails ? 1u : 0u);
    if (foreignFails) {
        EXPECT_EQ(command.FailedNetworks()[0].address, "192.0.2.1");
    }

    // Only the named network: one request, with that network's address.
    ASSERT_EQ(command.Run({}, networks().back().name), SearchOutcome::Sent);
    EXPECT_EQ(LocalIpOf(camera.Next()), "127.0.3.3");
    EXPECT_TRUE(command.FailedNetworks().empty());  // a new search starts afresh
    EXPECT_TRUE(NothingMoreArrived(camera));
    // A name that no network has is the same as no network at all.
    EXPECT_EQ(command.Run({}, "no-such-interface"), SearchOutcome::HostLookupFailed);

    // Every send failing is a failed search.
    if (!foreignFails) {
        GTEST_SKIP() << "this system (Wine) binds a socket to an address that is not the "
                        "host's, so no send can fail for want of the network's address";
    }
    SearchCommand unreachable(searchId, camera.Endpoint(), LoopbackNetworks({"192.0.2.1"}),
                              [] { return kNow; });
    EXPECT_EQ(unreachable.Run({}), SearchOutcome::SendFailed);
}

}  // namespace
}  // namespace qdipc
