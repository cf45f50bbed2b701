#pragma once
// Assigning addresses to a batch of cameras, the part the window and the
// command line share: the surroundings the plan must avoid (this host's
// addresses, the neighbour table, the other listed cameras), the fields the
// window opens with, the plan from the operator's texts, and the one static
// record each camera gets.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AddressProbe.h"
#include "platform/NeighbourTable.h"
#include "platform/NetworkInterfaces.h"
#include "settings/AddressPlanner.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {

// Records of a batch leave this far apart, so that a switch or a camera's
// small receive queue does not drop them.
inline constexpr std::chrono::milliseconds kAssignPacing{5};

// One camera of the batch as the list shows it.
struct AssignCamera {
    std::string deviceId;  // "0011aabb-0000ff01"
    std::string mac;       // "00:1a:2b:3c:4d:5e"
    std::string ip;
    std::string mask;
    std::string gateway;
    std::uint32_t arrivalInterface = 0;  // the interface its reply came in on, 0 unknown
    // How it got its address, where known (a reply does not say): a DHCP
    // camera's rollback puts it back on DHCP.
    std::optional<AddressingMode> mode{};
    // Other MACs its device ID answered with (the list's DeviceList::OtherMacs):
    // such a camera is refused, as a record would reach every one of them.
    std::vector<std::string> otherMacs{};
};

// Probes addresses (ProbeAddresses, or a fake in tests): one answer per
// address, in the order given.
using AddressProber =
    std::function<std::vector<ProbeAnswer>(const std::vector<std::uint32_t>& addresses)>;

// What lies around the batch on the network.
struct AssignSurroundings {
    std::vector<Ipv4Interface> interfaces;  // this host's
    std::vector<std::string> otherCameras;  // IPs of listed cameras outside the batch
    std::vector<NeighbourEntry> neighbours;
    // The host's default gateway through an interface, by index.
    std::function<std::optional<std::string>(std::uint32_t)> gatewayOf;
    // Addresses other plans and runs hold (AddressReservations::TakenByOthers).
    std::vector<std::uint32_t> reserved;
    // Asks whether anything answers at the addresses a plan would hand out;
    // empty: nothing is probed.
    AddressProber probe{};
};

// The host's interfaces, neighbour table, default routes and address probe,
// and the given cameras' addresses.
AssignSurroundings HostSurroundings(std::vector<std::string> otherCameras);

struct AssignFields {
    std::string start;
    std::string mask;
    std::string gateway;
};

// The network the camera answered on (the interface of its reply; when that
// is not known, the camera's own address and mask): that interface's mask,
// the host's gateway through it when it has one, and as start the first free
// address (nobody answers for it) after the highest one in use in that
// subnet (this host, the gateway, the cameras, the neighbour table; another
// open plan's addresses are passed over, not counted); from the subnet's
// first address when none is free above it.
AssignFields PrefillAssignFields(const std::vector<AssignCamera>& batch,
                                 const AssignSurroundings& surroundings);

struct BatchPlan {
    std::vector<std::string> newIps;  // one per camera, in the batch's order
    std::string error;                // names the field ("Start IP: ...") when it is one
    // The addresses passed over, each with why ("10.0.0.5: a listed camera").
    std::vector<SkippedAddress> skipped;
    // Planned addresses that could not be probed (on no link of this host).
    std::vector<std::uint32_t> unprobed;

    bool Ok() const { return error.empty(); }
};

// Plans as PlanAddresses does, and with a probe also probes the addresses the
// plan hands out (and the next ones after them): an address that answers is
// skipped and the plan made again, a few rounds at most. unprobed gets the
// planned addresses that could not be probed.
AddressPlan PlanAddressesProbed(AddressPlanRequest request, const AddressProber& probe,
                                std::vector<std::uint32_t>& unprobed);

// "not probed (on no link of this host): 10.0.0.5, 10.0.0.6"; empty for none.
std::string UnprobedText(const std::vector<std::uint32_t>& addresses);

// True when a comes before b in the order addresses are handed out: by MAC,
// then by device ID (as the list shows them, any case). The order does not
// depend on which camera answered first, so a dry run and the run after it
// give each camera the same address.
bool AssignOrderLess(const AssignCamera& a, const AssignCamera& b);

// Plans from the operator's texts; the fields are checked first. Addresses
// are handed out in AssignOrderLess order; newIps are in the batch's order.
// With a probe in the surroundings, every address handed out was probed.
BatchPlan PlanBatch(const std::vector<AssignCamera>& batch, const AssignFields& fields,
                    const AssignSurroundings& surroundings);

// The record for one camera: its device ID, static mode, the new address,
// mask and gateway, and its MAC unchanged.
NetSettingsRecord AssignRecord(const AssignCamera& camera, const std::string& newIp,
                               const std::string& mask, const std::string& gateway,
                               AddressingMode mode = AddressingMode::Static);

// One camera's change: what is sent and what it must report afterwards.
struct AssignOrder {
    AssignCamera camera;
    std::string newIp;
    std::string mask;
    std::string gateway;
    AddressingMode mode = AddressingMode::Static;
    // The MAC the record gives the camera; empty: it keeps camera.mac.
    std::string newMac{};
    // Puts the camera back to what it reported before (a rollback's line):
    // the settings pass ValidateRestoreSettings (an empty, 0.0.0.0 or
    // off-subnet gateway is what it had) and may share an address with
    // other restores (a factory batch).
    bool restore = false;
    // Not empty: the plan refused this camera alone, for this reason.
    std::string refusal{};

    const std::string& RecordMac() const { return newMac.empty() ? camera.mac : newMac; }
    NetSettingsRecord Record() const {
        AssignCamera target = camera;
        target.mac = RecordMac();
        return AssignRecord(target, newIp, mask, gateway, mode);
    }
};

}  // namespace qdipc
