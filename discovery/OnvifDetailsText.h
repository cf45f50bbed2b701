#pragma once
// A device's own account of itself (OnvifDetails) as plain text: what
// --details prints and what the windows' Device Details show.

#include <optional>
#include <string>

#include "discovery/OnvifDevice.h"

namespace qdipc {

// "dhcp", "static", or empty when the device did not say.
std::string AddressingWord(const std::optional<bool>& dhcp);

// One "Label:  value" line per fact, each value escaped (EscapeControls).
std::string FormatDetailsText(const std::string& address, const OnvifDetails& details);

}  // namespace qdipc
