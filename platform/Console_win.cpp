#include "platform/Console.h"

#include <windows.h>

#include <cstdio>
#include <iostream>

namespace qdipc {
namespace {

bool Leads(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void UseParentConsole() {
    // A GUI-subsystem program starts without a console; redirected streams
    // (a file, a pipe) work as they are.
    const bool out = Leads(STD_OUTPUT_HANDLE);
    const bool err = Leads(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    if (!out) {
        std::freopen("CONOUT$", "w", stdout);
    }
    if (!err) {
        std::freopen("CONOUT$", "w", stderr);
    }
    std::cout.clear();
    std::cerr.clear();
}

}  // namespace qdipc
