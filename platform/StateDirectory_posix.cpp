#include "platform/StateDirectory.h"

#include <cstdlib>

namespace qdipc {

std::filesystem::path UserStateDirectory() {
    // An XDG directory that is not absolute is to be ignored.
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
        return std::filesystem::path(state) / "qd_ip_search";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "state" / "qd_ip_search";
    }
    return {};
}

}  // namespace qdipc
