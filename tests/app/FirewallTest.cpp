// The firewall step: which command line is chosen, and that a command is
// started detached and hidden without the caller waiting for it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "platform/Firewall.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

qdipc::ExecutableProbe Installed(std::set<std::string> paths) {
    return [paths](const std::string& path) { return paths.count(path) != 0; };
}

}  // namespace

#ifndef _WIN32

TEST(FirewallCommandLine, PrefersFirewalldThenUfwAndIsEmptyWithoutEither) {
    using Line = std::vector<std::string>;
    EXPECT_EQ(qdipc::FirewallCommandLine(Installed({"/usr/bin/firewall-cmd", "/usr/sbin/ufw"})),
              (Line{"/usr/bin/firewall-cmd", "--add-port=8089/udp"}));
    EXPECT_EQ(qdipc::FirewallCommandLine(Installed({"/usr/sbin/ufw"})),
              (Line{"/usr/sbin/ufw", "allow", "8089/udp"}));
    EXPECT_EQ(qdipc::FirewallCommandLine(Installed({"/sbin/ufw"})),
              (Line{"/sbin/ufw", "allow", "8089/udp"}));
    EXPECT_TRUE(qdipc::FirewallCommandLine(Installed({"/opt/ufw", "/usr/bin/iptables"})).empty());
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
