#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "discovery/CellText.h"
#include "settings/AddressPlanner.h"
#include "settings/AssignMemory.h"
#include "settings/AssignModel.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeChecks.h"
#include "settings/PlanFile.h"
#include "settings/ProvisioningSession.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"

namespace qdipc {
namespace {

std::uint32_t Ip(const char* text) {
    return ParseIpv4Strict(text).value();
}

std::vector<std::uint32_t> Ips(std::initializer_list<const char*> texts) {
    std::vector<std::uint32_t> out;
    for (const char* text : texts) {
        out.push_back(Ip(text));
    }
    return out;
}

std::vector<std::string> Texts(const std::vector<std::uint32_t>& addresses) {
    std::vector<std::string> out;
    for (std::uint32_t a : addresses) {
        out.push_back(FormatIpv4(a));
    }
    return out;
}

struct PlanCase {
    const char* name;
    AddressPlanRequest request;
    std::vector<std::string> expected;  // empty: an error
    const char* errorPart = "";
};

TEST(AddressPlannerTest, PlansTheNextFreeAddressForEachCameraInOrder) {
    const std::vector<std::uint32_t> three(3, Ip("192.168.1.64"));
    const std::vector<PlanCase> cases = {
        {"consecutive from the start",
         {three, Ip("10.77.1.10"), Ip("255.255.0.0"), {}, {}, {}, {}},
         {"10.77.1.10", "10.77.1.11", "10.77.1.12"}},
        {"other cameras, host, gateway and neighbours are skipped",
         {three, Ip("10.77.1.10"), Ip("255.255.0.0"), Ip("10.77.1.12"),
          Ips({"10.77.1.11", "10.77.9.9"}), Ips({"10.77.1.13"}), Ips({"10.77.1.15"})},
         {"10.77.1.10", "10.77.1.14", "10.77.1.16"}},
        {"network and broadcast skipped, the plan crosses an octet inside /23",
         {three, Ip("10.0.0.254"), Ip("255.255.254.0"), {}, {}, {}, {}},
         {"10.0.0.254", "10.0.0.255", "10.0.1.0"}},
        {"a start at the network address begins above it",
         {three, Ip("10.0.0.0"), Ip("255.255.255.0"), {}, {}, {}, {}},
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {"a batch address held by several cameras is skipped",
         {three, Ip("192.168.1.63"), Ip("255.255.255.0"), {}, {}, {}, Ips({"192.168.1.64"})},
         {"192.168.1.63", "192.168.1.65", "192.168.1.66"}},
        {"a camera keeps its own address when its turn reaches it",
         {Ips({"10.0.0.5", "10.0.0.6"}),
          Ip("10.0.0.5"),
          Ip("255.255.255.0"),
          {},
          {},
          {},
          Ips({"10.0.0.5", "10.0.0.6"})},
         {"10.0.0.5", "10.0.0.6"}},
        {"but never another batch camera's",
         {Ips({"10.0.0.6", "10.0.0.5"}),
          Ip("10.0.0.5"),
          Ip("255.255.255.0"),
          {},
          {},
          {},
          Ips({"10.0.0.5", "10.0.0.6"})},
         {"10.0.0.6", "10.0.0.7"}},
        {"the subnet ends below its broadcast address",
         {three, Ip("192.168.5.252"), Ip("255.255.255.0"), {}, Ips({"192.168.5.253"}), {}, {}},
         {},
         "too few free addresses: 2 of 3"},
        {"the neighbour table can use up the range",
         {std::vector<std::uint32_t>(2, 0),
          Ip("10.1.1.1"),
          Ip("255.255.255.252"),
          {},
          {},
          {},
          Ips({"10.1.1.2"})},
         {},
         "too few free addresses: 1 of 2"},
        {"a mask with a gap",
         {three, Ip("10.0.0.1"), Ip("255.0.255.0"), {}, {}, {}, {}},
         {},
         "not a contiguous netmask"},
        {"a gateway outside the subnet",
         {three, Ip("10.0.0.1"), Ip("255.255.255.0"), Ip("10.0.1.1"), {}, {}, {}},
         {},
         "is outside 10.0.0.0/24"},
        {"a start at the broadcast address",
         {three, Ip("10.0.0.255"), Ip("255.255.255.0"), {}, {}, {}, {}},
         {},
         "is the broadcast address"},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const AddressPlan plan = PlanAddresses(c.request);
        EXPECT_EQ(Texts(plan.addresses), c.expected);
        if (c.expected.empty()) {
            EXPECT_NE(plan.error.find(c.errorPart), std::string::npos) << plan.error;
        } else {
            EXPECT_TRUE(plan.Ok()) << plan.error;
        }
    }
}

TEST(PlanFileTest, ReadsHeaderNamedColumnsWithQuotingAndLineEnds) {
    const PlanFile plan = ReadPlanFile(
        "\xEF\xBB\xBF"
        "IP,Dev_ID,mask,\"gateway\",mode\r\n"
        "10.77.1.10,FAC70001-0000FA01,255.255.0.0,10.77.0.1,\r\n"
        "\r\n"
        "\"10.77.1.11\",fac70001-0000fa02, 255.255.0.0 ,10.77.0.1,DHCP\n"
        ",fac70001-0000fa03,,,adsl");
    ASSERT_TRUE(plan.Ok()) << plan.error;
    ASSERT_EQ(plan.lines.size(), 3u);
    EXPECT_EQ(plan.lines[0].deviceId, "fac70001-0000fa01");
    EXPECT_EQ(plan.lines[0].ip, "10.77.1.10");
    EXPECT_EQ(plan.lines[0].mode, AddressingMode::Static);
    EXPECT_EQ(plan.lines[1].line, 4);
    EXPECT_EQ(plan.lines[1].mask, "255.255.0.0");
    EXPECT_EQ(plan.lines[1].mode, AddressingMode::Dhcp);
    EXPECT_EQ(plan.lines[2].mode, AddressingMode::Adsl);
    EXPECT_EQ(plan.lines[2].ip, "");

    const PlanFile byMac = ReadPlanFile(
        "mac,ip,mask,gateway\n00-1A-2b-3C-4d-5E,10.0.0.2,"
        "255.255.255.0,10.0.0.1\n");
    ASSERT_TRUE(byMac.Ok()) << byMac.error;
    EXPECT_EQ(byMac.lines[0].mac, "00:1a:2b:3c:4d:5e");
}

TEST(PlanFileTest, NamesTheLineAndColumnOfTheFirstFault) {
    const std::string header = "dev_id,ip,mask,gateway\n";
    const std::string good = "fac70001-0000fa01,10.0.0.2,255.255.255.0,10.0.0.1\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1: the file is empty"},
        {"dev_id,ip,mask,gw\n", "line 1: unknown column 'gw'"},
        {"ip,mask,gateway\n", "line 1: no dev_id or mac column"},
        {"dev_id,ip,gateway\n", "line 1: no mask column"},
        {header + good + "fac70001-0000fa02,10.0.0.300,255.255.255.0,10.0.0.1\n",
         "line 3, column ip: "},
        {header + "fac70001-0000fa02,10.0.0.2,255.0.255.0,10.0.0.1\n", "line 2, column mask"},
        {header + "fac70001-0000fa02,10.0.0.255,255.255.255.0,10.0.0.1\n", "line 2, column ip: "},
        {header + "fac70001-0000fa02,224.0.0.5,255.255.255.0,224.0.0.1\n", "line 2, column ip: "},
        {header + "fac70001-0000fa02,10.0.0.2,255.255.255.0,10.0.1.1\n", "line 2, column gateway"},
        {header + "fac7000-0000fa02,10.0.0.2,255.255.255.0,10.0.0.1\n", "line 2, column dev_id"},
        {"mac,ip,mask,gateway\nzz:yy,10.0.0.2,255.255.255.0,10.0.0.1\n", "line 2, column mac"},
        {"dev_id,ip,mask,gateway,mode\nfac70001-0000fa02,10.0.0.2,255.255.255.0,10.0.0.1,auto\n",
         "line 2, column mode"},
        {header + good + good, "line 3, column dev_id: the camera fac70001-0000fa01 is planned"},
        {header + good + "fac70001-0000fa02,10.0.0.2,255.255.255.0,10.0.0.1\n",
         "line 3, column ip: 10.0.0.2 is given to another camera on line 2"},
        {"dev_id,ip,mask,gateway,mode\n" + good.substr(0, good.size() - 1) + ",static\n" +
             "fac70001-0000fa02,10.0.0.2,255.255.255.0,10.0.0.1,Static\n",
         "line 3, column ip: 10.0.0.2 is given to another camera on line 2"},
        {header + "\"fac7\"\"0001-0000fa01\",10.0.0.2,255.255.255.0,10.0.0.1\n",
         "line 2, column dev_id: 'fac7\"0001-0000fa01' is not a device ID"},
        {header + "fac70001-0000fa02,10.0.0.2,255.255.255.0\n", "line 2: 3 fields"},
        {header + "\"fac70001-0000fa02,10.0.0.2,255.255.255.0,10.0.0.1\n",
         "line 2: a quoted field is not closed"},
        {header + "fac70001-0000fa02,10.0\"0.2,255.255.255.0,10.0.0.1\n", "line 2: a quote"},
        {header + "\"multi\nline\",10.0.0.2,255.255.255.0,10.0.0.1\n" + good.substr(0, 17) +
             "x,10.0.0.3,255.255.255.0,10.0.0.1\n",
         "line 2, column dev_id: 'multi\nline'"},
        {header + "\"a\nb\"x,1,2,3\n", "line 3: text after a closing quote"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        const PlanFile plan = ReadPlanFile(text);
        EXPECT_TRUE(plan.lines.empty());
        EXPECT_EQ(plan.error.substr(0, expected.size()), expected);
    }
}

TEST(PlanFileTest, RestoreLinesShareAnAddressAndAreRefusedAlone) {
    const std::string header = "dev_id,mac,ip,mask,gateway,mode,new_mac,restore\r\n";
    // A factory batch back to one address; an empty, a 0.0.0.0 and an
    // off-subnet gateway; a new MAC; a DHCP camera.
    const PlanFile back = ReadPlanFile(
        header +
        "0011aabb-00000001,00:1a:2b:3c:4d:01,192.168.1.64,255.255.255.0,,static,,yes\r\n"
        "0011aabb-00000002,02:00:00:00:00:02,192.168.1.64,255.255.255.0,0.0.0.0,static,"
        "00:1a:2b:3c:4d:02,YES\r\n"
        "0011aabb-00000003,00:1a:2b:3c:4d:03,192.168.1.64,255.255.255.0,10.9.9.9,,,yes\r\n"
        "0011aabb-00000004,00:1a:2b:3c:4d:04,10.0.0.64,255.255.255.0,,dhcp,,yes\r\n"
        "0011aabb-00000005,00:1a:2b:3c:4d:05,0.0.0.0,255.255.255.0,,static,,yes\r\n"
        "0011aabb-00000006,00:1a:2b:3c:4d:06,192.168.1.66,255.255.255.0,192.168.1.1,,"
        "01:00:5e:00:00:01,yes\r\n");
    ASSERT_TRUE(back.Ok()) << back.error;
    ASSERT_EQ(back.lines.size(), 6u);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(back.lines[i].restore);
        EXPECT_EQ(back.lines[i].refusal, "");
    }
    EXPECT_EQ(back.lines[1].newMac, "00:1a:2b:3c:4d:02");
    EXPECT_EQ(back.lines[3].mode, AddressingMode::Dhcp);
    EXPECT_EQ(back.lines[4].refusal.rfind("column ip: ", 0), 0u) << back.lines[4].refusal;
    EXPECT_EQ(back.lines[5].refusal.rfind("column new_mac: ", 0), 0u) << back.lines[5].refusal;

    // Sharing is for restores only: a change and a restore, or two changes,
    // to one address end the reading; so does a restore that is not yes/no.
    const std::vector<std::pair<std::string, std::string>> faults = {
        {"0011aabb-00000001,,192.168.1.64,255.255.255.0,,static,,yes\r\n"
         "0011aabb-00000002,,192.168.1.64,255.255.255.0,192.168.1.1,static,,no\r\n",
         "line 3, column ip: 192.168.1.64 is given to another camera on line 2"},
        {"0011aabb-00000001,,192.168.1.64,255.255.255.0,192.168.1.1,static,,\r\n"
         "0011aabb-00000002,,192.168.1.64,255.255.255.0,,static,,yes\r\n",
         "line 3, column ip: 192.168.1.64 is given to another camera on line 2"},
        {"0011aabb-00000001,,192.168.1.64,255.255.255.0,,static,,y\r\n",
         "line 2, column restore: 'y' is not yes or no"},
        {"0011aabb-00000001,,192.168.1.64,255.255.255.0,,static,,\r\n", "line 2, column gateway: "},
    };
    for (const auto& [lines, expected] : faults) {
        SCOPED_TRACE(lines);
        const PlanFile plan = ReadPlanFile(header + lines);
        EXPECT_EQ(plan.error.substr(0, expected.size()), expected);
        EXPECT_TRUE(plan.lines.empty());
    }
}

// A field a message repeats is cut to 60 characters and "…", however long.
TEST(PlanFileTest, AnEchoedFieldIsCut) {
    const std::string longId(15 * 1024 * 1024, '\x1b');
    const PlanFile plan =
        ReadPlanFile("dev_id,ip,mask,gateway\n" + longId + ",10.0.0.2,255.255.255.0,10.0.0.1\n");
    EXPECT_EQ(plan.error, "line 2, column dev_id: '" + std::string(60, '\x1b') +
                              "\xE2\x80\xA6' is not a device ID such as 0011aabb-0000ff01");
    // Sixty characters are not cut, sixty-one are; a UTF-8 character counts once.
    const std::string euro = "\xE2\x82\xAC";
    std::string sixtyEuros;
    for (int i = 0; i < 60; ++i) {
        sixtyEuros += euro;
    }
    EXPECT_EQ(CutText(sixtyEuros), sixtyEuros);
    EXPECT_EQ(CutText(sixtyEuros + "x"), sixtyEuros + "\xE2\x80\xA6");
    // Bytes that continue no sequence count one each.
    EXPECT_EQ(CutText(std::string(100, '\x80')).size(), 60u + 3u);
}

TEST(PlanFileTest, AnExportedListIsAPlanAndDhcpLinesShareNoAddress) {
    // The titles --list --format csv writes, a name with a comma and doubled
    // quotes, and the list columns a plan does not use.
    const PlanFile list = ReadPlanFile(
        "NO.,Dev ID,Name,IP,Port,MAC,App Ver,Hardware Ver,Kernel Ver,Mask,Web Port,Gateway,"
        "Seen Via\r\n"
        "1,0011aabb-00000001,\"cam \"\"north\"\", 2\",10.0.0.21,5050,00:1a:2b:3c:4d:01,"
        "1.0,00,3.10,255.255.255.0,80,10.0.0.1,native+onvif\r\n");
    ASSERT_TRUE(list.Ok()) << list.error;
    ASSERT_EQ(list.lines.size(), 1u);
    EXPECT_EQ(list.lines[0].deviceId, "0011aabb-00000001");
    EXPECT_EQ(list.lines[0].mac, "00:1a:2b:3c:4d:01");
    EXPECT_EQ(list.lines[0].ip, "10.0.0.21");
    EXPECT_EQ(list.lines[0].gateway, "10.0.0.1");
    // Two DHCP lines without an address are two cameras, not one IP twice.
    const PlanFile dhcp = ReadPlanFile(
        "dev_id,ip,mask,gateway,mode\n0011aabb-00000001,,,,dhcp\n0011aabb-00000002,,,,adsl\n");
    EXPECT_TRUE(dhcp.Ok()) << dhcp.error;
    EXPECT_EQ(dhcp.lines.size(), 2u);
}

FoundCamera Found(const std::string& id, const std::string& mac, const std::string& ip) {
    return {{id, mac, ip, "255.255.255.0", "10.0.0.1", 0}, ParseIpv4Strict(ip).value_or(0), {}};
}

// A made-up probe: the addresses in live answer, those outside 10.0.0.0/24
// are on no link, the rest are silent. Every address asked is noted.
struct FakeProbe {
    std::vector<std::string> live;
    std::vector<std::string> asked{};
    int calls = 0;

    AddressProber Prober() {
        return [this](const std::vector<std::uint32_t>& addresses) {
            ++calls;
            std::vector<ProbeAnswer> answers;
            for (std::uint32_t address : addresses) {
                const std::string text = FormatIpv4(address);
                asked.push_back(text);
                answers.push_back(std::find(live.begin(), live.end(), text) != live.end()
                                      ? ProbeAnswer::Answered
                                  : (address >> 8) != 0x0a0000u ? ProbeAnswer::NotProbed
                                                                : ProbeAnswer::Silent);
            }
            return answers;
        };
    }
};

// The host at 10.0.0.5/24 on interface 2, its gateway 10.0.0.254.
AssignSurroundings Around(FakeProbe& probe) {
    AssignSurroundings around;
    around.interfaces = {{"eth0", 2, "10.0.0.5", "255.255.255.0", "10.0.0.255"}};
    around.gatewayOf = [](std::uint32_t index) {
        return index == 2 ? std::optional<std::string>("10.0.0.254") : std::nullopt;
    };
    around.neighbours = {{"10.0.0.77", 2}};
    around.probe = probe.Prober();
    return around;
}

TEST(PlanLinesTest, APlanIsCheckedAgainstTheCamerasFoundAndTheHost) {
    const std::vector<FoundCamera> found = {
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "10.0.0.101"),
        Found("0011aabb-00000002", "00:1a:2b:3c:4d:02", "10.0.0.102"),
        Found("0011aabb-00000003", "00:1a:2b:3c:4d:99", "10.0.0.103"),
        Found("0011aabb-00000004", "00:1a:2b:3c:4d:99", "10.0.0.104"),
    };
    AssignSurroundings around;
    around.interfaces = {{"eth0", 2, "10.0.0.5", "255.255.255.0", "10.0.0.255"}};
    around.gatewayOf = [](std::uint32_t index) {
        return index == 2 ? std::optional<std::string>("10.0.0.254") : std::nullopt;
    };
    around.neighbours = {{"10.0.0.77", 2}, {"10.0.0.101", 2}};
    around.reserved = {ParseIpv4Strict("10.0.0.88").value()};
    FakeProbe probe{{"10.0.0.66", "10.0.0.101"}};
    around.probe = probe.Prober();
    around.otherCameras = {"10.0.0.67"};  // an ONVIF device's address
    const auto line = [](int n, const std::string& id, const std::string& mac,
                         const std::string& ip) {
        PlanLine l;
        l.line = n;
        l.deviceId = id;
        l.mac = mac;
        l.ip = ip;
        l.mask = "255.255.255.0";
        l.gateway = "10.0.0.1";
        return l;
    };
    const auto restore = [&](int n, const std::string& id, const std::string& ip,
                             const std::string& gateway, const std::string& mac = "",
                             const std::string& newMac = "") {
        PlanLine l = line(n, id, mac, ip);
        l.gateway = gateway;
        l.newMac = newMac;
        l.restore = true;
        return l;
    };
    struct Case {
        const char* name;
        std::vector<PlanLine> lines;
        std::string error;  // the start of it; empty: planned
        std::size_t orders = 0;
        std::size_t notFound = 0;
        std::size_t refused = 0;  // orders refused alone (restore lines)
    };
    const std::vector<Case> cases = {
        {"by ID and by MAC, one not found, a camera keeps its own neighbour address",
         {line(2, "0011aabb-00000001", "", "10.0.0.101"),
          line(3, "", "00:1a:2b:3c:4d:02", "10.0.0.31"),
          line(4, "0011aabb-000000ff", "", "10.0.0.32")},
         "",
         2,
         1},
        {"a MAC that several cameras answer with",
         {line(2, "", "00:1a:2b:3c:4d:99", "10.0.0.31")},
         "line 2, column mac: 00:1a:2b:3c:4d:99 matches 2 cameras found"},
        {"a device ID that answers with another MAC",
         {line(2, "0011aabb-00000001", "00:1a:2b:3c:4d:02", "10.0.0.31")},
         "line 2, column mac: the camera 0011aabb-00000001 answers with MAC 00:1a:2b:3c:4d:01"},
        {"one camera by ID and by MAC",
         {line(2, "0011aabb-00000002", "", "10.0.0.31"),
          line(3, "", "00:1a:2b:3c:4d:02", "10.0.0.32")},
         "line 3: the camera 0011aabb-00000002 is planned on line 2 already"},
        {"a listed camera's address",
         {line(2, "0011aabb-00000001", "", "10.0.0.102")},
         "line 2, column ip: 10.0.0.102 is taken by a listed camera (0011aabb-00000002)"},
        {"this host",
         {line(2, "0011aabb-00000001", "", "10.0.0.5")},
         "line 2, column ip: 10.0.0.5 is taken by this host"},
        {"the host's gateway",
         {line(2, "0011aabb-00000001", "", "10.0.0.254")},
         "line 2, column ip: 10.0.0.254 is taken by the gateway"},
        {"a neighbour",
         {line(2, "0011aabb-00000001", "", "10.0.0.77")},
         "line 2, column ip: 10.0.0.77 is taken by the neighbour table"},
        {"an ONVIF device's address",
         {line(2, "0011aabb-00000001", "", "10.0.0.67")},
         "line 2, column ip: 10.0.0.67 is taken by a listed camera"},
        {"another run's address",
         {line(2, "0011aabb-00000001", "", "10.0.0.88")},
         "line 2, column ip: 10.0.0.88 is taken by another plan or run"},
        {"a live host the host never talked to",
         {line(2, "0011aabb-00000002", "", "10.0.0.31"),
          line(3, "0011aabb-00000001", "", "10.0.0.66")},
         "line 3, column ip: 10.0.0.66 is taken by something answered at this address"},
        {"an address on no link is planned, and said so",
         {line(2, "0011aabb-00000001", "", "10.9.0.9")},
         "",
         1},
        {"restores share their factory address, past its stale neighbour entry",
         {restore(2, "0011aabb-00000001", "10.0.0.77", ""),
          restore(3, "0011aabb-00000002", "10.0.0.77", "0.0.0.0"),
          restore(4, "0011aabb-000000ff", "10.0.0.77", "192.168.7.1")},
         "",
         2,
         1},
        {"restores to the address one of them still holds",
         {restore(2, "0011aabb-00000001", "10.0.0.102", ""),
          restore(3, "0011aabb-00000002", "10.0.0.102", "")},
         "",
         2},
        {"a restore's gateway is no address taken for another line",
         {restore(2, "0011aabb-00000001", "10.0.0.101", "10.0.0.31"),
          line(3, "0011aabb-00000002", "", "10.0.0.31")},
         "",
         2},
        {"a restore that cannot be applied is refused alone",
         {restore(2, "0011aabb-00000001", "10.0.0.5", ""),
          restore(3, "0011aabb-00000002", "10.0.0.103", ""),
          restore(4, "0011aabb-00000003", "10.0.0.88", "")},
         "",
         3,
         0,
         3},
        {"a changed MAC: the camera answers with the old or the new one",
         {restore(2, "0011aabb-00000001", "10.0.0.101", "", "02:00:00:00:00:01",
                  "00:1a:2b:3c:4d:01"),
          restore(3, "0011aabb-00000002", "10.0.0.102", "", "00:1a:2b:3c:4d:02",
                  "02:00:00:00:00:02"),
          restore(4, "0011aabb-00000003", "10.0.0.103", "", "02:00:00:00:00:03",
                  "02:00:00:00:00:33")},
         "",
         3,
         0,
         1},
        {"a line refused when read is refused alone",
         {[&] {
             PlanLine l = restore(2, "0011aabb-00000001", "0.0.0.0", "");
             l.refusal = "column ip: not an address";
             return l;
         }()},
         "",
         1,
         0,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProvisioningPlan plan = PlanLines(c.lines, found, around);
        EXPECT_EQ(plan.error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(plan.Ok(), c.error.empty());
        EXPECT_EQ(plan.orders.size(), c.orders);
        EXPECT_EQ(plan.notFound.size(), c.notFound);
        EXPECT_EQ(std::count_if(plan.orders.begin(), plan.orders.end(),
                                [](const AssignOrder& o) { return !o.refusal.empty(); }),
                  static_cast<std::ptrdiff_t>(c.refused));
        // Each order is its line's: a restore stays one, and in the MAC case
        // the camera answering with neither MAC is the one refused.
        for (const AssignOrder& order : plan.orders) {
            const auto own = std::find_if(c.lines.begin(), c.lines.end(), [&](const PlanLine& l) {
                return l.deviceId == order.camera.deviceId ||
                       (l.deviceId.empty() && l.mac == order.camera.mac);
            });
            ASSERT_NE(own, c.lines.end());
            EXPECT_EQ(order.restore, own->restore);
            EXPECT_EQ(order.newMac, own->newMac);
            if (own->newMac == "02:00:00:00:00:33") {
                EXPECT_NE(order.refusal.find("answers with MAC 00:1a:2b:3c:4d:99"),
                          std::string::npos)
                    << order.refusal;
            }
        }
        if (plan.Ok()) {
            std::vector<std::string> unprobed;
            for (const PlanLine& l : c.lines) {
                if (l.ip.starts_with("10.9.")) {
                    unprobed.push_back(l.ip);
                }
            }
            EXPECT_EQ(Texts(plan.unprobed), unprobed);
        }
    }
    // A camera keeping its own address is not probed (it answers there).
    EXPECT_EQ(std::count(probe.asked.begin(), probe.asked.end(), "10.0.0.101"), 0);
}

// A single change passes the checks of a batch: an address held by another
// camera found, this host, a gateway, another run, a neighbour or a live host
// is refused with the holder named; --force (the window's "send anyway")
// sends it; the camera's own address and a DHCP change hold nothing.
TEST(PlanModifyTest, ASingleChangeIsCheckedLikeABatch) {
    const std::vector<FoundCamera> found = {
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "10.0.0.101"),
        Found("0011aabb-00000002", "00:1a:2b:3c:4d:02", "10.0.0.102"),
    };
    FakeProbe probe{{"10.0.0.66", "10.0.0.101"}};
    AssignSurroundings around = Around(probe);
    around.reserved = {ParseIpv4Strict("10.0.0.88").value()};
    struct Case {
        const char* name;
        std::string ip;
        AddressingMode mode;
        bool force;
        std::string error;  // empty: one order
    };
    const AddressingMode kStatic = AddressingMode::Static;
    const std::vector<Case> cases = {
        {"a free address", "10.0.0.31", kStatic, false, ""},
        {"another camera's", "10.0.0.102", kStatic, false,
         "10.0.0.102 is used by a listed camera (0011aabb-00000002)"},
        {"this host", "10.0.0.5", kStatic, false, "10.0.0.5 is used by this host"},
        {"the host's gateway", "10.0.0.254", kStatic, false, "10.0.0.254 is used by a gateway"},
        {"another run's", "10.0.0.88", kStatic, false, "10.0.0.88 is used by another plan or run"},
        {"a neighbour", "10.0.0.77", kStatic, false, "10.0.0.77 is used by the neighbour table"},
        {"a live host", "10.0.0.66", kStatic, false,
         "10.0.0.66 is used by something answered at this address"},
        {"forced onto a live host", "10.0.0.66", kStatic, true, ""},
        {"forced onto another camera's", "10.0.0.102", kStatic, true, ""},
        {"its own address answers for itself", "10.0.0.101", kStatic, false, ""},
        {"DHCP holds no address", "10.0.0.102", AddressingMode::Dhcp, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AssignOrder order;
        order.camera.deviceId = "0011AABB-00000001";
        order.newIp = c.ip;
        order.mask = "255.255.255.0";
        order.gateway = "10.0.0.254";
        order.mode = c.mode;
        const ProvisioningPlan plan = PlanModify(order, found, around, c.force);
        EXPECT_EQ(plan.error, c.error);
        EXPECT_EQ(plan.overridable, !c.error.empty());
        ASSERT_EQ(plan.orders.size(), c.error.empty() ? 1u : 0u);
        if (!plan.orders.empty()) {
            EXPECT_EQ(plan.orders[0].camera.ip, "10.0.0.101");  // what it reported before
            EXPECT_EQ(plan.orders[0].newIp, c.ip);
        }
    }
    AssignOrder missing;
    missing.camera.deviceId = "0011aabb-000000ff";
    missing.newIp = "10.0.0.31";
    EXPECT_EQ(PlanModify(missing, found, around, false).notFound.size(), 1u);
    EXPECT_EQ(probe.calls, 3);  // .31, .66 and .66 forced: the others are known holders
}

// A device ID answered by more than one MAC gets no record from any entry
// point, forced or not, and the reason names every MAC.
TEST(PlanModifyTest, ADeviceIdAnsweredByTwoMacsIsRefusedEverywhere) {
    std::vector<FoundCamera> found = {
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "192.168.1.64"),
        Found("0011aabb-00000002", "00:1a:2b:3c:4d:02", "192.168.1.64"),
    };
    found[0].otherMacs = {"00:1a:2b:3c:4d:aa"};
    FakeProbe probe{{}};
    const AssignSurroundings around = Around(probe);
    const auto modify = [&](bool force) {
        AssignOrder order;
        order.camera.deviceId = "0011aabb-00000001";
        order.newIp = "10.0.0.31";
        order.mask = "255.255.255.0";
        order.gateway = "10.0.0.254";
        const ProvisioningPlan plan = PlanModify(order, found, around, force);
        EXPECT_TRUE(plan.orders.empty());
        EXPECT_FALSE(plan.overridable);
        return plan.error;
    };
    const auto assign = [&](AssignSelection::By by) {
        AssignSelection selection;
        selection.by = by;
        selection.ip = "192.168.1.64";
        selection.ids = {"0011aabb-00000001", "0011aabb-00000002"};
        const ProvisioningPlan plan =
            PlanAssign(found, selection, {"10.0.0.30", "255.255.255.0", "10.0.0.254"}, around);
        // The other camera goes on; the refused one's address stays out.
        EXPECT_EQ(plan.orders.size(), 1u);
        EXPECT_EQ(plan.refused.size(), 1u);
        return plan.refused.empty() ? plan.error : plan.refused[0].reason;
    };
    const auto lines = [&](const std::string& mac) {
        PlanLine line;
        line.line = 2;
        line.deviceId = "0011aabb-00000001";
        line.mac = mac;
        line.ip = "10.0.0.31";
        line.mask = "255.255.255.0";
        line.gateway = "10.0.0.254";
        return PlanLines({line}, found, around).error;
    };
    const std::string reason =
        "the device ID 0011aabb-00000001 is answered by more than one MAC (00:1a:2b:3c:4d:01, "
        "00:1a:2b:3c:4d:aa)";
    for (const std::string& said :
         {modify(false), modify(true), assign(AssignSelection::By::All),
          assign(AssignSelection::By::Ip), assign(AssignSelection::By::Ids), lines(""),
          lines("00:1a:2b:3c:4d:01")}) {
        EXPECT_NE(said.find(reason), std::string::npos) << said;
    }
}

TEST(PlanAssignTest, CamerasGetAddressesByMacThenIdWhateverOrderTheyAnswered) {
    std::vector<FoundCamera> found = {
        Found("0011aabb-00000003", "00:1a:2b:3c:4d:02", "192.168.1.168"),
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:03", "192.168.1.168"),
        Found("0011aabb-00000002", "00:1a:2b:3c:4d:02", "192.168.1.168"),
        Found("0011aabb-00000009", "00:1a:2b:3c:4d:09", "10.0.0.9"),
    };
    AssignSelection selection;
    selection.by = AssignSelection::By::Ip;
    selection.ip = "192.168.1.168";
    const AssignFields fields{"10.0.0.8", "255.255.255.0", "10.0.0.1"};
    std::vector<std::string> mappings;
    for (int turn = 0; turn < 2; ++turn) {
        const ProvisioningPlan plan = PlanAssign(found, selection, fields, {});
        ASSERT_TRUE(plan.Ok()) << plan.error;
        std::string mapping;
        for (const AssignOrder& order : plan.orders) {
            mapping += order.camera.deviceId + "=" + order.newIp + " ";
        }
        mappings.push_back(mapping);
        ASSERT_EQ(plan.skipped.size(), 1u);  // 10.0.0.9, the camera outside the batch
        EXPECT_EQ(FormatIpv4(plan.skipped[0].address), "10.0.0.9");
        EXPECT_STREQ(SkipReasonText(plan.skipped[0].reason), "a listed camera");
        std::reverse(found.begin(), found.end());  // the next search: other arrival order
    }
    EXPECT_EQ(mappings[0],
              "0011aabb-00000002=10.0.0.8 0011aabb-00000003=10.0.0.10 "
              "0011aabb-00000001=10.0.0.11 ");
    EXPECT_EQ(mappings[1], mappings[0]);

    // The dialog plans its rows as they stand: the addresses still go by MAC
    // and device ID, and come back in the rows' order.
    const BatchPlan rows =
        PlanBatch({found[0].camera, found[1].camera, found[2].camera}, fields, {});
    ASSERT_TRUE(rows.Ok()) << rows.error;
    std::string byRow;
    for (std::size_t i = 0; i < 3; ++i) {
        byRow += found[i].camera.deviceId + "=" + rows.newIps[i] + " ";
    }
    EXPECT_EQ(byRow,
              "0011aabb-00000003=10.0.0.9 0011aabb-00000001=10.0.0.10 "
              "0011aabb-00000002=10.0.0.8 ");
}

// The Assign dialog's plan, refusals and counts, as the engine makes them
// for any window: each case one batch and its fields.
AssignCamera Listed(const char* id, const char* mac, const char* ip = "192.168.1.64") {
    return {id, mac, ip, "255.255.255.0", "192.168.1.1", 0};
}

TEST(AssignModelTest, PlansRefusesAloneAndSaysWhy) {
    const std::string zeroMacRule =
        ValidateSettings("", "", "", "00:00:00:00:00:00", AddressingMode::Dhcp)->reason;
    struct Case {
        const char* name;
        AssignFields fields;
        bool busySecond;  // another run holds the second camera
        std::vector<std::string> newIps;
        std::vector<std::string> results;  // the Result column
        std::vector<int> applyRows;
        std::string message;  // a part of it; "" when it must be empty
    };
    const std::vector<Case> cases = {
        {"every camera planned by MAC",
         {"10.0.0.20", "255.255.255.0", "10.0.0.1"},
         false,
         {"10.0.0.21", "", "10.0.0.20"},
         {"", "refused", ""},
         {0, 2},
         "0011aabb-00000002 is refused: " + zeroMacRule},
        {"a camera busy in another run",
         {"10.0.0.20", "255.255.255.0", "10.0.0.1"},
         true,
         {"10.0.0.21", "", "10.0.0.20"},
         {"", "refused", ""},
         {0, 2},
         "0011aabb-00000002 is refused: a change for this camera is still waiting in another run"},
        {"a start that is no address",
         {"10.0.0.300", "255.255.255.0", "10.0.0.1"},
         false,
         {"", "", ""},
         {"", "refused", ""},
         {},
         "Start IP"},
        {"a gateway outside the subnet",
         {"10.0.0.20", "255.255.255.0", "10.9.0.1"},
         false,
         {"", "", ""},
         {"", "refused", ""},
         {},
         "ateway"},
        // Planned, but no record may go: the settings rules want a gateway.
        {"no gateway",
         {"10.0.0.20", "255.255.255.0", ""},
         false,
         {"10.0.0.21", "", "10.0.0.20"},
         {"", "refused", ""},
         {},
         "ateway"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AddressReservations reservations;
        const AddressReservations::Holder other = reservations.NewHolder();
        std::vector<AssignCamera> batch = {
            Listed("0011aabb-00000001", "00:1a:2b:3c:4d:09"),
            Listed("0011aabb-00000002", c.busySecond ? "00:1a:2b:3c:4d:05" : "00:00:00:00:00:00"),
            Listed("0011aabb-00000003", "00:1a:2b:3c:4d:01"),
        };
        if (c.busySecond) {
            ASSERT_TRUE(reservations.ReserveCamera(other, batch[1].deviceId));
        }
        AssignModel model(batch, {}, &reservations);
        model.Replan(c.fields);
        std::vector<std::string> newIps;
        std::vector<std::string> results;
        for (const AssignRow& row : model.Rows()) {
            newIps.push_back(row.newIp);
            results.push_back(CameraResultText(row.result));
        }
        EXPECT_EQ(newIps, c.newIps);
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(model.ApplyRows(), c.applyRows);
        EXPECT_EQ(model.PlanOk(), !c.applyRows.empty());
        EXPECT_NE(model.PlanMessage().find(c.message), std::string::npos) << model.PlanMessage();
        EXPECT_EQ(model.Rows()[1].why,
                  c.busySecond ? ResultReason::CameraBusy : ResultReason::BreaksRule);
        // The plan holds its addresses against other plans while it stands.
        const bool held = reservations.AddressTakenByOther(other, Ip("10.0.0.20"));
        EXPECT_EQ(held, !c.newIps[2].empty());
        model.ReleasePlan();
        EXPECT_FALSE(reservations.AddressTakenByOther(other, Ip("10.0.0.20")));
    }
}

// Checked in the background, a field edit plans at once (the probe waits);
// the probed plan follows, only the latest edit's, and one that lost an
// address to another dialog meanwhile is planned and checked again.
TEST(AssignModelTest, EditsPlanAtOnceAndTheProbedPlanFollows) {
    using namespace std::chrono_literals;
    std::atomic<bool> open{false};  // the probe answers once open
    std::atomic<int> probes{0};
    AssignSurroundings around;
    around.interfaces = {{"eth0", 2, "10.0.0.5", "255.255.255.0", "10.0.0.255"}};
    around.probe = [&](const std::vector<std::uint32_t>& addresses) {
        ++probes;
        for (int i = 0; i < 500 && !open.load(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        std::vector<ProbeAnswer> answers;
        for (std::uint32_t address : addresses) {
            const std::string ip = FormatIpv4(address);
            answers.push_back(ip == "10.0.0.20" || ip == "10.0.0.30" ? ProbeAnswer::Answered
                                                                     : ProbeAnswer::Silent);
        }
        return answers;
    };
    const std::vector<AssignCamera> batch = {Listed("0011aabb-00000001", "00:1a:2b:3c:4d:01"),
                                             Listed("0011aabb-00000002", "00:1a:2b:3c:4d:02")};
    const auto newIps = [](const AssignModel& model) {
        return std::vector<std::string>{model.Rows()[0].newIp, model.Rows()[1].newIp};
    };
    const auto waitFor = [](const std::atomic<int>& wakes, int count) {
        for (int i = 0; i < 500 && wakes.load() < count; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return wakes.load() >= count;
    };
    AddressReservations reservations;
    std::atomic<int> wakes{0};
    AssignModel model(batch, around, &reservations);
    model.CheckPlansInBackground([&] { ++wakes; });

    model.Replan({"10.0.0.10", "255.255.255.0", "10.0.0.1"});
    EXPECT_EQ(newIps(model), (std::vector<std::string>{"10.0.0.10", "10.0.0.11"}));
    EXPECT_FALSE(model.PlanChecked());
    EXPECT_TRUE(model.PlanOk());
    EXPECT_EQ(model.SkippedText(), "Checking that the planned addresses are free…");
    model.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});  // the first check goes stale
    EXPECT_EQ(newIps(model), (std::vector<std::string>{"10.0.0.20", "10.0.0.21"}));
    open = true;
    ASSERT_TRUE(waitFor(wakes, 1));
    EXPECT_TRUE(model.TakeCheckedPlan());
    EXPECT_TRUE(model.PlanChecked());
    EXPECT_EQ(newIps(model), (std::vector<std::string>{"10.0.0.21", "10.0.0.22"}));
    EXPECT_EQ(model.SkippedText(), "Skipped: 10.0.0.20 (something answered at this address)");
    EXPECT_FALSE(reservations.AddressTakenByOther(reservations.NewHolder(), Ip("10.0.0.20")));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(wakes.load(), 1);  // the stale check handed nothing over
    EXPECT_FALSE(model.TakeCheckedPlan());

    // While .30 and .31 are probed, another dialog plans .31 and .32.
    open = false;
    const int before = probes.load();
    model.Replan({"10.0.0.30", "255.255.255.0", "10.0.0.1"});
    ASSERT_TRUE(qdipc::test::WaitUntil([&] { return probes.load() > before; }, 5s));
    const AddressReservations::Holder other = reservations.NewHolder();
    reservations.ReserveAddress(other, Ip("10.0.0.32"));
    open = true;
    ASSERT_TRUE(waitFor(wakes, 2));
    EXPECT_TRUE(model.TakeCheckedPlan());  // .31 and .32 were the plan: again
    EXPECT_FALSE(model.PlanChecked());
    ASSERT_TRUE(waitFor(wakes, 3));
    EXPECT_TRUE(model.TakeCheckedPlan());
    EXPECT_EQ(newIps(model), (std::vector<std::string>{"10.0.0.31", "10.0.0.33"}));
}

TEST(AssignModelTest, CountsRetriesAndExportsByTheResultsNotTheirWords) {
    std::vector<AssignCamera> batch;
    for (const char* id : {"0011aabb-00000001", "0011aabb-00000002", "0011aabb-00000003",
                           "0011aabb-00000004", "0011aabb-00000005"}) {
        batch.push_back(Listed(id, ("00:1a:2b:3c:4d:0" + std::string(1, id[16])).c_str()));
    }
    AssignModel model(batch, {}, nullptr);
    model.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    ASSERT_TRUE(model.PlanOk()) << model.PlanMessage();
    const std::vector<int> rows = model.ApplyRows();
    ASSERT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4}));
    model.RunStarted(rows);
    model.Replan({"10.0.0.100", "255.255.255.0", "10.0.0.1"});  // a started run's plan stays
    EXPECT_EQ(model.Rows()[0].newIp, "10.0.0.20");

    struct Outcome {
        CameraResult result;
        ResultReason why;
        std::string detail;
    };
    // A reason's words that look like another result's must not change the count.
    const std::vector<Outcome> outcomes = {
        {CameraResult::Confirmed, ResultReason::Evidence, "Confirmed: a at 10.0.0.20"},
        {CameraResult::NotConfirmed, ResultReason::Evidence, "confirmed"},
        {CameraResult::Sent, ResultReason::NoWait, ""},
        {CameraResult::Conflict, ResultReason::Evidence, "Conflict: =cmd|' /C calc'!A0"},
        {CameraResult::NotConfirmed, ResultReason::SendFailed, "no route"},
    };
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        ProvisioningCamera camera;
        camera.result = outcomes[i].result;
        camera.why = outcomes[i].why;
        camera.detail = outcomes[i].detail;
        EXPECT_EQ(model.SetRunResult(i, camera), static_cast<int>(i));
    }
    ProvisioningCamera beyond;
    EXPECT_EQ(model.SetRunResult(outcomes.size(), beyond), -1);

    const AssignCounts counts = model.Counts();
    EXPECT_EQ(counts.confirmed, 1);
    EXPECT_EQ(counts.unconfirmed, 1);
    EXPECT_EQ(counts.failed, 3);
    EXPECT_TRUE(counts.retry);
    EXPECT_EQ(model.RetryRows(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(model.FinishedText(), "3 of 5 cameras did not confirm their new address.");
    EXPECT_EQ(model.Rows()[4].reason, "not sent: no route");

    const std::string csv = model.ResultsCsv();
    EXPECT_EQ(csv,
              "dev_id,mac,ip,mask,gateway,mode,old_ip,result,reason\r\n"
              "0011aabb-00000001,00:1a:2b:3c:4d:01,10.0.0.20,255.255.255.0,10.0.0.1,static,"
              "192.168.1.64,confirmed,Confirmed: a at 10.0.0.20\r\n"
              "0011aabb-00000002,00:1a:2b:3c:4d:02,10.0.0.21,255.255.255.0,10.0.0.1,static,"
              "192.168.1.64,not_confirmed,confirmed\r\n"
              "0011aabb-00000003,00:1a:2b:3c:4d:03,10.0.0.22,255.255.255.0,10.0.0.1,static,"
              "192.168.1.64,sent,\"sent, not confirmed (no wait was asked)\"\r\n"
              "0011aabb-00000004,00:1a:2b:3c:4d:04,10.0.0.23,255.255.255.0,10.0.0.1,static,"
              "192.168.1.64,conflict,Conflict: =cmd|' /C calc'!A0\r\n"
              "0011aabb-00000005,00:1a:2b:3c:4d:05,10.0.0.24,255.255.255.0,10.0.0.1,static,"
              "192.168.1.64,not_confirmed,not sent: no route\r\n");

    // Every camera confirmed, or nobody waits: the end says so.
    AssignModel all(std::vector<AssignCamera>(batch.begin(), batch.begin() + 2), {}, nullptr);
    all.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    all.RunStarted(all.ApplyRows());
    ProvisioningCamera confirmed;
    confirmed.result = CameraResult::Confirmed;
    all.SetRunResult(0, confirmed);
    ProvisioningCamera sent;
    sent.result = CameraResult::Sent;
    all.SetRunResult(1, sent);
    EXPECT_EQ(all.FinishedText(), "Every record was sent; confirmation is off.");
    all.SetRunResult(1, confirmed);
    EXPECT_EQ(all.FinishedText(), "Every camera confirmed its new address.");
    EXPECT_FALSE(all.Counts().retry);
}

TEST(AssignModelTest, RunStatesDecideRetryUndoRollbackAndExport) {
    const qdipc::test::TempDir dir;
    const std::vector<AssignCamera> batch = {Listed("0011aabb-00000001", "00:1a:2b:3c:4d:01"),
                                             Listed("0011aabb-00000002", "00:1a:2b:3c:4d:02")};
    AssignModel model(batch, {}, nullptr);
    model.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    model.RunStarted(model.ApplyRows());
    EXPECT_TRUE(model.RunGoing());
    EXPECT_EQ(model.RollbackText(), "");
    // Every record went out: its rollback plan is named, nothing may start yet.
    model.RunStateChanged(false, "", "/s/a.csv", "");
    const std::string prefix = "Rollback plan (qd_ip_search --plan FILE puts the cameras back): ";
    EXPECT_EQ(model.RollbackText(), prefix + "/s/a.csv");
    ProvisioningCamera notConfirmed;
    notConfirmed.result = CameraResult::NotConfirmed;
    ProvisioningCamera confirmed;
    confirmed.result = CameraResult::Confirmed;
    model.SetRunResult(0, notConfirmed);
    model.SetRunResult(1, confirmed);
    EXPECT_FALSE(model.RetryEnabled());
    EXPECT_FALSE(model.UndoEnabled());
    model.RunStateChanged(true, "", "/s/a.csv", "");
    EXPECT_FALSE(model.RunGoing());
    EXPECT_TRUE(model.RetryEnabled());
    EXPECT_TRUE(model.UndoEnabled());
    EXPECT_EQ(model.Message(), "1 of 2 cameras did not confirm their new address.");
    EXPECT_EQ(model.ProgressText(), "1 of 2 confirmed");
    // A retry's plan is added; Undo still reads the first.
    model.RunStarted(model.RetryRows());
    EXPECT_FALSE(model.RetryEnabled());
    model.RunStateChanged(true, "", "/s/b\x1b.csv", "");
    EXPECT_EQ(model.RollbackText(), prefix + "/s/a.csv; /s/b\\x1b.csv");
    EXPECT_EQ(model.PlanUndoRun().message.rfind("Cannot read the rollback plan /s/a.csv ", 0), 0u);
    std::ofstream(dir.Path() / "bad.csv") << "nothing,a,plan,has\n";
    AssignModel other(batch, {}, nullptr);
    other.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    other.RunStarted(other.ApplyRows());
    other.RunStateChanged(true, "", dir.Path() / "bad.csv", "");
    EXPECT_EQ(other.PlanUndoRun().message.rfind("Cannot undo: ", 0), 0u);

    // Export: the CSV whole, or why not.
    const std::filesystem::path out = dir.Path() / "results.csv";
    // Paths shown as every file text is: escaped (a backslash too).
    const auto shown = [](const std::filesystem::path& path) {
        const std::u8string text = path.u8string();
        return qdipc::EscapeControls(std::string(text.begin(), text.end()));
    };
    EXPECT_EQ(model.ExportResults(out), "Results written to " + shown(out));
    std::ifstream written(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), model.ResultsCsv());
    const std::string refused = model.ExportResults(dir.Path());
    EXPECT_EQ(refused.rfind("The results could not be written to " + shown(dir.Path()) + ": ", 0),
              0u)
        << refused;
    EXPECT_EQ(model.Message(), refused);

    // Nothing sent (no rollback plan): the rows may be planned and applied again.
    AssignModel failed(batch, {}, nullptr);
    failed.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    failed.RunStarted(failed.ApplyRows());
    failed.RunStateChanged(true, "the folder is read-only\x1b", {}, "the folder is read-only");
    EXPECT_FALSE(failed.RunEverStarted());
    EXPECT_FALSE(failed.RunGoing());
    EXPECT_EQ(failed.ApplyRows(), (std::vector<int>{0, 1}));
    EXPECT_FALSE(failed.UndoEnabled());
    EXPECT_EQ(failed.Message(),
              "Nothing was sent: the folder is read-only\\x1b. Make the state folder writable and "
              "Apply again.");
    // The next plan says its own words again.
    failed.Replan({"10.0.0.20", "255.255.255.0", "10.0.0.1"});
    EXPECT_EQ(failed.Message(), failed.PlanMessage());

    // The first run's fields are this network's next time, unless edited.
    const std::filesystem::path memory = dir.Path() / "assign-fields";
    const AssignFields prefill{"192.168.1.65", "255.255.255.0", "192.168.1.1"};
    AssignModel first(batch, {}, nullptr);
    EXPECT_EQ(first.RememberFieldsIn(memory, prefill, prefill).start, "192.168.1.65");
    first.Replan({"192.168.1.100", "255.255.255.0", "192.168.1.1"});
    first.RunStarted(first.ApplyRows());
    AssignModel next(batch, {}, nullptr);
    EXPECT_EQ(next.RememberFieldsIn(memory, prefill, prefill).start, "192.168.1.100");
    const AssignFields edited{"192.168.1.7", "255.255.255.0", "192.168.1.1"};
    EXPECT_EQ(next.RememberFieldsIn(memory, prefill, edited).start, "192.168.1.7");
}

TEST(ResultReasonTest, EachCodeHasItsWords) {
    const std::vector<std::tuple<ResultReason, std::string, std::string>> cases = {
        {ResultReason::None, "x", ""},
        {ResultReason::NotFound, "", "did not answer the search"},
        {ResultReason::BreaksRule, "MAC: all zero", "MAC: all zero"},
        {ResultReason::CameraBusy, "", "a change for this camera is still waiting in another run"},
        {ResultReason::NamedTwice, "", "another change for this camera is in the same run"},
        {ResultReason::AddressInOtherRun, "10.0.0.5",
         "10.0.0.5 is planned for another camera in another run"},
        {ResultReason::SendFailed, "", "not sent: the send failed"},
        {ResultReason::SendFailed, "interface gone", "not sent: interface gone"},
        {ResultReason::Stopped, "ignored", "not sent: the run was stopped"},
        {ResultReason::NoWait, "", "sent, not confirmed (no wait was asked)"},
        {ResultReason::Evidence, "Conflict: x", "Conflict: x"},
    };
    for (const auto& [reason, detail, text] : cases) {
        EXPECT_EQ(ResultReasonText(reason, detail), text) << detail;
        EXPECT_EQ(ReasonNotSent(reason),
                  reason == ResultReason::SendFailed || reason == ResultReason::Stopped);
    }
    EXPECT_EQ(NotSentWhy(ResultReason::Stopped, "x"), "the run was stopped");
    EXPECT_EQ(NotSentWhy(ResultReason::SendFailed, ""), "the send failed");
    EXPECT_EQ(NotSentWhy(ResultReason::SendFailed, "no route"), "no route");
}

// Addresses where something answers are skipped with that reason; a block of
// live hosts costs a round or two of probing, not one per camera.
TEST(PlanAssignTest, AddressesThatAnswerAProbeAreSkipped) {
    const std::vector<AssignCamera> batch = {
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "192.168.1.64").camera,
        Found("0011aabb-00000002", "00:1a:2b:3c:4d:02", "192.168.1.64").camera,
    };
    FakeProbe probe{{}};
    for (int host = 10; host <= 60; ++host) {
        probe.live.push_back("10.0.0." + std::to_string(host));
    }
    const BatchPlan plan =
        PlanBatch(batch, {"10.0.0.10", "255.255.255.0", "10.0.0.254"}, Around(probe));
    ASSERT_TRUE(plan.Ok()) << plan.error;
    EXPECT_EQ(plan.newIps, (std::vector<std::string>{"10.0.0.61", "10.0.0.62"}));
    ASSERT_EQ(plan.skipped.size(), 51u);
    for (const SkippedAddress& skipped : plan.skipped) {
        EXPECT_EQ(skipped.reason, SkipReason::Answered) << FormatIpv4(skipped.address);
    }
    EXPECT_STREQ(SkipReasonText(SkipReason::Answered), "something answered at this address");
    EXPECT_EQ(probe.calls, 2);
    EXPECT_TRUE(plan.unprobed.empty());

    // Off every link: planned, and said to be unprobed.
    FakeProbe none{{}};
    const BatchPlan off =
        PlanBatch(batch, {"10.1.0.10", "255.255.255.0", "10.1.0.254"}, Around(none));
    ASSERT_TRUE(off.Ok()) << off.error;
    EXPECT_EQ(Texts(off.unprobed), (std::vector<std::string>{"10.1.0.10", "10.1.0.11"}));
    EXPECT_EQ(UnprobedText(off.unprobed),
              "not probed (on no link of this host): 10.1.0.10, 10.1.0.11");
}

// The Assign dialog proposes the first address nobody answers for above the
// highest one in use in the subnet, not the subnet's first free one; with
// nothing free above it, from the bottom.
TEST(PlanAssignTest, TheProposedStartIsAboveTheHighestAddressInUse) {
    struct Case {
        const char* name;
        std::vector<std::string> others;  // listed cameras outside the batch
        std::vector<std::string> live;    // answer a probe
        std::string gateway;              // the host's
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"above the cameras, past a live host",
         {"10.0.0.20", "10.0.0.91"},
         {"10.0.0.92"},
         "10.0.0.1",
         "10.0.0.93"},
        {"above a batch camera's address and a neighbour", {}, {}, "10.0.0.1", "10.0.0.78"},
        {"a gateway at the top: from the bottom, past live hosts",
         {},
         {"10.0.0.1", "10.0.0.2"},
         "10.0.0.254",
         "10.0.0.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProbe probe{c.live};
        AssignSurroundings around = Around(probe);
        around.otherCameras = c.others;
        around.gatewayOf = [gateway = c.gateway](std::uint32_t) {
            return std::optional<std::string>(gateway);
        };
        if (std::string(c.name).starts_with("a gateway")) {
            around.neighbours.clear();
        }
        AssignCamera camera = Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "10.0.0.64").camera;
        camera.arrivalInterface = 2;
        const AssignFields fields = PrefillAssignFields({camera}, around);
        EXPECT_EQ(fields.start, c.expected);
        EXPECT_EQ(fields.mask, "255.255.255.0");
        EXPECT_EQ(fields.gateway, c.gateway);
    }
}

}  // namespace
}  // namespace qdipc

namespace qdipc {
namespace {

// The Assign dialog's fields per network: recalled by the prefill's network,
// the latest kept, a damaged line passed over, at most 64 networks.
TEST(AssignMemoryTest, RecallsTheLatestFieldsOfTheSameNetworkOnly) {
    const test::TempDir folder;
    const std::filesystem::path file = AssignMemoryFile(folder.Path() / "state");
    const AssignFields lan{"192.168.1.2", "255.255.255.0", "192.168.1.1"};
    const AssignFields lanElsewhere{"192.168.1.77", "255.255.255.0", ""};  // same network
    const AssignFields office{"10.4.0.2", "255.255.0.0", "10.4.0.1"};
    EXPECT_EQ(AssignNetworkKey(lan), "192.168.1.0/255.255.255.0");
    EXPECT_EQ(AssignNetworkKey({"", "255.255.255.0", ""}), "");

    const auto same = [](const AssignFields& a, const AssignFields& b) {
        return a.start == b.start && a.mask == b.mask && a.gateway == b.gateway;
    };
    EXPECT_TRUE(same(RecallAssignFields(file, lan), lan));  // no file yet
    ASSERT_TRUE(
        RememberAssignFields(file, lan, {"192.168.1.100", "255.255.255.0", "192.168.1.254"}));
    ASSERT_TRUE(RememberAssignFields(file, office, {"10.4.9.1", "255.255.0.0", "10.4.0.254"}));
    ASSERT_TRUE(
        RememberAssignFields(file, lan, {"192.168.1.130", "255.255.255.0", "192.168.1.254"}));
    EXPECT_TRUE(same(RecallAssignFields(file, lanElsewhere),
                     {"192.168.1.130", "255.255.255.0", "192.168.1.254"}));
    EXPECT_TRUE(same(RecallAssignFields(file, office), {"10.4.9.1", "255.255.0.0", "10.4.0.254"}));
    EXPECT_TRUE(same(RecallAssignFields(file, {"10.5.0.2", "255.255.0.0", "10.5.0.1"}),
                     {"10.5.0.2", "255.255.0.0", "10.5.0.1"}));
    // A field with a line end is not stored; nothing else changes.
    EXPECT_FALSE(RememberAssignFields(file, office, {"10.4.0.9\n", "255.255.0.0", ""}));
    EXPECT_TRUE(same(RecallAssignFields(file, office), {"10.4.9.1", "255.255.0.0", "10.4.0.254"}));

    // A damaged line is passed over; the one after it still counts.
    {
        std::ofstream out(file, std::ios::app);
        out << "garbage without tabs\n172.16.0.0/255.255.0.0\t172.16.0.9\t255.255.0.0\t\n";
    }
    EXPECT_TRUE(same(RecallAssignFields(file, {"172.16.3.3", "255.255.0.0", "172.16.0.1"}),
                     {"172.16.0.9", "255.255.0.0", ""}));

    // The least recently applied networks go beyond 64.
    for (int n = 0; n < 70; ++n) {
        const std::string start = "10.100." + std::to_string(n) + ".2";
        ASSERT_TRUE(RememberAssignFields(file, {start, "255.255.255.0", ""},
                                         {start, "255.255.255.0", "x"}));
    }
    EXPECT_EQ(RecallAssignFields(file, office).gateway, "10.4.0.1");  // forgotten
    EXPECT_EQ(RecallAssignFields(file, {"10.100.69.7", "255.255.255.0", ""}).gateway, "x");
    EXPECT_EQ(RecallAssignFields(file, {"10.100.6.7", "255.255.255.0", ""}).gateway, "x");
    EXPECT_EQ(RecallAssignFields(file, {"10.100.5.7", "255.255.255.0", ""}).gateway, "");
}

TEST(PlanAssignTest, AnOnvifDevicesAddressIsNoTarget) {
    const std::vector<FoundCamera> found = {
        Found("0011aabb-00000001", "00:1a:2b:3c:4d:01", "192.168.1.168")};
    AssignSelection selection;
    selection.by = AssignSelection::By::All;
    AssignSurroundings around;
    around.otherCameras = {"10.0.0.8"};  // listed beside the cameras, by WS-Discovery
    const ProvisioningPlan plan =
        PlanAssign(found, selection, {"10.0.0.8", "255.255.255.0", "10.0.0.1"}, around);
    ASSERT_TRUE(plan.Ok()) << plan.error;
    ASSERT_EQ(plan.orders.size(), 1u);
    EXPECT_EQ(plan.orders[0].newIp, "10.0.0.9");
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_EQ(FormatIpv4(plan.skipped[0].address), "10.0.0.8");
}

}  // namespace
}  // namespace qdipc
