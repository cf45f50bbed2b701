#pragma once
// The device table's twelve cell texts of one reply, in column order.

#include <array>
#include <string>

#include "discovery/DiscoveryDatagrams.h"

namespace qdipc {

inline constexpr int kColumnCount = 12;

enum Column : int {
    kColNumber = 0,  // "NO."
    kColDevId = 1,
    kColName = 2,
    kColIp = 3,
    kColPort = 4,
    kColMac = 5,
    kColAppVer = 6,
    kColHardwareVer = 7,
    kColKernelVer = 8,
    kColMask = 9,
    kColWebPort = 10,
    kColGateway = 11,
};

// Column titles in order: "NO.", "Dev ID", "Name", "IP", ...
extern const std::array<const char*, kColumnCount> kColumnTitles;

// Cell 0 is number in decimal; cells 1..11 come from the reply's fields. The
// texts are the raw 8-bit bytes the camera sent, not re-encoded.
std::array<std::string, kColumnCount> ReplyCellTexts(const DeviceInfoReply& reply, int number);

}  // namespace qdipc
