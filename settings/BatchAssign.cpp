#include "settings/BatchAssign.h"

#include <algorithm>
#include <cctype>
#include <numeric>
#include <unordered_set>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "settings/AddressPlanner.h"

namespace qdipc {
namespace {

std::vector<std::uint32_t> Addresses(const std::vector<std::string>& texts) {
    std::vector<std::uint32_t> out;
    for (const std::string& text : texts) {
        if (const auto address = ParseIpv4Strict(text)) {
            out.push_back(*address);
        }
    }
    return out;
}

const Ipv4Interface* InterfaceOf(const AssignSurroundings& surroundings, std::uint32_t index) {
    if (index == 0) {
        return nullptr;
    }
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (network.index == index) {
            return &network;
        }
    }
    return nullptr;
}

AddressPlanRequest RequestFor(const std::vector<AssignCamera>& batch,
                              const AssignSurroundings& surroundings) {
    AddressPlanRequest request;
    for (const AssignCamera& camera : batch) {
        request.batchAddresses.push_back(ParseIpv4Strict(camera.ip).value_or(0));
    }
    request.otherCameras = Addresses(surroundings.otherCameras);
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (const auto address = ParseIpv4Strict(network.address)) {
            request.hostAddresses.push_back(*address);
        }
    }
    for (const NeighbourEntry& entry : surroundings.neighbours) {
        if (const auto address = ParseIpv4Strict(entry.address)) {
            request.neighbours.push_back(*address);
        }
    }
    request.reserved = surroundings.reserved;
    return request;
}

// How many rounds of probing a plan takes at most, and how many addresses
// after the last one planned each round probes as well (a block of live
// hosts then costs one round, not one per camera).
constexpr int kMaxProbeRounds = 6;
constexpr std::size_t kProbeLookAhead = 32;

}  // namespace

AddressPlan PlanAddressesProbed(AddressPlanRequest request, const AddressProber& probe,
                                std::vector<std::uint32_t>& unprobed) {
    unprobed.clear();
    AddressPlan plan = PlanAddresses(request);
    if (!probe) {
        return plan;
    }
    std::unordered_set<std::uint32_t> asked;
    std::unordered_set<std::uint32_t> notProbed;
    const std::uint32_t broadcast = (request.start & request.mask) | ~request.mask;
    for (int round = 0; round < kMaxProbeRounds && plan.Ok(); ++round) {
        std::vector<std::uint32_t> candidates;
        for (std::uint32_t address : plan.addresses) {
            if (asked.insert(address).second) {
                candidates.push_back(address);
            }
        }
        if (candidates.empty()) {
            break;  // every planned address was probed and none answered
        }
        std::uint32_t next = plan.addresses.empty() ? request.start : plan.addresses.back() + 1;
        const std::size_t ahead = request.batchAddresses.size() + kProbeLookAhead;
        for (std::size_t k = 0; k < ahead && next < broadcast; ++k, ++next) {
            if (asked.insert(next).second) {
                candidates.push_back(next);
            }
        }
        const std::vector<ProbeAnswer> answers = probe(candidates);
        for (std::size_t i = 0; i < candidates.size() && i < answers.size(); ++i) {
            if (answers[i] == ProbeAnswer::Answered) {
                request.answered.push_back(candidates[i]);
            } else if (answers[i] == ProbeAnswer::NotProbed) {
                notProbed.insert(candidates[i]);
            }
        }
        plan = PlanAddresses(request);
    }
    for (std::uint32_t address : plan.addresses) {
        if (!asked.contains(address) || notProbed.contains(address)) {
            unprobed.push_back(address);
        }
    }
    return plan;
}

std::string UnprobedText(const std::vector<std::uint32_t>& addresses) {
    if (addresses.empty()) {
        return {};
    }
    std::string text = "not probed (on no link of this host):";
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        text += (i == 0 ? " " : ", ") + FormatIpv4(addresses[i]);
    }
    return text;
}

AssignSurroundings HostSurroundings(std::vector<std::string> otherCameras) {
    AssignSurroundings surroundings;
    surroundings.interfaces = ListBroadcastInterfaces();
    surroundings.otherCameras = std::move(otherCameras);
    surroundings.neighbours = ReachableNeighbours();
    surroundings.gatewayOf = DefaultGatewayOf;
    surroundings.probe =
        [interfaces = surroundings.interfaces](const std::vector<std::uint32_t>& addresses) {
            return ProbeAddresses(addresses, interfaces);
        };
    return surroundings;
}

AssignFields PrefillAssignFields(const std::vector<AssignCamera>& batch,
                                 const AssignSurroundings& surroundings) {
    AssignFields fields;
    if (batch.empty()) {
        return fields;
    }
    const AssignCamera& first = batch.front();
    std::optional<std::uint32_t> address;
    std::optional<std::uint32_t> mask;
    if (const Ipv4Interface* network = InterfaceOf(surroundings, first.arrivalInterface)) {
        address = ParseIpv4Strict(network->address);
        mask = ParseIpv4Strict(network->netmask);
        if (surroundings.gatewayOf) {
            fields.gateway = surroundings.gatewayOf(network->index).value_or("");
        }
    }
    if (!address || !mask) {
        address = ParseIpv4Strict(first.ip);
        mask = ParseIpv4Strict(first.mask);
        fields.gateway = first.gateway;
    }
    if (!address || !mask || !MaskPrefixLength(*mask)) {
        return fields;
    }
    fields.mask = FormatIpv4(*mask);
    // The plan of one camera from just above the highest address in use in
    // the subnet (a recorder or switch at a low address keeps it); from the
    // network's first host when nothing is free above it.
    const std::uint32_t network = *address & *mask;
    const std::uint32_t broadcast = network | ~*mask;
    AddressPlanRequest request = RequestFor(batch, surroundings);
    request.batchAddresses.resize(1);
    request.mask = *mask;
    if (const auto gateway = ParseIpv4Strict(fields.gateway);
        gateway && (*gateway & *mask) == network) {
        request.gateway = gateway;
    }
    std::uint32_t highest = network;
    const auto inUse = [&](std::uint32_t used) {
        if ((used & *mask) == network && used < broadcast) {
            highest = std::max(highest, used);
        }
    };
    // Another open plan's addresses do not count: two dialogs open the same
    // way and their plans then pass over each other's.
    for (const auto* list : {&request.batchAddresses, &request.otherCameras, &request.hostAddresses,
                             &request.neighbours}) {
        std::for_each(list->begin(), list->end(), inUse);
    }
    for (const AssignCamera& camera : batch) {
        inUse(ParseIpv4Strict(camera.ip).value_or(0));
    }
    if (request.gateway) {
        inUse(*request.gateway);
    }
    std::vector<std::uint32_t> unprobed;
    for (const std::uint32_t start : {highest + 1, network + 1}) {
        if (start >= broadcast) {
            continue;
        }
        request.start = start;
        const AddressPlan plan = PlanAddressesProbed(request, surroundings.probe, unprobed);
        if (plan.Ok()) {
            fields.start = FormatIpv4(plan.addresses.front());
            break;
        }
    }
    return fields;
}

bool AssignOrderLess(const AssignCamera& a, const AssignCamera& b) {
    const auto lower = LowerAscii;
    const std::string macA = lower(a.mac);
    const std::string macB = lower(b.mac);
    if (macA != macB) {
        return macA < macB;
    }
    return lower(a.deviceId) < lower(b.deviceId);
}

BatchPlan PlanBatch(const std::vector<AssignCamera>& batch, const AssignFields& fields,
                    const AssignSurroundings& surroundings) {
    BatchPlan result;
    const auto start = ParseIpv4Strict(fields.start);
    if (!start) {
        result.error = "Start IP: '" + fields.start + "' is not an IPv4 address";
        return result;
    }
    const auto mask = ParseIpv4Strict(fields.mask);
    if (!mask || !MaskPrefixLength(*mask) || *mask == 0) {
        result.error = "Mask: '" + fields.mask + "' is not a netmask of contiguous ones";
        return result;
    }
    std::vector<std::size_t> order(batch.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return AssignOrderLess(batch[a], batch[b]);
    });
    std::vector<AssignCamera> ordered;
    ordered.reserve(batch.size());
    for (std::size_t index : order) {
        ordered.push_back(batch[index]);
    }
    AddressPlanRequest request = RequestFor(ordered, surroundings);
    request.start = *start;
    request.mask = *mask;
    if (!fields.gateway.empty()) {
        const auto gateway = ParseIpv4Strict(fields.gateway);
        if (!gateway) {
            result.error = "Gateway: '" + fields.gateway + "' is not an IPv4 address";
            return result;
        }
        request.gateway = gateway;
    }
    const AddressPlan plan = PlanAddressesProbed(request, surroundings.probe, result.unprobed);
    if (!plan.Ok()) {
        result.error = plan.error;
        return result;
    }
    result.newIps.resize(batch.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        result.newIps[order[i]] = FormatIpv4(plan.addresses[i]);
    }
    result.skipped = plan.skipped;
    return result;
}

NetSettingsRecord AssignRecord(const AssignCamera& camera, const std::string& newIp,
                               const std::string& mask, const std::string& gateway,
                               AddressingMode mode) {
    std::array<std::uint8_t, record::kDevIdBlockSize> devIdBlock{};
    ParseDeviceId(camera.deviceId.c_str(), devIdBlock.data());
    return BuildModifyRecord(devIdBlock, mode, newIp, mask, gateway, camera.mac);
}

}  // namespace qdipc
