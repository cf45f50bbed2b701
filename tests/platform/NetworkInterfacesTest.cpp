#include "platform/NetworkInterfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <optional>
#include <string>

namespace qdipc {
namespace {

std::optional<std::uint32_t> HostOrder(const std::string& text) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    return ntohl(parsed.s_addr);
}

TEST(NetworkInterfacesTest, BroadcastInterfacesAreNetworksOutsideLoopback) {
    // Every entry a network a search can use: a dotted quad outside loopback,
    // its broadcast the address with the host bits set, the system's index.
    for (const Ipv4Interface& network : ListBroadcastInterfaces()) {
        SCOPED_TRACE(network.name + " " + network.address);
        const auto address = HostOrder(network.address);
        const auto mask = HostOrder(network.netmask);
        const auto broadcast = HostOrder(network.broadcast);
        ASSERT_TRUE(address && mask && broadcast);
        EXPECT_NE(*address >> 24, 127u);
        EXPECT_LE(network.address.size(), 15u);
        EXPECT_EQ(*broadcast, *address | ~*mask);
        const std::string base = network.name.substr(0, network.name.find(':'));
        EXPECT_EQ(network.index, if_nametoindex(base.c_str()));
        EXPECT_NE(network.index, 0u);
    }
}

TEST(NetworkInterfacesTest, LoopbackIsKnownButNeverABroadcastInterface) {
    const auto loopback = LoopbackInterface();
    ASSERT_TRUE(loopback.has_value());
    EXPECT_EQ(loopback->address, "127.0.0.1");
    EXPECT_EQ(loopback->netmask, "255.0.0.0");
    EXPECT_EQ(loopback->broadcast, "127.255.255.255");
    EXPECT_EQ(loopback->index, if_nametoindex(loopback->name.c_str()));
    for (const Ipv4Interface& network : ListBroadcastInterfaces()) {
        EXPECT_NE(network.index, loopback->index);
    }
}

}  // namespace
}  // namespace qdipc
