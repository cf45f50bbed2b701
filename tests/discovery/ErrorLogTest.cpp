#include "discovery/ErrorLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/discovery/TempDir.h"

namespace qdipc {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr auto kWait = std::chrono::seconds(20);  // catches a hang only

const std::string kLine575At2026 =
    std::string(
        "2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:575,[recv discover not match qd "
        "massage][111111]") +
    test::kTextLineEnd;

// A steady clock that moves only when told.
struct ManualClock {
    std::atomic<std::int64_t> nanoseconds{0};
    SteadyClock Source() {
        return [this] {
            return std::chrono::steady_clock::time_point(
                std::chrono::nanoseconds(nanoseconds.load()));
        };
    }
    void Advance(std::chrono::milliseconds by) {
        nanoseconds += std::chrono::nanoseconds(by).count();
    }
};

std::size_t CountLines(const std::string& text, const std::string& line, bool* allEqual) {
    std::size_t count = 0;
    *allEqual = true;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        *allEqual = *allEqual && text.compare(at, next - at, line) == 0;
        ++count;
        at = next;
    }
    return count;
}

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
    ASSERT_TRUE(log.WaitIdle(kWait));
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
    ASSERT_TRUE(again.WaitIdle(kWait));
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
    ASSERT_TRUE(log.WaitIdle(kWait));
    EXPECT_FALSE(std::filesystem::exists(log.FilePath()));
    EXPECT_EQ(ReadFile(blocker), "x");
    EXPECT_EQ(log.Counts().unwritten, 1u);
    EXPECT_EQ(log.Counts().written, 0u);

    // Once the directory is there, the next entry is written.
    std::filesystem::remove(blocker);
    std::filesystem::create_directory(blocker);
    log.AppendErrorLog(525, "Bind socket 8089 failed", 11111);
    ASSERT_TRUE(log.WaitIdle(kWait));
    EXPECT_EQ(ReadFile(log.FilePath()),
              "1970-1-1 8:0:0 file:app\\CSearchDlg.cpp,line:525,[Bind socket 8089 failed][11111]" +
                  std::string(test::kTextLineEnd));
    EXPECT_EQ(log.Counts().written, 1u);
}

TEST(ErrorLogTest, FloodIsCutToTheRateAndKeepsTheLineFormat) {
    TempDir dir;
    ManualClock steady;
    ErrorLogLimits limits;
    limits.now = steady.Source();
    ErrorLog log(
        dir.Path(), [] { return std::int64_t{1767198605}; }, limits);
    for (int i = 0; i < 10000; ++i)
        log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    ASSERT_TRUE(log.WaitIdle(kWait));
    bool exact = false;
    EXPECT_EQ(CountLines(ReadFile(log.FilePath()), kLine575At2026, &exact), 100u);
    EXPECT_TRUE(exact);
    EXPECT_EQ(log.Counts().written, 100u);
    EXPECT_EQ(log.Counts().droppedByRate, 9900u);

    // Any one second takes 100 entries at most: not yet 999 ms later...
    steady.Advance(std::chrono::milliseconds(999));
    for (int i = 0; i < 50; ++i)
        log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    // ...but a full second after the first hundred, the next hundred.
    steady.Advance(std::chrono::milliseconds(1));
    for (int i = 0; i < 150; ++i)
        log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    steady.Advance(std::chrono::milliseconds(500));
    log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
    ASSERT_TRUE(log.WaitIdle(kWait));
    EXPECT_EQ(CountLines(ReadFile(log.FilePath()), kLine575At2026, &exact), 200u);
    EXPECT_TRUE(exact);
    EXPECT_EQ(log.Counts().droppedByRate, 9900u + 50u + 50u + 1u);
}

// The file stops at its size cap: entries that would pass it are dropped and
// counted, and nothing written before (by this run or an earlier one) moves.
TEST(ErrorLogTest, SizeCapDropsLaterEntriesAndKeepsTheFile) {
    TempDir dir;
    const std::string earlier = "earlier run" + std::string(test::kTextLineEnd);
    { std::ofstream(dir.Path() / kErrorLogFileName, std::ios::binary) << earlier; }
    ErrorLogLimits limits;
    limits.entriesPerSecond = 0;
    // Room for two entries and all but one byte of a third.
    limits.maxFileBytes = earlier.size() + 3 * kLine575At2026.size() - 1;
    {
        ErrorLog log(
            dir.Path(), [] { return std::int64_t{1767198605}; }, limits);
        for (int i = 0; i < 5; ++i)
            log.AppendErrorLog(575, "recv discover not match qd massage", 111111);
        ASSERT_TRUE(log.WaitIdle(kWait));
        EXPECT_EQ(ReadFile(log.FilePath()), earlier + kLine575At2026 + kLine575At2026);
        EXPECT_EQ(log.Counts().written, 2u);
        EXPECT_EQ(log.Counts().droppedBySize, 3u);
    }
    // A file already past a cap is neither cut nor added to.
    limits.maxFileBytes = 4;
    ErrorLog later(
        dir.Path(), [] { return std::int64_t{0}; }, limits);
    later.AppendErrorLog(525, "Bind socket 8089 failed", 11111);
    ASSERT_TRUE(later.WaitIdle(kWait));
    EXPECT_EQ(ReadFile(later.FilePath()), earlier + kLine575At2026 + kLine575At2026);
    EXPECT_EQ(later.Counts().droppedBySize, 1u);
}

#if !defined(_WIN32)
TEST(ErrorLogTest, WriterStuckOnAFifoHoldsUpNeitherTheCallerNorTheLogsEnd) {
    TempDir dir;
    const auto fifo = dir.Path() / "QDIPC_Error.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ErrorLogLimits limits;
    limits.entriesPerSecond = 0;  // no rate limit: only the queue bounds it
    limits.queueCapacity = 10;
    auto log = std::make_unique<ErrorLog>(
        dir.Path(), [] { return std::int64_t{1767198605}; }, limits);
    // Nobody reads the FIFO, so the writer blocks opening it; the entries
    // beyond the queue's room are dropped instead of waited for.
    auto appending = std::async(std::launch::async, [&] {
        for (int i = 0; i < 1000; ++i)
            log->AppendErrorLog(575, "recv discover not match qd massage", 111111);
    });
    ASSERT_EQ(appending.wait_for(kWait), std::future_status::ready);
    EXPECT_FALSE(log->WaitIdle(std::chrono::milliseconds(50)));
    const ErrorLogCounts counts = log->Counts();
    EXPECT_EQ(counts.written, 0u);
    EXPECT_GE(counts.droppedQueueFull, 1000u - 2 * limits.queueCapacity);

    auto ending = std::async(std::launch::async, [&] { log.reset(); });
    ASSERT_EQ(ending.wait_for(kWait), std::future_status::ready);

    // A reader comes after all: the writer, left behind, delivers what it
    // held, line by line as formatted, and ends.
    const int reader = open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<std::size_t>(n));
    close(reader);
    bool exact = false;
    const std::size_t lines = CountLines(received, kLine575At2026, &exact);
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 2 * limits.queueCapacity);
    EXPECT_TRUE(exact);
}
#endif

}  // namespace
}  // namespace qdipc
