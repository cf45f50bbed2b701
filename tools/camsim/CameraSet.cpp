#include "tools/camsim/CameraSet.h"

#include <arpa/inet.h>

#include <charconv>

namespace camsim {

std::optional<FactoryNetwork> ParseFactoryNetwork(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    in_addr address{};
    const std::string ip = text.substr(0, slash);
    int prefix = 0;
    const char* begin = text.data() + slash + 1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, prefix);
    if (inet_pton(AF_INET, ip.c_str(), &address) != 1 || begin == end || error != std::errc() ||
        stop != end || prefix < 1 || prefix > 30) {
        return std::nullopt;
    }
    const std::uint32_t mask = ~((1u << (32 - prefix)) - 1);
    const std::uint32_t gateway = (ntohl(address.s_addr) & mask) + 1;
    const auto dotted = [](std::uint32_t value) {
        return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 0xFF) + "." +
               std::to_string((value >> 8) & 0xFF) + "." + std::to_string(value & 0xFF);
    };
    return FactoryNetwork{ip, dotted(mask), dotted(gateway)};
}

void CameraSet::SetNetwork(const FactoryNetwork& network) {
    for (CameraFields& camera : cameras_) {
        camera.ip = network.ip;
        camera.mask = network.mask;
        camera.gateway = network.gateway;
    }
}

void CameraSet::SetMac(const MacAddress& mac) {
    for (CameraFields& camera : cameras_) {
        camera.mac = mac;
    }
}

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
        // DHCP and ADSL (mode 1, 2): a text the record leaves empty comes
        // from the network; the simulated server hands out the same lease.
        const auto take = [&](std::string& field, const std::string& text) {
            if (record.mode == 0 || !text.empty()) {
                field = text;
            }
        };
        take(camera.ip, record.ip);
        take(camera.mask, record.mask);
        take(camera.gateway, record.gateway);
        camera.mac = record.mac;
    }
    return index;
}

}  // namespace camsim
