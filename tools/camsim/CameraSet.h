#pragma once
// The simulated cameras: numbered from a base, each with the fields that
// MakeCamera derives, and the network settings that modify records change.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/camsim/CameraFields.h"
#include "tools/camsim/DatagramDecoder.h"

namespace camsim {

struct FactoryNetwork {
    std::string ip;
    std::string mask;
    std::string gateway;
};

// "ADDR/PREFIX" (prefix 1 to 30): the address, the prefix's mask, and the
// subnet's first host as the gateway; nothing for any other text.
std::optional<FactoryNetwork> ParseFactoryNetwork(const std::string& text);

class CameraSet {
public:
    // Cameras base, base + 1, ..., base + count - 1.
    CameraSet(std::size_t count, std::uint32_t base);
    // Every camera at the same address, mask and gateway.
    void SetNetwork(const FactoryNetwork& network);
    // Camera index reports text as its IP.
    void SetIpText(std::size_t index, const std::string& text) { cameras_.at(index).ip = text; }
    // Every camera reports this MAC address (a faulty device: all zero).
    void SetMac(const MacAddress& mac);

    std::size_t Size() const { return cameras_.size(); }
    const CameraFields& At(std::size_t index) const { return cameras_.at(index); }
    const std::vector<CameraFields>& All() const { return cameras_; }

    // The index of the camera with this device ID.
    std::optional<std::size_t> Find(const DevId& devId) const;

    // Gives the addressed camera the record's IP address, netmask, gateway and
    // MAC address (a DHCP or ADSL record's empty texts keep the camera's own:
    // its lease stays the same); returns its index, or nothing when no camera
    // has the record's device ID.
    std::optional<std::size_t> ApplyModify(const DecodedModify& record);

private:
    std::vector<CameraFields> cameras_;
};

}  // namespace camsim
