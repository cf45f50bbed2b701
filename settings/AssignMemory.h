#pragma once
// The Assign dialog's fields as the operator last applied them, per network,
// so that the next batch on the same network starts from them instead of the
// prefilled guess. Kept in a small text file in the user's state directory:
// one line per network, "network<TAB>start<TAB>mask<TAB>gateway", the most
// recently applied last.

#include <filesystem>
#include <string>

#include "settings/BatchAssign.h"

namespace qdipc {

// At most this many networks are kept; the least recently applied go.
inline constexpr std::size_t kMaxRememberedNetworks = 64;

// The file in a state directory; empty when the directory is.
std::filesystem::path AssignMemoryFile(const std::filesystem::path& stateDirectory);

// The network a prefill names, "192.168.1.0/255.255.255.0"; empty when its
// start or mask is no address.
std::string AssignNetworkKey(const AssignFields& prefill);

// The fields last applied on prefill's network, or prefill itself when none
// were (or the file cannot be read).
AssignFields RecallAssignFields(const std::filesystem::path& file, const AssignFields& prefill);

// Stores applied as the fields of prefill's network; false when it has no
// network or the file could not be written (the folder is made when missing).
bool RememberAssignFields(const std::filesystem::path& file, const AssignFields& prefill,
                          const AssignFields& applied);

}  // namespace qdipc
