#include "tools/camsim/DatagramDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/camsim/CameraFields.h"

namespace camsim {
namespace {

template <std::size_t N>
bool StartsWith(const std::uint8_t* data, std::size_t length,
                const std::array<std::uint8_t, N>& magic) {
    return length >= N && std::equal(magic.begin(), magic.end(), data);
}

// The text of a field: from its offset up to the first zero, never past the
// field's width.
std::string FieldText(const std::uint8_t* data, std::size_t offset, std::size_t width) {
    const auto* begin = reinterpret_cast<const char*>(data + offset);
    return std::string(begin, strnlen(begin, width));
}

template <std::size_t N>
std::array<std::uint8_t, N> FieldBytes(const std::uint8_t* data, std::size_t offset) {
    std::array<std::uint8_t, N> bytes{};
    std::copy_n(data + offset, N, bytes.begin());
    return bytes;
}

}  // namespace

DatagramKind ClassifyDatagram(const std::uint8_t* data, std::size_t length) {
    if (StartsWith(data, length, request_layout::kMagic)) {
        return length == request_layout::kSize ? DatagramKind::DiscoveryRequest
                                               : DatagramKind::MalformedRequest;
    }
    if (StartsWith(data, length, modify_layout::kMagic)) {
        return length == modify_layout::kSize ? DatagramKind::ModifyRecord
                                              : DatagramKind::MalformedModify;
    }
    return DatagramKind::Unknown;
}

std::optional<DecodedRequest> DecodeRequest(const std::uint8_t* data, std::size_t length) {
    using namespace request_layout;
    if (ClassifyDatagram(data, length) != DatagramKind::DiscoveryRequest) {
        return std::nullopt;
    }
    DecodedRequest request;
    request.type = data[kType];
    request.localIp = FieldText(data, kLocalIp, kLocalIpWidth);
    request.commandPort = LoadLe16(data + request_layout::kCommandPort);
    request.searchId = LoadLe32(data + kSearchId);
    return request;
}

std::optional<DecodedModify> DecodeModify(const std::uint8_t* data, std::size_t length) {
    using namespace modify_layout;
    if (ClassifyDatagram(data, length) != DatagramKind::ModifyRecord) {
        return std::nullopt;
    }
    DecodedModify record;
    record.mode = data[kMode];
    record.devId = FieldBytes<8>(data, kDevId);
    record.devIdTail = FieldBytes<8>(data, kDevIdTail);
    record.ip = FieldText(data, kIp, kTextWidth);
    record.mask = FieldText(data, kMask, kTextWidth);
    record.gateway = FieldText(data, kGateway, kTextWidth);
    record.mac = FieldBytes<6>(data, kMac);
    record.stamp = LoadLe32(data + kStamp);
    return record;
}

std::string ModeName(std::uint8_t mode) {
    switch (static_cast<AddressingMode>(mode)) {
        case AddressingMode::Static:
            return "static";
        case AddressingMode::Dhcp:
            return "dhcp";
        case AddressingMode::Adsl:
            return "adsl";
    }
    return "unknown(" + std::to_string(mode) + ")";
}

std::string DescribeRequest(const DecodedRequest& request, const std::string& from) {
    return "request from " + from + ": searchId " + std::to_string(request.searchId) +
           ", localIp " + QuoteText(request.localIp) + ", commandPort " +
           std::to_string(request.commandPort) + ", type " + std::to_string(request.type);
}

std::string DescribeModify(const DecodedModify& record, const std::string& from) {
    return "modify from " + from + ": devId " + FormatDevId(record.devId) + ", mode " +
           ModeName(record.mode) + ", ip " + QuoteText(record.ip) + ", mask " +
           QuoteText(record.mask) + ", gateway " + QuoteText(record.gateway) + ", mac " +
           FormatMac(record.mac) + ", stamp " + std::to_string(record.stamp);
}

std::string DescribeOther(DatagramKind kind, const std::uint8_t* data, std::size_t length,
                          const std::string& from) {
    std::string what;
    switch (kind) {
        case DatagramKind::MalformedRequest:
            what = "request signature but not 52 bytes";
            break;
        case DatagramKind::MalformedModify:
            what = "modify signature but not 88 bytes";
            break;
        default:
            what = "unknown signature";
            break;
    }
    std::string line =
        "ignored " + std::to_string(length) + "-byte datagram from " + from + " (" + what + ")";
    if (length > 0) {
        line += ", first bytes";
        char hex[4];
        for (std::size_t i = 0; i < std::min<std::size_t>(length, 8); ++i) {
            std::snprintf(hex, sizeof hex, " %02x", data[i]);
            line += hex;
        }
    }
    return line;
}

}  // namespace camsim
