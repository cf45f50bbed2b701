#include "tools/camsim/CameraSet.h"

namespace camsim {

CameraSet::CameraSet(std::size_t count, std::uint32_t base) {
    cameras_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        cameras_.push_back(MakeCamera(base + static_cast<std::uint32_t>(i)));
    }
}

std::optional<std::size_t> CameraSet::Find(const DevId& devId) const {
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
        if (cameras_[i].devId == devId) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> CameraSet::ApplyModify(const DecodedModify& record) {
    const std::optional<std::size_t> index = Find(record.devId);
    if (index) {
        CameraFields& camera = cameras_[*index];
        camera.ip = record.ip;
        camera.mask = record.mask;
        camera.gateway = record.gateway;
        camera.mac = record.mac;
    }
    return index;
}

}  // namespace camsim
