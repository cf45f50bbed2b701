#pragma once
// The simulator's command line.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/camsim/BurstSender.h"
#include "tools/camsim/CamSimServer.h"

namespace camsim {

struct CommandLine {
    bool help = false;
    bool list = false;  // print the cameras and end
    std::size_t cameraCount = 4;
    std::uint32_t base = 1;
    ServerOptions server;
    // Burst mode when set: send this many replies to server.replyTo and end.
    std::optional<std::size_t> burstCount;
    std::uint32_t burstSearchId = 0;
    std::chrono::microseconds burstDuration{0};
    bool replyToGiven = false;  // --reply-to was on the command line
    // --factory: every camera starts at this one address, mask and gateway,
    // as cameras fresh from the factory do.
    std::optional<FactoryNetwork> factory;
    // --ip-text N=TEXT: camera N reports TEXT as its IP, any text a hostile
    // host might send (up to the field's 29 bytes).
    std::vector<std::pair<std::size_t, std::string>> ipTexts;
    // --zero-mac: every camera reports MAC 00:00:00:00:00:00.
    bool zeroMac = false;
};

struct ParseResult {
    CommandLine commandLine;
    std::string error;  // empty when the command line was understood
};

ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// The text that --help prints.
std::string UsageText();

}  // namespace camsim
