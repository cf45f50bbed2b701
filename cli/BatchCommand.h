#pragma once
// --assign and --plan without a window, on the provisioning engine
// (ProvisioningSession, driven by cli/ProvisioningRun.cpp): find the cameras,
// plan or read their new addresses, check the plan against the cameras found
// and the host, send the records paced, confirm each by the camera's own
// evidence, and print one record per camera: dev_id, mac, ip, new_ip,
// new_mask, new_gateway, mode, result (planned, sent, confirmed,
// not_confirmed, conflict, refused, not_found), reason. Each camera's result
// is also said on standard error as it comes.
// Every run that sends writes a rollback plan and names it on standard error.
//
// Exit codes: 0 every camera confirmed (or a dry run whose cameras were all
// found and planned), 3 some camera not confirmed, in conflict, refused or not
// found, 2 a wrong command line or plan (nothing sent), 1 the network failed.

#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/NetworkConfig.h"
#include "platform/NeighbourTable.h"
#include "settings/BatchAssign.h"
#include "settings/PlanFile.h"

namespace qdipc {

// The largest plan file --plan reads: kMaxPlanFileBytes (settings/PlanFile.h).

// Parses a command line that holds --assign or --plan.
CommandLine ParseBatchCommandLine(const std::vector<std::string>& args);

// What the run needs besides the network: the plan file's text and the
// host's neighbour table and gateways; empty: the real ones.
struct BatchEnvironment {
    std::function<bool(const std::string& path, std::string& text)> readFile;
    std::function<std::vector<NeighbourEntry>()> neighbours;
    std::function<std::optional<std::string>(std::uint32_t)> gatewayOf;
    // Probes the addresses a plan hands out; empty: ProbeAddresses on the
    // configured interfaces.
    AddressProber probe;
    // How long the cameras are searched for before the plan is made.
    int searchWaitMs = 2000;
    // How often the confirmation probes.
    int probeIntervalMs = 500;
};

int RunBatchCommand(CommandMode mode, const BatchOptions& options, const NetworkConfig& config,
                    std::ostream& out, std::ostream& err, const BatchEnvironment& environment = {});

// The records as text: a header line (TSV, CSV) or a JSON array of objects
// with the keys dev_id, mac, ip, new_ip, new_mask, new_gateway, mode, result,
// reason.
struct BatchRecord {
    std::string deviceId;
    std::string mac;
    std::string ip;
    std::string newIp;
    std::string result;
    std::string newMask{};
    std::string newGateway{};
    std::string mode{};  // static, dhcp or adsl
    std::string reason{};
};
std::string FormatBatchRecords(ListFormat format, const std::vector<BatchRecord>& records);

}  // namespace qdipc
