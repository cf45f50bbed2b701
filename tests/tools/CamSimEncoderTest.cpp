// The simulator's reply encoder against byte vectors written from the reply
// layout, its awkward reply kinds and the camera numbering rule.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/discovery/TestBytes.h"
#include "tools/camsim/ReplyEncoder.h"

namespace {

using qdipc::test::Hex;
using qdipc::test::Put;
using qdipc::test::PutText;

camsim::CameraFields SampleCamera() {
    camsim::CameraFields camera;
    camera.devId = {0x01, 0x02, 0x03, 0x04, 0xA5, 0xB6, 0xC7, 0xD8};
    camera.name = "Lobby";
    camera.ip = "192.168.1.64";
    camera.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    camera.mask = "255.255.255.0";
    camera.gateway = "192.168.1.1";
    camera.webPort = 8080;
    camera.port = 65534;
    camera.hardwareVer = {0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0xFF};
    camera.appVer = "V2.3.1";
    camera.kernelVer = "Linux 3.4";
    return camera;
}

// The sample camera's reply for search ID 0x12345, written field by field at
// the offsets of the layout table.
std::vector<std::uint8_t> SampleReplyBytes() {
    std::vector<std::uint8_t> bytes(380, 0);
    Put(bytes, 0, Hex("D4 ED CB B3"));
    Put(bytes, 23, Hex("01 02 03 04 A5 B6 C7 D8"));
    PutText(bytes, 39, "192.168.1.64");
    Put(bytes, 69, Hex("00 1A 2B 3C 4D 5E"));
    PutText(bytes, 76, "255.255.255.0");
    PutText(bytes, 106, "Lobby");
    Put(bytes, 170, Hex("90 1F"));  // 8080
    Put(bytes, 172, Hex("FE FF"));  // 65534
    Put(bytes, 174, Hex("01 02 03 04 0A 0B 0C FF"));
    PutText(bytes, 206, "V2.3.1");
    Put(bytes, 248, Hex("45 23 01 00"));
    PutText(bytes, 252, "Linux 3.4");
    PutText(bytes, 364, "192.168.1.1");
    return bytes;
}

std::vector<std::uint8_t> ToVector(const camsim::ReplyBytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(CamSimEncoder, ReplyMatchesLayoutBytes) {
    EXPECT_EQ(ToVector(camsim::EncodeReply(SampleCamera(), 0x12345)), SampleReplyBytes());

    // Texts longer than their field keep their terminator inside the field:
    // the name's room is 106..169, the gateway's 364..379.
    camsim::CameraFields camera = SampleCamera();
    camera.name = std::string(70, 'n');
    camera.gateway = std::string(20, 'g');
    std::vector<std::uint8_t> expected = SampleReplyBytes();
    PutText(expected, 106, std::string(63, 'n'));
    expected[169] = 0;
    PutText(expected, 364, std::string(15, 'g'));
    expected[379] = 0;
    EXPECT_EQ(ToVector(camsim::EncodeReply(camera, 0x12345)), expected);
}

TEST(CamSimEncoder, ReplyKindsChangeOnlyWhatTheyName) {
    const std::vector<std::uint8_t> normal = SampleReplyBytes();
    struct Case {
        camsim::ReplyKind kind;
        std::vector<std::uint8_t> expected;
    };
    std::vector<Case> cases;
    cases.push_back({camsim::ReplyKind::Normal, normal});
    {
        std::vector<std::uint8_t> alt = normal;
        Put(alt, 0, Hex("4B 65 6C 6D 6F 72 61 00"));  // "Kelmora" and a zero byte
        cases.push_back({camsim::ReplyKind::AltSignature, alt});
    }
    {
        std::vector<std::uint8_t> wrong = normal;
        Put(wrong, 248, Hex("46 23 01 00"));
        cases.push_back({camsim::ReplyKind::WrongSearchId, wrong});
    }
    {
        std::vector<std::uint8_t> none = normal;
        Put(none, 0, Hex("00 00 00 00 00 00 00 00"));
        cases.push_back({camsim::ReplyKind::NoSignature, none});
    }
    cases.push_back({camsim::ReplyKind::Short,
                     std::vector<std::uint8_t>(normal.begin(), normal.begin() + 300)});
    {
        std::vector<std::uint8_t> overLong = normal;
        overLong.resize(400, 0xEE);
        cases.push_back({camsim::ReplyKind::OverLong, overLong});
    }
    cases.push_back({camsim::ReplyKind::Empty, {}});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(camsim::ReplyKindName(c.kind)));
        const auto datagrams = camsim::BuildReplyDatagrams(SampleCamera(), 0x12345, c.kind);
        ASSERT_EQ(datagrams.size(), 1u);
        EXPECT_EQ(datagrams[0], c.expected);
    }

    // Other lengths on request.
    const camsim::ReplyShape shape{100, 1000};
    EXPECT_EQ(
        camsim::BuildReplyDatagrams(SampleCamera(), 1, camsim::ReplyKind::Short, shape)[0].size(),
        100u);
    EXPECT_EQ(camsim::BuildReplyDatagrams(SampleCamera(), 1, camsim::ReplyKind::OverLong, shape)[0]
                  .size(),
              1000u);
}

TEST(CamSimEncoder, DuplicateIdSendsTwoRepliesSharingOnlyTheDeviceId) {
    const camsim::CameraFields camera = camsim::MakeCamera(7);
    const auto datagrams = camsim::BuildReplyDatagrams(camera, 99, camsim::ReplyKind::DuplicateId);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], ToVector(camsim::EncodeReply(camera, 99)));
    const std::vector<std::uint8_t>& second = datagrams[1];
    ASSERT_EQ(second.size(), 380u);
    EXPECT_EQ(std::vector<std::uint8_t>(second.begin(), second.begin() + 4), Hex("D4 ED CB B3"));
    EXPECT_EQ(std::vector<std::uint8_t>(second.begin() + 23, second.begin() + 31),
              Hex("71 64 73 6d 00 00 00 07"));
    EXPECT_EQ(std::vector<std::uint8_t>(second.begin() + 248, second.begin() + 252),
              Hex("63 00 00 00"));
    // Every other field differs: name, ip, mac, mask, ports, versions, gateway.
    const std::vector<std::pair<std::size_t, std::size_t>> fields = {
        {106, 64}, {39, 30}, {69, 6},   {76, 30},   {170, 2},
        {172, 2},  {174, 8}, {206, 42}, {252, 112}, {364, 16}};
    for (const auto& [offset, width] : fields) {
        SCOPED_TRACE(offset);
        EXPECT_FALSE(std::equal(second.begin() + offset, second.begin() + offset + width,
                                datagrams[0].begin() + offset));
    }
}

TEST(CamSimEncoder, ReplyKindNamesRoundTrip) {
    std::set<std::string_view> names;
    for (const camsim::ReplyKind kind : camsim::kAllReplyKinds) {
        names.insert(camsim::ReplyKindName(kind));
        EXPECT_EQ(camsim::ParseReplyKind(camsim::ReplyKindName(kind)), kind);
    }
    EXPECT_EQ(names.size(), camsim::kAllReplyKinds.size());
    EXPECT_FALSE(camsim::ParseReplyKind("Normal").has_value());
    EXPECT_FALSE(camsim::ParseReplyKind("").has_value());
}

TEST(CamSimCameras, NumberDeterminesEveryField) {
    const camsim::CameraFields camera = camsim::MakeCamera(0x00012345);
    const auto reply = ToVector(camsim::EncodeReply(camera, 0));
    std::vector<std::uint8_t> expected(380, 0);
    Put(expected, 0, Hex("D4 ED CB B3"));
    Put(expected, 23, Hex("71 64 73 6d 00 01 23 45"));
    PutText(expected, 39, "10.1.35.69");
    Put(expected, 69, Hex("02 00 00 01 23 45"));
    PutText(expected, 76, "255.0.0.0");
    PutText(expected, 106, "camsim-74565");
    Put(expected, 170, Hex("75 21"));  // 8000 + 74565 % 1000 = 8565
    Put(expected, 172, Hex("B5 BD"));  // 34000 + 74565 % 30000 = 48565
    Put(expected, 174, Hex("48 57 02 00 00 01 23 45"));
    PutText(expected, 206, "app-2.1.74565");
    PutText(expected, 252, "Linux 3.10.0 camsim #74565");
    PutText(expected, 364, "10.1.35.254");
    EXPECT_EQ(reply, expected);

    // Distinct device IDs, addresses and MACs across a range of numbers.
    std::set<camsim::DevId> ids;
    std::set<std::string> ips;
    std::set<camsim::MacAddress> macs;
    for (std::uint32_t number = 0; number < 70000; number += 7) {
        const camsim::CameraFields c = camsim::MakeCamera(number);
        ids.insert(c.devId);
        ips.insert(c.ip);
        macs.insert(c.mac);
    }
    EXPECT_EQ(ids.size(), 10000u);
    EXPECT_EQ(ips.size(), 10000u);
    EXPECT_EQ(macs.size(), 10000u);
}

}  // namespace
