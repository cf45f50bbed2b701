#include "platform/HostAddress.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace qdipc {
namespace {

TEST(HostAddressTest, AnswerIsADottedQuadOutsideLoopback) {
    const auto address = LocalIpv4Address();
    if (!address) {
        GTEST_SKIP() << "this host has no IPv4 address outside loopback";
    }
    in_addr parsed{};
    ASSERT_EQ(inet_pton(AF_INET, address->c_str(), &parsed), 1) << *address;
    EXPECT_NE(ntohl(parsed.s_addr) >> 24, 127u) << *address;
    EXPECT_LE(address->size(), 15u);
}

}  // namespace
}  // namespace qdipc
