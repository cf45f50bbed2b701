#pragma once
// Asking the operating system's firewall to let UDP datagrams reach the tool's
// receive port. Firewall_win.cpp runs netsh, Firewall_linux.cpp the
// distribution's firewall tool; CMake picks the file.

#include <functional>
#include <string>
#include <vector>

namespace qdipc {

// Starts the firewall command hidden and detached. It neither waits for the
// command nor looks at its result; when the platform has no such command it
// does nothing.
void OpenReceivePortInFirewall();

// Whether an executable exists at the given absolute path.
using ExecutableProbe = std::function<bool(const std::string& path)>;

// Where the firewall tools are looked for, in this order.
std::vector<std::string> FirewallToolDirectories();

// The command line OpenReceivePortInFirewall runs (program path first), or an
// empty vector when no firewall tool is found in the directories. On Linux it
// is a shell script that adds the rule only to a firewall that is active:
// firewalld (running) with a run-time rule, else ufw (status active).
std::vector<std::string> FirewallCommandLine(
    const ExecutableProbe& probe,
    const std::vector<std::string>& directories = FirewallToolDirectories());

// Starts argv[0] with the given arguments, detached from this process, with
// standard input and output on the null device, and returns at once. False
// when it could not even be started.
bool StartDetachedHidden(const std::vector<std::string>& argv);

}  // namespace qdipc
