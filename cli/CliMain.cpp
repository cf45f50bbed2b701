// qd_ip_search without its window: the program of a build without Qt (the
// Windows cross build, where Qt for Windows is not at hand). Its command line
// is the windowed program's; a command line that would open the window is
// refused.

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"

int main(int argc, char* argv[]) {
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(qdipc::CommandLineArguments(argc, argv));
    qdipc::UseParentConsole();
    if (commandLine.mode == qdipc::CommandMode::Window) {
        std::cerr << "qd_ip_search: this build has no window; use --list, --modify, --assign, "
                     "--plan, --diagnose, --help or --version\n";
        return qdipc::kExitUsage;
    }
    qdipc::IgnoreClosedPipeSignal();
    return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
}
