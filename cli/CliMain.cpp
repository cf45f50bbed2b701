// qd_ip_search.com, the console program of the Windows build without Qt:
// the command line, as on Linux (cmd runs it, rather than the window program
// qd_ip_search.exe beside it, when no extension is typed, and waits for its
// exit code). A command line without a verb starts the window program.

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"

int main(int argc, char* argv[]) {
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(qdipc::CommandLineArguments(argc, argv));
    qdipc::UseParentConsole();
    if (commandLine.mode == qdipc::CommandMode::Window) {
        if (qdipc::StartWindowProgram()) {
            return 0;
        }
        std::cerr << "qd_ip_search: the window program qd_ip_search.exe could not be started; "
                     "the command line works: qd_ip_search --help\n";
        return 1;
    }
    qdipc::IgnoreClosedPipeSignal();
    return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
}
