#pragma once
// The Windows window "Search Tool", on the Win32 API: qd_ip_search.exe, the
// GUI-subsystem program, calls it when its command line holds no verb (a
// double-click, the Start-menu entry). Runs the window until it closes and
// answers the program's exit code. argv may hold --no-firewall (no firewall
// step at start-up); any other option is refused.

int RunWindowsWindow(int argc, char** argv);
