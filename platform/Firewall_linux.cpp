// Linux: a port rule for the firewall that is active, if any: firewalld when
// it is running (a run-time rule, gone at its next reload or restart), else
// ufw when its status is active (ufw has only lasting rules). A firewall that
// is installed but not active is left alone. Both need administrator rights,
// and a normal user's firewall-cmd would ask for them through polkit (a
// password dialog at every start), so the step runs only as root.
// The checks run in the detached command, so start-up never waits for them.

#include "platform/Firewall.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace qdipc {
namespace {

// The path quoted for the shell: inside single quotes, each ' as '\''.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string FindTool(const ExecutableProbe& probe, const std::vector<std::string>& directories,
                     const char* program) {
    for (const auto& directory : directories) {
        std::string path = directory + "/" + program;
        if (probe(path)) {
            return path;
        }
    }
    return {};
}

bool IsExecutable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> FirewallToolDirectories() {
    return {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};
}

std::vector<std::string> FirewallCommandLine(const ExecutableProbe& probe,
                                             const std::vector<std::string>& directories) {
    const std::string firewalld = FindTool(probe, directories, "firewall-cmd");
    const std::string ufw = FindTool(probe, directories, "ufw");
    std::string script;
    if (!firewalld.empty()) {
        // --state answers 0 only while firewalld runs; without --permanent the
        // rule is a run-time one.
        const std::string tool = ShellQuoted(firewalld);
        script += "if " + tool + " --state >/dev/null 2>&1; then exec " + tool +
                  " --add-port=8089/udp; fi; ";
    }
    if (!ufw.empty()) {
        const std::string tool = ShellQuoted(ufw);
        script += "case \"$(" + tool + " status 2>/dev/null)\" in 'Status: active'*) exec " + tool +
                  " allow 8089/udp;; esac; ";
    }
    if (script.empty()) {
        return {};
    }
    script += "exit 0";
    return {"/bin/sh", "-c", script};
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

bool MayChangeFirewallWithoutAsking() {
    return ::geteuid() == 0;
}

void OpenReceivePortInFirewall() {
    if (!MayChangeFirewallWithoutAsking()) {
        return;
    }
    const auto line = FirewallCommandLine(IsExecutable);
    if (!line.empty()) {
        StartDetachedHidden(line);
    }
}

}  // namespace qdipc
