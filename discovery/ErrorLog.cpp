#include "discovery/ErrorLog.h"

#include <fstream>
#include <utility>

namespace qdipc {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kUtcPlus8Seconds = 8 * 3600;

struct CivilDate {
    std::int64_t year;
    int month;  // 1..12
    int day;    // 1..31
};

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar, valid
// for any day count (the era arithmetic rounds toward minus infinity).
CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;  // shift the epoch to 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;  // [0, 146096]
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // [0, 399]
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::string FormatErrorLogEntry(std::int64_t utcSeconds, int line, std::string_view text,
                                int code) {
    const std::int64_t local = utcSeconds + kUtcPlus8Seconds;
    const std::int64_t days = FloorDiv(local, kSecondsPerDay);
    const std::int64_t secondOfDay = local - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);

    // "%d-%d-%d %d:%d:%d " then "file:%s,line:%d,[%s][%d]\n"; the text goes in
    // byte for byte, whatever its encoding.
    std::string entry;
    entry.reserve(64 + text.size());
    entry += std::to_string(date.year);
    entry += '-';
    entry += std::to_string(date.month);
    entry += '-';
    entry += std::to_string(date.day);
    entry += ' ';
    entry += std::to_string(secondOfDay / 3600);
    entry += ':';
    entry += std::to_string(secondOfDay / 60 % 60);
    entry += ':';
    entry += std::to_string(secondOfDay % 60);
    entry += ' ';
    entry += "file:";
    entry += kErrorLogSourcePath;
    entry += ",line:";
    entry += std::to_string(line);
    entry += ",[";
    entry += text;
    entry += "][";
    entry += std::to_string(code);
    entry += "]\n";
    return entry;
}

ErrorLog::ErrorLog(std::filesystem::path directory, SecondsClock clock)
    : directory_(std::move(directory)),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}) {}

std::filesystem::path ErrorLog::FilePath() const {
    return directory_.empty() ? std::filesystem::path(kErrorLogFileName)
                              : directory_ / kErrorLogFileName;
}

void ErrorLog::AppendErrorLog(int line, std::string_view text, int code) {
    // Text mode, appending: the runtime writes CR LF line ends on Windows.
    std::ofstream file(FilePath(), std::ios::out | std::ios::app);
    if (!file) {
        return;
    }
    const std::string entry = FormatErrorLogEntry(clock_(), line, text, code);
    file.write(entry.data(), static_cast<std::streamsize>(entry.size()));
}

}  // namespace qdipc
