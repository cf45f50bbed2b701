// The device list at its cap: a million cameras appended in the reply pump's
// batches, looked up by device ID, sorted, flagged, updated in place and
// cleared; sorting 100,000 rows by each kind of column; and the peak memory
// of `--list` with 100,000 cameras answering over loopback (TSV and JSON),
// each run in a child process of its own. Prints figures; asserts nothing.
// "--list-memory" runs the last part only, "--sort" the sorts only.

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ProcessMemory.h"
#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/SiteWatch.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TestReplies.h"
#include "tools/camsim/BurstSender.h"
#include "tools/camsim/DatagramDecoder.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Watching 10,000 cameras without a window: 100 cycles, each with every
// camera's answer (the same values), then one with every IP changed.
void WatchCycles() {
    constexpr std::uint32_t kCameras = 10'000;
    constexpr int kCycles = 100;
    qdipc::DeviceList list;
    std::vector<qdipc::AcceptedReply> answers;
    answers.reserve(kCameras);
    for (std::uint32_t n = 0; n < kCameras; ++n) {
        answers.push_back(qdipc::test::Camera(n).Accepted(1));
    }
    list.AddReplies(answers, 1);
    qdipc::SiteWatch watch(list, qdipc::WatchOptions{std::chrono::milliseconds(1000), 3});
    const Clock::time_point t0 = Clock::now();
    watch.Start(t0);
    std::vector<qdipc::WatchEvent> events;
    double observeMs = 0;
    double tickMs = 0;
    long residentAt10 = 0;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        auto start = Clock::now();
        watch.Observe(answers, 1, events);
        observeMs += MillisecondsSince(start);
        start = Clock::now();
        watch.Tick(t0 + std::chrono::seconds(cycle), events);
        tickMs += MillisecondsSince(start);
        if (cycle == 10) {
            residentAt10 = bench::ResidentBytes();
        }
    }
    const long residentAt100 = bench::ResidentBytes();
    for (std::uint32_t n = 0; n < kCameras; ++n) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n);
        camera.ip = "10.201." + std::to_string(n >> 8) + "." + std::to_string(n & 0xFF);
        answers[n] = camera.Accepted(1);
    }
    events.clear();
    const auto start = Clock::now();
    watch.Observe(answers, 1, events);
    const double changedMs = MillisecondsSince(start);
    std::printf(
        "watch at %u cameras, %d cycles: answers %.2f ms, cycle end %.2f ms per cycle; "
        "%zu events\n",
        kCameras, kCycles, observeMs / kCycles, tickMs / kCycles, events.size());
    std::printf(
        "  every camera changed: %.1f ms; resident after 10 / 100 cycles %.1f / %.1f "
        "MB; gone %d\n",
        changedMs, residentAt10 / 1048576.0, residentAt100 / 1048576.0, list.GoneCount());
}

// A UDP socket on 127.0.0.1 with a free port; -1 when none.
int LoopbackSocket(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// `--list --format FORMAT` in a child process, its request going to a
// loopback socket of this process, which answers it with `cameras` replies
// spread over 1.5 s (the child listens for 12 s, time enough on a loaded
// machine). Prints the child's peak resident size.
void ListPeakMemory(const char* format, std::size_t cameras) {
    std::uint16_t cameraPort = 0;
    std::uint16_t receivePort = 0;
    const int camera = LoopbackSocket(cameraPort);
    const int probe = LoopbackSocket(receivePort);  // a free port for the child's receiver
    if (camera < 0 || probe < 0) {
        std::printf("--list memory: no loopback socket\n");
        return;
    }
    close(probe);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(camera);
        qdipc::NetworkConfig config;
        config.searchDestination = {"127.0.0.1", cameraPort};
        config.receiver.bind = {"127.0.0.1", receivePort};
        config.interfaces = qdipc::test::LoopbackNetworks();
        const qdipc::CommandLine command =
            qdipc::ParseCommandLine({"--list", "--format", format, "--wait", "12000"});
        std::ofstream out("/dev/null");
        std::ostringstream err;
        const int status = qdipc::RunCommandLine(command, out, err, config);
        std::string said = err.str();
        said = said.substr(0, said.find('\n'));
        std::printf("  --list --format %-4s exit %d, %s\n", format, status, said.c_str());
        std::fflush(stdout);
        _exit(0);
    }
    // The request carries the search ID that the replies must carry.
    pollfd wait{camera, POLLIN, 0};
    std::uint8_t request[512];
    std::optional<camsim::DecodedRequest> decoded;
    if (poll(&wait, 1, 5000) == 1) {
        const ssize_t length = recv(camera, request, sizeof request, 0);
        if (length > 0) {
            decoded = camsim::DecodeRequest(request, static_cast<std::size_t>(length));
        }
    }
    close(camera);
    if (decoded) {
        camsim::BurstOptions options;
        options.destination = {"127.0.0.1", receivePort};
        options.count = cameras;
        options.searchId = decoded->searchId;
        options.duration = std::chrono::milliseconds(1500);
        camsim::BurstSender sender(options);
        std::string error;
        const std::atomic<bool> neverStop{false};
        if (sender.Open(error)) {
            sender.Send(neverStop);
        }
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    std::printf("  --list --format %-4s of %zu cameras: peak resident %.0f MB\n", format, cameras,
                usage.ru_maxrss / 1024.0);
}

void ListMemory() {
    std::printf("--list over loopback, each in a child process:\n");
    for (const char* format : {"tsv", "json"}) {
        ListPeakMemory(format, 100'000);
    }
}

// Sorting 100,000 rows by a number, an address and a text column, both ways.
void SortFigures() {
    constexpr std::uint32_t kRows = 100'000;
    qdipc::DeviceList list;
    std::vector<qdipc::AcceptedReply> batch;
    batch.reserve(kRows);
    for (std::uint32_t n = 0; n < kRows; ++n) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n);
        // Arrival order is not address order.
        const std::uint32_t host = (n * 7919u) % kRows;
        camera.ip = "10." + std::to_string(host >> 16) + "." + std::to_string((host >> 8) & 0xFF) +
                    "." + std::to_string(host & 0xFF);
        camera.name = "cam" + std::to_string(host);
        batch.push_back(camera.Accepted(1));
    }
    list.AddReplies(batch, 1);
    for (const auto& [column, name] :
         {std::pair{qdipc::kColIp, "IP"}, std::pair{qdipc::kColNumber, "NO."},
          std::pair{qdipc::kColName, "Name"}}) {
        // Wall time, and the process's CPU time (less moved by a busy machine).
        auto start = Clock::now();
        std::clock_t cpu = std::clock();
        list.SortByColumn(column, true);
        const double up = MillisecondsSince(start);
        const double upCpu = 1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC;
        start = Clock::now();
        cpu = std::clock();
        list.SortByColumn(column, false);
        const double downCpu = 1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf(
            "sort %u rows by %-4s      %.1f ms ascending (CPU %.1f), %.1f ms descending (CPU "
            "%.1f)\n",
            kRows, name, up, upCpu, MillisecondsSince(start), downCpu);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--list-memory") {
        ListMemory();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--sort") {
        SortFigures();
        return 0;
    }
    SortFigures();
    constexpr std::uint32_t kRows = 1'000'000;
    constexpr std::uint32_t kBatch = 10'000;
    qdipc::DeviceList list;
    list.SetHostInterfaces({{"eth0", 2, "10.255.255.254", "255.0.0.0", "10.255.255.255"}});

    const long residentBefore = bench::ResidentBytes();
    double appendMs = 0;
    double longestBatchMs = 0;
    for (std::uint32_t first = 0; first < kRows; first += kBatch) {
        std::vector<qdipc::AcceptedReply> batch;
        batch.reserve(kBatch);
        for (std::uint32_t n = first; n < first + kBatch; ++n) {
            qdipc::test::CameraReply camera = qdipc::test::Camera(n);
            // Addresses of their own in 10.0.0.0/8, except that every 1000th
            // camera shares its IP with the one before it.
            const std::uint32_t host = n % 1000 == 999 ? n - 1 : n;
            camera.ip = "10." + std::to_string(host >> 16) + "." +
                        std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
            batch.push_back(camera.Accepted(1));
            batch.back().arrivalInterface = 2;
        }
        const auto start = Clock::now();
        list.AddReplies(batch, 1);
        const double ms = MillisecondsSince(start);
        appendMs += ms;
        longestBatchMs = std::max(longestBatchMs, ms);
    }
    const long residentAfter = bench::ResidentBytes();
    std::printf("%d rows appended in batches of %u: %.0f ms (longest batch %.1f ms)\n",
                list.RowCount(), kBatch, appendMs, longestBatchMs);
    std::printf("  resident per row       %.0f B\n",
                double(residentAfter - residentBefore) / list.RowCount());

    std::vector<std::string> ids;
    for (std::uint32_t n = 0; n < kRows; n += 7) {
        ids.push_back(qdipc::FormatDeviceId(qdipc::test::Camera(n).devId.data()));
    }
    auto start = Clock::now();
    long found = 0;
    for (const std::string& id : ids) {
        found += list.FindRow(id) >= 0 ? 1 : 0;
    }
    std::printf("FindRow                  %.0f ns each (%ld of %zu found)\n",
                MillisecondsSince(start) * 1e6 / double(ids.size()), found, ids.size());

    start = Clock::now();
    list.SortByColumn(qdipc::kColIp, true);
    std::printf("sort by IP               %.0f ms\n", MillisecondsSince(start));
    start = Clock::now();
    long flagged = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        flagged += list.Flags(row) != 0 ? 1 : 0;
    }
    std::printf("Flags of every row       %.0f ns each (%ld rows flagged)\n",
                MillisecondsSince(start) * 1e6 / list.RowCount(), flagged);

    constexpr std::uint32_t kUpdates = 10'000;
    std::vector<std::pair<std::string, qdipc::DeviceInfoReply>> updates;
    for (std::uint32_t n = 0; n < kUpdates; ++n) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n * 97);
        camera.ip = "10.200." + std::to_string(n >> 8) + "." + std::to_string(n & 0xFF);
        updates.emplace_back(qdipc::FormatDeviceId(camera.devId.data()), camera.Reply());
    }
    start = Clock::now();
    for (const auto& [id, reply] : updates) {
        list.UpdateRow(list.FindRow(id), reply, 2);
    }
    std::printf("FindRow + UpdateRow      %.2f us each\n",
                MillisecondsSince(start) * 1e3 / kUpdates);

    start = Clock::now();
    list.Clear();
    const double clearMs = MillisecondsSince(start);
    list.WaitForRelease(std::chrono::seconds(60));
    std::printf("Clear                    %.1f ms on the caller, %.0f ms until freed\n", clearMs,
                MillisecondsSince(start));
    WatchCycles();
    ListMemory();
    return 0;
}
