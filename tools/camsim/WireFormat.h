#pragma once
// The simulator's own copy of the camera protocol's byte layouts: the
// 52-byte discovery request it receives, the 380-byte device info reply it
// sends and the 88-byte modify record it receives. Written separately from the
// tool's code so that a layout mistake on one side shows up on the other.

#include <array>
#include <cstddef>
#include <cstdint>

namespace camsim {

inline constexpr std::uint16_t kCommandPort = 5050;  // cameras listen here
inline constexpr std::uint16_t kToolPort = 8089;     // the tool listens here

namespace request_layout {
inline constexpr std::size_t kSize = 52;
inline constexpr std::array<std::uint8_t, 4> kMagic{0xD3, 0xED, 0xCB, 0xB3};
inline constexpr std::size_t kType = 12;     // u8, always 2
inline constexpr std::size_t kLocalIp = 13;  // text, 30 bytes
inline constexpr std::size_t kLocalIpWidth = 30;
inline constexpr std::size_t kCommandPort = 44;  // u16
inline constexpr std::size_t kSearchId = 48;     // u32
}  // namespace request_layout

namespace reply_layout {
inline constexpr std::size_t kSize = 380;
inline constexpr std::array<std::uint8_t, 4> kMagic{0xD4, 0xED, 0xCB, 0xB3};
// The alternative signature: "Kelmora" and a zero byte over offsets 0..7.
inline constexpr std::array<std::uint8_t, 8> kAltSignature{'K', 'e', 'l', 'm', 'o', 'r', 'a', 0};
inline constexpr std::size_t kDevId = 23;  // 8 raw bytes
inline constexpr std::size_t kIp = 39;     // text
inline constexpr std::size_t kIpWidth = 30;
inline constexpr std::size_t kMac = 69;   // 6 raw bytes
inline constexpr std::size_t kMask = 76;  // text
inline constexpr std::size_t kMaskWidth = 30;
inline constexpr std::size_t kName = 106;  // text
inline constexpr std::size_t kNameWidth = 64;
inline constexpr std::size_t kWebPort = 170;      // u16
inline constexpr std::size_t kPort = 172;         // u16
inline constexpr std::size_t kHardwareVer = 174;  // 8 raw bytes
inline constexpr std::size_t kAppVer = 206;       // text
inline constexpr std::size_t kAppVerWidth = 42;
inline constexpr std::size_t kSearchId = 248;   // u32
inline constexpr std::size_t kKernelVer = 252;  // text
inline constexpr std::size_t kKernelVerWidth = 112;
inline constexpr std::size_t kGateway = 364;  // text, ends the datagram
inline constexpr std::size_t kGatewayWidth = 16;
}  // namespace reply_layout

namespace modify_layout {
inline constexpr std::size_t kSize = 88;
inline constexpr std::array<std::uint8_t, 4> kMagic{0xD3, 0xED, 0xCB, 0xFF};
inline constexpr std::size_t kMode = 12;       // u8: 0 static, 1 DHCP, 2 ADSL
inline constexpr std::size_t kDevId = 13;      // 8 raw bytes
inline constexpr std::size_t kDevIdTail = 21;  // 8 raw bytes
inline constexpr std::size_t kIp = 29;         // text, 16 bytes
inline constexpr std::size_t kMask = 45;       // text, 16 bytes
inline constexpr std::size_t kGateway = 61;    // text, 16 bytes
inline constexpr std::size_t kTextWidth = 16;
inline constexpr std::size_t kMac = 77;    // 6 raw bytes
inline constexpr std::size_t kStamp = 84;  // u32
}  // namespace modify_layout

using DevId = std::array<std::uint8_t, 8>;
using MacAddress = std::array<std::uint8_t, 6>;
using HardwareVer = std::array<std::uint8_t, 8>;

inline std::uint16_t LoadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace camsim
