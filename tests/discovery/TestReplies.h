#pragma once
// Hand-made DeviceInfoReply datagrams for the window and table tests. Field
// offsets are written out here from the wire layout, independently of the
// code under test.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/ReplyQueue.h"

namespace qdipc::test {

struct CameraReply {
    std::array<std::uint8_t, 8> devId{};
    std::string ip = "192.168.1.10";
    std::string name = "cam";
    std::uint16_t port = 5050;
    std::uint16_t webPort = 80;
    std::string mask = "255.255.255.0";
    std::string gateway = "192.168.1.1";
    std::string appVer = "app";
    std::string kernelVer = "kernel";
    std::array<std::uint8_t, 6> mac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::array<std::uint8_t, 8> hardwareVer{};
    std::uint32_t searchId = 0;

    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> b(380, 0);
        const std::uint8_t magic[4] = {0xD4, 0xED, 0xCB, 0xB3};
        std::memcpy(&b[0], magic, 4);
        std::memcpy(&b[23], devId.data(), 8);
        std::memcpy(&b[39], ip.data(), ip.size());
        std::memcpy(&b[69], mac.data(), 6);
        std::memcpy(&b[76], mask.data(), mask.size());
        std::memcpy(&b[106], name.data(), name.size());
        b[170] = static_cast<std::uint8_t>(webPort & 0xFF);
        b[171] = static_cast<std::uint8_t>(webPort >> 8);
        b[172] = static_cast<std::uint8_t>(port & 0xFF);
        b[173] = static_cast<std::uint8_t>(port >> 8);
        std::memcpy(&b[174], hardwareVer.data(), 8);
        std::memcpy(&b[206], appVer.data(), appVer.size());
        for (int i = 0; i < 4; ++i) {
            b[248 + i] = static_cast<std::uint8_t>(searchId >> (8 * i));
        }
        std::memcpy(&b[252], kernelVer.data(), kernelVer.size());
        std::memcpy(&b[364], gateway.data(), std::min<std::size_t>(gateway.size(), 16));
        return b;
    }

    DeviceInfoReply Reply() const {
        const auto bytes = Bytes();
        return DeviceInfoReply(bytes.data(), bytes.size());
    }

    AcceptedReply Accepted(std::uint32_t acceptedUnder) const {
        return AcceptedReply{Reply(), acceptedUnder};
    }
};

// A camera whose device ID ends in the bytes of n (big-endian), so IDs differ
// in their last bytes.
inline CameraReply Camera(std::uint32_t n) {
    CameraReply c;
    c.devId = {0x00,
               0x11,
               0xaa,
               0xbb,
               static_cast<std::uint8_t>(n >> 24),
               static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8),
               static_cast<std::uint8_t>(n)};
    c.ip = "10.0." + std::to_string((n >> 8) & 0xFF) + "." + std::to_string(n & 0xFF);
    c.name = "cam" + std::to_string(n);
    return c;
}

}  // namespace qdipc::test
