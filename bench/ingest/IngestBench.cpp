// bench_ingest: burst ingest of the receive worker over loopback, beside a bare
// recvmmsg receiver with the same socket settings. Prints figures; asserts
// nothing.
//
//   bench_ingest [--runs N]
//
// Scenarios: 10,000 distinct replies sent as fast as the sender can, and
// 100,000 spread evenly over one second, from camsim's burst mode. Then
// floods: 1,000,000 junk datagrams of the current search without a signature
// (each one a log entry) with 10,000 real replies spread among them, as fast
// as the sender can and over 10 s, each beside the same mix whose junk belongs
// to another search (dropped without a log entry). Last, 1,200,000 distinct
// replies that nobody takes, against the pending cap.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "bench/ProcessMemory.h"
#include "bench/flood/FloodSender.h"
#include "bench/ingest/BareReceiver.h"
#include "bench/ingest/SocketDrops.h"
#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "tools/camsim/BurstSender.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSearchId = 4242;
// The worker's default request; the bare receiver asks for the same.
const int kBufferRequest = qdipc::ReceiverConfig{}.receiveBufferBytes;
// How long to wait for stragglers once nothing more arrives.
constexpr auto kQuietTime = std::chrono::milliseconds(300);
constexpr auto kMaxWait = std::chrono::seconds(10);

struct Scenario {
    const char* name;
    std::size_t count;
    std::chrono::milliseconds duration;  // zero: as fast as possible
};

struct Figures {
    std::size_t sent = 0;
    std::size_t received = 0;
    std::size_t accepted = 0;  // the worker only
    std::uint64_t drops = 0;
    int buffer = 0;
    double seconds = 0;      // first send to last datagram taken
    double sendSeconds = 0;  // the sender's own time
    double rate() const { return seconds > 0 ? static_cast<double>(received) / seconds : 0; }
};

// Sends the scenario's burst to port; returns the sender's counts and the
// time the sending started.
std::optional<std::pair<camsim::BurstResult, Clock::time_point>> SendBurst(const Scenario& scenario,
                                                                           std::uint16_t port) {
    camsim::BurstOptions options;
    options.destination = {"127.0.0.1", port};
    options.count = scenario.count;
    options.searchId = kSearchId;
    options.duration = scenario.duration;
    camsim::BurstSender sender(options);  // encodes everything before the clock starts
    std::string error;
    if (!sender.Open(error)) {
        std::fprintf(stderr, "bench_ingest: %s\n", error.c_str());
        return std::nullopt;
    }
    const std::atomic<bool> neverStop{false};
    const Clock::time_point start = Clock::now();
    return std::pair(sender.Send(neverStop), start);
}

// Start() binds the socket before it returns, so a started worker has its
// port at once.
bool StartWorker(qdipc::RecvSearchThread& worker) {
    if (!worker.Start()) {
        std::fprintf(stderr, "bench_ingest: the worker did not bind\n");
        return false;
    }
    return true;
}

// Waits until counter reaches target, or stops growing for kQuietTime.
template <typename Counter>
void WaitForArrivals(Counter counter, std::size_t target) {
    const Clock::time_point giveUp = Clock::now() + kMaxWait;
    std::size_t seen = counter();
    Clock::time_point lastChange = Clock::now();
    while (seen < target && Clock::now() < giveUp && Clock::now() - lastChange < kQuietTime) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::size_t now = counter();
        if (now != seen) {
            seen = now;
            lastChange = Clock::now();
        }
    }
}

// The worker with its queue drained by a consumer thread that is woken by
// the queue, as the window would be.
std::optional<Figures> MeasureWorker(const Scenario& scenario,
                                     const std::filesystem::path& logDirectory) {
    std::mutex mutex;
    std::condition_variable woken;
    bool pending = false;
    qdipc::ReplyQueue queue([&] {
        {
            const std::lock_guard lock(mutex);
            pending = true;
        }
        woken.notify_one();
    });
    std::atomic<std::uint32_t> searchId{kSearchId};
    qdipc::ErrorLog log(logDirectory);
    qdipc::RecvSearchThread worker(searchId, queue, log,
                                   qdipc::ReceiverConfig{{"127.0.0.1", 0}, kBufferRequest});
    if (!StartWorker(worker)) {
        return std::nullopt;
    }
    const std::uint16_t port = worker.BoundPort();

    std::atomic<bool> consumerStop{false};
    std::atomic<std::size_t> accepted{0};
    std::atomic<Clock::rep> lastAccepted{0};
    std::thread consumer([&] {
        while (!consumerStop.load()) {
            {
                std::unique_lock lock(mutex);
                woken.wait_for(lock, std::chrono::milliseconds(10), [&] { return pending; });
                pending = false;
            }
            const std::size_t taken = queue.TakeAll().size();
            if (taken > 0) {
                accepted.fetch_add(taken);
                lastAccepted.store(Clock::now().time_since_epoch().count());
            }
        }
    });

    const auto burst = SendBurst(scenario, port);
    if (burst) {
        WaitForArrivals([&] { return accepted.load(); }, burst->first.sent);
    }
    const std::optional<ingest_bench::UdpSocketCounters> counters =
        ingest_bench::ReadUdpSocketCounters(port);
    consumerStop.store(true);
    consumer.join();
    worker.Stop();
    if (!burst) {
        return std::nullopt;
    }

    Figures figures;
    figures.sent = burst->first.sent;
    figures.sendSeconds = std::chrono::duration<double>(burst->first.elapsed).count();
    figures.drops = counters ? counters->drops : 0;
    // Every datagram of the burst carries the search ID and the signature, so
    // each one the socket kept reaches the worker.
    figures.received = figures.sent - std::min<std::size_t>(figures.sent, figures.drops);
    figures.accepted = accepted.load();
    figures.buffer = worker.EffectiveReceiveBuffer();
    const Clock::time_point last{Clock::duration(lastAccepted.load())};
    figures.seconds = std::chrono::duration<double>(last - burst->second).count();
    return figures;
}

std::optional<Figures> MeasureBare(const Scenario& scenario) {
    ingest_bench::BareReceiver bare(kBufferRequest);
    if (!bare.Ok()) {
        std::fprintf(stderr, "bench_ingest: the bare receiver could not bind\n");
        return std::nullopt;
    }
    bare.Start();
    const auto burst = SendBurst(scenario, bare.Port());
    if (burst) {
        WaitForArrivals([&] { return bare.Received(); }, burst->first.sent);
    }
    const auto counters = ingest_bench::ReadUdpSocketCounters(bare.Port());
    bare.Stop();
    if (!burst) {
        return std::nullopt;
    }
    Figures figures;
    figures.sent = burst->first.sent;
    figures.sendSeconds = std::chrono::duration<double>(burst->first.elapsed).count();
    figures.received = bare.Received();
    figures.drops = counters ? counters->drops : 0;
    figures.buffer = bare.EffectiveBuffer();
    figures.seconds = std::chrono::duration<double>(bare.LastReceived() - burst->second).count();
    return figures;
}

struct FloodScenario {
    const char* name;
    bool junkLogged;
    std::chrono::milliseconds duration;
};

struct FloodFigures {
    bench::FloodResult sent;
    std::size_t accepted = 0;
    std::uint64_t drops = 0;
    std::size_t logLines = 0;
    qdipc::ErrorLogCounts log;
    double seconds = 0;  // first send to the last real reply taken
};

std::size_t CountLines(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::size_t lines = 0;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        lines += static_cast<std::size_t>(std::count(buffer, buffer + file.gcount(), '\n'));
    }
    return lines;
}

// The worker with a real error log, fed a flood of junk with real replies
// among it; a consumer thread takes the replies as the window would.
std::optional<FloodFigures> MeasureFlood(const FloodScenario& scenario,
                                         const std::filesystem::path& logDirectory) {
    std::error_code ignored;
    std::filesystem::remove_all(logDirectory, ignored);  // lines of this run only
    std::filesystem::create_directories(logDirectory);
    qdipc::ReplyQueue queue;
    std::atomic<std::uint32_t> searchId{kSearchId};
    std::optional<qdipc::ErrorLog> log(std::in_place, logDirectory);
    qdipc::RecvSearchThread worker(searchId, queue, *log,
                                   qdipc::ReceiverConfig{{"127.0.0.1", 0}, kBufferRequest});
    if (!StartWorker(worker)) {
        return std::nullopt;
    }
    std::atomic<bool> consumerStop{false};
    std::atomic<std::size_t> accepted{0};
    std::atomic<Clock::rep> lastAccepted{0};
    std::thread consumer([&] {
        while (!consumerStop.load()) {
            const std::size_t taken = queue.TakeAll().size();
            if (taken > 0) {
                accepted.fetch_add(taken);
                lastAccepted.store(Clock::now().time_since_epoch().count());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    bench::FloodPlan plan;
    plan.destination = {"127.0.0.1", worker.BoundPort()};
    plan.searchId = kSearchId;
    plan.junk = 1000000;
    plan.real = 10000;
    plan.junkUnderOtherSearch = !scenario.junkLogged;
    plan.duration = scenario.duration;
    FloodFigures figures;
    std::string error;
    const Clock::time_point start = Clock::now();
    const bool sent = bench::SendFlood(plan, figures.sent, error);
    if (sent) {
        WaitForArrivals([&] { return accepted.load(); }, figures.sent.realSent);
    } else {
        std::fprintf(stderr, "bench_ingest: %s\n", error.c_str());
    }
    const auto counters = ingest_bench::ReadUdpSocketCounters(worker.BoundPort());
    consumerStop.store(true);
    consumer.join();
    worker.Stop();
    log->WaitIdle(std::chrono::seconds(5));
    figures.log = log->Counts();
    log.reset();
    if (!sent) {
        return std::nullopt;
    }
    figures.accepted = accepted.load();
    figures.drops = counters ? counters->drops : 0;
    figures.logLines = CountLines(logDirectory / qdipc::kErrorLogFileName);
    const Clock::time_point last{Clock::duration(lastAccepted.load())};
    figures.seconds = std::chrono::duration<double>(last - start).count();
    return figures;
}

void PrintFlood(const FloodScenario& scenario, const FloodFigures& f) {
    const double sendSeconds = std::chrono::duration<double>(f.sent.elapsed).count();
    std::printf("%-34s %8zu %6zu %7zu %6.2f %% %8llu %6zu %9llu %7.2f %9.0f\n", scenario.name,
                f.sent.sent - f.sent.realSent, f.sent.realSent, f.accepted,
                f.sent.realSent ? 100.0 * f.accepted / f.sent.realSent : 0.0,
                static_cast<unsigned long long>(f.drops), f.logLines,
                static_cast<unsigned long long>(f.log.droppedByRate + f.log.droppedQueueFull),
                sendSeconds, sendSeconds > 0 ? f.sent.sent / sendSeconds : 0.0);
}

using bench::ResidentBytes;

// 1,200,000 distinct replies that nobody takes: the queue stops at its cap,
// counts the rest, and its memory stops growing there.
void MeasurePendingCap(const std::filesystem::path& logDirectory) {
    qdipc::ReplyQueue queue;
    std::atomic<std::uint32_t> searchId{kSearchId};
    qdipc::ErrorLog log(logDirectory);
    qdipc::RecvSearchThread worker(searchId, queue, log,
                                   qdipc::ReceiverConfig{{"127.0.0.1", 0}, kBufferRequest});
    const long residentBefore = ResidentBytes();
    if (!StartWorker(worker)) {
        return;
    }
    bench::FloodPlan plan;
    plan.destination = {"127.0.0.1", worker.BoundPort()};
    plan.searchId = kSearchId;
    plan.real = 1200000;
    bench::FloodResult sent;
    std::string error;
    if (!bench::SendFlood(plan, sent, error)) {
        std::fprintf(stderr, "bench_ingest: pending cap: %s\n", error.c_str());
        return;
    }
    WaitForArrivals([&] { return queue.Pending() + queue.Dropped(); }, sent.sent);
    const auto counters = ingest_bench::ReadUdpSocketCounters(worker.BoundPort());
    worker.Stop();
    std::printf(
        "\n1,200,000 distinct replies, nobody taking them (cap %zu)\n"
        "  pending %zu, cap hits %llu, socket drops %llu, resident growth %.0f MB "
        "(%.0f B per pending reply)\n",
        queue.MaxPending(), queue.Pending(), static_cast<unsigned long long>(queue.Dropped()),
        static_cast<unsigned long long>(counters ? counters->drops : 0),
        (ResidentBytes() - residentBefore) / 1048576.0,
        queue.Pending() ? double(ResidentBytes() - residentBefore) / queue.Pending() : 0.0);
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void PrintRow(const char* scenario, const char* receiver, const Figures& f, bool worker) {
    std::printf("%-26s %-7s %8zu %9zu %9s %7llu %9d %10.0f %9.1f\n", scenario, receiver, f.sent,
                f.received, worker ? std::to_string(f.accepted).c_str() : "-",
                static_cast<unsigned long long>(f.drops), f.buffer, f.rate(), f.seconds * 1000);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench_ingest [--runs N]\n");
            return 2;
        }
    }
    const Scenario scenarios[] = {
        {"10000 as fast as possible", 10000, std::chrono::milliseconds(0)},
        {"100000 over 1 s", 100000, std::chrono::milliseconds(1000)},
    };
    const std::filesystem::path logDirectory =
        std::filesystem::temp_directory_path() / ("bench_ingest." + std::to_string(getpid()));
    std::filesystem::create_directories(logDirectory);

    std::printf("bench_ingest: loopback, receive buffer request %d bytes, %u CPUs\n",
                kBufferRequest, std::thread::hardware_concurrency());
    bool ok = true;
    for (int run = 1; run <= runs; ++run) {
        std::printf("\nrun %d, load average %s\n", run, LoadAverage().c_str());
        std::printf("%-26s %-7s %8s %9s %9s %7s %9s %10s %9s\n", "scenario", "recv", "sent",
                    "received", "accepted", "drops", "rcvbuf", "replies/s", "ms");
        for (const Scenario& scenario : scenarios) {
            const std::optional<Figures> worker = MeasureWorker(scenario, logDirectory);
            const std::optional<Figures> bare = MeasureBare(scenario);
            if (!worker || !bare) {
                ok = false;
                continue;
            }
            PrintRow(scenario.name, "worker", *worker, true);
            PrintRow("", "bare", *bare, false);
            std::printf("%-26s accepted %.2f %%, worker/bare rate %.2f, sender %.0f/s\n", "",
                        worker->sent ? 100.0 * worker->accepted / worker->sent : 0.0,
                        bare->rate() > 0 ? worker->rate() / bare->rate() : 0.0,
                        worker->sendSeconds > 0 ? worker->sent / worker->sendSeconds : 0.0);
        }
    }
    std::printf(
        "\nfloods: 1,000,000 junk datagrams of the current search (no signature) with "
        "10,000 real replies spread among them\n");
    const FloodScenario floods[] = {
        {"junk logged, full speed", true, std::chrono::milliseconds(0)},
        {"junk of another search, full speed", false, std::chrono::milliseconds(0)},
        {"junk logged, over 10 s", true, std::chrono::milliseconds(10000)},
        {"junk of another search, over 10 s", false, std::chrono::milliseconds(10000)},
    };
    for (int run = 1; run <= runs; ++run) {
        std::printf("\nrun %d, load average %s\n", run, LoadAverage().c_str());
        std::printf("%-34s %8s %6s %7s %8s %8s %6s %9s %7s %9s\n", "flood", "junk", "real", "taken",
                    "real %", "drops", "lines", "log drop", "send s", "sent/s");
        int index = 0;
        for (const FloodScenario& scenario : floods) {
            const auto figures =
                MeasureFlood(scenario, logDirectory / ("flood" + std::to_string(++index)));
            if (!figures) {
                ok = false;
                continue;
            }
            PrintFlood(scenario, *figures);
        }
    }
    MeasurePendingCap(logDirectory);
    std::printf(
        "\nreceived: the bare receiver's count; for the worker, sent minus socket drops "
        "(every datagram of the burst passes its filters).\n"
        "drops: /proc/net/udp of the receiving socket. replies/s: received over the time "
        "from the first send to the last datagram taken.\n"
        "floods: taken = real replies the worker accepted; lines = log lines written; "
        "log drop = entries over the rate or the queue.\n");
    std::error_code ignored;
    std::filesystem::remove_all(logDirectory, ignored);
    return ok ? 0 : 1;
}
