#include "discovery/ReplyCells.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/discovery/TestBytes.h"

namespace qdipc {
namespace {

using test::Hex;
using test::Put;
using test::PutText;

TEST(ReplyCellsTest, ColumnTitlesInOrder) {
    const std::vector<std::string> expected = {"NO.",        "Dev ID", "Name",     "IP",
                                               "Port",       "MAC",    "App Ver",  "Hardware Ver",
                                               "Kernel Ver", "Mask",   "Web Port", "Gateway"};
    ASSERT_EQ(kColumnTitles.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(kColumnTitles[i], expected[i]);
}

TEST(ReplyCellsTest, TwelveCellsFromTheFields) {
    std::vector<std::uint8_t> buffer(380, 0);
    Put(buffer, 0, Hex("D4 ED CB B3"));
    Put(buffer, 4, std::vector<std::uint8_t>(19, 0xEE));  // not interpreted
    Put(buffer, 23, Hex("0A 00 FF 10 01 02 03 04"));
    Put(buffer, 31, std::vector<std::uint8_t>(8, 0xEE));
    PutText(buffer, 39, "192.168.1.10");
    Put(buffer, 69, Hex("00 1A 2B 3C 4D 5E"));
    Put(buffer, 75, Hex("EE"));
    PutText(buffer, 76, "255.255.255.0");
    PutText(buffer, 106, "cam-\xC7\xB0\xC3\xC5");  // GBK bytes pass through unchanged
    Put(buffer, 170, Hex("FF FF"));                // web port
    Put(buffer, 172, Hex("BA 13"));                // port
    Put(buffer, 174, Hex("00 00 00 00 00 00 00 00"));
    Put(buffer, 182, std::vector<std::uint8_t>(24, 0xEE));
    PutText(buffer, 206, "V2.1.0");
    Put(buffer, 248, Hex("07 00 00 00"));
    PutText(buffer, 252, "Linux 3.10");
    PutText(buffer, 364, "192.168.1.1");

    const auto cells = ReplyCellTexts(DeviceInfoReply(buffer.data(), buffer.size()), 3);
    const std::array<std::string, 12> expected = {"3",
                                                  "0a00ff10-01020304",
                                                  "cam-\xC7\xB0\xC3\xC5",
                                                  "192.168.1.10",
                                                  "5050",
                                                  "00:1a:2b:3c:4d:5e",
                                                  "V2.1.0",
                                                  "00:00:00:00:00:00:00:00",
                                                  "Linux 3.10",
                                                  "255.255.255.0",
                                                  "65535",
                                                  "192.168.1.1"};
    EXPECT_EQ(cells, expected);
}

TEST(ReplyCellsTest, EmptyFieldsAndLargeNumbers) {
    std::vector<std::uint8_t> buffer(380, 0);
    Put(buffer, 0, Hex("4B 65 6C 6D 6F 72 61 00"));
    const auto cells = ReplyCellTexts(DeviceInfoReply(buffer.data(), buffer.size()), 12345);
    EXPECT_EQ(cells[0], "12345");
    EXPECT_EQ(cells[1], "00000000-00000000");
    for (int column : {2, 3, 6, 8, 9, 11})
        EXPECT_EQ(cells[column], "") << column;
    EXPECT_EQ(cells[4], "0");
    EXPECT_EQ(cells[10], "0");
    EXPECT_EQ(cells[5], "00:00:00:00:00:00");
    EXPECT_EQ(cells[7], "00:00:00:00:00:00:00:00");

    Put(buffer, 172, Hex("00 80"));
    Put(buffer, 170, Hex("01 00"));
    PutText(buffer, 364, "255.255.255.255X");  // 16 characters, no zero
    const auto more = ReplyCellTexts(DeviceInfoReply(buffer.data(), buffer.size()), 0);
    EXPECT_EQ(more[0], "0");
    EXPECT_EQ(more[4], "32768");
    EXPECT_EQ(more[10], "1");
    EXPECT_EQ(more[11], "255.255.255.255X");
}

}  // namespace
}  // namespace qdipc
