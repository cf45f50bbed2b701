#pragma once
// --snapshot IP FILE.png: one picture of a camera's stream, without a window
// and without a display. It opens the location the preview plays for that IP
// (RTSP port 554, the pane's network cache), takes the first whole picture
// and writes it as PNG at the stream's resolution, within kSnapshotLimit.
// Nothing is broadcast; only a plain dotted quad is connected to.

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "preview/StreamSnapshot.h"

namespace qdipc {

inline constexpr std::chrono::milliseconds kSnapshotLimit{10000};

// --snapshot's own arguments: --snapshot IP FILE (IP also after "="), and
// --no-firewall, --help, --version. A wrong one is a UsageError.
CommandLine ParseSnapshotCommandLine(const std::vector<std::string>& args);

// 0 written (the file and its size on standard output), 1 no picture (the
// reason on standard error: no answer, a password needed, no video ...), the
// file could not be written, or this build takes no snapshots (no taker).
int RunSnapshot(const SnapshotCommandOptions& options, const SnapshotTaker& taker,
                std::ostream& out, std::ostream& err);

}  // namespace qdipc
