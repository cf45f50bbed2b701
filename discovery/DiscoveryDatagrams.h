#pragma once
// The two discovery datagrams: the 52-byte DiscoveryRequest that the tool
// broadcasts, and the 380-byte DeviceInfoReply that each camera sends back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qdipc {

inline constexpr std::uint16_t kCameraCommandPort = 5050;  // cameras listen here
inline constexpr std::uint16_t kToolReceivePort = 8089;    // the tool listens here
inline constexpr const char* kLimitedBroadcast = "255.255.255.255";

inline constexpr std::size_t kDiscoveryRequestSize = 52;
inline constexpr std::size_t kDeviceInfoReplySize = 380;

using DiscoveryRequest = std::array<std::uint8_t, kDiscoveryRequestSize>;

// Builds the request: D3 ED CB B3, byte 12 = 2, the local address text at 13
// (at most 30 bytes, byte 43 always zero), 5050 LE at 44, the search ID LE at 48.
DiscoveryRequest BuildDiscoveryRequest(std::uint32_t searchId, std::string_view localIp);

// Byte offsets of the reply fields the tool reads.
namespace reply {
inline constexpr std::size_t kDevId = 23;        // 8 raw bytes
inline constexpr std::size_t kIp = 39;           // text
inline constexpr std::size_t kMac = 69;          // 6 raw bytes
inline constexpr std::size_t kMask = 76;         // text
inline constexpr std::size_t kName = 106;        // text, 64 bytes
inline constexpr std::size_t kWebPort = 170;     // u16
inline constexpr std::size_t kPort = 172;        // u16
inline constexpr std::size_t kHardwareVer = 174; // 8 raw bytes
inline constexpr std::size_t kAppVer = 206;      // text
inline constexpr std::size_t kSearchId = 248;    // u32
inline constexpr std::size_t kKernelVer = 252;   // text
inline constexpr std::size_t kGateway = 364;     // text, 16 bytes, ends the datagram
}  // namespace reply

// One received reply: the datagram's bytes (at most 380) followed by zeros.
// The buffer is longer than any accepted datagram, so a text field that fills
// its room without a terminator runs on into the following fields and stops
// at the zero bytes after the datagram, never beyond the buffer.
class DeviceInfoReply {
public:
    static constexpr std::size_t kBufferSize = 384;

    DeviceInfoReply() = default;
    // Copies min(length, 380) bytes; the rest of the buffer stays zero.
    DeviceInfoReply(const std::uint8_t* datagram, std::size_t length);

    // D4 ED CB B3 at 0..3, or else "Kelmora" followed by a zero byte at 0..7.
    bool HasSignature() const;
    std::uint32_t SearchId() const;
    // The text from offset up to the first zero byte.
    std::string Text(std::size_t offset) const;
    std::uint16_t U16(std::size_t offset) const;
    const std::uint8_t* Raw(std::size_t offset) const { return bytes_.data() + offset; }
    const std::uint8_t* Data() const { return bytes_.data(); }

private:
    std::array<std::uint8_t, kBufferSize> bytes_{};
};

// The same tests on a raw zero-padded buffer of at least 380 bytes (the worker
// runs them before it copies anything).
bool HasReplySignature(const std::uint8_t* buffer);
std::uint32_t ReadReplySearchId(const std::uint8_t* buffer);

}  // namespace qdipc
