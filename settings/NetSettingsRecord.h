#pragma once
// The 88-byte settings record (inside the tool the settings window's model,
// on the wire the modify request), the 92-byte handoff block that carries it
// from a settings window to the main window, and the modify broadcast.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/TimeSeededDraw.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

inline constexpr std::size_t kNetSettingsRecordSize = 88;
inline constexpr std::size_t kSettingsHandoffSize = 92;
// The private window message of the handoff (WM_USER + 0x203).
inline constexpr unsigned WM_APPLY_SETTINGS = 0x603;

enum class AddressingMode : std::uint8_t { Static = 0, Dhcp = 1, Adsl = 2 };

namespace record {
inline constexpr std::size_t kMagic = 0;        // 4 bytes, D3 ED CB FF once stamped
inline constexpr std::size_t kMode = 12;        // u8
inline constexpr std::size_t kDevId = 13;       // 8 bytes
inline constexpr std::size_t kDevIdBlock = 13;  // devId + devIdTail, 16 bytes
inline constexpr std::size_t kDevIdBlockSize = 16;
inline constexpr std::size_t kIp = 29;       // text, 16 bytes
inline constexpr std::size_t kMask = 45;     // text, 16 bytes
inline constexpr std::size_t kGateway = 61;  // text, 16 bytes
inline constexpr std::size_t kTextFieldSize = 16;
inline constexpr std::size_t kMac = 77;    // 6 bytes
inline constexpr std::size_t kStamp = 84;  // u32
}  // namespace record

struct NetSettingsRecord {
    std::array<std::uint8_t, kNetSettingsRecordSize> bytes{};

    AddressingMode Mode() const;  // an unknown byte reads as Static
    void SetMode(AddressingMode mode);
    // Writes at most 16 bytes at the field's offset: a text of 16 or more
    // bytes fills the field without a terminator, a shorter one is
    // zero-padded. Never touches the next field.
    void SetText(std::size_t fieldOffset, std::string_view text);
    // The field's text up to its first zero byte, at most 16 bytes.
    std::string Text(std::size_t fieldOffset) const;
};

struct SettingsHandoff {
    std::array<std::uint8_t, kSettingsHandoffSize> bytes{};

    // Marker 'V' '9' 0x83 at 0..2, byte 3 left zero, the record at 4..91.
    static SettingsHandoff Wrap(const NetSettingsRecord& record);
    // The marker test of the main window's handler; byte 3 is ignored.
    bool HasMarker() const;
    NetSettingsRecord Record() const;
};

// The record that Modify sends, built the same way for the settings window
// and the command line: zero, then the device-ID block (devId and its tail),
// the mode, the three texts and the MAC text read by ParseMac. A text keeps
// at most 15 bytes, so its field always ends in a zero byte.
NetSettingsRecord BuildModifyRecord(
    const std::array<std::uint8_t, record::kDevIdBlockSize>& devIdBlock, AddressingMode mode,
    std::string_view ip, std::string_view mask, std::string_view gateway, std::string_view macText);

// The record a settings window opens with, built from one device-table row:
// cellText(column) gives the whole text of a cell as 8-bit bytes. Each cell is
// read into a zero-filled 32-byte buffer (at most 31 characters kept); IP,
// Mask and Gateway copy the buffer's first 16 bytes into their fields (a cell
// of 16 or more characters fills its field without a terminator), MAC and
// Dev ID are parsed. Everything else, the mode included, stays zero.
NetSettingsRecord BuildSettingsRecordFromRow(
    const std::function<std::string(int column)>& cellText);

// A copy of record with D3 ED CB FF at 0..3 and stamp (LE) at 84..87.
NetSettingsRecord StampSettingsRecord(const NetSettingsRecord& record, std::uint32_t stamp);

enum class BroadcastOutcome { Ok, Error };
// "Setting OK!" or "Setting error!"
const char* BroadcastOutcomeText(BroadcastOutcome outcome);

// The main window's side of the exchange without its window: stamps with
// the time-seeded draw and sends to 255.255.255.255:5050 (injectable) out of
// the interface the camera was found on, or out of every broadcast-capable
// interface when that is unknown.
class SettingsBroadcaster {
public:
    explicit SettingsBroadcaster(Ipv4Endpoint destination = {kLimitedBroadcast, kCameraCommandPort},
                                 SecondsClock clock = SystemSeconds,
                                 InterfaceLister interfaces = {});

    // The main window's handler of a handoff: a block without the marker is
    // ignored (nothing sent, nothing to show: nullopt); otherwise the record
    // is stamped and broadcast.
    std::optional<BroadcastOutcome> ApplyHandoff(const SettingsHandoff& handoff,
                                                 std::uint32_t arrivalInterface = 0) const;
    // Stamps a copy and broadcasts it.
    BroadcastOutcome SendSettingsRecord(const NetSettingsRecord& record,
                                        std::uint32_t arrivalInterface = 0,
                                        std::string* failure = nullptr) const;
    // A new socket with SO_BROADCAST, one 88-byte datagram out of the
    // interface with index arrivalInterface, or out of each listed interface
    // when arrivalInterface is 0 (unknown); close. Ok only when a datagram
    // went out. An arrivalInterface that is no longer listed (the camera's
    // network has gone) sends nothing: no other network holds that camera.
    // On Error, failure (when given) receives the reason in words.
    BroadcastOutcome BroadcastSettingsRecord(const NetSettingsRecord& stamped,
                                             std::uint32_t arrivalInterface = 0,
                                             std::string* failure = nullptr) const;

private:
    Ipv4Endpoint destination_;
    SecondsClock clock_;
    InterfaceLister interfaces_;
};

}  // namespace qdipc
