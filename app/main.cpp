// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.
//
// --no-firewall skips the start-up step that asks the system's firewall to
// admit the receive port (the tests and the demo use it: from a network
// namespace the firewall command would still change the host's firewall).

#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/CSearchApp.h"
#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"
#include "platform/QtPlatformChoice.h"

int main(int argc, char* argv[]) {
    // The command line decides first: --list, --modify, --help and --version
    // run without a window, before any part of the toolkit is set up.
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (commandLine.mode != qdipc::CommandMode::Window) {
        qdipc::UseParentConsole();
        return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
    }

    qdipc::ApplyQtPlatformChoice();  // the preview needs X11 windows, also on Wayland
    QApplication application(argc, argv);
    qdipc::SearchDlgConfig config;
    if (commandLine.noFirewall) {
        config.openFirewall = nullptr;
    }
    CSearchApp searchApp(std::move(config));
    return searchApp.InitInstance();
}
