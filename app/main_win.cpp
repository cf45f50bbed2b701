// qd_ip_search.exe of the Windows build without Qt: the GUI-subsystem
// program. Without a verb (a double-click, the Start-menu entry) it opens the
// Windows window. With one (the program started by name from a console) it
// writes to the console it was started from and returns the command's exit
// code; qd_ip_search.com, the console program beside it, is the one cmd
// picks when no extension is typed, and waits for.

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"
#include "ui/win/WinWindow.h"

int main(int argc, char* argv[]) {
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(qdipc::CommandLineArguments(argc, argv));
    if (commandLine.mode == qdipc::CommandMode::Window) {
        return RunWindowsWindow(argc, argv);
    }
    // AttachConsole(ATTACH_PARENT_PROCESS), unless the streams already lead
    // to a file or a pipe.
    qdipc::UseParentConsole();
    return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
}
