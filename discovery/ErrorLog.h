#pragma once
// The receive worker's error log: "QDIPC_Error.log" in the working directory,
// appended to, one line per entry, time stamps in UTC+8.

#include <cstdint>
#include <filesystem>
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

class ErrorLog {
public:
    explicit ErrorLog(std::filesystem::path directory = {}, SecondsClock clock = SystemSeconds);

    // Appends one entry; when the file cannot be opened the entry is dropped.
    void AppendErrorLog(int line, std::string_view text, int code);

    std::filesystem::path FilePath() const;

private:
    std::filesystem::path directory_;
    SecondsClock clock_;
};

}  // namespace qdipc
