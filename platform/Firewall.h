#pragma once
// Asking the operating system's firewall to let UDP datagrams reach the tool's
// receive port. Firewall_win.cpp runs netsh, Firewall_linux.cpp the
// distribution's firewall tool; CMake picks the file.

#include <functional>
#include <string>
#include <vector>

namespace qdipc {

// Starts the firewall command hidden and detached. It neither waits for the
// command nor looks at its result; when the platform has no such command, or
// the program may not change the firewall without asking, it does nothing.
void OpenReceivePortInFirewall();

// Whether this process may change the firewall without anyone being asked
// for a password: on Linux only as root (a normal user's firewall-cmd asks
// polkit, which can open a password dialog at every start; the package
// ships a firewalld service and a ufw profile for the administrator to
// enable instead); on Windows always, netsh fails quietly without rights.
bool MayChangeFirewallWithoutAsking();

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
