// Windows: the netsh rule for the receive port, run hidden without waiting.

#include "platform/Firewall.h"

#include <windows.h>

namespace qdipc {
namespace {
constexpr const char* kNetshCommand = "netsh firewall add portopening UDP 8089 rizi_search_port";
}

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
        line += arg;
    }
    return ::WinExec(line.c_str(), SW_HIDE) > 31;
}

void OpenReceivePortInFirewall() {
    ::WinExec(kNetshCommand, SW_HIDE);
}

}  // namespace qdipc
