#pragma once
// Reads a password typed on the terminal without showing it (echo off while
// it is typed). SecretPrompt_posix.cpp: termios; SecretPrompt_win.cpp: the
// console's echo mode.

#include <optional>
#include <string>

namespace qdipc {

// Writes prompt to standard error and reads one line from standard input
// with echo off. Nothing when standard input is not a terminal (a script
// gives a password file instead) or the line cannot be read.
std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt);

}  // namespace qdipc
