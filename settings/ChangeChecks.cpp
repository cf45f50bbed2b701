#include "settings/ChangeChecks.h"

#include <algorithm>

#include "discovery/CellText.h"
#include "settings/SettingsValidation.h"

namespace qdipc {

std::string SeveralMacsReason(const FoundCamera& camera) {
    if (camera.otherMacs.empty()) {
        return {};
    }
    std::string macs = camera.camera.mac;
    for (const std::string& mac : camera.otherMacs) {
        macs += ", " + mac;
    }
    return "the device ID " + camera.camera.deviceId + " is answered by more than one MAC (" +
           macs + "); a record would reach every device using it";
}

AddressCheck CheckNewAddress(const AssignOrder& order, const std::vector<FoundCamera>& found,
                             const AssignSurroundings& surroundings) {
    AddressCheck check;
    const auto address = ParseIpv4Strict(order.newIp);
    if (order.mode != AddressingMode::Static || !address) {
        return check;  // no address is taken (a bad one the settings rules refuse)
    }
    const std::string self = LowerAscii(order.camera.deviceId);
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (ParseIpv4Strict(network.address) == address) {
            check.holder = "this host";
            return check;
        }
    }
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (surroundings.gatewayOf &&
            ParseIpv4Strict(surroundings.gatewayOf(network.index).value_or(std::string())) ==
                address) {
            check.holder = "a gateway";
            return check;
        }
    }
    for (const FoundCamera& camera : found) {
        if (LowerAscii(camera.camera.deviceId) != self &&
            ParseIpv4Strict(camera.camera.ip) == address) {
            check.holder = "a listed camera (" + camera.camera.deviceId + ")";
            return check;
        }
    }
    for (const std::string& ip : surroundings.otherCameras) {
        if (ParseIpv4Strict(ip) == address) {
            check.holder = "a listed camera";
            return check;
        }
    }
    if (std::find(surroundings.reserved.begin(), surroundings.reserved.end(), *address) !=
        surroundings.reserved.end()) {
        check.holder = SkipReasonText(SkipReason::Reserved);
        return check;
    }
    // The camera's own address answers because the camera is there.
    if (ParseIpv4Strict(order.camera.ip) == address) {
        return check;
    }
    if (std::any_of(
            surroundings.neighbours.begin(), surroundings.neighbours.end(),
            [&](const NeighbourEntry& n) { return ParseIpv4Strict(n.address) == address; })) {
        check.holder = SkipReasonText(SkipReason::Neighbour);
        return check;
    }
    if (surroundings.probe) {
        const std::vector<ProbeAnswer> answers = surroundings.probe({*address});
        if (!answers.empty() && answers.front() == ProbeAnswer::Answered) {
            check.holder = SkipReasonText(SkipReason::Answered);
        } else if (!answers.empty() && answers.front() == ProbeAnswer::NotProbed) {
            check.notProbed = true;
        }
    }
    return check;
}

std::string UsedByText(const AssignOrder& order, const AddressCheck& check) {
    return order.newIp + " is used by " + check.holder;
}

ProvisioningPlan PlanModify(AssignOrder order, const std::vector<FoundCamera>& found,
                            const AssignSurroundings& surroundings, bool force) {
    ProvisioningPlan plan;
    const std::string id = LowerAscii(order.camera.deviceId);
    const auto camera = std::find_if(found.begin(), found.end(), [&](const FoundCamera& f) {
        return LowerAscii(f.camera.deviceId) == id;
    });
    if (camera == found.end()) {
        order.camera.deviceId = id;
        plan.notFound.push_back(std::move(order));
        return plan;
    }
    if (std::string reason = SeveralMacsReason(*camera); !reason.empty()) {
        plan.error = std::move(reason);
        return plan;
    }
    order.camera = camera->camera;
    const AddressCheck check = CheckNewAddress(order, found, surroundings);
    if (!check.holder.empty() && !force) {
        plan.error = UsedByText(order, check);
        plan.overridable = true;
        return plan;
    }
    if (check.notProbed) {
        plan.unprobed.push_back(ParseIpv4Strict(order.newIp).value_or(0));
    }
    plan.orders.push_back(std::move(order));
    return plan;
}

}  // namespace qdipc
