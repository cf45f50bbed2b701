// bench_assign: --assign of a batch of simulated cameras over loopback, from
// the search to the last confirmation, in one run. Prints figures; asserts
// nothing.
//
//   bench_assign [--cameras N] [--runs N] [--restart-ms MS]
//
// Each run starts a simulator with N cameras (500 by default) that restart
// their network for MS milliseconds (1000 by default) after taking a record,
// assigns every one a new address from 10.200.0.1/16 (records paced 5 ms
// apart), and waits for each camera's answer with its new values. It prints the phases' times
// from the command's own report, the whole run's time, how many records the
// simulator applied (a record it never got is lost) and how many cameras
// confirmed.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "cli/BatchCommand.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tools/camsim/CamSimThread.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t FreeLoopbackPort() {
    qdipc::UdpSocket probe;
    if (!probe.Open() || !probe.Bind({"127.0.0.1", 0})) {
        return 0;
    }
    return probe.LocalPort();
}

int Run(std::size_t cameras, std::uint32_t base, std::chrono::milliseconds restart) {
    const std::uint16_t toolPort = FreeLoopbackPort();
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    options.replyTo = {"127.0.0.1", toolPort};
    options.maxRunTime = std::chrono::minutes(2);
    options.restartTime = restart;
    camsim::CamSimThread sim(cameras, base, options);
    std::string error;
    if (!sim.Start(error)) {
        std::fprintf(stderr, "bench_assign: camsim: %s\n", error.c_str());
        return 1;
    }
    qdipc::NetworkConfig config;
    config.searchDestination = {"127.0.0.1", sim.Port()};
    config.settingsDestination = {"127.0.0.1", sim.Port()};
    config.receiver.bind = {"127.0.0.1", toolPort};
    config.interfaces = [] {
        std::vector<qdipc::Ipv4Interface> networks;
        if (auto loopback = qdipc::LoopbackInterface()) {
            networks.push_back(*loopback);
        }
        return networks;
    };
    config.errorLogDirectory = std::filesystem::temp_directory_path();

    qdipc::BatchOptions batch;
    batch.from = "10.200.0.1";
    batch.mask = "255.255.0.0";
    batch.gateway = "10.200.255.254";
    batch.select = qdipc::BatchOptions::Select::All;
    qdipc::BatchEnvironment environment;
    environment.neighbours = [] { return std::vector<qdipc::NeighbourEntry>{}; };
    environment.gatewayOf = [](std::uint32_t) { return std::optional<std::string>(); };

    std::ostringstream out;
    std::ostringstream err;
    const Clock::time_point start = Clock::now();
    const int exitCode =
        qdipc::RunBatchCommand(qdipc::CommandMode::Assign, batch, config, out, err, environment);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const camsim::ServerCounts counts = sim.Stop();

    std::size_t confirmed = 0;
    std::size_t records = 0;
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        ++records;
        confirmed += line.size() >= 9 && line.compare(line.size() - 9, 9, "confirmed") == 0 &&
                     line.find("not_confirmed") == std::string::npos;
    }
    std::string report = err.str();
    for (char& c : report) {
        c = c == '\n' ? ';' : c;
    }
    std::printf(
        "%zu cameras, restart %lld ms: exit %d, %.2f s in all (%s), records printed %zu, "
        "applied by the cameras %zu (lost %zu), confirmed %zu\n",
        cameras, static_cast<long long>(restart.count()), exitCode, seconds, report.c_str(),
        records, counts.modifyApplied, cameras - std::min(cameras, counts.modifyApplied),
        confirmed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t cameras = 500;
    int runs = 3;
    std::chrono::milliseconds restart{1000};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cameras") == 0) {
            cameras = static_cast<std::size_t>(std::stoul(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::stoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--restart-ms") == 0) {
            restart = std::chrono::milliseconds(std::stol(argv[i + 1]));
        }
    }
    qdipc::StartSocketLibrary();
    for (int run = 0; run < runs; ++run) {
        if (Run(cameras, 0x10000u * static_cast<std::uint32_t>(run + 1), restart) != 0) {
            return 1;
        }
    }
    return 0;
}
