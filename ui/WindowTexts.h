#pragma once
// Texts both windows show, made in one place.

#include <ctime>
#include <string>
#include <vector>

#include "discovery/NetworkDiagnosis.h"

namespace qdipc {

// "rtsp://" + ip + "/channel1/1", the stream the Preview button plays.
std::string StreamLocationFor(const std::string& ip);

// The name offered for a snapshot of the stream at location taken at the
// local time given: "HOST-YYYYMMDD-HHMMSS.png", "snapshot-..." where the
// location's host is no plain dotted quad.
std::string SnapshotFileName(const std::string& location, const std::tm& local);

// The diagnosis dialog's words: "ok", "PROBLEM", "not checked"; and its
// summary, "No problem found." or "N problems found; the fix is in each row."
std::string CheckResultText(CheckResult result);
std::string DiagnosisSummary(const std::vector<DiagnosisLine>& lines);

// What closing the main window asks while records are unsent or changes
// unconfirmed; empty when nothing is going.
std::string CloseWithRunsQuestion(int unsent, int waiting);

}  // namespace qdipc
