#pragma once
// Encodes a camera's DeviceInfoReply, and the awkward variants of it that a
// receiver must cope with.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/CameraFields.h"
#include "tools/camsim/WireFormat.h"

namespace camsim {

using ReplyBytes = std::array<std::uint8_t, reply_layout::kSize>;

// The 380-byte reply with the D4 ED CB B3 signature and the given search ID.
// Bytes that no field covers are zero. A text longer than its field is cut so
// that its terminating zero stays inside the field.
ReplyBytes EncodeReply(const CameraFields& camera, std::uint32_t searchId);

// What a camera sends in answer to one request.
enum class ReplyKind {
    Normal,         // the reply as encoded above
    AltSignature,   // "Kelmora" and a zero byte over offsets 0..7
    WrongSearchId,  // the search ID plus one
    NoSignature,    // offsets 0..7 zero: neither signature
    Short,          // only the first shortLength bytes
    OverLong,       // the reply followed by filler bytes up to overLongLength
    Empty,          // a datagram of no bytes
    DuplicateId,    // the normal reply, then a second one with the same device
                    // ID and every other field different
};

struct ReplyShape {
    std::size_t shortLength = 300;     // at most 380
    std::size_t overLongLength = 400;  // at least 381
};

// The datagrams, in sending order, of one camera's answer.
std::vector<std::vector<std::uint8_t>> BuildReplyDatagrams(const CameraFields& camera,
                                                           std::uint32_t searchId, ReplyKind kind,
                                                           const ReplyShape& shape = {});

// Names used on the command line: normal, alt-signature, wrong-search-id,
// no-signature, short, over-long, empty, duplicate-id.
std::string_view ReplyKindName(ReplyKind kind);
std::optional<ReplyKind> ParseReplyKind(std::string_view name);
inline constexpr std::array<ReplyKind, 8> kAllReplyKinds{
    ReplyKind::Normal, ReplyKind::AltSignature, ReplyKind::WrongSearchId, ReplyKind::NoSignature,
    ReplyKind::Short,  ReplyKind::OverLong,     ReplyKind::Empty,         ReplyKind::DuplicateId};

}  // namespace camsim
