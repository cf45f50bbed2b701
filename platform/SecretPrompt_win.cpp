#include <windows.h>

#include <iostream>

#include "platform/SecretPrompt.h"

namespace qdipc {

std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &saved)) {
        return std::nullopt;  // not a console
    }
    std::cerr << prompt << std::flush;
    SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    SetConsoleMode(input, saved);
    std::cerr << "\n";
    if (!read) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace qdipc
