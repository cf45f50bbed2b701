#include "discovery/ErrorLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/discovery/TempDir.h"

namespace qdipc {
namespace {

using test::ReadFile;
using test::TempDir;

std::string TimeStamp(std::int64_t utcSeconds) {
    const std::string entry = FormatErrorLogEntry(utcSeconds, 1, "x", 2);
    return entry.substr(0, entry.find("file:"));
}

TEST(ErrorLogFormatTest, TimeStampsInUtcPlus8WithRollOver) {
    struct Case {
        std::int64_t utcSeconds;
        const char* stamp;
    };
    const Case cases[] = {
        {1767198605, "2026-1-1 0:30:5 "},  // 16:30:05 UTC, 31 Dec 2025
        {1772334245, "2026-3-1 11:4:5 "},  // 03:04:05 UTC, 1 Mar 2026
        {0, "1970-1-1 8:0:0 "},
        {1709136000, "2024-2-29 0:0:0 "},  // leap year
        {951753600, "2000-2-29 0:0:0 "},   // leap century
        {4107513600, "2100-3-1 0:0:0 "},   // century that is no leap year
        {-28801, "1969-12-31 23:59:59 "},
        {-2203919999, "1900-3-1 0:0:1 "},
        {2147483648, "2038-1-19 11:14:8 "},  // past 32-bit time
        {253402271999, "9999-12-31 23:59:59 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimeStamp(c.utcSeconds), c.stamp) << c.utcSeconds;
}

TEST(ErrorLogFormatTest, BodiesOfTheThreeEntries) {
    EXPECT_EQ(
        FormatErrorLogEntry(1767198605, 525, "Bind socket 8089 failed", 11111),
        "2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:525,[Bind socket 8089 failed][11111]\n");
    EXPECT_EQ(FormatErrorLogEntry(0, log_entry::kNoSignatureLine, log_entry::kNoSignatureText,
                                  log_entry::kNoSignatureCode),
              "1970-1-1 8:0:0 file:app\\CSearchDlg.cpp,line:575,"
              "[recv discover not match qd massage][111111]\n");
    // The exception text: 16 ASCII characters and the four GBK bytes D2 EC B3 A3.
    const std::string entry = FormatErrorLogEntry(
        0, log_entry::kExceptionLine, log_entry::kExceptionText, log_entry::kExceptionCode);
    const std::string expected = std::string("1970-1-1 8:0:0 file:app\\CSearchDlg.cpp,line:587,[") +
                                 "RecvSearchThread" + "\xD2\xEC\xB3\xA3" + "][219]\n";
    EXPECT_EQ(entry, expected);
}

TEST(ErrorLogTest, AppendsLinesToTheFileInTheGivenDirectory) {
    TempDir dir;
    std::int64_t now = 1767198605;
    ErrorLog log(dir.Path(), [&now] { return now; });
    EXPECT_EQ(log.FilePath(), dir.Path() / "QDIPC_Error.log");
    log.AppendErrorLog(525, "Bind socket 8089 failed", 11111);
    now = 1772334245;
    log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    // Written in text mode: each line ends in the platform's line end.
    const std::string eol = test::kTextLineEnd;
    EXPECT_EQ(ReadFile(log.FilePath()),
              "2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:525,[Bind socket 8089 failed][11111]" +
                  eol +
                  "2026-3-1 11:4:5 file:app\\CSearchDlg.cpp,line:575,"
                  "[recv discover not match qd massage][111111]" +
                  eol);

    // An existing file is appended to, never truncated.
    ErrorLog again(dir.Path(), [] { return std::int64_t{0}; });
    again.AppendErrorLog(587, log_entry::kExceptionText, 219);
    const std::string content = ReadFile(log.FilePath());
    EXPECT_EQ(content.rfind("1970-1-1 8:0:0 ", std::string::npos),
              content.size() - (std::string("1970-1-1 8:0:0 file:app\\CSearchDlg.cpp,line:587,"
                                            "[RecvSearchThread\xD2\xEC\xB3\xA3][219]") +
                                eol)
                                   .size());
}

TEST(ErrorLogTest, DefaultsToTheCurrentDirectory) {
    ErrorLog log;
    EXPECT_EQ(log.FilePath(), std::filesystem::path("QDIPC_Error.log"));
}

TEST(ErrorLogTest, UnopenableFileDropsTheEntry) {
    TempDir dir;
    // A regular file where the directory should be: no one can create the
    // log below it, not even a privileged user.
    const auto blocker = dir.Path() / "not-a-directory";
    std::ofstream(blocker) << "x";
    ErrorLog log(blocker, [] { return std::int64_t{0}; });
    log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    EXPECT_FALSE(std::filesystem::exists(log.FilePath()));
    EXPECT_EQ(ReadFile(blocker), "x");
}

}  // namespace
}  // namespace qdipc
