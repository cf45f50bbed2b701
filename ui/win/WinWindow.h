#pragma once
// The Windows window ("Search Tool", Win32): qd_ip_search.exe, the
// GUI-subsystem program, calls it when its command line holds no verb (a
// double-click, the Start-menu entry). argc and argv are main's; the
// arguments as UTF-8 come from platform/Console.h's CommandLineArguments.

// Runs the window until it closes; returns the program's exit code.
int RunWindowsWindow(int argc, char** argv);
