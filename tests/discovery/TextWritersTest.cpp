// The core's one CSV writer, one lower-casing and one prefix length.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ListOutput.h"

namespace qdipc {
namespace {

TEST(CsvWriterTest, EachCellIsFormulaSafeEscapedAndQuotedOnlyWhenItMustBe) {
    struct Case {
        std::string cell;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"plain", "plain"},
        {"", ""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\\x09x"},
        {"\rx", "'\\x0dx"},
        {"a=b", "a=b"},  // only a leading sign is a formula
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"line\r\nbreak", "line\\x0d\\x0abreak"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
        {"back\\slash", "back\\\\slash"},
        {"\xff", "\\xff"},
        {"'quoted'", "'quoted'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CsvCell(c.cell), c.written) << c.cell;
    }
    EXPECT_EQ(CsvLine({"a", "-b", "c,d", ""}), "a,'-b,\"c,d\",\r\n");
    EXPECT_EQ(CsvLine({}), "\r\n");
}

TEST(LowerAsciiTest, OnlyAsciiLetters) {
    const std::string mixed = "AbCdEF-0123:Z\xC3\x89\xC4\xB0@[`{";
    const std::string lower = "abcdef-0123:z\xC3\x89\xC4\xB0@[`{";
    EXPECT_EQ(LowerAscii(mixed), lower);
}

TEST(MaskPrefixLengthTest, ContiguousMasksOnly) {
    struct Case {
        std::uint32_t mask;
        std::optional<int> prefix;
    };
    const std::vector<Case> cases = {
        {0x00000000u, 0},
        {0x80000000u, 1},
        {0xFF000000u, 8},
        {0xFFFFFF00u, 24},
        {0xFFFFFFFCu, 30},
        {0xFFFFFFFEu, 31},
        {0xFFFFFFFFu, 32},
        {0xFF00FF00u, std::nullopt},
        {0x00FFFFFFu, std::nullopt},
        {0xFFFFFF01u, std::nullopt},
        {0x7FFFFFFFu, std::nullopt},
        {0xFFFEFFFFu, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MaskPrefixLength(c.mask), c.prefix) << std::hex << c.mask;
    }
}

}  // namespace
}  // namespace qdipc
