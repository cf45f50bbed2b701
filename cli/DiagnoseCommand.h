#pragma once
// --diagnose: the network diagnosis without a window. It reads the host's
// facts, makes one search as --list does (the same request, its repeats, the
// same wait) and prints one line per check: check, result, finding, fix.

#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/NetworkConfig.h"

namespace qdipc {

// A problem was found (the diagnosis printed it).
inline constexpr int kExitProblemFound = 3;

// --diagnose's own arguments (args[0] is "--diagnose"): [--format tsv|json].
// A wrong one is a UsageError with its message.
CommandLine ParseDiagnoseCommandLine(const std::vector<std::string>& args);

// Answers 0 when no check found a problem, 3 when one did, 1 when the
// output could not be written.
int RunDiagnose(const DiagnoseOptions& options, const NetworkConfig& config, std::ostream& out,
                std::ostream& err);

}  // namespace qdipc
