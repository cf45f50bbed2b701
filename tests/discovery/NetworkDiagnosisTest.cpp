// The network diagnosis's judgement on facts the test supplies: each check's
// result, finding and fix, one cause at a time, and the copied text.

#include "discovery/NetworkDiagnosis.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qdipc {
namespace {

InterfaceLink Wired(const std::string& name, const std::string& address,
                    const std::string& netmask = "255.255.255.0") {
    InterfaceLink link;
    link.name = name;
    link.up = true;
    link.broadcast = true;
    link.carrier = true;
    link.ipv4 = {{address, netmask}};
    link.rpFilter = 0;
    return link;
}

// A PC on one wired camera LAN, nothing in the way, three cameras answered.
HostFacts HealthyHost() {
    HostFacts host;
    InterfaceLink loopback;
    loopback.name = "lo";
    loopback.up = true;
    loopback.loopback = true;
    loopback.ipv4 = {{"127.0.0.1", "255.0.0.0"}};
    host.links = std::vector<InterfaceLink>{loopback, Wired("eth0", "10.1.2.3")};
    host.portOwners.checked = true;
    host.firewalls.firewalld = {FirewallVerdict::Inactive, "firewalld is not running", ""};
    host.firewalls.ufw = {FirewallVerdict::Inactive, "ufw is not enabled", ""};
    host.firewalls.netfilter = {FirewallVerdict::Admits, "the nftables ruleset admits 8089/udp",
                                ""};
    return host;
}

SearchFacts HealthySearch() {
    SearchFacts search;
    search.searched = true;
    search.cameras = 3;
    search.NoteReplySource(0x0A010209);  // 10.1.2.9
    return search;
}

const DiagnosisLine& LineOf(const std::vector<DiagnosisLine>& lines, const std::string& check) {
    for (const DiagnosisLine& line : lines) {
        if (line.check == check) {
            return line;
        }
    }
    static const DiagnosisLine kMissing{"missing", CheckResult::NotChecked, "", ""};
    return kMissing;
}

TEST(NetworkDiagnosisTest, AHealthyLanHasNoProblem) {
    const auto lines = Diagnose(HealthyHost(), HealthySearch());
    const std::vector<std::string> order = {
        "interfaces",        "link",      "wifi",     "port",     "firewalld", "ufw",
        kNetfilterCheckName, "rp_filter", "requests", "rejected", "replies"};
    ASSERT_EQ(lines.size(), order.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].check, order[i]);
        EXPECT_EQ(lines[i].result, CheckResult::Ok) << lines[i].check << ": " << lines[i].finding;
        EXPECT_EQ(lines[i].fix, "") << lines[i].check;
    }
    EXPECT_FALSE(HasProblem(lines));
    EXPECT_EQ(LineOf(lines, "interfaces").finding,
              "the search goes out on 1 interface: eth0 (10.1.2.3/24)");
    EXPECT_EQ(LineOf(lines, "replies").finding, "3 cameras answered");
}

struct Cause {
    const char* name;
    std::function<void(HostFacts&, SearchFacts&)> make;
    const char* check;
    CheckResult result;
    std::string finding;  // a part of the finding
    std::string fix;      // a part of the fix
};

TEST(NetworkDiagnosisTest, EachCauseGivesItsLineAndFix) {
    const auto link = [](HostFacts& host) -> InterfaceLink& { return (*host.links)[1]; };
    const std::vector<Cause> causes = {
        {"link down", [&](HostFacts& h, SearchFacts&) { link(h).up = false; }, "interfaces",
         CheckResult::Problem, "no interface is up with an IPv4 address and broadcast; down: eth0",
         "eth0"},
        {"no address", [&](HostFacts& h, SearchFacts&) { link(h).ipv4.clear(); }, "interfaces",
         CheckResult::Problem, "up without an IPv4 address: eth0", "give eth0 an IPv4 address"},
        {"no carrier", [&](HostFacts& h, SearchFacts&) { link(h).carrier = false; }, "link",
         CheckResult::Problem, "eth0 is up but without a link (no carrier)",
         "plug the cable of eth0"},
        {"empty bridge",
         [&](HostFacts& h, SearchFacts&) {
             InterfaceLink bridge = Wired("docker0", "172.17.0.1", "255.255.0.0");
             bridge.bridge = true;
             bridge.carrier = false;
             h.links->push_back(bridge);
         },
         "link", CheckResult::Ok, "every interface in use has a link", ""},
#ifndef _WIN32
        {"a hostile name down",
         [&](HostFacts& h, SearchFacts&) {
             link(h).name = "a$(id)b";
             link(h).up = false;
         },
         "interfaces", CheckResult::Problem, "down: a$(id)b", "sudo ip link set 'a$(id)b' up"},
#else
        {"a hostile name down",
         [&](HostFacts& h, SearchFacts&) {
             link(h).name = "LAN & \"x\"";
             link(h).up = false;
         },
         "interfaces", CheckResult::Problem, "down: LAN",
         "enable the adapter LAN & \"x\" (ncpa.cpl)"},
        {"a name with a space down",
         [&](HostFacts& h, SearchFacts&) {
             link(h).name = "Ethernet 2 & del";
             link(h).up = false;
         },
         "interfaces", CheckResult::Problem, "down: Ethernet 2",
         "netsh interface set interface name=\"Ethernet 2 & del\" admin=enabled"},
#endif
        {"an unused port beside a working one",
         [&](HostFacts& h, SearchFacts&) {
             InterfaceLink unused = Wired("eth1", "10.9.9.9");
             unused.ipv4.clear();
             unused.carrier = false;
             h.links->push_back(unused);
         },
         "link", CheckResult::Ok, "every interface in use has a link", ""},
        {"no link anywhere",
         [&](HostFacts& h, SearchFacts&) {
             link(h).ipv4.clear();
             link(h).carrier = false;
         },
         "link", CheckResult::Problem, "eth0 is up but without a link", "eth0"},
        {"Wi-Fi only", [&](HostFacts& h, SearchFacts&) { link(h).wireless = true; }, "wifi",
         CheckResult::Problem, "only over Wi-Fi (eth0)", "with a cable"},
        {"Wi-Fi and wired",
         [&](HostFacts& h, SearchFacts&) {
             InterfaceLink wifi = Wired("wlan0", "192.168.8.20");
             wifi.wireless = true;
             h.links->push_back(wifi);
         },
         "wifi", CheckResult::Ok, "a wired interface is up: eth0", ""},
        {"port held",
         [](HostFacts& h, SearchFacts& s) {
             h.portOwners.owners = {{"python3", 4711}};
             s = {};
             s.bound = false;
         },
         "port", CheckResult::Problem, "UDP port 8089 is held by python3 (PID 4711)", "4711"},
        {"port held by another user",
         [](HostFacts& h, SearchFacts&) { h.portOwners.owners = {{}}; }, "port",
         CheckResult::Problem, "held by a program of another user", "8089"},
        {"port not bound, owner unknown", [](HostFacts&, SearchFacts& s) { s.bound = false; },
         "port", CheckResult::Problem, "could not be bound", "end the other program"},
        {"firewalld closed",
         [](HostFacts& h, SearchFacts&) {
             h.firewalls.firewalld = {FirewallVerdict::Blocks, "zone 'public' of eth0", "sudo x"};
         },
         "firewalld", CheckResult::Problem, "zone 'public' of eth0", "sudo x"},
        {"ufw unreadable",
         [](HostFacts& h, SearchFacts&) {
             h.firewalls.ufw = {FirewallVerdict::NotChecked, "not read", "sudo y"};
         },
         "ufw", CheckResult::NotChecked, "not read", "sudo y"},
        // Strict reverse-path filtering is a problem only where it dropped
        // something or a camera answered from outside the subnet.
        {"strict rp_filter, nothing dropped, every camera inside",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).rpFilter = 1;
             s.reversePathDrops = 0;
         },
         "rp_filter", CheckResult::Ok,
         "rp_filter = 1) on eth0: it dropped nothing during the search and every camera that "
         "answered is inside 10.1.2.0/24",
         ""},
        {"strict rp_filter, drops not counted, every camera inside",
         [&](HostFacts& h, SearchFacts&) { link(h).rpFilter = 1; }, "rp_filter", CheckResult::Ok,
         "it dropped nothing", ""},
        {"strict rp_filter, no search",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).rpFilter = 1;
             s = {};
         },
         "rp_filter", CheckResult::NotChecked, "shows in a search", ""},
        {"strict rp_filter, a camera outside",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).rpFilter = 1;
             s.NoteReplySource(0xC0A80140);  // 192.168.1.64, beside 10.1.2.9
         },
         "rp_filter", CheckResult::Problem,
         "rp_filter = 1) on eth0: replies from cameras outside 10.1.2.0/24 are dropped unless "
         "this PC's route to them leaves through that interface; 1 camera answered from outside",
         "sudo sysctl -w net.ipv4.conf.eth0.rp_filter=2"},
        {"strict rp_filter on a hostile name, drops counted",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).name = "a$(id)b";
             link(h).rpFilter = 1;
             s.reversePathDrops = 1;
         },
         "rp_filter", CheckResult::Problem, "it dropped 1 datagram",
         "sudo sysctl -w 'net.ipv4.conf.a$(id)b.rp_filter=2'"},
        {"strict rp_filter on a VLAN, drops counted",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).name = "eth0.5";
             link(h).rpFilter = 1;
             s.reversePathDrops = 6;
         },
         "rp_filter", CheckResult::Problem, "it dropped 6 datagrams during the search",
         "net.ipv4.conf.eth0/5.rp_filter=2"},
        {"loose rp_filter", [&](HostFacts& h, SearchFacts&) { link(h).rpFilter = 2; }, "rp_filter",
         CheckResult::Ok, "no interface filters", ""},
        {"loose rp_filter dropping",
         [&](HostFacts& h, SearchFacts& s) {
             link(h).rpFilter = 2;
             s.reversePathDrops = 1;
         },
         "rp_filter", CheckResult::Problem, "dropped 1 datagram during the search", "route"},
        {"send failed",
         [](HostFacts&, SearchFacts& s) {
             s.failedNetworks = {{"eth1", 3, "10.9.0.1", "255.255.0.0", "10.9.255.255"}};
         },
         "requests", CheckResult::Problem, "could not be sent on eth1 (10.9.0.1)", "eth1"},
        {"nothing to send on",
         [](HostFacts&, SearchFacts& s) { s.outcome = SearchOutcome::HostLookupFailed; },
         "requests", CheckResult::Problem, "no interface to send it on", "interfaces"},
        {"junk",
         [](HostFacts&, SearchFacts& s) {
             s.rejected.wrongLength = 1;
             s.rejected.otherSearch = 2;
             s.rejected.CountSender(0x0A010263, 3);  // 10.1.2.99
         },
         "rejected", CheckResult::Problem,
         "3 datagrams arrived on the receive port but were no reply to this search (1 of a wrong "
         "length, 2 not carrying this search's ID); from 10.1.2.99 (3)",
         "10.1.2.99"},
        {"no camera", [](HostFacts&, SearchFacts& s) { s.cameras = 0, s.replySources.clear(); },
         "replies", CheckResult::Problem, "no camera answered the search", "power"},
        {"only other subnets",
         [](HostFacts&, SearchFacts& s) {
             s.replySources = {0xC0A80140};  // 192.168.1.64
             s.cameras = 20;
         },
         "replies", CheckResult::Problem,
         "only cameras outside this PC's subnets answered (20 cameras, from 192.168.1.64)",
         "Assign Addresses"},
        {"not searched", [](HostFacts&, SearchFacts& s) { s = {}; }, "replies",
         CheckResult::NotChecked, "no search was made", ""},
        {"links unknown", [](HostFacts& h, SearchFacts&) { h.links.reset(); }, "interfaces",
         CheckResult::NotChecked, "did not list", ""},
    };
    for (const Cause& cause : causes) {
        HostFacts host = HealthyHost();
        SearchFacts search = HealthySearch();
        cause.make(host, search);
        const auto lines = Diagnose(host, search);
        const DiagnosisLine& line = LineOf(lines, cause.check);
        EXPECT_EQ(line.result, cause.result) << cause.name << ": " << line.finding;
        EXPECT_NE(line.finding.find(cause.finding), std::string::npos)
            << cause.name << ": " << line.finding;
        EXPECT_NE(line.fix.find(cause.fix), std::string::npos) << cause.name << ": " << line.fix;
        EXPECT_EQ(HasProblem(lines), cause.result == CheckResult::Problem) << cause.name;
    }
}

// "No camera answered" points to the problems above only when there are some.
TEST(NetworkDiagnosisTest, TheRepliesFixNamesProblemsAboveOnlyWhenThereAreSome) {
    HostFacts host = HealthyHost();
    SearchFacts search = HealthySearch();
    search.cameras = 0;
    search.replySources.clear();
    const std::string alone = LineOf(Diagnose(host, search), "replies").fix;
    EXPECT_NE(alone.find("power"), std::string::npos) << alone;
    EXPECT_EQ(alone.find("above"), std::string::npos) << alone;
    (*host.links)[1].carrier = false;
    const std::string withProblem = LineOf(Diagnose(host, search), "replies").fix;
    EXPECT_NE(withProblem.find("fix the problems above"), std::string::npos) << withProblem;
}

TEST(NetworkDiagnosisTest, ReplySourcesAreKeptOnceAndCapped) {
    SearchFacts search;
    for (std::uint32_t i = 0; i < 2 * SearchFacts::kMaxReplySources; ++i) {
        search.NoteReplySource(1 + i % (SearchFacts::kMaxReplySources + 1));
    }
    search.NoteReplySource(0);  // unknown: not kept
    EXPECT_EQ(search.replySources.size(), SearchFacts::kMaxReplySources);
    EXPECT_EQ(search.replySources.front(), 1u);
}

TEST(NetworkDiagnosisTest, TheCopiedTextKeepsEachCheckOnOneLine) {
    HostFacts host = HealthyHost();
    (*host.links)[1].name = "eth\t0\x1b]0;x\x07";
    const std::string text = DiagnosisText(Diagnose(host, HealthySearch()));
    EXPECT_EQ(text.rfind("check\tresult\tfinding\tfix\ninterfaces\tok\tthe search goes out on 1 "
                         "interface: eth\\x090\\x1b]0;x\\x07 (10.1.2.3/24)\t\n",
                         0),
              0u)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace qdipc
