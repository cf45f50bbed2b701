#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/AddressPlanner.h"
#include "settings/PlanFile.h"

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

}  // namespace
}  // namespace qdipc
