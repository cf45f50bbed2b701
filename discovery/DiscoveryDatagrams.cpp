#include "discovery/DiscoveryDatagrams.h"

#include <algorithm>
#include <cstring>

#include "discovery/ByteOrder.h"

namespace qdipc {
namespace {

constexpr std::uint8_t kRequestMagic[4] = {0xD3, 0xED, 0xCB, 0xB3};
constexpr std::uint8_t kReplyMagic[4] = {0xD4, 0xED, 0xCB, 0xB3};
// The alternative signature: the characters and their terminating zero.
constexpr char kAlternativeSignature[8] = "Kelmora";

namespace request {
constexpr std::size_t kFixedTwo = 12;
constexpr std::size_t kLocalIp = 13;
constexpr std::size_t kLocalIpRoom = 30;
constexpr std::size_t kCommandPort = 44;
constexpr std::size_t kSearchId = 48;
}  // namespace request

}  // namespace

DiscoveryRequest BuildDiscoveryRequest(std::uint32_t searchId, std::string_view localIp) {
    DiscoveryRequest bytes{};
    std::memcpy(bytes.data(), kRequestMagic, sizeof kRequestMagic);
    bytes[request::kFixedTwo] = 2;
    // The text up to its first zero, at most 30 bytes; byte 43 stays zero.
    const std::size_t end = std::min(localIp.find('\0'), localIp.size());
    const std::size_t length = std::min(end, request::kLocalIpRoom);
    std::memcpy(bytes.data() + request::kLocalIp, localIp.data(), length);
    WriteLe16(bytes.data() + request::kCommandPort, kCameraCommandPort);
    WriteLe32(bytes.data() + request::kSearchId, searchId);
    return bytes;
}

bool HasReplySignature(const std::uint8_t* buffer) {
    if (std::memcmp(buffer, kReplyMagic, sizeof kReplyMagic) == 0) {
        return true;
    }
    return std::memcmp(buffer, kAlternativeSignature, sizeof kAlternativeSignature) == 0;
}

std::uint32_t ReadReplySearchId(const std::uint8_t* buffer) {
    return ReadLe32(buffer + reply::kSearchId);
}

DeviceInfoReply::DeviceInfoReply(const std::uint8_t* datagram, std::size_t length) {
    const std::size_t count = std::min(length, kDeviceInfoReplySize);
    if (datagram != nullptr && count > 0) {
        std::memcpy(bytes_.data(), datagram, count);
    }
}

bool DeviceInfoReply::HasSignature() const {
    return HasReplySignature(bytes_.data());
}

std::uint32_t DeviceInfoReply::SearchId() const {
    return ReadReplySearchId(bytes_.data());
}

std::string DeviceInfoReply::Text(std::size_t offset) const {
    if (offset >= bytes_.size()) {
        return {};
    }
    // The bytes after the datagram are zero, so the search always stops inside
    // the buffer; the bound only keeps it there by construction.
    const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, bytes_.end(), std::uint8_t{0});
    return std::string(begin, end);
}

std::uint16_t DeviceInfoReply::U16(std::size_t offset) const {
    if (offset + 2 > bytes_.size()) {
        return 0;
    }
    return ReadLe16(bytes_.data() + offset);
}

}  // namespace qdipc
