// Linux: what the network diagnosis reads of the host, on texts the test
// supplies (/proc/net/udp, /proc/net/netstat, firewalld zones, ufw rules,
// nft's JSON ruleset), and the port owner lookup on a socket a child holds.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "discovery/OnvifDiagnosis.h"
#include "platform/FirewallState.h"
#include "platform/InterfaceLinks.h"
#include "platform/PortOwner.h"

namespace qdipc {
namespace {

TEST(PortOwnerTest, InodesOfThePortFromProcNetUdp) {
    const std::string udp =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode ref pointer drops\n"
        "  12: 00000000:1F99 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        "
        "0 4242 2 0000000000000000 0\n"
        "  13: 0100007F:1F9A 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        "
        "0 7 2 0000000000000000 0\n"
        "  14: 0100007F:1F99 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        "
        "0 99 2 0000000000000000 0\n";
    EXPECT_EQ(UdpSocketInodes(udp, 8089), (std::vector<std::uint64_t>{4242, 99}));
    EXPECT_EQ(UdpSocketInodes(udp, 8090), (std::vector<std::uint64_t>{7}));
    EXPECT_TRUE(UdpSocketInodes(udp, 5050).empty());
    const std::string udp6 =
        "  sl  local_address                         remote_address                        st "
        "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
        "   1: 00000000000000000000000000000000:1F99 00000000000000000000000000000000:0000 07 "
        "00000000:00000000 00:00000000 00000000     0        0 555 2 0000000000000000 0\n";
    EXPECT_EQ(UdpSocketInodes(udp6, 8089), (std::vector<std::uint64_t>{555}));
}

TEST(PortOwnerTest, NamesTheProcessThatHoldsThePortButNotThisOne) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t size = sizeof local;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size), 0);
    const std::uint16_t port = ntohs(local.sin_port);
    // Only this process holds it: nobody else does.
    const PortOwnerLookup alone = UdpPortOwners(port);
    EXPECT_TRUE(alone.checked);
    EXPECT_TRUE(alone.owners.empty());
    // A child inherits the socket and holds it after this process lets go.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::sleep(10);
        ::_exit(0);
    }
    ::close(fd);
    const PortOwnerLookup held = UdpPortOwners(port);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(held.owners.size(), 1u);
    EXPECT_EQ(held.owners[0].pid, static_cast<std::uint32_t>(child));
    EXPECT_EQ(held.owners[0].program, std::string("host_readings_test").substr(0, 15));
    EXPECT_EQ(PortOwnersText(held.owners), "host_readings_t (PID " + std::to_string(child) + ")");
    EXPECT_EQ(PortOwnersText({{}, {"vlc", 3}}), "a program of another user, vlc (PID 3)");
}

TEST(InterfaceLinksTest, NetstatCounterByGroupAndName) {
    const std::string netstat =
        "TcpExt: SyncookiesSent IPReversePathFilter EmbryonicRsts\n"
        "TcpExt: 0 17 4\n"
        "IpExt: InNoRoutes IPReversePathFilter\n"
        "IpExt: 1 99\n";
    EXPECT_EQ(NetstatCounter(netstat, "TcpExt", "IPReversePathFilter"), 17u);
    EXPECT_EQ(NetstatCounter(netstat, "IpExt", "IPReversePathFilter"), 99u);
    EXPECT_EQ(NetstatCounter(netstat, "TcpExt", "Nothing"), std::nullopt);
    EXPECT_EQ(NetstatCounter("TcpExt: A B\nTcpExt: 1\n", "TcpExt", "B"), std::nullopt);
    // This system's own counter is there (a fresh network namespace too).
    EXPECT_TRUE(ReversePathFilterDrops().has_value());
    const auto links = ListInterfaceLinks();
    ASSERT_TRUE(links.has_value());
    bool loopback = false;
    for (const InterfaceLink& link : *links) {
        if (link.name == "lo") {
            loopback = link.loopback && link.up && !link.broadcast && link.rpFilter.has_value();
        }
    }
    EXPECT_TRUE(loopback);
}

TEST(FirewallStateTest, ConfigValuesAndFirewalldZones) {
    const std::string conf =
        "# DefaultZone=trusted\nDefaultZone=public\n  ENABLED='yes'\nX=1\nX=2\n";
    EXPECT_EQ(ConfigValue(conf, "DefaultZone"), "public");
    EXPECT_EQ(ConfigValue(conf, "ENABLED"), "yes");
    EXPECT_EQ(ConfigValue(conf, "X"), "2");  // the last one counts
    EXPECT_EQ(ConfigValue(conf, "Default"), std::nullopt);

    const std::string zone = R"(<?xml version="1.0" encoding="utf-8"?>
<zone>
  <short>Public</short>
  <service name="ssh"/>
  <interface name="eth0"/>
  <interface name='eth1'/>
  <port protocol="tcp" port="8089"/>
  <portal/>
</zone>)";
    EXPECT_EQ(FirewalldZoneInterfaces(zone), (std::vector<std::string>{"eth0", "eth1"}));
    EXPECT_FALSE(FirewalldZoneAdmits(zone, 8089, "qd-ip-search"));  // tcp only
    const auto with = [&](const std::string& element) {
        std::string text = zone;
        text.insert(text.find("</zone>"), element + "\n");
        return text;
    };
    EXPECT_TRUE(
        FirewalldZoneAdmits(with(R"(<service name="qd-ip-search"/>)"), 8089, "qd-ip-search"));
    EXPECT_TRUE(FirewalldZoneAdmits(with(R"(<port protocol="udp" port="8000-8100"/>)"), 8089,
                                    "qd-ip-search"));
    EXPECT_FALSE(FirewalldZoneAdmits(with(R"(<port protocol="udp" port="8090-8100"/>)"), 8089,
                                     "qd-ip-search"));
    std::string accepting = zone;
    accepting.replace(accepting.find("<zone>"), 6, R"(<zone target="ACCEPT">)");
    EXPECT_TRUE(FirewalldZoneAdmits(accepting, 8089, "qd-ip-search"));
}

TEST(FirewallStateTest, UfwTuples) {
    const std::string rules =
        "*filter\n"
        "### tuple ### allow tcp 22 0.0.0.0/0 any 0.0.0.0/0 in\n"
        "### tuple ### allow udp 8089 0.0.0.0/0 any 0.0.0.0/0 out\n"
        "### tuple ### deny udp 8089 0.0.0.0/0 any 0.0.0.0/0 in\n";
    EXPECT_FALSE(UfwRulesAdmit(rules, 8089));
    EXPECT_TRUE(UfwRulesAdmit(
        rules + "### tuple ### allow udp 8089 0.0.0.0/0 any 0.0.0.0/0 qd-ip-search - in\n", 8089));
    EXPECT_TRUE(UfwRulesAdmit(
        rules + "### tuple ### allow any 8000:9000 0.0.0.0/0 any 0.0.0.0/0 in\n", 8089));
    EXPECT_TRUE(UfwRulesAdmit(
        rules + "### tuple ### allow udp 80,8089 0.0.0.0/0 any 0.0.0.0/0 in\n", 8089));
}

// An nft -j ruleset with one inet table, its input chain (policy given) and
// the rules' expressions given as JSON arrays.
std::string Ruleset(const std::string& policy, const std::vector<std::string>& rules,
                    const std::string& extraChain = "") {
    std::string json =
        R"({"nftables": [{"metainfo": {"json_schema_version": 1}}, {"table": {"family": "inet", "name": "t", "handle": 1}}, )"
        R"({"chain": {"family": "inet", "table": "t", "name": "input", "handle": 1, "type": "filter", "hook": "input", "prio": 0, "policy": ")" +
        policy + R"("}})";
    if (!extraChain.empty()) {
        json += R"(, {"chain": {"family": "inet", "table": "t", "name": ")" + extraChain +
                R"(", "handle": 2}})";
    }
    int handle = 3;
    for (const std::string& rule : rules) {
        const auto bar = rule.find('|');
        const std::string chain = bar == std::string::npos ? "input" : rule.substr(0, bar);
        const std::string expr = bar == std::string::npos ? rule : rule.substr(bar + 1);
        json += R"(, {"rule": {"family": "inet", "table": "t", "chain": ")" + chain +
                R"(", "handle": )" + std::to_string(handle++) + R"(, "expr": )" + expr + "}}";
    }
    return json + "]}";
}

const std::string kUdpDport8089 =
    R"({"match": {"op": "==", "left": {"payload": {"protocol": "udp", "field": "dport"}}, "right": 8089}})";
const std::string kEstablished =
    R"({"match": {"op": "in", "left": {"ct": {"key": "state"}}, "right": ["established", "related"]}})";

TEST(FirewallStateTest, NftablesInputPath) {
    struct Case {
        const char* name;
        std::string json;
        FirewallVerdict verdict;
        std::string finding;
    };
    const std::vector<Case> cases = {
        {"empty ruleset", R"({"nftables": [{"metainfo": {}}]})", FirewallVerdict::Admits,
         "admits 8089/udp"},
        {"drop rule",
         Ruleset("accept", {"[" + kUdpDport8089 +
                            R"(, {"counter": {"packets": 0, "bytes": 0}}, {"drop": null}])"}),
         FirewallVerdict::Blocks, "chain input of table inet t, rule handle 3"},
        {"reject in a set",
         Ruleset(
             "accept",
             {R"([{"match": {"op": "==", "left": {"payload": {"protocol": "th", "field": "dport"}}, "right": {"set": [5050, {"range": [8080, 8090]}]}}}, {"reject": null}])"}),
         FirewallVerdict::Blocks, "rule handle 3"},
        {"accept before drop",
         Ruleset("accept", {"[" + kUdpDport8089 + R"(, {"accept": null}])",
                            "[" + kUdpDport8089 + R"(, {"drop": null}])"}),
         FirewallVerdict::Admits, "admits"},
        {"tcp only",
         Ruleset(
             "accept",
             {R"([{"match": {"op": "==", "left": {"payload": {"protocol": "tcp", "field": "dport"}}, "right": 8089}}, {"drop": null}])"}),
         FirewallVerdict::Admits, "admits"},
        {"policy drop, only established admitted",
         Ruleset("drop", {"[" + kEstablished + R"(, {"accept": null}])"}), FirewallVerdict::Blocks,
         "the policy drop of chain input"},
        {"policy drop, port admitted",
         Ruleset("drop", {"[" + kEstablished + R"(, {"accept": null}])",
                          "[" + kUdpDport8089 + R"(, {"accept": null}])"}),
         FirewallVerdict::Admits, "admits"},
        {"drop in a jumped-to chain",
         Ruleset("accept",
                 {R"([{"jump": {"target": "udp_in"}}])",
                  "udp_in|[" + kUdpDport8089 + R"(, {"drop": null}])"},
                 "udp_in"),
         FirewallVerdict::Blocks, "chain udp_in of table inet t"},
        {"policy drop after an accept it cannot judge",
         Ruleset(
             "drop",
             {R"([{"match": {"op": "==", "left": {"meta": {"key": "iifname"}}, "right": "eth0"}}, {"accept": null}])"}),
         FirewallVerdict::NotChecked, "may drop"},
        {"a match it cannot judge",
         Ruleset(
             "accept",
             {R"([{"match": {"op": "==", "left": {"meta": {"key": "iifname"}}, "right": "eth0"}}, {"drop": null}])"}),
         FirewallVerdict::NotChecked, "may drop"},
        {"not JSON", "nftables", FirewallVerdict::NotChecked, "could not be read"},
    };
    for (const Case& c : cases) {
        const FirewallReading reading = NftRulesetReading(c.json, 8089);
        EXPECT_EQ(reading.verdict, c.verdict) << c.name << ": " << reading.finding;
        EXPECT_NE(reading.finding.find(c.finding), std::string::npos)
            << c.name << ": " << reading.finding;
        if (c.verdict == FirewallVerdict::Blocks) {
            EXPECT_EQ(reading.fix, "sudo nft insert rule inet t input udp dport 8089 accept")
                << c.name;
        }
    }
}

}  // namespace
}  // namespace qdipc

namespace qdipc {
namespace {

// A rule set that admits only the receive port drops the ONVIF devices'
// unicast answers to the probing socket's ephemeral port: the diagnosis names
// the firewall, the port and a fix; the probes' counts stand per interface.
TEST(OnvifDiagnosisTest, AFirewallAdmittingOnly8089DropsTheAnswers) {
    const std::string only8089 = Ruleset("drop", {"[" + kEstablished + R"(, {"accept": null}])",
                                                  "[" + kUdpDport8089 + R"(, {"accept": null}])"});
    EXPECT_EQ(NftRulesetReading(only8089, 8089).verdict, FirewallVerdict::Admits);
    OnvifFacts facts;
    facts.probed = true;
    OnvifInterfaceCount lan;
    lan.network = {"lan0", 2, "10.0.0.5", "255.255.255.0", "10.0.0.255"};
    lan.probesSent = 8;
    lan.datagrams = 0;
    OnvifInterfaceCount down;
    down.network = {"wlan0", 3, "192.168.9.5", "255.255.255.0", "192.168.9.255"};
    facts.interfaces = {lan, down};
    facts.replyPort = 40123;
    facts.firewalls.netfilter = NftRulesetReading(only8089, facts.replyPort);
    ASSERT_EQ(facts.firewalls.netfilter.verdict, FirewallVerdict::Blocks);
    const std::vector<DiagnosisLine> lines = DiagnoseOnvif(facts);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].result, CheckResult::Ok);
    EXPECT_EQ(lines[0].finding,
              "8 ONVIF probes sent from lan0 (10.0.0.5), 0 answers received, 0 accepted");
    EXPECT_EQ(lines[1].result, CheckResult::Problem);
    EXPECT_NE(lines[1].finding.find("wlan0"), std::string::npos);
    EXPECT_EQ(lines[2].check, "onvif_replies");
    EXPECT_EQ(lines[2].result, CheckResult::Problem);
    EXPECT_NE(lines[2].finding.find("nftables drops UDP port 40123"), std::string::npos)
        << lines[2].finding;
    EXPECT_NE(lines[2].fix.find("udp sport 3702 accept"), std::string::npos);

    // A rule set that admits the port: no problem with the answers.
    facts.firewalls.netfilter = NftRulesetReading(R"({"nftables": [{"metainfo": {}}]})", 40123);
    EXPECT_EQ(DiagnoseOnvif(facts).back().result, CheckResult::Ok);
    facts.probed = false;
    EXPECT_EQ(DiagnoseOnvif(facts).front().result, CheckResult::NotChecked);
}

}  // namespace
}  // namespace qdipc
