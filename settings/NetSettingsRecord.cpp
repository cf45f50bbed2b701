#include "settings/NetSettingsRecord.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "discovery/ByteOrder.h"
#include "discovery/DeviceCodecs.h"

namespace qdipc {
namespace {

constexpr std::uint8_t kModifySignature[4] = {0xD3, 0xED, 0xCB, 0xFF};
constexpr std::uint8_t kHandoffMarker[3] = {0x56, 0x39, 0x83};
constexpr std::size_t kHandoffRecordOffset = 4;

// A text field must lie wholly inside the record.
bool IsTextField(std::size_t fieldOffset) {
    return fieldOffset + record::kTextFieldSize <= kNetSettingsRecordSize;
}

}  // namespace

AddressingMode NetSettingsRecord::Mode() const {
    switch (bytes[record::kMode]) {
        case 1:
            return AddressingMode::Dhcp;
        case 2:
            return AddressingMode::Adsl;
        default:
            return AddressingMode::Static;
    }
}

void NetSettingsRecord::SetMode(AddressingMode mode) {
    bytes[record::kMode] = static_cast<std::uint8_t>(mode);
}

void NetSettingsRecord::SetText(std::size_t fieldOffset, std::string_view text) {
    if (!IsTextField(fieldOffset)) {
        return;
    }
    std::uint8_t* field = bytes.data() + fieldOffset;
    const std::size_t length = std::min(text.size(), record::kTextFieldSize);
    std::memset(field, 0, record::kTextFieldSize);
    std::memcpy(field, text.data(), length);
}

std::string NetSettingsRecord::Text(std::size_t fieldOffset) const {
    if (!IsTextField(fieldOffset)) {
        return {};
    }
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(fieldOffset);
    const auto end = std::find(begin, begin + record::kTextFieldSize, std::uint8_t{0});
    return std::string(begin, end);
}

SettingsHandoff SettingsHandoff::Wrap(const NetSettingsRecord& record) {
    SettingsHandoff handoff;
    std::memcpy(handoff.bytes.data(), kHandoffMarker, sizeof kHandoffMarker);
    std::memcpy(handoff.bytes.data() + kHandoffRecordOffset, record.bytes.data(),
                kNetSettingsRecordSize);
    return handoff;
}

bool SettingsHandoff::HasMarker() const {
    return std::memcmp(bytes.data(), kHandoffMarker, sizeof kHandoffMarker) == 0;
}

NetSettingsRecord SettingsHandoff::Record() const {
    NetSettingsRecord record;
    std::memcpy(record.bytes.data(), bytes.data() + kHandoffRecordOffset, kNetSettingsRecordSize);
    return record;
}

NetSettingsRecord BuildModifyRecord(
    const std::array<std::uint8_t, record::kDevIdBlockSize>& devIdBlock, AddressingMode mode,
    std::string_view ip, std::string_view mask, std::string_view gateway,
    std::string_view macText) {
    constexpr std::size_t kMaxText = record::kTextFieldSize - 1;
    NetSettingsRecord record;
    std::memcpy(record.bytes.data() + record::kDevIdBlock, devIdBlock.data(), devIdBlock.size());
    record.SetMode(mode);
    record.SetText(record::kIp, ip.substr(0, kMaxText));
    // ParseMac reads a zero-terminated text.
    const std::string mac(macText);
    ParseMac(mac.c_str(), record.bytes.data() + record::kMac);
    record.SetText(record::kMask, mask.substr(0, kMaxText));
    record.SetText(record::kGateway, gateway.substr(0, kMaxText));
    return record;
}

NetSettingsRecord StampSettingsRecord(const NetSettingsRecord& record, std::uint32_t stamp) {
    NetSettingsRecord stamped = record;
    std::memcpy(stamped.bytes.data() + record::kMagic, kModifySignature, sizeof kModifySignature);
    WriteLe32(stamped.bytes.data() + record::kStamp, stamp);
    return stamped;
}

const char* BroadcastOutcomeText(BroadcastOutcome outcome) {
    return outcome == BroadcastOutcome::Ok ? "Setting OK!" : "Setting error!";
}

SettingsBroadcaster::SettingsBroadcaster(Ipv4Endpoint destination, SecondsClock clock)
    : destination_(std::move(destination)),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}) {}

std::optional<BroadcastOutcome> SettingsBroadcaster::ApplyHandoff(
    const SettingsHandoff& handoff) const {
    if (!handoff.HasMarker()) {
        return std::nullopt;
    }
    return SendSettingsRecord(handoff.Record());
}

BroadcastOutcome SettingsBroadcaster::SendSettingsRecord(const NetSettingsRecord& record) const {
    return BroadcastSettingsRecord(StampSettingsRecord(record, TimeSeededDraw(clock_())));
}

BroadcastOutcome SettingsBroadcaster::BroadcastSettingsRecord(
    const NetSettingsRecord& stamped) const {
    // A socket that could not be created, or a refused broadcast permission,
    // shows up as a failed send.
    UdpSocket socket;
    socket.Open();
    socket.SetBroadcast(true);
    const long sent = socket.SendTo(stamped.bytes.data(), stamped.bytes.size(), destination_);
    socket.Close();
    return sent > 0 ? BroadcastOutcome::Ok : BroadcastOutcome::Error;
}

}  // namespace qdipc
