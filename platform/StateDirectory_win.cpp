#include "platform/StateDirectory.h"

#include <cstdlib>

namespace qdipc {

std::filesystem::path UserStateDirectory() {
    // The wide form, so that a user name outside the ANSI code page works.
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local != nullptr && local[0] != 0) {
        return std::filesystem::path(local) / "qd_ip_search";
    }
    return {};
}

}  // namespace qdipc
