#pragma once
// The Windows window "Search Tool", on the Win32 API: runs it until it
// closes and answers the program's exit code. argv may hold --no-firewall
// (no firewall step at start-up); any other option is refused.

int RunWindowsWindow(int argc, char** argv);
