#include "settings/NetSettingsRecord.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "discovery/ByteOrder.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ReplyCells.h"

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

SettingsBroadcaster::SettingsBroadcaster(Ipv4Endpoint destination, SecondsClock clock,
                                         InterfaceLister interfaces)
    : destination_(std::move(destination)),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}),
      interfaces_(interfaces ? std::move(interfaces) : InterfaceLister{ListBroadcastInterfaces}) {}

std::optional<BroadcastOutcome> SettingsBroadcaster::ApplyHandoff(
    const SettingsHandoff& handoff, std::uint32_t arrivalInterface) const {
    if (!handoff.HasMarker()) {
        return std::nullopt;
    }
    return SendSettingsRecord(handoff.Record(), arrivalInterface);
}

BroadcastOutcome SettingsBroadcaster::SendSettingsRecord(const NetSettingsRecord& record,
                                                         std::uint32_t arrivalInterface,
                                                         std::string* failure) const {
    return BroadcastSettingsRecord(StampSettingsRecord(record, TimeSeededDraw(clock_())),
                                   arrivalInterface, failure);
}

BroadcastOutcome SettingsBroadcaster::BroadcastSettingsRecord(const NetSettingsRecord& stamped,
                                                              std::uint32_t arrivalInterface,
                                                              std::string* failure) const {
    auto fail = [failure](std::string reason) {
        if (failure != nullptr) {
            *failure = std::move(reason);
        }
        return BroadcastOutcome::Error;
    };
    // The camera's own network when it is known; otherwise every network, one
    // datagram per interface (an interface with several addresses is one
    // link: one datagram reaches all of it).
    const std::vector<Ipv4Interface> networks = interfaces_();
    std::vector<const Ipv4Interface*> targets;
    for (const Ipv4Interface& network : networks) {
        if (arrivalInterface != 0) {
            if (network.index == arrivalInterface) {
                targets.assign(1, &network);
                break;
            }
            continue;
        }
        const bool seen = std::any_of(targets.begin(), targets.end(), [&](const Ipv4Interface* t) {
            return t->index == network.index;
        });
        if (!seen) {
            targets.push_back(&network);
        }
    }
    if (arrivalInterface != 0 && targets.empty()) {
        return fail("the network interface the camera answered on (index " +
                    std::to_string(arrivalInterface) +
                    ") is gone or down; nothing was sent. Search again.");
    }
    if (targets.empty()) {
        return fail("no up, broadcast-capable IPv4 interface to send on");
    }
    // A socket that could not be created, or a refused broadcast permission,
    // shows up as a failed send; no interface at all sends nothing.
    UdpSocket socket;
    socket.Open();
    socket.SetBroadcast(true);
    bool sent = false;
    for (const Ipv4Interface* network : targets) {
        if (socket.SendToVia(stamped.bytes.data(), stamped.bytes.size(), destination_, *network) >
            0) {
            sent = true;
        }
    }
    socket.Close();
    return sent ? BroadcastOutcome::Ok : fail("the modify request could not be sent");
}

NetSettingsRecord BuildSettingsRecordFromRow(
    const std::function<std::string(int column)>& cellText) {
    constexpr std::size_t kCellBufferSize = 32;
    NetSettingsRecord record;
    std::array<char, kCellBufferSize> buffer{};
    const auto readCell = [&](int column) {
        buffer.fill('\0');
        const std::string text = cellText ? cellText(column) : std::string();
        std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
    };

    readCell(kColIp);
    std::memcpy(record.bytes.data() + record::kIp, buffer.data(), record::kTextFieldSize);
    readCell(kColMac);
    ParseMac(buffer.data(), record.bytes.data() + record::kMac);
    readCell(kColDevId);
    ParseDeviceId(buffer.data(), record.bytes.data() + record::kDevId);
    readCell(kColMask);
    std::memcpy(record.bytes.data() + record::kMask, buffer.data(), record::kTextFieldSize);
    readCell(kColGateway);
    std::memcpy(record.bytes.data() + record::kGateway, buffer.data(), record::kTextFieldSize);
    return record;
}

}  // namespace qdipc
