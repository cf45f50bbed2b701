#pragma once
// The tool host's own IPv4 address for the discovery request.

#include <optional>
#include <string>

namespace qdipc {

// The first non-loopback IPv4 address that looking up the host's own name
// gives, else the first IPv4 address of an up, non-loopback interface, else
// nothing. (The name lookup alone answers 127.0.1.1 on most Linux hosts,
// which is no use to a camera.)
std::optional<std::string> LocalIpv4Address();

}  // namespace qdipc
