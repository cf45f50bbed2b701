#pragma once
// The checks every change passes before its record is sent, a single Modify
// as much as a batch: a device ID answered by more than one MAC is refused
// (a record goes to every device using the ID), and a static address held by
// another listed camera, this host, a gateway, another run, a host the
// neighbour table knows or anything that answers a probe is named with its
// holder.

#include <string>
#include <vector>

#include "settings/BatchAssign.h"
#include "settings/ProvisioningSession.h"

namespace qdipc {

// Why a camera whose device ID answered with more than one MAC may not get a
// record: "the device ID 0011aabb-0000ff01 is answered by more than one MAC
// (02:00:00:00:00:01, 02:00:00:00:00:02); a record would reach every device
// using it". Empty when it answered with one.
std::string SeveralMacsReason(const FoundCamera& camera);

struct AddressCheck {
    // Who holds the address: "a listed camera (0011aabb-0000ff02)", "this
    // host", "a gateway", "another plan or run", "the neighbour table",
    // "something answered at this address"; empty when nobody does.
    std::string holder;
    // The address is on no link of this host, so nothing could be asked there.
    bool notProbed = false;
};

// Who holds the static address order.newIp, the camera itself (its device
// ID, order.camera.ip where it answers now) not counted. A DHCP or ADSL order
// holds no address: nobody. found: every camera listed or found.
AddressCheck CheckNewAddress(const AssignOrder& order, const std::vector<FoundCamera>& found,
                             const AssignSurroundings& surroundings);

// "10.0.0.10 is used by a listed camera (0011aabb-0000ff02)".
std::string UsedByText(const AssignOrder& order, const AddressCheck& check);

// The plan of one camera's given settings (--modify; the settings window
// asks the same checks). order.camera.deviceId names the camera; its other
// fields are filled from the camera found. Errors (nothing is sent): the
// device ID answered with several MACs; the address is held (UsedByText)
// unless force.
ProvisioningPlan PlanModify(AssignOrder order, const std::vector<FoundCamera>& found,
                            const AssignSurroundings& surroundings, bool force);

}  // namespace qdipc
