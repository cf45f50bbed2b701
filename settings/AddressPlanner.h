#pragma once
// Plans new addresses for a batch of cameras: each camera, in the order
// given, gets the next free address from a start address upward inside the
// start's subnet. Free means: not the subnet's network or broadcast address,
// not the gateway, not the address of a listed camera outside the batch, not
// one of this host's addresses, not an address the host's neighbour table
// knows as reachable, not one where something answered a probe, and not the current address of
// another camera of the batch (a camera that misses its record keeps it). A camera may keep its own
// current address when its turn reaches it and nobody else holds it.
//
// Addresses are host-order 32-bit numbers here, as ParseIpv4Strict gives
// them; the texts are dotted quads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingsValidation.h"

namespace qdipc {

struct AddressPlanRequest {
    // The batch's current addresses in list order (0 where unknown); one new
    // address is planned per entry.
    std::vector<std::uint32_t> batchAddresses;
    std::uint32_t start = 0;
    std::uint32_t mask = 0;
    std::optional<std::uint32_t> gateway;
    // Addresses of listed cameras that are not in the batch.
    std::vector<std::uint32_t> otherCameras;
    std::vector<std::uint32_t> hostAddresses;
    // Addresses the neighbour table knows as reachable.
    std::vector<std::uint32_t> neighbours;
    // Addresses another plan or run holds (AddressReservations).
    std::vector<std::uint32_t> reserved{};
    // Addresses where something answered a probe (AddressProbe).
    std::vector<std::uint32_t> answered{};
};

// Why the planner passed over an address.
enum class SkipReason {
    ListedCamera,
    ThisHost,
    Gateway,
    Neighbour,
    Reserved,
    BatchCamera,
    Answered,
};

// "a listed camera", "this host", "the gateway", "the neighbour table",
// "another plan or run", "another camera of the batch", "something answered
// at this address".
const char* SkipReasonText(SkipReason reason);

struct SkippedAddress {
    std::uint32_t address = 0;
    SkipReason reason = SkipReason::ListedCamera;
};

struct AddressPlan {
    // One address per camera of the batch, in its order; empty on error.
    std::vector<std::uint32_t> addresses;
    // Why there is no plan (bad mask, start outside any usable range, too few
    // free addresses); empty when planned.
    std::string error;
    // The addresses passed over between the start and the last one planned,
    // in address order, each with why.
    std::vector<SkippedAddress> skipped;

    bool Ok() const { return error.empty(); }
};

AddressPlan PlanAddresses(const AddressPlanRequest& request);

}  // namespace qdipc
