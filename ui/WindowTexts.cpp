#include "ui/WindowTexts.h"

#include <algorithm>
#include <cstdio>

#include "discovery/DeviceCodecs.h"

namespace qdipc {

std::string StreamLocationFor(const std::string& ip) {
    return "rtsp://" + ip + "/channel1/1";
}

std::string SnapshotFileName(const std::string& location, const std::tm& local) {
    const std::size_t start = location.find("://");
    std::string host = start == std::string::npos ? std::string() : location.substr(start + 3);
    host = host.substr(0, host.find_first_of(":/"));
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return (ParseIpv4Strict(host) ? host : std::string("snapshot")) + "-" + stamp + ".png";
}

std::string CheckResultText(CheckResult result) {
    switch (result) {
        case CheckResult::Ok:
            return "ok";
        case CheckResult::Problem:
            return "PROBLEM";
        case CheckResult::NotChecked:
            break;
    }
    return "not checked";
}

std::string DiagnosisSummary(const std::vector<DiagnosisLine>& lines) {
    const auto problems = std::count_if(lines.begin(), lines.end(), [](const DiagnosisLine& line) {
        return line.result == CheckResult::Problem;
    });
    if (problems == 0) {
        return "No problem found.";
    }
    return (problems == 1 ? std::string("1 problem") : std::to_string(problems) + " problems") +
           " found; the fix is in each row.";
}

std::string CloseWithRunsQuestion(int unsent, int waiting) {
    if (unsent == 0 && waiting == 0) {
        return {};
    }
    if (unsent > 0) {
        return std::to_string(unsent) + " settings records are not sent yet and " +
               std::to_string(waiting) +
               " changes are not confirmed yet.\nClose anyway? The records not sent yet will "
               "not be sent.";
    }
    return std::to_string(waiting) +
           " changes are not confirmed yet.\nClose anyway? A later search shows where the "
           "cameras are.";
}

}  // namespace qdipc
