#pragma once
// The fields one simulated camera puts into its replies, and the rule that
// derives them from a camera number, so that every camera differs from every
// other one and a run can be repeated exactly.

#include <cstdint>
#include <string>

#include "tools/camsim/WireFormat.h"

namespace camsim {

struct CameraFields {
    DevId devId{};
    std::string name;
    std::string ip;
    MacAddress mac{};
    std::string mask;
    std::string gateway;
    std::uint16_t webPort = 0;
    std::uint16_t port = 0;
    HardwareVer hardwareVer{};
    std::string appVer;
    std::string kernelVer;
};

// Fields of camera number `number` (distinct for numbers below 2^24):
//   devId        71 64 73 6d, then number as 4 bytes, most significant first
//   name         "camsim-<number>"
//   ip           "10.<b2>.<b1>.<b0>"  (b2..b0: the low three bytes of number)
//   mac          02 00, then number as 4 bytes
//   mask         "255.0.0.0",  gateway "10.<b2>.<b1>.254"
//   webPort      8000 + number % 1000,  port 34000 + number % 30000
//   hardwareVer  48 57 02 00, then number as 4 bytes
//   appVer       "app-2.1.<number>",  kernelVer "Linux 3.10.0 camsim #<number>"
CameraFields MakeCamera(std::uint32_t number);

// Fields for a second reply under the same device ID: every other field
// differs from the camera's own.
CameraFields DuplicateOf(const CameraFields& camera);

// Readable forms for the simulator's output.
std::string FormatDevId(const DevId& id);             // "7164736d-00000001"
std::string FormatMac(const MacAddress& mac);         // "02:00:00:00:00:01"
std::string FormatHardwareVer(const HardwareVer& v);  // "48:57:02:00:00:00:00:01"
// The text quoted, with bytes outside printable ASCII as \xHH.
std::string QuoteText(const std::string& text);

}  // namespace camsim
