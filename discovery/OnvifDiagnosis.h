#pragma once
// The ONVIF part of the network diagnosis: the probes sent and the answers
// received per interface, and whether a firewall drops the answers, which
// devices send unicast from port 3702 to the probing socket's ephemeral port
// (a rule set that admits only the receive port drops them all).
// Toolkit-free; works on facts a test can supply.

#include <cstdint>
#include <vector>

#include "discovery/NetworkDiagnosis.h"
#include "discovery/OnvifProbe.h"
#include "platform/FirewallState.h"

namespace qdipc {

struct OnvifFacts {
    bool probed = false;  // false: no probe ran (the lines say "not checked")
    std::vector<OnvifInterfaceCount> interfaces;
    int devices = 0;
    std::uint16_t replyPort = 0;     // an ephemeral port a probe went out from
    HostFirewallReadings firewalls;  // read for UDP to replyPort
};

// One "onvif_probes" line per interface, then one "onvif_replies" line on
// the firewalls.
std::vector<DiagnosisLine> DiagnoseOnvif(const OnvifFacts& facts);

}  // namespace qdipc
