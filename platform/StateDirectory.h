#pragma once
// Where this user's state of the tool is kept (rollback plans of settings
// runs): $XDG_STATE_HOME/qd_ip_search, else ~/.local/state/qd_ip_search; on
// Windows %LOCALAPPDATA%\qd_ip_search. Empty when the system names no such
// place. The directory is not created here.

#include <filesystem>

namespace qdipc {

std::filesystem::path UserStateDirectory();

}  // namespace qdipc
