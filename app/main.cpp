// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.
//
// The command line takes over only when the first argument is one of its
// verbs; any other arguments go to Qt. --no-firewall skips the start-up step
// that asks the system's firewall to admit the receive port (the tests and the
// demo use it: from a network namespace the firewall command would still
// change the host's firewall).

#include <QApplication>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/CSearchApp.h"
#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"
#include "platform/QtPlatformChoice.h"

int main(int argc, char* argv[]) {
    // The command line decides first: a first argument that is one of its
    // verbs (--list, --modify, --help, --version ...) runs without a window,
    // before any part of the toolkit is set up.
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(qdipc::CommandLineArguments(argc, argv));
    if (commandLine.mode != qdipc::CommandMode::Window) {
        qdipc::UseParentConsole();
        // A reader that goes away (| head) makes a write fail, not the process.
        qdipc::IgnoreClosedPipeSignal();
        return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
    }

    // Everything else is the toolkit's (-platform, -display, -style,
    // -session ...), except --no-firewall, which Qt never sees.
    std::vector<char*> qtArguments;
    for (int i = 0; i < argc; ++i) {
        if (i == 0 || std::strcmp(argv[i], "--no-firewall") != 0) {
            qtArguments.push_back(argv[i]);
        }
    }
    int qtArgumentCount = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);

    qdipc::ApplyQtPlatformChoice();  // the preview needs X11 windows, also on Wayland
    QApplication application(qtArgumentCount, qtArguments.data());
    qdipc::SearchDlgConfig config;
    if (commandLine.noFirewall) {
        config.openFirewall = nullptr;
    }
    CSearchApp searchApp(std::move(config));
    return searchApp.InitInstance();
}
