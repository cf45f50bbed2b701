#pragma once
// The standard streams and the arguments of the command-line modes.
// Console_win.cpp attaches a GUI program (which has no console of its own) to
// the console it was started from and reads the arguments from the wide
// command line; Console_posix.cpp ignores SIGPIPE. CMake picks the file.

#include <string>
#include <vector>

namespace qdipc {

// Makes standard output and standard error reach the console the program was
// started from, unless they already lead somewhere (a file, a pipe).
void UseParentConsole();

// A write to a pipe whose reader has gone fails (EPIPE) instead of ending the
// process with SIGPIPE, so the command line can end with its own exit code.
// Nothing to do on Windows, where such a write only fails.
void IgnoreClosedPipeSignal();

// The program's arguments after its name, as UTF-8. Windows: read from the
// wide command line (GetCommandLineW, CommandLineToArgvW), so a name such as
// "以太网" arrives whole whatever the ANSI code page; argv is not used.
// Elsewhere: argv as it is (the terminal's encoding, UTF-8 in practice).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Windows only: starts the window program, the .exe of this program's name
// in its folder (qd_ip_search.com starts qd_ip_search.exe), with this
// program's arguments, and returns without waiting. False when it could not
// be started.
bool StartWindowProgram();

}  // namespace qdipc
