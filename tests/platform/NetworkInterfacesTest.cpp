#include "platform/NetworkInterfaces.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#include <net/if.h>
#endif

#include <optional>
#include <string>

namespace qdipc {
namespace {

// The index the system itself gives the interface of that name, 0 when it
// knows no such name.
#ifdef _WIN32
std::uint32_t IndexOfName(const std::string& name) {
    // On Windows the name is the adapter's friendly name (its alias), in UTF-8.
    std::wstring alias(name.size() + 1, L'\0');
    NET_LUID luid{};
    NET_IFINDEX index = 0;
    if (MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, alias.data(),
                            static_cast<int>(alias.size())) <= 0 ||
        ConvertInterfaceAliasToLuid(alias.c_str(), &luid) != NO_ERROR ||
        ConvertInterfaceLuidToIndex(&luid, &index) != NO_ERROR) {
        return 0;
    }
    return index;
}
#else
std::uint32_t IndexOfName(const std::string& name) {
    // An address label such as "eth0:1" names the interface before the colon.
    return if_nametoindex(name.substr(0, name.find(':')).c_str());
}
#endif

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
        EXPECT_EQ(network.index, IndexOfName(network.name));
        EXPECT_NE(network.index, 0u);
    }
}

TEST(NetworkInterfacesTest, LoopbackIsKnownButNeverABroadcastInterface) {
    const auto loopback = LoopbackInterface();
    ASSERT_TRUE(loopback.has_value());
    EXPECT_EQ(loopback->address, "127.0.0.1");
    EXPECT_EQ(loopback->netmask, "255.0.0.0");
    EXPECT_EQ(loopback->broadcast, "127.255.255.255");
    EXPECT_EQ(loopback->index, IndexOfName(loopback->name));
    for (const Ipv4Interface& network : ListBroadcastInterfaces()) {
        EXPECT_NE(network.index, loopback->index);
    }
}

}  // namespace
}  // namespace qdipc
