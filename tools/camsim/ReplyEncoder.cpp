#include "tools/camsim/ReplyEncoder.h"

#include <algorithm>
#include <cstring>

namespace camsim {
namespace {

// Copies the text into its field, keeping room for the terminating zero; the
// rest of the field is already zero.
void PutText(ReplyBytes& bytes, std::size_t offset, std::size_t width, const std::string& text) {
    const std::size_t length = std::min(text.size(), width - 1);
    std::memcpy(bytes.data() + offset, text.data(), length);
}

template <std::size_t N>
void PutRaw(ReplyBytes& bytes, std::size_t offset, const std::array<std::uint8_t, N>& raw) {
    std::copy(raw.begin(), raw.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

constexpr std::uint8_t kOverLongFiller = 0xEE;

}  // namespace

ReplyBytes EncodeReply(const CameraFields& camera, std::uint32_t searchId) {
    using namespace reply_layout;
    ReplyBytes bytes{};
    PutRaw(bytes, 0, kMagic);
    PutRaw(bytes, kDevId, camera.devId);
    PutText(bytes, kIp, kIpWidth, camera.ip);
    PutRaw(bytes, kMac, camera.mac);
    PutText(bytes, kMask, kMaskWidth, camera.mask);
    PutText(bytes, kName, kNameWidth, camera.name);
    StoreLe16(bytes.data() + kWebPort, camera.webPort);
    StoreLe16(bytes.data() + kPort, camera.port);
    PutRaw(bytes, kHardwareVer, camera.hardwareVer);
    PutText(bytes, kAppVer, kAppVerWidth, camera.appVer);
    StoreLe32(bytes.data() + kSearchId, searchId);
    PutText(bytes, kKernelVer, kKernelVerWidth, camera.kernelVer);
    PutText(bytes, kGateway, kGatewayWidth, camera.gateway);
    return bytes;
}

std::vector<std::vector<std::uint8_t>> BuildReplyDatagrams(const CameraFields& camera,
                                                           std::uint32_t searchId, ReplyKind kind,
                                                           const ReplyShape& shape) {
    ReplyBytes reply = EncodeReply(camera, searchId);
    std::vector<std::uint8_t> datagram(reply.begin(), reply.end());
    switch (kind) {
        case ReplyKind::Normal:
            break;
        case ReplyKind::AltSignature:
            std::copy(reply_layout::kAltSignature.begin(), reply_layout::kAltSignature.end(),
                      datagram.begin());
            break;
        case ReplyKind::WrongSearchId:
            StoreLe32(datagram.data() + reply_layout::kSearchId, searchId + 1);
            break;
        case ReplyKind::NoSignature:
            std::fill_n(datagram.begin(), reply_layout::kAltSignature.size(), 0);
            break;
        case ReplyKind::Short:
            datagram.resize(std::min(shape.shortLength, reply_layout::kSize));
            break;
        case ReplyKind::OverLong:
            datagram.resize(std::max(shape.overLongLength, reply_layout::kSize + 1),
                            kOverLongFiller);
            break;
        case ReplyKind::Empty:
            datagram.clear();
            break;
        case ReplyKind::DuplicateId: {
            const ReplyBytes second = EncodeReply(DuplicateOf(camera), searchId);
            return {datagram, std::vector<std::uint8_t>(second.begin(), second.end())};
        }
    }
    return {datagram};
}

std::string_view ReplyKindName(ReplyKind kind) {
    switch (kind) {
        case ReplyKind::Normal:
            return "normal";
        case ReplyKind::AltSignature:
            return "alt-signature";
        case ReplyKind::WrongSearchId:
            return "wrong-search-id";
        case ReplyKind::NoSignature:
            return "no-signature";
        case ReplyKind::Short:
            return "short";
        case ReplyKind::OverLong:
            return "over-long";
        case ReplyKind::Empty:
            return "empty";
        case ReplyKind::DuplicateId:
            return "duplicate-id";
    }
    return "normal";
}

std::optional<ReplyKind> ParseReplyKind(std::string_view name) {
    for (const ReplyKind kind : kAllReplyKinds) {
        if (ReplyKindName(kind) == name) {
            return kind;
        }
    }
    return std::nullopt;
}

}  // namespace camsim
