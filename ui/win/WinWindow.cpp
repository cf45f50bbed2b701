#include "ui/win/WinWindow.h"

#include <windows.h>

#include <string>

#include "platform/Firewall.h"
#include "platform/UdpSocket.h"
#include "platform/VlcRuntime.h"
#include "ui/win/SearchWindow.h"
#include "ui/win/VlcPreviewPlayer.h"
#include "ui/win/WideText.h"

int RunWindowsWindow(int argc, char** argv) {
    qdipc::win::WinWindowOptions options;
    options.openFirewall = qdipc::OpenReceivePortInFirewall;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (argument == "--no-firewall") {
            options.openFirewall = nullptr;
            continue;
        }
        const std::wstring text = L"Unknown option " + qdipc::win::Wide(argument) +
                                  L" (qd_ip_search --help lists the options)";
        MessageBoxW(nullptr, text.c_str(), L"qd_ip_search", MB_OK | MB_ICONWARNING);
        return 2;
    }
    // Per-monitor DPI awareness also where the manifest was not read.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    qdipc::StartSocketLibrary();
    // The installed VLC 3 plays the preview; without one the pane says why.
    options.player = qdipc::win::MakePreviewPlayer(qdipc::LoadVlcRuntime());
    qdipc::win::SearchWindow window(options);
    if (!window.Create()) {
        return 1;
    }
    return window.RunMessageLoop();
}
