// The simulator's decoder of discovery requests and modify records, written
// against byte vectors from the two layouts, and applying a modify record.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/discovery/TestBytes.h"
#include "tests/tools/HandBuiltDatagrams.h"
#include "tools/camsim/CameraSet.h"
#include "tools/camsim/DatagramDecoder.h"
#include "tools/camsim/ReplyEncoder.h"

namespace {

using camsim::test::ModifyBytes;
using camsim::test::RequestBytes;
using qdipc::test::Hex;
using qdipc::test::Put;
using qdipc::test::PutText;

TEST(CamSimDecoder, DiscoveryRequest) {
    const std::vector<std::uint8_t> bytes = RequestBytes("192.168.1.10", Hex("FF 7F 00 00"));
    ASSERT_EQ(camsim::ClassifyDatagram(bytes.data(), bytes.size()),
              camsim::DatagramKind::DiscoveryRequest);
    const auto request = camsim::DecodeRequest(bytes.data(), bytes.size());
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->type, 2);
    EXPECT_EQ(request->localIp, "192.168.1.10");
    EXPECT_EQ(request->commandPort, 5050);
    EXPECT_EQ(request->searchId, 32767u);
    EXPECT_EQ(camsim::DescribeRequest(*request, "127.0.0.1:4000"),
              "request from 127.0.0.1:4000: searchId 32767, localIp \"192.168.1.10\", "
              "commandPort 5050, type 2");

    // A local address that fills its 30 bytes, followed by a non-zero byte 43,
    // is read no further than its field.
    std::vector<std::uint8_t> full = RequestBytes(std::string(30, '9'), Hex("00 00 00 00"));
    full[43] = 'X';
    const auto fullRequest = camsim::DecodeRequest(full.data(), full.size());
    ASSERT_TRUE(fullRequest.has_value());
    EXPECT_EQ(fullRequest->localIp, std::string(30, '9'));
    EXPECT_EQ(fullRequest->searchId, 0u);
}

TEST(CamSimDecoder, ModifyRecord) {
    const std::vector<std::uint8_t> bytes = ModifyBytes(Hex("71 64 73 6d 00 00 00 02"));
    ASSERT_EQ(camsim::ClassifyDatagram(bytes.data(), bytes.size()),
              camsim::DatagramKind::ModifyRecord);
    const auto record = camsim::DecodeModify(bytes.data(), bytes.size());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->mode, 1);
    EXPECT_EQ(record->devId, (camsim::DevId{0x71, 0x64, 0x73, 0x6d, 0, 0, 0, 2}));
    EXPECT_EQ(record->devIdTail, (camsim::DevId{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(record->ip, "10.9.8.7");
    EXPECT_EQ(record->mask, "255.255.0.0");
    EXPECT_EQ(record->gateway, "10.9.0.1");
    EXPECT_EQ(record->mac, (camsim::MacAddress{0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}));
    EXPECT_EQ(record->stamp, 0x1234u);
    EXPECT_EQ(camsim::DescribeModify(*record, "127.0.0.1:4001"),
              "modify from 127.0.0.1:4001: devId 7164736d-00000002, mode dhcp, ip \"10.9.8.7\", "
              "mask \"255.255.0.0\", gateway \"10.9.0.1\", mac a0:b1:c2:d3:e4:f5, stamp 4660");

    // Texts that fill their 16 bytes end at the field; odd bytes are escaped.
    std::vector<std::uint8_t> full = bytes;
    PutText(full, 29, "1111111111111111");
    PutText(full, 45, "2222222222222222");
    PutText(full, 61, std::string("\xD2\xEC\"\0", 4));
    full[12] = 7;
    const auto fullRecord = camsim::DecodeModify(full.data(), full.size());
    ASSERT_TRUE(fullRecord.has_value());
    EXPECT_EQ(fullRecord->ip, "1111111111111111");
    EXPECT_EQ(fullRecord->mask, "2222222222222222");
    const std::string line = camsim::DescribeModify(*fullRecord, "x");
    EXPECT_NE(line.find("mode unknown(7)"), std::string::npos) << line;
    EXPECT_NE(line.find("gateway \"\\xd2\\xec\\x22\""), std::string::npos) << line;
}

TEST(CamSimDecoder, OtherDatagramsAreNotDecoded) {
    const std::vector<std::uint8_t> request = RequestBytes("1.2.3.4", Hex("01 00 00 00"));
    const std::vector<std::uint8_t> modify = ModifyBytes(Hex("00 00 00 00 00 00 00 01"));
    struct Case {
        std::vector<std::uint8_t> bytes;
        camsim::DatagramKind kind;
    };
    std::vector<Case> cases = {
        {std::vector<std::uint8_t>(request.begin(), request.end() - 1),
         camsim::DatagramKind::MalformedRequest},
        {modify, camsim::DatagramKind::ModifyRecord},
        {std::vector<std::uint8_t>(modify.begin(), modify.begin() + 52),
         camsim::DatagramKind::MalformedModify},
        {Hex("D4 ED CB B3 00"), camsim::DatagramKind::Unknown},
        {Hex("D3 ED CB"), camsim::DatagramKind::Unknown},
        {{}, camsim::DatagramKind::Unknown},
    };
    std::vector<std::uint8_t> longRequest = request;
    longRequest.push_back(0);
    cases.push_back({longRequest, camsim::DatagramKind::MalformedRequest});
    std::vector<std::uint8_t> longModify = modify;
    longModify.push_back(0);
    cases.push_back({longModify, camsim::DatagramKind::MalformedModify});

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Case& c = cases[i];
        EXPECT_EQ(camsim::ClassifyDatagram(c.bytes.data(), c.bytes.size()), c.kind);
        EXPECT_FALSE(camsim::DecodeRequest(c.bytes.data(), c.bytes.size()).has_value());
        EXPECT_EQ(camsim::DecodeModify(c.bytes.data(), c.bytes.size()).has_value(),
                  c.kind == camsim::DatagramKind::ModifyRecord);
    }
    EXPECT_EQ(
        camsim::DescribeOther(camsim::DatagramKind::MalformedRequest, request.data(), 51, "h:1"),
        "ignored 51-byte datagram from h:1 (request signature but not 52 bytes), "
        "first bytes d3 ed cb b3 00 00 00 00");
}

TEST(CamSimCameraSet, ModifyRecordChangesTheAddressedCameraOnly) {
    camsim::CameraSet cameras(3, 100);
    ASSERT_EQ(cameras.Size(), 3u);
    // Camera 1 has number 101 = 0x65.
    const std::vector<std::uint8_t> bytes = ModifyBytes(Hex("71 64 73 6d 00 00 00 65"));
    const auto record = camsim::DecodeModify(bytes.data(), bytes.size());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(cameras.ApplyModify(*record), std::optional<std::size_t>(1));

    // Its next reply carries the new IP, mask, gateway and MAC; the rest stays.
    const camsim::ReplyBytes reply = camsim::EncodeReply(cameras.At(1), 5);
    std::vector<std::uint8_t> expected(380, 0);
    Put(expected, 0, Hex("D4 ED CB B3"));
    Put(expected, 23, Hex("71 64 73 6d 00 00 00 65"));
    PutText(expected, 39, "10.9.8.7");
    Put(expected, 69, Hex("A0 B1 C2 D3 E4 F5"));
    PutText(expected, 76, "255.255.0.0");
    PutText(expected, 106, "camsim-101");
    Put(expected, 170, Hex("A5 1F"));  // 8101
    Put(expected, 172, Hex("35 85"));  // 34101
    Put(expected, 174, Hex("48 57 02 00 00 00 00 65"));
    PutText(expected, 206, "app-2.1.101");
    Put(expected, 248, Hex("05 00 00 00"));
    PutText(expected, 252, "Linux 3.10.0 camsim #101");
    PutText(expected, 364, "10.9.0.1");
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.end()), expected);

    EXPECT_EQ(cameras.At(0).ip, "10.0.0.100");
    EXPECT_EQ(cameras.At(2).ip, "10.0.0.102");

    // A DHCP record (mode 1) with an empty IP keeps the camera's address (its
    // lease); a static one (mode 0) takes the empty text as it is.
    for (const std::uint8_t mode : {1, 0}) {
        std::vector<std::uint8_t> dhcp = ModifyBytes(Hex("71 64 73 6d 00 00 00 66"));
        dhcp[12] = mode;
        std::fill(dhcp.begin() + 29, dhcp.begin() + 45, 0);
        const auto cleared = camsim::DecodeModify(dhcp.data(), dhcp.size());
        ASSERT_TRUE(cleared.has_value());
        cameras.ApplyModify(*cleared);
        EXPECT_EQ(cameras.At(2).ip, mode == 1 ? "10.0.0.102" : "");
        EXPECT_EQ(cameras.At(2).mask, "255.255.0.0");
    }

    // A record for a device ID no camera has changes nothing.
    const std::vector<std::uint8_t> other = ModifyBytes(Hex("71 64 73 6d 00 00 00 66"));
    camsim::CameraSet single(1, 100);
    EXPECT_FALSE(single.ApplyModify(*camsim::DecodeModify(other.data(), other.size())));
    EXPECT_EQ(single.At(0).ip, "10.0.0.100");
    EXPECT_EQ(single.At(0).mac, (camsim::MacAddress{0x02, 0x00, 0, 0, 0, 0x64}));
}

}  // namespace
