#pragma once
// The receive worker's error log: "QDIPC_Error.log" in the working directory,
// appended to, one line per entry, time stamps in UTC+8.
//
// Writing never holds up the caller: an entry is stamped and queued, and a
// writer thread of the log's own appends it to the file, which it keeps open
// while entries come. A flood is cut down to a fixed number of entries per
// second; what is cut, and what finds the queue full or the file unopenable,
// is dropped and counted. The file stops growing at a size cap: an entry that
// would take it past the cap is dropped and counted, and what the file holds
// is never touched (it is not truncated or rotated). A writer stuck in the file system (a FIFO
// without a reader, a stalled network mount) is waited for only briefly when the log goes; it owns
// what it uses and ends with the process.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "discovery/TimeSeededDraw.h"

namespace qdipc {

inline constexpr const char* kErrorLogFileName = "QDIPC_Error.log";
// The fixed source path text that every entry names.
inline constexpr const char* kErrorLogSourcePath = "app\\CSearchDlg.cpp";

// The three entries the worker writes.
namespace log_entry {
inline constexpr int kBindFailedLine = 525;
inline constexpr const char* kBindFailedText = "Bind socket 8089 failed";
inline constexpr int kBindFailedCode = 11111;
inline constexpr int kNoSignatureLine = 575;
inline constexpr const char* kNoSignatureText = "recv discover not match qd massage";
inline constexpr int kNoSignatureCode = 111111;
inline constexpr int kExceptionLine = 587;
// "RecvSearchThread" and the GBK bytes of the two characters meaning exception.
inline constexpr const char* kExceptionText = "RecvSearchThread\xD2\xEC\xB3\xA3";
inline constexpr int kExceptionCode = 219;
}  // namespace log_entry

// "Y-M-D h:m:s file:<path>,line:<n>,[<text>][<code>]\n" for utcSeconds + 8 h.
std::string FormatErrorLogEntry(std::int64_t utcSeconds, int line, std::string_view text, int code);

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

struct ErrorLogLimits {
    // Entries taken in any one-second span at most; more are dropped.
    int entriesPerSecond = 100;
    // Entries waiting for the writer at most; more are dropped.
    std::size_t queueCapacity = 200;
    // How long the log's destruction waits for the writer to finish.
    std::chrono::milliseconds closeWait{100};
    // After this long with nothing to write the file is closed, so that a log
    // file removed meanwhile is created anew by the next entry.
    std::chrono::milliseconds idleClose{1000};
    // The file never grows past this many bytes; entries that would take it
    // further are dropped (a file already larger is left as it is). 0: no cap.
    std::uint64_t maxFileBytes = 16 * 1024 * 1024;
    // The time the rate limit goes by; null: the steady clock.
    SteadyClock now{};
};

struct ErrorLogCounts {
    std::uint64_t written = 0;
    std::uint64_t droppedByRate = 0;     // over the entries-per-second limit
    std::uint64_t droppedQueueFull = 0;  // the writer was behind (or stuck)
    std::uint64_t unwritten = 0;         // the file could not be opened or written
    std::uint64_t droppedBySize = 0;     // the file has reached its size cap
};

class ErrorLog {
public:
    explicit ErrorLog(std::filesystem::path directory = {}, SecondsClock clock = SystemSeconds,
                      ErrorLogLimits limits = {});
    // Waits at most closeWait for the queued entries; a writer that is stuck
    // is left behind.
    ~ErrorLog();
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    // Stamps one entry with the current time and queues it for the writer;
    // never waits for the disk. Any thread. An entry that cannot be written
    // (the file cannot be opened) is dropped; a later one tries again.
    void AppendErrorLog(int line, std::string_view text, int code);

    std::filesystem::path FilePath() const;

    // Waits until every queued entry has been written or dropped, at most
    // limit; true when that happened.
    bool WaitIdle(std::chrono::milliseconds limit) const;
    ErrorLogCounts Counts() const;

private:
    struct Shared;
    static void WriterLoop(std::shared_ptr<Shared> shared);

    std::filesystem::path directory_;
    SecondsClock clock_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace qdipc
