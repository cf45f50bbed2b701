// The quoting of names put into the commands the diagnosis prints.

#include "platform/ShellQuote.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qdipc {
namespace {

TEST(ShellQuoteTest, KnownAnswers) {
    EXPECT_EQ(ShellQuoted("eth0"), "eth0");
    EXPECT_EQ(ShellQuoted("net.ipv4.conf.eth0/5.rp_filter=2"), "net.ipv4.conf.eth0/5.rp_filter=2");
    EXPECT_EQ(ShellQuoted("a$(id)b"), "'a$(id)b'");
    EXPECT_EQ(ShellQuoted("it's"), "'it'\\''s'");
    EXPECT_EQ(ShellQuoted(""), "''");
    EXPECT_EQ(ShellQuoted("x y"), "'x y'");

    EXPECT_EQ(CmdQuoted("Ethernet 2 & del"), std::optional<std::string>("\"Ethernet 2 & del\""));
    EXPECT_EQ(CmdQuoted("a\"b"), std::nullopt);
    EXPECT_EQ(CmdQuoted("%PATH%"), std::nullopt);
    EXPECT_EQ(CmdQuoted("a\rb"), std::nullopt);
    EXPECT_EQ(CmdQuoted(""), std::nullopt);
}

#ifndef _WIN32
const std::vector<std::string> kHostileNames = {
    "a$(id)b", "a`id`b", "x;id",    "x y", "it's", "''", "a\nb",      "-rf *",
    "~root",   "$HOME",  "a|b&c>d", "\\",  "!",    "",   "tab\there", "\xC3\xA9th0"};

// What a POSIX shell makes of `printf %s <quoted>`: the word itself, with
// nothing run.
std::string ShellEcho(const std::string& quoted) {
    std::string out;
    FILE* pipe = ::popen(("/bin/sh -c " + ShellQuoted("printf %s " + quoted)).c_str(), "r");
    if (pipe == nullptr) {
        return "(popen failed)";
    }
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    ::pclose(pipe);
    return out;
}

TEST(ShellQuoteTest, TheShellReadsEachHostileNameAsOneWordAndRunsNothing) {
    for (const std::string& name : kHostileNames) {
        EXPECT_EQ(ShellEcho(ShellQuoted(name)), name) << ShellQuoted(name);
    }
}
#endif

}  // namespace
}  // namespace qdipc
