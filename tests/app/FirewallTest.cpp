// The firewall step: which command line is chosen, and that a command is
// started detached and hidden without the caller waiting for it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "platform/Firewall.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

qdipc::ExecutableProbe Installed(std::set<std::string> paths) {
    return [paths](const std::string& path) { return paths.count(path) != 0; };
}

}  // namespace

#ifndef _WIN32

// Runs a command line to its end (the test's own fake tools only) and gives
// its exit status, or -1.
int RunToEnd(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A folder of stand-ins for firewall-cmd and ufw that log their arguments and
// answer their status queries as the test sets them.
struct FakeFirewalls {
    std::filesystem::path dir;
    FakeFirewalls(bool withFirewalld, bool firewalldRunning, bool withUfw, bool ufwActive) {
        dir = std::filesystem::temp_directory_path() /
              ("qdipc_fake_firewalls_" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const std::string log = (dir / "calls").string();
        if (withFirewalld) {
            Write("firewall-cmd", "echo \"firewall-cmd $*\" >> '" + log + "'\n" +
                                      "[ \"$1\" = --state ] && exit " +
                                      (firewalldRunning ? "0" : "252") + "\nexit 0\n");
        }
        if (withUfw) {
            Write("ufw", "echo \"ufw $*\" >> '" + log + "'\n" +
                             "[ \"$1\" = status ] && echo 'Status: " +
                             (ufwActive ? "active" : "inactive") + "'\nexit 0\n");
        }
    }
    ~FakeFirewalls() { std::filesystem::remove_all(dir); }

    void Write(const std::string& name, const std::string& body) {
        const auto path = dir / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    std::vector<std::string> CommandLine() const {
        return qdipc::FirewallCommandLine(
            [](const std::string& path) { return ::access(path.c_str(), X_OK) == 0; },
            {dir.string()});
    }
    std::string Calls() const {
        std::ifstream in(dir / "calls");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST(FirewallCommandLine, NamesOnlyToolsFoundInTheSystemDirectories) {
    EXPECT_TRUE(qdipc::FirewallCommandLine(Installed({"/opt/ufw", "/usr/bin/iptables"})).empty());
    const auto line = qdipc::FirewallCommandLine(Installed({"/sbin/ufw", "/usr/local/bin/ufw"}));
    ASSERT_EQ(line.size(), 3u);
    EXPECT_NE(line[2].find("'/sbin/ufw'"), std::string::npos) << line[2];
    EXPECT_EQ(line[2].find("/usr/local/bin/ufw"), std::string::npos) << line[2];
    EXPECT_EQ(line[2].find("firewall-cmd"), std::string::npos) << line[2];
}

// The command line run against stand-ins: which queries and which rule the
// firewalls get.
TEST(FirewallCommandLine, AddsTheRuleOnlyToAnActiveFirewall) {
    struct Case {
        const char* name;
        bool firewalld, firewalldRunning, ufw, ufwActive;
        const char* calls;
    };
    const Case cases[] = {
        {"firewalld running: a run-time rule, ufw not asked", true, true, true, true,
         "firewall-cmd --state\nfirewall-cmd --add-port=8089/udp\n"},
        {"firewalld stopped, ufw active: the ufw rule", true, false, true, true,
         "firewall-cmd --state\nufw status\nufw allow 8089/udp\n"},
        {"both inactive: no rule", true, false, true, false, "firewall-cmd --state\nufw status\n"},
        {"only firewalld, stopped: no rule", true, false, false, false, "firewall-cmd --state\n"},
        {"only ufw, active", false, false, true, true, "ufw status\nufw allow 8089/udp\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFirewalls fakes(c.firewalld, c.firewalldRunning, c.ufw, c.ufwActive);
        const auto line = fakes.CommandLine();
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(RunToEnd(line), 0);
        EXPECT_EQ(fakes.Calls(), c.calls);
    }
}

TEST(StartDetachedHidden, RunsTheCommandWithoutWaitingAndSilently) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("qdipc_firewall_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto started = dir / "started";
    const auto finished = dir / "finished";

    // The command signals its start, waits on a file the test creates, then
    // finishes; so StartDetachedHidden must return while it still runs.
    const auto release = dir / "release";
    const std::string script = "echo noise; echo noise >&2; : > '" + started.string() +
                               "'; i=0; while [ ! -e '" + release.string() +
                               "' ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; : > '" +
                               finished.string() + "'";
    ASSERT_TRUE(qdipc::StartDetachedHidden({"/bin/sh", "-c", script}));
    EXPECT_FALSE(std::filesystem::exists(finished));

    std::ofstream(release).put('x');
    for (int i = 0; i < 200 && !std::filesystem::exists(finished); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(std::filesystem::exists(started));
    EXPECT_TRUE(std::filesystem::exists(finished));
    std::filesystem::remove_all(dir);

    EXPECT_FALSE(qdipc::StartDetachedHidden({}));
}

#else  // _WIN32

TEST(FirewallCommandLine, IsTheNetshPortOpeningWhateverIsInstalled) {
    const std::vector<std::string> netsh{"netsh", "firewall",        "add", "portopening", "UDP",
                                         "8089",  "rizi_search_port"};
    EXPECT_EQ(qdipc::FirewallCommandLine(Installed({})), netsh);
    EXPECT_EQ(qdipc::FirewallCommandLine(Installed({"/usr/sbin/ufw"})), netsh);
}

TEST(StartDetachedHidden, RunsTheCommandWithItsArgumentsWhole) {
    // The folder's name holds spaces: the argument naming the file must reach
    // the command as one.
    const auto dir = std::filesystem::temp_directory_path() /
                     ("qdipc firewall test " + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    const auto started = dir / "started";
    ASSERT_TRUE(qdipc::StartDetachedHidden({"cmd", "/c", "type", "nul", ">", started.string()}));
    for (int i = 0; i < 400 && !std::filesystem::exists(started); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(std::filesystem::exists(started));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);

    EXPECT_FALSE(qdipc::StartDetachedHidden({}));
    EXPECT_FALSE(qdipc::StartDetachedHidden({"qdipc-no-such-program"}));
}

#endif
