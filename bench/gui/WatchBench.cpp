#include "bench/gui/WatchBench.h"

#include <malloc.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ui/qt/CSearchDlg.h"
#include "ui/qt/MessagePresenter.h"
#include "bench/ProcessMemory.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tools/camsim/CamSimThread.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kCameras = 10000;
constexpr int kCycles = 100;
constexpr auto kInterval = 300ms;

class QuietMessages : public qdipc::MessagePresenter {
public:
    void Warn(QWidget*, const QString&) override {}
};

double CpuMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double Megabytes(long bytes) {
    return bytes / (1024.0 * 1024.0);
}

}  // namespace

void RunWatchBench() {
    qdipc::UdpSocket probe;
    probe.Open();
    probe.Bind({"127.0.0.1", 0});
    const std::uint16_t cameraPort = probe.LocalPort();
    probe.Close();

    qdipc::SearchDlgConfig config;
    config.searchDestination = {"127.0.0.1", cameraPort};
    config.onvifDestination = {"127.0.0.1", 9};    // never the multicast group
    config.onvifAnnouncements = {"127.0.0.1", 0};  // nor its port
    config.receiver.bind = {"127.0.0.1", 0};
    config.interfaces = [] {
        const auto loopback = qdipc::LoopbackInterface();
        return loopback ? std::vector<qdipc::Ipv4Interface>{*loopback}
                        : std::vector<qdipc::Ipv4Interface>{};
    };
    config.errorLogDirectory = std::filesystem::temp_directory_path();
    config.messages = std::make_shared<QuietMessages>();
    config.openFirewall = [] {};
    config.watch.interval = kInterval;
    config.searchEndDelay = 60s;  // no "No camera answered" while the cameras start
    auto dlg = std::make_unique<CSearchDlg>(config);
    dlg->resize(1000, 700);
    dlg->show();

    dlg->OnSearch();  // binds the receive port; the cameras are not there yet
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", cameraPort};
    options.replyTo = {"127.0.0.1", dlg->Worker()->BoundPort()};
    options.maxRunTime = 120s;
    camsim::CamSimThread cameras(kCameras, 1, options);
    std::string error;
    if (!cameras.Start(error)) {
        std::fprintf(stderr, "bench_gui: camsim: %s\n", error.c_str());
        return;
    }
    dlg->OnSearch();
    QEventLoop loop;
    QTimer check;
    std::function<bool()> done;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(5);
    const Clock::time_point searchStart = Clock::now();
    done = [&] {
        return dlg->Table().RowCount() >= static_cast<int>(kCameras) ||
               Clock::now() - searchStart > 5s;
    };
    loop.exec();
    const int listed = dlg->Table().RowCount();

    // The UI loop's stalls: the longest gap between ticks of a 1 ms timer,
    // per watch cycle.
    double gapMs = 0;
    std::vector<double> cycleStallMs;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid()) {
            gapMs = std::max(gapMs, sinceTick.nsecsElapsed() / 1e6);
        }
        sinceTick.start();
    });

    const std::size_t requestsBefore = cameras.Lines().size();  // one line per request
    dlg->SetWatching(true);
    ticker.start();
    const double uiCpuStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    const double processCpuStart = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const Clock::time_point watchStart = Clock::now();
    int seenCycles = 0;
    long residentAt10 = 0;
    std::size_t heapAt10 = 0;
    done = [&] {
        const int cycles = dlg->Watch().Cycles();
        if (cycles != seenCycles) {
            cycleStallMs.push_back(gapMs);
            gapMs = 0;
            seenCycles = cycles;
            if (cycles == 10) {
                malloc_trim(0);
                residentAt10 = ResidentBytes();
                heapAt10 = mallinfo2().uordblks;
            }
        }
        return cycles >= kCycles || Clock::now() - watchStart > kCycles * kInterval * 2;
    };
    loop.exec();
    const double uiCpuMs = CpuMs(CLOCK_THREAD_CPUTIME_ID) - uiCpuStart;
    const double processCpuMs = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - processCpuStart;
    ticker.stop();
    const std::size_t requestsDuring = cameras.Lines().size() - requestsBefore;
    malloc_trim(0);
    const long residentAt100 = ResidentBytes();
    const std::size_t heapAt100 = mallinfo2().uordblks;
    const int cycles = std::max(1, dlg->Watch().Cycles());
    const int gone = dlg->Table().List().GoneCount();
    dlg->SetWatching(false);
    const camsim::ServerCounts counts = cameras.Stop();
    const double repliesPerRequest =
        counts.requests ? double(counts.repliesSent) / double(counts.requests) : 0.0;

    std::vector<double> sorted = cycleStallMs;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const double longest = sorted.empty() ? 0 : sorted.back();
    std::printf("Keep Watching at %zu cameras, %d cycles of %lld ms (%d listed by the search)\n",
                kCameras, cycles, static_cast<long long>(kInterval.count()), listed);
    std::printf("  requests per cycle     %.2f\n", double(requestsDuring) / cycles);
    std::printf("  replies per cycle      %.0f\n",
                double(requestsDuring) / cycles * repliesPerRequest);
    std::printf("  UI thread CPU per cycle   %.1f ms\n", uiCpuMs / cycles);
    std::printf("  process CPU per cycle     %.1f ms (with the simulated cameras' sending)\n",
                processCpuMs / cycles);
    std::printf("  UI stall per cycle     median %.1f ms, longest %.1f ms\n", median, longest);
    std::printf("  rows %d, gone %d (false gone: every camera answered)\n", dlg->Table().RowCount(),
                gone);
    std::printf("  resident after 10 / 100 cycles  %.1f / %.1f MB; heap in use %.1f / %.1f MB\n",
                Megabytes(residentAt10), Megabytes(residentAt100), Megabytes(long(heapAt10)),
                Megabytes(long(heapAt100)));
}

}  // namespace bench
