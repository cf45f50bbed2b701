#include "tools/camsim/CameraFields.h"

#include <cstdio>

namespace camsim {
namespace {

void PutBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::string Octet(std::uint32_t number, int shift) {
    return std::to_string((number >> shift) & 0xFFu);
}

std::string HexJoined(const std::uint8_t* bytes, std::size_t count, const char* separator,
                      std::size_t separatorAfter) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0 && (separatorAfter == 0 || i % separatorAfter == 0)) {
            text += separator;
        }
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// Added to the number of a camera to derive the fields of its duplicate.
constexpr std::uint32_t kDuplicateOffset = 0x00800000;

}  // namespace

CameraFields MakeCamera(std::uint32_t number) {
    CameraFields camera;
    camera.devId = {0x71, 0x64, 0x73, 0x6d, 0, 0, 0, 0};
    PutBigEndian32(camera.devId.data() + 4, number);
    camera.name = "camsim-" + std::to_string(number);
    camera.ip = "10." + Octet(number, 16) + "." + Octet(number, 8) + "." + Octet(number, 0);
    camera.mac = {0x02, 0x00, 0, 0, 0, 0};
    PutBigEndian32(camera.mac.data() + 2, number);
    camera.mask = "255.0.0.0";
    camera.gateway = "10." + Octet(number, 16) + "." + Octet(number, 8) + ".254";
    camera.webPort = static_cast<std::uint16_t>(8000 + number % 1000);
    camera.port = static_cast<std::uint16_t>(34000 + number % 30000);
    camera.hardwareVer = {0x48, 0x57, 0x02, 0x00, 0, 0, 0, 0};
    PutBigEndian32(camera.hardwareVer.data() + 4, number);
    camera.appVer = "app-2.1." + std::to_string(number);
    camera.kernelVer = "Linux 3.10.0 camsim #" + std::to_string(number);
    return camera;
}

CameraFields DuplicateOf(const CameraFields& camera) {
    const std::uint32_t number = (static_cast<std::uint32_t>(camera.devId[4]) << 24) |
                                 (static_cast<std::uint32_t>(camera.devId[5]) << 16) |
                                 (static_cast<std::uint32_t>(camera.devId[6]) << 8) |
                                 camera.devId[7];
    CameraFields duplicate = MakeCamera(number ^ kDuplicateOffset);
    duplicate.devId = camera.devId;
    duplicate.name = camera.name + "-dup";
    duplicate.mask = "255.255.0.0";
    return duplicate;
}

std::string FormatDevId(const DevId& id) {
    return HexJoined(id.data(), 4, "", 0) + "-" + HexJoined(id.data() + 4, 4, "", 0);
}

std::string FormatMac(const MacAddress& mac) {
    return HexJoined(mac.data(), mac.size(), ":", 1);
}

std::string FormatHardwareVer(const HardwareVer& v) {
    return HexJoined(v.data(), v.size(), ":", 1);
}

std::string QuoteText(const std::string& text) {
    std::string quoted = "\"";
    char escape[5];
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            quoted += c;
        } else {
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            quoted += escape;
        }
    }
    return quoted + "\"";
}

}  // namespace camsim
