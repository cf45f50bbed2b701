// camsim: simulated IP cameras for the search tool (see --help).

#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "tools/camsim/BurstSender.h"
#include "tools/camsim/CamSimServer.h"
#include "tools/camsim/CameraSet.h"
#include "tools/camsim/CommandLine.h"

namespace {

// Set by SIGINT and SIGTERM; the serving loop looks at it at least every 50 ms.
std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) {
    g_stopRequested.store(true);
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void PrintLine(std::string_view line) {
    std::cout << line << std::endl;
}

void PrintCameras(const camsim::CameraSet& cameras) {
    for (std::size_t i = 0; i < cameras.Size(); ++i) {
        const camsim::CameraFields& c = cameras.At(i);
        PrintLine("camera " + std::to_string(i) + ": devId " + camsim::FormatDevId(c.devId) +
                  ", name " + camsim::QuoteText(c.name) + ", ip " + c.ip + ", mac " +
                  camsim::FormatMac(c.mac) + ", mask " + c.mask + ", gateway " + c.gateway +
                  ", port " + std::to_string(c.port) + ", webPort " + std::to_string(c.webPort) +
                  ", hardwareVer " + camsim::FormatHardwareVer(c.hardwareVer) + ", appVer " +
                  camsim::QuoteText(c.appVer) + ", kernelVer " + camsim::QuoteText(c.kernelVer));
    }
}

int RunBurst(const camsim::CommandLine& line) {
    camsim::BurstOptions options;
    options.destination = line.server.replyTo;
    options.count = *line.burstCount;
    options.searchId = line.burstSearchId;
    options.base = line.base;
    options.duration = line.burstDuration;
    options.kinds = line.server.kinds;
    options.shape = line.server.shape;
    camsim::BurstSender sender(options);
    std::string error;
    if (!sender.Open(error)) {
        std::cerr << "camsim: " << error << '\n';
        return 1;
    }
    const camsim::BurstResult result = sender.Send(g_stopRequested);
    const double seconds = std::chrono::duration<double>(result.elapsed).count();
    PrintLine("burst to " + camsim::FormatEndpoint(options.destination) + ": sent " +
              std::to_string(result.sent) + ", refused " + std::to_string(result.failed) + " in " +
              std::to_string(seconds) + " s" +
              (seconds > 0 ? " (" + std::to_string(static_cast<long long>(result.sent / seconds)) +
                                 " datagrams/s)"
                           : std::string()) +
              (result.stopped ? ", stopped early" : ""));
    return result.failed == 0 && !result.stopped ? 0 : 1;
}

int RunServer(const camsim::CommandLine& line) {
    camsim::CameraSet cameras(line.cameraCount, line.base);
    if (line.factory) {
        cameras.SetNetwork(*line.factory);
    }
    for (const auto& [index, text] : line.ipTexts) {
        if (index >= cameras.Size()) {
            std::cerr << "camsim: --ip-text names camera " << index << " of " << cameras.Size()
                      << '\n';
            return 1;
        }
        cameras.SetIpText(index, text);
    }
    if (line.zeroMac) {
        cameras.SetMac(camsim::MacAddress{});
    }
    camsim::CamSimServer server(cameras, line.server, PrintLine);
    std::string error;
    if (!server.Open(error)) {
        std::cerr << "camsim: " << error << '\n';
        return 1;
    }
    PrintLine(
        "camsim: " + std::to_string(cameras.Size()) + " cameras listening on " +
        line.server.listen.address + ":" + std::to_string(server.LocalPort()) + ", replying to " +
        (line.server.replyToSender ? "the sender at port " + std::to_string(line.server.replyPort)
                                   : camsim::FormatEndpoint(line.server.replyTo)) +
        (line.server.spoof ? ", spoofing" : "") +
        (line.server.ownAddressDevice.empty()
             ? std::string()
             : ", each camera from its own address on " + line.server.ownAddressDevice));
    const camsim::ServerCounts counts = server.Run(g_stopRequested);
    PrintLine("camsim: ended after " + std::to_string(counts.requests) + " requests, " +
              std::to_string(counts.modifyRecords) + " modify records (" +
              std::to_string(counts.modifyApplied) + " applied), " +
              std::to_string(counts.ignored) + " other datagrams, " +
              std::to_string(counts.repliesSent) + " replies sent, " +
              std::to_string(counts.repliesWithheld) + " withheld" +
              (line.server.spoof ? ", " + std::to_string(counts.repliesSpoofed) + " spoofed"
                                 : std::string()));
    return counts.stopReason == camsim::StopReason::SocketError ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const camsim::ParseResult parsed =
        camsim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::cerr << "camsim: " << parsed.error << "\n(camsim --help lists the options)\n";
        return 2;
    }
    const camsim::CommandLine& line = parsed.commandLine;
    if (line.help) {
        std::cout << camsim::UsageText();
        return 0;
    }
    if (line.list) {
        PrintCameras(camsim::CameraSet(line.cameraCount, line.base));
        return 0;
    }
    InstallStopHandlers();
    return line.burstCount ? RunBurst(line) : RunServer(line);
}
