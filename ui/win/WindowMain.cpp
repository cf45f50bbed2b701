// The Windows window as a program of its own (GUI subsystem).
#include <cstdlib>

#include "ui/win/WinWindow.h"

int main(int argc, char** argv) {
    return RunWindowsWindow(argc, argv);
}
