// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.
//
// The command line takes over when any argument is one of its verbs; any
// other arguments go to Qt, and an option neither Qt nor the window knows is
// refused. --no-firewall skips the start-up step
// that asks the system's firewall to admit the receive port (the tests and the
// demo use it: from a network namespace the firewall command would still
// change the host's firewall).

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "ui/qt/CSearchApp.h"
#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "platform/Console.h"
#include "platform/QtPlatformChoice.h"
#ifdef QDIPC_HAVE_SNAPSHOT
#include "preview/RtspSnapshot.h"
#endif

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Whether Qt has somewhere to draw: an X or Wayland display, or a platform
// the user named (offscreen, vnc ...). Windows always has its desktop.
bool WindowCanOpen(int argc, char* argv[]) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    return true;
#else
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM")) {
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0 ||
            arg.rfind("--platform=", 0) == 0) {
            return true;
        }
    }
    return false;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    // The command line decides first: a verb anywhere (--list, --modify,
    // --help, --version ...) runs without a window, before any part of the
    // toolkit is set up; so does a wrong command line (exit status 2).
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine(qdipc::CommandLineArguments(argc, argv));
    if (commandLine.mode != qdipc::CommandMode::Window) {
        qdipc::UseParentConsole();
        // A reader that goes away (| head) makes a write fail, not the process.
        qdipc::IgnoreClosedPipeSignal();
#ifdef QDIPC_HAVE_SNAPSHOT
        // --snapshot decodes with the media libraries, which the command line
        // itself does not link.
        return qdipc::RunCommandLine(commandLine, std::cout, std::cerr, {},
                                     qdipc::TakeRtspSnapshot);
#else
        return qdipc::RunCommandLine(commandLine, std::cout, std::cerr);
#endif
    }

    // Without a display Qt would abort; say so in one line instead. A user's
    // own platform choice (-platform, QT_QPA_PLATFORM) is left to Qt.
    if (!WindowCanOpen(argc, argv)) {
        std::cerr << "qd_ip_search: cannot open a window: no display (DISPLAY and WAYLAND_DISPLAY "
                     "are not set); the command line works without one: qd_ip_search --list, "
                     "or qd_ip_search --help for the others\n";
        return 1;
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
