// Linux: firewalld's firewall-cmd when it is installed, else ufw. Both need
// administrator rights; without them the command fails quietly, as it would
// on Windows without them.

#include "platform/Firewall.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace qdipc {
namespace {

constexpr std::array<const char*, 4> kToolDirectories = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};

struct FirewallTool {
    const char* program;
    std::vector<std::string> arguments;
};

bool IsExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> FirewallCommandLine(const ExecutableProbe& probe) {
    const std::array<FirewallTool, 2> tools = {
        FirewallTool{"firewall-cmd", {"--add-port=8089/udp"}},
        FirewallTool{"ufw", {"allow", "8089/udp"}},
    };
    for (const auto& tool : tools) {
        for (const char* directory : kToolDirectories) {
            std::string path = std::string(directory) + "/" + tool.program;
            if (probe(path)) {
                std::vector<std::string> line{path};
                line.insert(line.end(), tool.arguments.begin(), tool.arguments.end());
                return line;
            }
        }
    }
    return {};
}

bool StartDetachedHidden(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    // Everything the children use is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed in a threaded process.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    // Fork twice so the command is adopted by init and never becomes our zombie;
    // the intermediate child exits at once and is reaped here.
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const int devNull = ::open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                ::dup2(devNull, STDIN_FILENO);
                ::dup2(devNull, STDOUT_FILENO);
                ::dup2(devNull, STDERR_FILENO);
            }
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OpenReceivePortInFirewall() {
    const auto line = FirewallCommandLine(IsExecutable);
    if (!line.empty()) {
        StartDetachedHidden(line);
    }
}

}  // namespace qdipc
