// Stands in for the Windows window until it is built: says so in a box.

#include <windows.h>

#include "ui/win/WinWindow.h"

int RunWindowsWindow(int argc, char** argv) {
    (void)argc;
    (void)argv;
    MessageBoxW(nullptr,
                L"This build of qd_ip_search has no window yet.\n\n"
                L"The command line works: in a console, type qd_ip_search --help.",
                L"qd_ip_search", MB_OK | MB_ICONINFORMATION);
    return 1;
}
