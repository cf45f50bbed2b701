#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "platform/SecretPrompt.h"

namespace qdipc {

std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt) {
    termios saved{};
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &saved) != 0) {
        return std::nullopt;
    }
    std::cerr << prompt << std::flush;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
    if (!read) {
        return std::nullopt;
    }
    return line;
}

}  // namespace qdipc
