// Windows: the netsh rule for the receive port, run hidden without waiting.

#include "platform/Firewall.h"

#include <windows.h>

namespace qdipc {
namespace {

constexpr const char* kNetshCommand = "netsh firewall add portopening UDP 8089 rizi_search_port";

// One argument written so that the C runtime's command-line parser reads it
// back unchanged: as it is when it holds no space, tab or quote, else quoted,
// with the backslashes before a quote (or before the closing quote) doubled.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace

std::vector<std::string> FirewallToolDirectories() {
    return {};
}

std::vector<std::string> FirewallCommandLine(const ExecutableProbe&,
                                             const std::vector<std::string>&) {
    return {"netsh", "firewall", "add", "portopening", "UDP", "8089", "rizi_search_port"};
}

bool StartDetachedHidden(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    std::string line;
    for (const auto& arg : argv) {
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteArgument(arg);
    }
    return ::WinExec(line.c_str(), SW_HIDE) > 31;
}

bool MayChangeFirewallWithoutAsking() {
    return true;
}

void OpenReceivePortInFirewall() {
    ::WinExec(kNetshCommand, SW_HIDE);
}

}  // namespace qdipc
