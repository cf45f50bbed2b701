#pragma once
// Reads what arrives on the cameras' command port: discovery requests
// (52 bytes, D3 ED CB B3) and modify records (88 bytes, D3 ED CB FF), and
// renders each as one readable line.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/camsim/WireFormat.h"

namespace camsim {

enum class DatagramKind {
    DiscoveryRequest,  // request signature and exactly 52 bytes
    ModifyRecord,      // modify signature and exactly 88 bytes
    MalformedRequest,  // request signature, other length
    MalformedModify,   // modify signature, other length
    Unknown,           // anything else, the empty datagram included
};

DatagramKind ClassifyDatagram(const std::uint8_t* data, std::size_t length);

struct DecodedRequest {
    std::uint8_t type = 0;  // offset 12, 2 from the tool
    std::string localIp;    // up to the first zero, at most 30 bytes
    std::uint16_t commandPort = 0;
    std::uint32_t searchId = 0;
};

enum class AddressingMode : std::uint8_t { Static = 0, Dhcp = 1, Adsl = 2 };

struct DecodedModify {
    std::uint8_t mode = 0;
    DevId devId{};
    DevId devIdTail{};
    std::string ip;  // each text up to its first zero, at most 16 bytes
    std::string mask;
    std::string gateway;
    MacAddress mac{};
    std::uint32_t stamp = 0;
};

// Nothing when the datagram is not of that kind (signature and length).
std::optional<DecodedRequest> DecodeRequest(const std::uint8_t* data, std::size_t length);
std::optional<DecodedModify> DecodeModify(const std::uint8_t* data, std::size_t length);

// "static", "dhcp", "adsl" or "unknown(<n>)".
std::string ModeName(std::uint8_t mode);

// One line each, without the line end; `from` names the sender.
std::string DescribeRequest(const DecodedRequest& request, const std::string& from);
std::string DescribeModify(const DecodedModify& record, const std::string& from);
std::string DescribeOther(DatagramKind kind, const std::uint8_t* data, std::size_t length,
                          const std::string& from);

}  // namespace camsim
