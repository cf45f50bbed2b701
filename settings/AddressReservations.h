#pragma once
// Addresses and cameras that a plan or a run holds, so that no other plan
// hands them out again: every address planned or in flight in any run (an
// open Assign dialog, a settings window's change, a plan file) is taken for
// every other plan until its holder lets go, and a camera with a change in
// flight cannot be put into another run. The window owns one for all its
// dialogs; the command line one per process. Not a singleton: whoever owns it
// hands it to the plans and runs.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qdipc {

class AddressReservations {
public:
    using Holder = std::uint64_t;

    // A new holder (a dialog, a run); never 0.
    Holder NewHolder();

    // Takes address for holder; false when another holder has it. Taking an
    // address twice for one holder is no fault.
    bool ReserveAddress(Holder holder, std::uint32_t address);
    // Takes the camera (its device ID as the list shows it, any case) for
    // holder's run; false when another holder has it.
    bool ReserveCamera(Holder holder, const std::string& deviceId);
    // Lets go of one address or of everything the holder has.
    void ReleaseAddress(Holder holder, std::uint32_t address);
    void Release(Holder holder);

    // The addresses other holders have: a plan for holder must avoid them.
    std::vector<std::uint32_t> TakenByOthers(Holder holder) const;
    bool CameraTakenByOther(Holder holder, const std::string& deviceId) const;
    bool AddressTakenByOther(Holder holder, std::uint32_t address) const;

private:
    mutable std::mutex mutex_;
    Holder next_ = 1;
    std::map<std::uint32_t, Holder> addresses_;
    std::map<std::string, Holder> cameras_;  // lowercase device ID
};

}  // namespace qdipc
