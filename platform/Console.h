#pragma once
// The standard streams of the command-line modes. Console_win.cpp attaches a
// GUI program (which has no console of its own) to the console it was started
// from; Console_posix.cpp has nothing to do. CMake picks the file.

namespace qdipc {

// Makes standard output and standard error reach the console the program was
// started from, unless they already lead somewhere (a file, a pipe).
void UseParentConsole();

}  // namespace qdipc
