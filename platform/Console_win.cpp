#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

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
    if (!(out && err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!out) {
            std::freopen("CONOUT$", "w", stdout);
        }
        if (!err) {
            std::freopen("CONOUT$", "w", stderr);
        }
        std::cout.clear();
        std::cerr.clear();
    }
    // The outputs write their own line ends (CSV CR LF, TSV and JSON LF):
    // the runtime's text mode would turn each LF into CR LF, and CSV's CR LF
    // into CR CR LF. The same bytes as on Linux, then.
    _setmode(_fileno(stdout), _O_BINARY);
}

void IgnoreClosedPipeSignal() {
    // Writing to a closed pipe fails with an error on Windows; there is no signal.
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        // Only when memory runs out: the runtime's ANSI arguments then.
        for (int i = 1; i < argc; ++i) {
            arguments.emplace_back(argv[i]);
        }
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(length > 0 ? static_cast<std::size_t>(length) : 1, '\0');
        if (length > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), length, nullptr, nullptr);
        }
        text.resize(text.size() - 1);  // the terminating zero
        arguments.push_back(std::move(text));
    }
    LocalFree(wide);
    return arguments;
}

bool StartWindowProgram() {
    std::wstring self(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()))) ==
           self.size()) {
        self.resize(self.size() * 2);
    }
    if (length == 0) {
        return false;
    }
    self.resize(length);
    const std::size_t dot = self.find_last_of(L'.');
    const std::size_t slash = self.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) {
        return false;
    }
    const std::wstring program = self.substr(0, dot) + L".exe";
    if (_wcsicmp(program.c_str(), self.c_str()) == 0) {
        return false;  // this is the window program itself
    }
    // The arguments as typed: what follows the program's name, read as the
    // C runtime reads it (quoted up to the next quote, else up to a blank).
    const wchar_t* rest = GetCommandLineW();
    if (*rest == L'"') {
        ++rest;
        while (*rest != 0 && *rest != L'"') {
            ++rest;
        }
        if (*rest == L'"') {
            ++rest;
        }
    } else {
        while (*rest != 0 && *rest != L' ' && *rest != L'\t') {
            ++rest;
        }
    }
    std::wstring line = L"\"" + program + L"\"" + rest;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace qdipc
