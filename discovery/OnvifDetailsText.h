#pragma once
// A networked video device's own facts (maker, model, firmware, serial, MAC,
// DHCP or static, clock offset, stream locations) as text: the lines the
// windows show and --details prints, and --details's JSON object. The
// device's words are plain text with their controls escaped.

#include <string>

#include "discovery/OnvifDevice.h"

namespace qdipc {

std::string FormatDetailsText(const std::string& address, const OnvifDetails& details);
std::string FormatDetailsJson(const std::string& address, const OnvifDetails& details);

}  // namespace qdipc
