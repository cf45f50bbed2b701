#pragma once
// The network diagnosis: why no camera answers. Each check looks at one
// cause on this PC (its interfaces and links, Wi-Fi, the receive port, the
// firewalls, the reverse-path filter) or at what happened during the last
// search (requests not sent, datagrams rejected, replies from other subnets
// only), and gives a result, a one-line finding and the command or step that
// fixes it. The facts come from the platform layer and from the search; the
// judgement here is toolkit-free and works on facts a test can supply.
// Nothing here changes the host or sends anything.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery/RecvSearchThread.h"
#include "discovery/SearchCommand.h"
#include "platform/FirewallState.h"
#include "platform/InterfaceLinks.h"
#include "platform/NetworkInterfaces.h"
#include "platform/PortOwner.h"

namespace qdipc {

enum class CheckResult { Ok, Problem, NotChecked };

// "ok", "problem", "not_checked".
const char* CheckResultName(CheckResult result);

struct DiagnosisLine {
    std::string check;  // a short name: "interfaces", "port", "rp_filter" ...
    CheckResult result = CheckResult::NotChecked;
    std::string finding;  // one line, what was found
    std::string fix;      // one line, what fixes it; "" when nothing needs fixing
};

// What the system says about itself, read before (and apart from) a search.
struct HostFacts {
    std::uint16_t port = kToolReceivePort;
    std::optional<std::vector<InterfaceLink>> links;
    PortOwnerLookup portOwners;
    HostFirewallReadings firewalls;
};

// What happened during the last search (and its repeats).
struct SearchFacts {
    bool searched = false;  // false: no search ran (the checks below say "not checked")
    bool bound = true;      // the receive port could be bound
    SearchOutcome outcome = SearchOutcome::Sent;
    std::vector<Ipv4Interface> failedNetworks;
    RejectTally rejected;
    int cameras = 0;                 // cameras listed
    int camerasInOtherSubnets = 0;   // of those, outside their interface's subnet
    std::string otherSubnetExample;  // such a camera's IP, for the fix
    // Datagrams the reverse-path filter dropped during the search; nullopt
    // where the system does not count them.
    std::optional<std::uint64_t> reversePathDrops;
};

// Reads the host's facts through the platform layer (interfaces, the port's
// owners, the firewalls of the broadcast interfaces). Reads only.
HostFacts GatherHostFacts(std::uint16_t port = kToolReceivePort);

// The checks in a fixed order, one line each.
std::vector<DiagnosisLine> Diagnose(const HostFacts& host, const SearchFacts& search);

// Whether any line is a problem.
bool HasProblem(const std::vector<DiagnosisLine>& lines);

// The lines as tab-separated text for the clipboard and the command line:
// "check", "result", "finding", "fix", then one line per check, control
// characters (tabs too) as \xNN.
std::string DiagnosisText(const std::vector<DiagnosisLine>& lines);

}  // namespace qdipc
