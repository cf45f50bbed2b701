#include "platform/NeighbourTable.h"
#include "platform/NetworkInterfaces.h"
#include "platform/StateDirectory.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#include <net/if.h>
#endif

#include <cstdlib>
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

#ifndef _WIN32
TEST(NeighbourTableTest, ReadsCompleteArpEntriesAndDefaultRoutes) {
    // Heading, complete, incomplete (flags 0), permanent+complete, a complete
    // flag with a zero link-layer address, a short line, a hexadecimal
    // flag word, tabs and a CRLF line end.
    const char* arp =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "10.77.0.1        0x1         0x2         52:54:00:12:34:56     *        eth0\n"
        "10.77.0.9        0x1         0x0         00:00:00:00:00:00     *        eth0\n"
        "10.77.0.7        0x1         0x6         52:54:00:00:0A:Bc     *        eth0\n"
        "10.77.0.8        0x1         0x2         00:00:00:00:00:00     *        eth0\n"
        "10.77.0.5 0x1\n"
        "192.168.1.64\t0x1\t0xA\t52:54:00:00:00:64\t*\tveth-cam\r\n"
        "not-an-address   0x1         0x2         52:54:00:00:00:01     *        eth0\n";
    std::vector<std::string> names;
    const std::vector<NeighbourEntry> entries = ParseProcNetArp(arp, &names);
    std::vector<std::string> addresses;
    std::vector<std::string> macs;
    for (const NeighbourEntry& entry : entries) {
        addresses.push_back(entry.address);
        macs.push_back(entry.mac);
    }
    EXPECT_EQ(addresses, (std::vector<std::string>{"10.77.0.1", "10.77.0.7", "192.168.1.64"}));
    EXPECT_EQ(macs, (std::vector<std::string>{"52:54:00:12:34:56", "52:54:00:00:0a:bc",
                                              "52:54:00:00:00:64"}));
    EXPECT_EQ(names, (std::vector<std::string>{"eth0", "eth0", "veth-cam"}));
    // The link-layer address comes along (an ONVIF row's MAC after contact).
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].mac, "52:54:00:12:34:56");
    EXPECT_EQ(entries[2].mac, "52:54:00:00:00:64");

    // Addresses in the kernel's memory order: 0100A8C0 is 192.168.0.1.
    const char* route =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "eth1\t00000000\t014D0A0A\t0001\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t014D0A0A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    const std::vector<DefaultRoute> routes = ParseProcNetRoute(route);
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].interfaceName, "eth0");
    EXPECT_EQ(routes[0].gateway, "192.168.0.1");
    EXPECT_EQ(routes[1].interfaceName, "eth2");
    EXPECT_EQ(routes[1].gateway, "10.10.77.1");
}
#endif

// Where rollback plans go: the variables of this process, set for the test
// and put back after.
TEST(StateDirectoryTest, FollowsTheUsersStateDirectory) {
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    const std::wstring saved = local != nullptr ? local : L"";
    _wputenv_s(L"LOCALAPPDATA", L"C:\\Users\\me\\AppData\\Local");
    EXPECT_EQ(UserStateDirectory(),
              std::filesystem::path(L"C:\\Users\\me\\AppData\\Local\\qd_ip_search"));
    _wputenv_s(L"LOCALAPPDATA", saved.c_str());
#else
    const auto saved = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::optional<std::string> state = saved("XDG_STATE_HOME");
    const std::optional<std::string> home = saved("HOME");
    const auto set = [](const char* name, const char* value) {
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    };
    struct Case {
        const char* state;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/var/st", "/home/me", "/var/st/qd_ip_search"},
        {"relative/st", "/home/me", "/home/me/.local/state/qd_ip_search"},
        {nullptr, "/home/me", "/home/me/.local/state/qd_ip_search"},
        {nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        set("XDG_STATE_HOME", c.state);
        set("HOME", c.home);
        EXPECT_EQ(UserStateDirectory().string(), c.expected);
    }
    set("XDG_STATE_HOME", state ? state->c_str() : nullptr);
    set("HOME", home ? home->c_str() : nullptr);
#endif
}

}  // namespace
}  // namespace qdipc
