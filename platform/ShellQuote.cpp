#include "platform/ShellQuote.h"

#include <algorithm>
#include <cstring>

namespace qdipc {

std::string ShellQuoted(std::string_view word) {
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != '\0' && std::strchr("_-.,:/@%+=", c) != nullptr);
    };
    if (!word.empty() && std::all_of(word.begin(), word.end(), plain)) {
        return std::string(word);
    }
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::optional<std::string> CmdQuoted(std::string_view word) {
    const bool unsafe = word.empty() || std::any_of(word.begin(), word.end(), [](char c) {
                            const auto byte = static_cast<unsigned char>(c);
                            return c == '"' || c == '%' || byte < 0x20 || byte == 0x7F;
                        });
    if (unsafe) {
        return std::nullopt;
    }
    return "\"" + std::string(word) + "\"";
}

}  // namespace qdipc
