#pragma once
// Requests and modify records written byte by byte from their layouts, the
// way the tool sends them.

#include <cstdint>
#include <string_view>
#include <vector>

#include "tests/discovery/TestBytes.h"

namespace camsim::test {

// A 52-byte discovery request; id is the 4 bytes at 48..51.
inline std::vector<std::uint8_t> RequestBytes(std::string_view localIp,
                                              const std::vector<std::uint8_t>& id) {
    using namespace qdipc::test;
    std::vector<std::uint8_t> bytes(52, 0);
    Put(bytes, 0, Hex("D3 ED CB B3"));
    bytes[12] = 2;
    PutText(bytes, 13, localIp);
    Put(bytes, 44, Hex("BA 13"));
    Put(bytes, 48, id);
    return bytes;
}

// An 88-byte modify record for devId: DHCP, ip 10.9.8.7, mask 255.255.0.0,
// gateway 10.9.0.1, MAC a0:b1:c2:d3:e4:f5, stamp 0x1234, a non-zero tail.
inline std::vector<std::uint8_t> ModifyBytes(const std::vector<std::uint8_t>& devId) {
    using namespace qdipc::test;
    std::vector<std::uint8_t> bytes(88, 0);
    Put(bytes, 0, Hex("D3 ED CB FF"));
    bytes[12] = 1;
    Put(bytes, 13, devId);
    Put(bytes, 21, Hex("11 22 33 44 55 66 77 88"));
    PutText(bytes, 29, "10.9.8.7");
    PutText(bytes, 45, "255.255.0.0");
    PutText(bytes, 61, "10.9.0.1");
    Put(bytes, 77, Hex("A0 B1 C2 D3 E4 F5"));
    Put(bytes, 84, Hex("34 12 00 00"));
    return bytes;
}

}  // namespace camsim::test
