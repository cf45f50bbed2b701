#include "discovery/DiscoveryDatagrams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/discovery/TestBytes.h"

namespace qdipc {
namespace {

using test::Hex;
using test::Put;
using test::PutText;

std::vector<std::uint8_t> AsVector(const DiscoveryRequest& request) {
    return {request.begin(), request.end()};
}

TEST(DiscoveryRequestTest, BytesForSearchIdsZeroAndMax) {
    // magic, 8 reserved, 2, "192.168.1.100" in 30 bytes, 0, BA 13, 00 00, search ID.
    const auto expectedZero = Hex(
        "D3 ED CB B3  00 00 00 00 00 00 00 00  02"
        " 31 39 32 2E 31 36 38 2E 31 2E 31 30 30 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        " 00  BA 13  00 00  00 00 00 00");
    ASSERT_EQ(expectedZero.size(), 52u);
    EXPECT_EQ(AsVector(BuildDiscoveryRequest(0, "192.168.1.100")), expectedZero);

    auto expectedMax = expectedZero;
    Put(expectedMax, 48, Hex("FF 7F 00 00"));
    EXPECT_EQ(AsVector(BuildDiscoveryRequest(32767, "192.168.1.100")), expectedMax);

    auto expectedMixed = expectedZero;
    Put(expectedMixed, 48, Hex("34 12 00 00"));
    EXPECT_EQ(AsVector(BuildDiscoveryRequest(0x1234, "192.168.1.100")), expectedMixed);
}

TEST(DiscoveryRequestTest, LongestAddressAndOverlongText) {
    const auto expected = Hex(
        "D3 ED CB B3  00 00 00 00 00 00 00 00  02"
        " 32 35 35 2E 32 35 35 2E 32 35 35 2E 32 35 35 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
        " 00  BA 13  00 00  07 00 00 00");
    ASSERT_EQ(expected.size(), 52u);
    EXPECT_EQ(AsVector(BuildDiscoveryRequest(7, "255.255.255.255")), expected);

    // Text beyond 30 bytes is cut there; byte 43 stays zero.
    const std::string longText(40, 'x');
    const auto request = BuildDiscoveryRequest(0, longText);
    for (std::size_t i = 13; i < 43; ++i)
        EXPECT_EQ(request[i], 'x') << i;
    EXPECT_EQ(request[43], 0);
    EXPECT_EQ(request[44], 0xBA);
    EXPECT_EQ(request[45], 0x13);

    // An empty address leaves the field zero.
    const auto empty = BuildDiscoveryRequest(0, "");
    for (std::size_t i = 13; i < 44; ++i)
        EXPECT_EQ(empty[i], 0) << i;
}

std::vector<std::uint8_t> ReplyWithMagic(const std::vector<std::uint8_t>& head) {
    std::vector<std::uint8_t> buffer(380, 0);
    Put(buffer, 0, head);
    return buffer;
}

TEST(ReplySignatureTest, BothSignaturesAndNearMisses) {
    struct Case {
        std::vector<std::uint8_t> head;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {Hex("D4 ED CB B3 00 00 00 00"), true},
        {Hex("D4 ED CB B3 FF FF FF FF"), true},
        {Hex("D4 ED CB B3 4B 65 6C 6D"), true},
        {Hex("4B 65 6C 6D 6F 72 61 00"), true},   // "Kelmora" and a zero
        {Hex("4B 65 6C 6D 6F 72 61 20"), false},  // "Kelmora" and a space
        {Hex("4B 65 6C 6D 6F 72 61 61"), false},
        {Hex("4B 65 6C 6D 6F 72 00 00"), false},  // "Kelmor"
        {Hex("6B 65 6C 6D 6F 72 61 00"), false},  // "kelmora"
        {Hex("D3 ED CB B3 00 00 00 00"), false},  // the request's magic
        {Hex("D4 ED CB B2 00 00 00 00"), false},
        {Hex("B3 CB ED D4 00 00 00 00"), false},
        {Hex("00 00 00 00 00 00 00 00"), false},
    };
    for (const Case& c : cases) {
        const auto buffer = ReplyWithMagic(c.head);
        EXPECT_EQ(HasReplySignature(buffer.data()), c.accepted);
        EXPECT_EQ(DeviceInfoReply(buffer.data(), buffer.size()).HasSignature(), c.accepted);
    }
}

TEST(ReplyFieldsTest, SearchIdAndPortsAreUnsignedLittleEndian) {
    std::vector<std::uint8_t> buffer(380, 0);
    Put(buffer, 248, Hex("FF 7F 00 00"));
    Put(buffer, 170, Hex("FF FF"));
    Put(buffer, 172, Hex("BA 13"));
    const DeviceInfoReply reply(buffer.data(), buffer.size());
    EXPECT_EQ(reply.SearchId(), 32767u);
    EXPECT_EQ(ReadReplySearchId(buffer.data()), 32767u);
    EXPECT_EQ(reply.U16(170), 65535);
    EXPECT_EQ(reply.U16(172), 5050);

    Put(buffer, 248, Hex("01 02 03 84"));
    EXPECT_EQ(ReadReplySearchId(buffer.data()), 0x84030201u);
}

TEST(ReplyFieldsTest, ShortDatagramReadsMissingBytesAsZero) {
    // 250 bytes: the search ID's last two bytes, the kernel version and the
    // gateway are missing.
    std::vector<std::uint8_t> datagram(250, 0x41);
    Put(datagram, 0, Hex("D4 ED CB B3"));
    Put(datagram, 248, Hex("39 30"));  // 0x3039 = 12345
    const DeviceInfoReply reply(datagram.data(), datagram.size());
    EXPECT_TRUE(reply.HasSignature());
    EXPECT_EQ(reply.SearchId(), 12345u);
    EXPECT_EQ(reply.Text(252), "");
    EXPECT_EQ(reply.Text(364), "");
    // A text that runs to the end of the datagram stops there.
    EXPECT_EQ(reply.Text(206), std::string(42, 'A') + "90");

    const DeviceInfoReply empty(datagram.data(), 0);
    EXPECT_FALSE(empty.HasSignature());
    EXPECT_EQ(empty.SearchId(), 0u);
    EXPECT_EQ(empty.Text(39), "");
}

TEST(ReplyFieldsTest, OverlongDatagramKeepsOnly380Bytes) {
    std::vector<std::uint8_t> datagram(400, 0x47);  // 'G' everywhere
    const DeviceInfoReply reply(datagram.data(), datagram.size());
    EXPECT_EQ(reply.Text(364), std::string(16, 'G'));
    for (std::size_t i = 380; i < DeviceInfoReply::kBufferSize; ++i)
        EXPECT_EQ(reply.Data()[i], 0);
}

TEST(ReplyFieldsTest, TextsRunOnUntilTheNextZero) {
    std::vector<std::uint8_t> buffer(380, 0);
    // 64-character name with no zero, then webPort 50 00 -> 'P' and a zero.
    PutText(buffer, 106, std::string(64, 'n'));
    Put(buffer, 170, Hex("50 00"));
    Put(buffer, 172, Hex("51 52"));
    // 16-character gateway ends the datagram.
    PutText(buffer, 364, "192.168.100.254X");
    PutText(buffer, 39, "10.0.0.7");
    PutText(buffer, 76, "255.255.255.0");
    const DeviceInfoReply reply(buffer.data(), buffer.size());
    EXPECT_EQ(reply.Text(106), std::string(64, 'n') + "P");
    EXPECT_EQ(reply.Text(364), "192.168.100.254X");
    EXPECT_EQ(reply.Text(39), "10.0.0.7");
    EXPECT_EQ(reply.Text(76), "255.255.255.0");

    // Without the zero in webPort the name runs on through port and beyond.
    Put(buffer, 170, Hex("50 51"));
    Put(buffer, 174, Hex("53 00"));
    const DeviceInfoReply runOn(buffer.data(), buffer.size());
    EXPECT_EQ(runOn.Text(106), std::string(64, 'n') + "PQQRS");
}

}  // namespace
}  // namespace qdipc
