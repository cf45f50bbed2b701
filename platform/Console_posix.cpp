#include "platform/Console.h"

#include <csignal>

namespace qdipc {

void UseParentConsole() {
    // A program started from a terminal has its streams already.
}

void IgnoreClosedPipeSignal() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    if (argc <= 1 || argv == nullptr) {
        return {};
    }
    return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace qdipc
