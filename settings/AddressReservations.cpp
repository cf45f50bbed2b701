#include "settings/AddressReservations.h"

#include <algorithm>
#include <cctype>

#include "discovery/CellText.h"

namespace qdipc {
namespace {}  // namespace

AddressReservations::Holder AddressReservations::NewHolder() {
    std::lock_guard lock(mutex_);
    return next_++;
}

bool AddressReservations::ReserveAddress(Holder holder, std::uint32_t address) {
    std::lock_guard lock(mutex_);
    const auto [at, added] = addresses_.emplace(address, holder);
    return added || at->second == holder;
}

bool AddressReservations::ReserveCamera(Holder holder, const std::string& deviceId) {
    std::lock_guard lock(mutex_);
    const auto [at, added] = cameras_.emplace(LowerAscii(deviceId), holder);
    return added || at->second == holder;
}

void AddressReservations::ReleaseAddress(Holder holder, std::uint32_t address) {
    std::lock_guard lock(mutex_);
    const auto at = addresses_.find(address);
    if (at != addresses_.end() && at->second == holder) {
        addresses_.erase(at);
    }
}

void AddressReservations::Release(Holder holder) {
    std::lock_guard lock(mutex_);
    std::erase_if(addresses_, [&](const auto& entry) { return entry.second == holder; });
    std::erase_if(cameras_, [&](const auto& entry) { return entry.second == holder; });
}

std::vector<std::uint32_t> AddressReservations::TakenByOthers(Holder holder) const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> taken;
    for (const auto& [address, owner] : addresses_) {
        if (owner != holder) {
            taken.push_back(address);
        }
    }
    return taken;
}

bool AddressReservations::CameraTakenByOther(Holder holder, const std::string& deviceId) const {
    std::lock_guard lock(mutex_);
    const auto at = cameras_.find(LowerAscii(deviceId));
    return at != cameras_.end() && at->second != holder;
}

bool AddressReservations::AddressTakenByOther(Holder holder, std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    const auto at = addresses_.find(address);
    return at != addresses_.end() && at->second != holder;
}

}  // namespace qdipc
