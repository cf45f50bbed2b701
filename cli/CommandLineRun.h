#pragma once
// Carries out --list, --modify, --help and --version without a window and
// without any toolkit. The search, the receive worker, the device list and the
// modify broadcast are the ones the window uses; only the presentation differs.

#include <ostream>

#include "cli/CommandLine.h"
#include "discovery/NetworkConfig.h"
#include "preview/StreamSnapshot.h"

namespace qdipc {

// Runs a command line whose mode is not Window and answers the exit code:
// 0 done, 1 the network failed, 2 a usage error (also an --interface that
// names no broadcast-capable IPv4 interface). The endpoints, the interfaces,
// the error log's directory and the pending cap come from config (the
// defaults are the window's own). --snapshot takes its picture with
// snapshot (none: this build takes no snapshots).
int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const NetworkConfig& config = {}, const SnapshotTaker& snapshot = {});

// The list's cells as --list prints them: valid UTF-8 as it is, else GB18030
// converted to UTF-8, else escaped byte by byte.
std::string PrintableCell(std::string_view bytes);

}  // namespace qdipc
