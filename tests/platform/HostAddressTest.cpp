#include "platform/HostAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

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
