#pragma once
// --watch: the site watched from the command line. One search (with its
// repeats), then one request per interval; every change to the list is one
// line on standard output, written and flushed as it happens: "added",
// "changed", "gone" (no answer for three cycles), "back". ONVIF devices too:
// a Hello is "added" or "back" at once, a Bye "gone" at once, and each cycle
// also probes for them. Runs until SIGINT or SIGTERM, then exits 0.

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/NetworkConfig.h"

namespace qdipc {

// The least and the most --interval takes, in milliseconds.
inline constexpr int kMinWatchIntervalMs = 200;
inline constexpr int kMaxWatchIntervalMs = 3600 * 1000;

// Parses a command line whose first argument is --watch:
// --watch [--interval S] [--format tsv|jsonl|json] [--interface NAME]
// [--no-firewall]; S in seconds, decimals allowed ("2.5").
CommandLine ParseWatchCommandLine(const std::vector<std::string>& args);

// Watches until stop is true; answers the exit code: 0 stopped, 1 the network
// failed or the output could not be written, 2 an unknown --interface.
int RunWatch(const WatchCommandOptions& options, const NetworkConfig& config, std::ostream& out,
             std::ostream& err, const std::atomic<bool>& stop);

// A flag that SIGINT and SIGTERM set (the handlers are installed by the
// first call).
const std::atomic<bool>& StopOnSignals();

}  // namespace qdipc
