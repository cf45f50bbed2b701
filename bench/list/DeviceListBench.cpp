// The device list at its cap: a million cameras appended in the reply pump's
// batches, looked up by device ID, sorted, flagged, updated in place and
// cleared. Prints figures; asserts nothing.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/ProcessMemory.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/SiteWatch.h"
#include "tests/discovery/TestReplies.h"

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

}  // namespace

int main() {
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
    return 0;
}
