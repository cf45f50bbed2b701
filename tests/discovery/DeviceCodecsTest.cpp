#include "discovery/DeviceCodecs.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tests/discovery/TestBytes.h"

namespace qdipc {
namespace {

using test::Hex;

TEST(HexDigitValueTest, DigitsOfBothCasesAndEverythingElse) {
    const std::string digits = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(HexDigitValue(digits[static_cast<std::size_t>(i)]), i);
    }
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('f'), 15);
    for (char c : {'g', 'G', '-', ':', ' ', '\0', 'z', '/', '@', '`'}) {
        EXPECT_EQ(HexDigitValue(c), 0) << static_cast<int>(c);
    }
    EXPECT_EQ(HexDigitValue(static_cast<char>(0xE6)), 0);
}

TEST(FormatterTest, PairsAndSeparators) {
    struct Case {
        std::string hex;
        std::string deviceId;
        std::string hardwareVer;
    };
    const std::vector<Case> cases = {
        {"00 11 AA BB 00 00 FF 01", "0011aabb-0000ff01", "00:11:aa:bb:00:00:ff:01"},
        {"0A 00 FF 10 01 02 03 04", "0a00ff10-01020304", "0a:00:ff:10:01:02:03:04"},
        {"01 02 03 04 0A 0B 0C FF", "01020304-0a0b0cff", "01:02:03:04:0a:0b:0c:ff"},
        {"00 00 00 00 00 00 00 00", "00000000-00000000", "00:00:00:00:00:00:00:00"},
        {"FF FF FF FF FF FF FF FF", "ffffffff-ffffffff", "ff:ff:ff:ff:ff:ff:ff:ff"},
    };
    for (const Case& c : cases) {
        const auto bytes = Hex(c.hex);
        EXPECT_EQ(FormatDeviceId(bytes.data()), c.deviceId);
        EXPECT_EQ(FormatHardwareVer(bytes.data()), c.hardwareVer);
    }
    EXPECT_EQ(FormatMac(Hex("00 1A 2B 3C 4D 5E").data()), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(FormatMac(Hex("F0 0F 09 90 A0 0A").data()), "f0:0f:09:90:a0:0a");
}

TEST(ParseDeviceIdTest, ReadsPositionsZeroToSixteen) {
    const auto expected = Hex("00 11 AA BB 00 00 FF 01");
    for (const char* text : {"0011aabb-0000ff01", "0011AABB-0000FF01", "0011aabb:0000ff01"}) {
        std::array<std::uint8_t, 8> out{};
        EXPECT_EQ(ParseDeviceId(text, out.data()), 0);
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), expected) << text;
    }
    // A letter beyond f reads as 0 for that digit.
    std::array<std::uint8_t, 8> out{};
    ParseDeviceId("z111aabb-0000ff01", out.data());
    EXPECT_EQ(out[0], 0x01);
    // Positions past a short text in a zero-filled buffer read as 0.
    char buffer[32] = {};
    std::strcpy(buffer, "0a00ff10-01");
    ParseDeviceId(buffer, out.data());
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), Hex("0A 00 FF 10 01 00 00 00"));
}

TEST(ParseDeviceIdTest, MissingTextOrRoomWritesNothing) {
    std::array<std::uint8_t, 8> out;
    out.fill(0x5A);
    EXPECT_EQ(ParseDeviceId(nullptr, out.data()), -1);
    EXPECT_EQ(ParseDeviceId("0011aabb-0000ff01", nullptr), -1);
    for (auto b : out)
        EXPECT_EQ(b, 0x5A);
}

TEST(ParseMacTest, FieldsSeparatorsAndMissingParts) {
    struct Case {
        const char* text;
        const char* bytes;
    };
    const std::vector<Case> cases = {
        {"00:1a:2b:3c:4d:5e", "00 1A 2B 3C 4D 5E"},
        {"00-1A-2B-3C-4D-5E", "00 1A 2B 3C 4D 5E"},
        {"0:1a:2b:3c:4d:5e", "00 1A 2B 3C 4D 5E"},
        {"00 1a.2b/3c|4d_5e", "00 1A 2B 3C 4D 5E"},
        {"1:2:3:4:5:6", "01 02 03 04 05 06"},
        {"00:1a:2b", "00 1A 2B 00 00 00"},
        {"123", "23 00 00 00 00 00"},
        {"001a2b3c4d5e", "5E 00 00 00 00 00"},
        {"", "00 00 00 00 00 00"},
        {"00::1a:2b:3c:4d", "00 00 1A 2B 3C 4D"},
        {"01:02:03:04:05:06:07:08", "01 02 03 04 05 06"},
        {"0x1f:2", "00 1F 02 00 00 00"},  // "0", skip "x", "1f", "2"
        {"gg:1", "00 00 00 01 00 00"},    // "g", "g" and ":" are three empty fields
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 6> out;
        out.fill(0x77);
        EXPECT_EQ(ParseMac(c.text, out.data()), 0);
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), Hex(c.bytes)) << c.text;
    }
}

TEST(ParseMacTest, MissingTextOrRoomWritesNothing) {
    std::array<std::uint8_t, 6> out;
    out.fill(0x5A);
    EXPECT_EQ(ParseMac(nullptr, out.data()), -1);
    EXPECT_EQ(ParseMac("00:1a:2b:3c:4d:5e", nullptr), -1);
    for (auto b : out)
        EXPECT_EQ(b, 0x5A);
}

TEST(ParseUnsignedTest, RadixDigitsStopPositionAndWrapAround) {
    struct Case {
        const char* text;
        int radix;
        std::int32_t value;
        std::ptrdiff_t stop;
    };
    const std::vector<Case> cases = {
        {"1f", 16, 0x1F, 2},
        {"1F:", 16, 0x1F, 2},
        {"0x1f", 16, 0, 1},
        {"", 16, 0, 0},
        {"-5", 10, 0, 0},
        {" 5", 10, 0, 0},
        {"789", 8, 7, 1},
        {"zz", 36, 35 * 36 + 35, 2},
        {"Zz", 36, 35 * 36 + 35, 2},
        {"12", 37, 0, 0},
        {"101", 2, 5, 3},
        {"102", 2, 2, 2},
        {"ffffffff", 16, -1, 8},
        {"100000000", 16, 0, 9},
        {"4294967297", 10, 1, 10},
        {"\xE6\x96", 36, 0, 0},
    };
    for (const Case& c : cases) {
        const char* stop = nullptr;
        EXPECT_EQ(ParseUnsigned(c.text, c.radix, &stop), c.value) << c.text << " r" << c.radix;
        EXPECT_EQ(stop - c.text, c.stop) << c.text << " r" << c.radix;
        EXPECT_EQ(ParseUnsigned(c.text, c.radix), c.value);
    }
}

// One strict and one lenient parser per kind of text: each case gives what
// the strict one and the lenient one read (0 for "no").
TEST(TextParsersTest, StrictAndLenientAddresses) {
    struct Case {
        const char* text;
        std::uint32_t strict;
        std::uint32_t lenient;
    };
    const Case cases[] = {
        {"192.168.1.64", 0xC0A80140u, 0xC0A80140u},
        {"255.255.255.255", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"010.001.1.1", 0, 0x0A010101u},
        {"10.0.0.00", 0, 0x0A000000u},
        {"10.9.0.5:1@10.9.0.6", 0, 0},
        {"256.1.1.1", 0, 0},
        {"1.2.3.0004", 0, 0},
        {"1.2.3", 0, 0},
        {"1.2.3.4.", 0, 0},
        {" 1.2.3.4", 0, 0},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIpv4Strict(c.text).value_or(0), c.strict) << c.text;
        EXPECT_EQ(ParseIpv4Lenient(c.text).value_or(0), c.lenient) << c.text;
    }
}

TEST(TextParsersTest, StrictDeviceIdsAndMacs) {
    const std::array<std::uint8_t, 8> id = {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01};
    EXPECT_EQ(ParseDeviceIdStrict("0011aabb-0000ff01"), id);
    EXPECT_EQ(ParseDeviceIdStrict("0011AABB-0000FF01"), id);
    for (const char* bad :
         {"0011aabb-0000ff0", "0011aabb-0000ff011", "0011aabb:0000ff01", "0011aabg-0000ff01",
          "0011aabb0000ff01-", " 011aabb-0000ff01", "00112233aabbccdd-0011223344556677"}) {
        EXPECT_FALSE(ParseDeviceIdStrict(bad).has_value()) << bad;
    }
    const std::array<std::uint8_t, 6> mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(ParseMacStrict("00:1a:2b:3c:4d:5e"), mac);
    EXPECT_EQ(ParseMacStrict("00-1A-2B-3C-4D-5E"), mac);
    for (const char* bad : {"1:2:3:4:5:6", "00:1a-2b:3c:4d:5e", "00:1a:2b:3c:4d:5g",
                            "00:1a:2b:3c:4d:5e:", "001a2b3c4d5e", "00 1a 2b 3c 4d 5e"}) {
        EXPECT_FALSE(ParseMacStrict(bad).has_value()) << bad;
    }
    // The lenient MAC parser still reads what the strict one refuses.
    std::vector<std::uint8_t> bytes(6);
    ParseMac("1:2:3:4:5:6", bytes.data());
    EXPECT_EQ(bytes, Hex("010203040506"));
}

}  // namespace
}  // namespace qdipc
