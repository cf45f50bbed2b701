#include "discovery/SearchCommand.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/HostAddress.h"
#include "tests/discovery/LoopbackHelpers.h"

namespace qdipc {
namespace {

using test::Hex;

constexpr std::int64_t kNow = 1767198605;  // draws search ID 23535 = 0x5BEF

HostAddressLookup Answer(std::optional<std::string> address) {
    return [address] { return address; };
}

TEST(SearchCommandTest, ClearsDrawsAndSendsTheRequest) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{999};
    SearchCommand command(searchId, camera.Endpoint(), Answer("192.168.7.9"), [] { return kNow; });
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
        " 31 39 32 2E 31 36 38 2E 37 2E 39 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        " 00  BA 13  00 00  EF 5B 00 00");
    EXPECT_EQ(camera.Next(), expected);
}

TEST(SearchCommandTest, SameSecondSameId) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    std::int64_t now = 1;
    SearchCommand command(searchId, camera.Endpoint(), Answer("10.0.0.1"), [&now] { return now; });
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

TEST(SearchCommandTest, FailedLookupSendsNothingButKeepsTheNewId) {
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{999};
    std::int64_t now = kNow;
    bool lookupWorks = false;
    SearchCommand command(
        searchId, camera.Endpoint(),
        [&lookupWorks]() -> std::optional<std::string> {
            if (lookupWorks)
                return "10.1.2.3";
            return std::nullopt;
        },
        [&now] { return now; });
    int clears = 0;
    const SearchOutcome failed = command.Run([&] { ++clears; });
    EXPECT_EQ(failed, SearchOutcome::HostLookupFailed);
    EXPECT_STREQ(SearchFailureText(failed), "gethostbyname error");
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(searchId.load(), 23535u);

    // The next datagram to arrive is the one of the later, successful search.
    lookupWorks = true;
    now = 0;
    ASSERT_EQ(command.Run([&] { ++clears; }), SearchOutcome::Sent);
    const auto datagram = camera.Next();
    ASSERT_EQ(datagram.size(), 52u);
    EXPECT_EQ(datagram[48], 38);  // the ID drawn at second 0
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(datagram.data()) + 13), "10.1.2.3");
}

TEST(SearchCommandTest, FailedSendIsReported) {
    std::atomic<std::uint32_t> searchId{0};
    // An address the socket layer refuses stands in for a failed send.
    SearchCommand command(searchId, {"no-such-address", 5050}, Answer("10.0.0.1"),
                          [] { return kNow; });
    int clears = 0;
    const SearchOutcome outcome = command.Run([&] { ++clears; });
    EXPECT_EQ(outcome, SearchOutcome::SendFailed);
    EXPECT_STREQ(SearchFailureText(outcome), "creat socket error");
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(searchId.load(), 23535u);
}

TEST(SearchCommandTest, DefaultLookupNamesTheHostsOwnAddress) {
    const auto own = LocalIpv4Address();
    if (!own) {
        GTEST_SKIP() << "this host has no IPv4 address outside loopback";
    }
    test::LoopbackReceiver camera;
    std::atomic<std::uint32_t> searchId{0};
    SearchCommand command(searchId, camera.Endpoint());
    ASSERT_EQ(command.Run({}), SearchOutcome::Sent);
    const auto datagram = camera.Next();
    ASSERT_EQ(datagram.size(), 52u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(datagram.data()) + 13), *own);
    EXPECT_NE(own->rfind("127.", 0), 0u);
}

}  // namespace
}  // namespace qdipc
