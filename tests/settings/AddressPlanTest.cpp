#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AddressPlanner.h"
#include "settings/BatchAssign.h"
#include "settings/PlanFile.h"
#include "settings/ProvisioningSession.h"

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
    around.otherCameras = {"10.0.0.66"};  // an ONVIF device's address
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
    struct Case {
        const char* name;
        std::vector<PlanLine> lines;
        std::string error;  // the start of it; empty: planned
        std::size_t orders = 0;
        std::size_t notFound = 0;
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
         {line(2, "0011aabb-00000001", "", "10.0.0.66")},
         "line 2, column ip: 10.0.0.66 is taken by a listed camera"},
        {"another run's address",
         {line(2, "0011aabb-00000001", "", "10.0.0.88")},
         "line 2, column ip: 10.0.0.88 is taken by another plan or run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProvisioningPlan plan = PlanLines(c.lines, found, around);
        EXPECT_EQ(plan.error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(plan.Ok(), c.error.empty());
        EXPECT_EQ(plan.orders.size(), c.orders);
        EXPECT_EQ(plan.notFound.size(), c.notFound);
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
