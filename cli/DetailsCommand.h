#pragma once
// --details: what a networked video device's own device service says about
// it (maker, model, firmware, serial, MAC, DHCP or static, clock offset,
// stream locations), asked over HTTP at one strict dotted-quad address.
// Unlike the other verbs it broadcasts nothing.

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/OnvifDetailsText.h"
#include "discovery/OnvifDevice.h"

namespace qdipc {

// The device refused the login, asked for one that was not given, or could
// not be reached (also: its answers were not the ones asked for).
inline constexpr int kExitDeviceRefused = 3;

// --details's own arguments: --details TARGET [--user U] [--password-file F]
// [--format text|json]. A wrong one is a UsageError with its message.
CommandLine ParseDetailsCommandLine(const std::vector<std::string>& args);

// The facts as --details prints them (the text: FormatDetailsText, which the
// windows show too).
std::string FormatDetailsJson(const std::string& address, const OnvifDetails& details);

// Asks for the password when --user is given without --password-file (the
// terminal prompt; tests pass their own).
using SecretReader = std::function<std::optional<std::string>(const std::string& prompt)>;

// 0 the facts were printed; 2 a usage fault found late (an unreadable
// password file, no terminal to ask on); 3 the device refused or could not be
// reached; 1 the output could not be written.
int RunDetails(const DetailsOptions& options, std::ostream& out, std::ostream& err,
               const SecretReader& askSecret = {});

}  // namespace qdipc
