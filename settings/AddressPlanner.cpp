#include "settings/AddressPlanner.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace qdipc {

const char* SkipReasonText(SkipReason reason) {
    switch (reason) {
        case SkipReason::ListedCamera:
            return "a listed camera";
        case SkipReason::ThisHost:
            return "this host";
        case SkipReason::Gateway:
            return "the gateway";
        case SkipReason::Neighbour:
            return "the neighbour table";
        case SkipReason::Reserved:
            return "another plan or run";
        case SkipReason::BatchCamera:
            return "another camera of the batch";
        case SkipReason::Answered:
            return "something answered at this address";
    }
    return "";
}

AddressPlan PlanAddresses(const AddressPlanRequest& request) {
    AddressPlan plan;
    const std::optional<int> prefix = MaskPrefixLength(request.mask);
    if (!prefix) {
        plan.error = "the mask " + FormatIpv4(request.mask) + " is not a contiguous netmask";
        return plan;
    }
    if (*prefix > 30) {
        plan.error = "the mask " + FormatIpv4(request.mask) + " leaves no room for cameras";
        return plan;
    }
    const std::uint32_t network = request.start & request.mask;
    const std::uint32_t broadcast = network | ~request.mask;
    if (request.gateway && (*request.gateway & request.mask) != network) {
        plan.error = "the gateway " + FormatIpv4(*request.gateway) + " is outside " +
                     FormatIpv4(network) + "/" + std::to_string(*prefix);
        return plan;
    }

    if (request.start == broadcast) {
        plan.error = "the start address " + FormatIpv4(request.start) +
                     " is the broadcast address of " + FormatIpv4(network) + "/" +
                     std::to_string(*prefix);
        return plan;
    }

    // Taken addresses with the first reason found for each.
    std::unordered_map<std::uint32_t, SkipReason> taken;
    const auto take = [&](const std::vector<std::uint32_t>& addresses, SkipReason reason) {
        for (std::uint32_t address : addresses) {
            taken.emplace(address, reason);
        }
    };
    take(request.hostAddresses, SkipReason::ThisHost);
    if (request.gateway) {
        taken.emplace(*request.gateway, SkipReason::Gateway);
    }
    take(request.otherCameras, SkipReason::ListedCamera);
    take(request.reserved, SkipReason::Reserved);
    const std::unordered_set<std::uint32_t> neighbours(request.neighbours.begin(),
                                                       request.neighbours.end());
    const std::unordered_set<std::uint32_t> answered(request.answered.begin(),
                                                     request.answered.end());
    // How many cameras of the batch hold each current address.
    std::unordered_map<std::uint32_t, int> batchHolders;
    for (std::uint32_t address : request.batchAddresses) {
        if (address != 0) {
            ++batchHolders[address];
        }
    }

    std::uint32_t next = std::max(request.start, network + 1);
    for (std::uint32_t own : request.batchAddresses) {
        bool found = false;
        for (; next < broadcast; ++next) {
            const std::uint32_t candidate = next;
            if (const auto reason = taken.find(candidate); reason != taken.end()) {
                plan.skipped.push_back({candidate, reason->second});
                continue;
            }
            const auto holders = batchHolders.find(candidate);
            const bool heldInBatch = holders != batchHolders.end();
            // Its own address, held by no one else: the neighbour table
            // knows it because of this very camera.
            const bool ownAlone = heldInBatch && candidate == own && holders->second == 1;
            if (heldInBatch && !ownAlone) {
                plan.skipped.push_back({candidate, SkipReason::BatchCamera});
                continue;
            }
            if (!ownAlone && neighbours.contains(candidate)) {
                plan.skipped.push_back({candidate, SkipReason::Neighbour});
                continue;
            }
            // Its own address answers because the camera is there.
            if (!ownAlone && answered.contains(candidate)) {
                plan.skipped.push_back({candidate, SkipReason::Answered});
                continue;
            }
            found = true;
            break;
        }
        if (!found) {
            plan.error = "too few free addresses: " + std::to_string(plan.addresses.size()) +
                         " of " + std::to_string(request.batchAddresses.size()) +
                         " cameras fit between " + FormatIpv4(request.start) + " and " +
                         FormatIpv4(broadcast - 1);
            plan.addresses.clear();
            plan.skipped.clear();
            return plan;
        }
        plan.addresses.push_back(next);
        ++next;
    }
    return plan;
}

}  // namespace qdipc
