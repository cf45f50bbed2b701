// bench_gui: replies from a socket to rows shown, through the real main
// window on the offscreen platform: receive worker, reply pump, device table
// and list view. Prints figures; asserts nothing.
//
//   bench_gui [--floods-only | --confirm-only | --watch-only | --sort-only |
//              --screenshot FILE.png]
//
// Scenarios: a 10,000-reply blast at full speed and 100,000 replies spread
// over one second, both from camsim's burst mode over loopback; then a sort
// of the 100,000 rows by "IP" including the view's repaint. Then two floods
// as fast as the sender can: 1,000,000 junk datagrams of the current search
// without a signature (each one a log entry) with 10,000 real replies among
// them; and 1,000,000 distinct replies, followed by clearing the table.
// --sort-only: 50,000 and 100,000 rows put straight into the table, sorted by
// "IP" with the view's repaint, without and with every row selected.
// --screenshot: a 29-camera site sorted by "IP", the counts on the bar, as a
// picture of the window.

#include <malloc.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "ui/qt/CSearchDlg.h"
#include "ui/qt/MessagePresenter.h"
#include "bench/ProcessMemory.h"
#include "bench/flood/FloodSender.h"
#include "bench/gui/ConfirmBench.h"
#include "bench/gui/WatchBench.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tests/discovery/TestReplies.h"
#include "tools/camsim/BurstSender.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

using bench::ResidentBytes;

// The process's peak resident size so far (VmHWM), in bytes.
long PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kilobytes = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> kilobytes;
            return kilobytes * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

double Megabytes(long bytes) {
    return bytes / (1024.0 * 1024.0);
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

class QuietMessages : public qdipc::MessagePresenter {
public:
    void Warn(QWidget*, const QString& text) override {
        std::fprintf(stderr, "bench_gui: message box: %s\n", text.toUtf8().constData());
    }
    bool Ask(QWidget*, const QString&) override { return true; }  // closes without a box
};

// Counts paints of one widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

struct BurstFigures {
    std::size_t sent = 0;
    int rows = 0;
    double lastSentToLastRowMs = 0;
    double firstSentToLastRowMs = 0;
    int paints = 0;
    double longestStallMs = 0;
    double heapPerRow = 0;
    double residentPerRow = 0;
};

BurstFigures RunBurst(CSearchDlg& dlg, QTableView* list, std::uint16_t workerPort,
                      std::size_t count, std::uint32_t base, std::chrono::milliseconds spread) {
    // A new search empties the table; the burst answers it.
    dlg.OnSearch();
    malloc_trim(0);
    const std::size_t heapBefore = HeapInUse();
    const long residentBefore = ResidentBytes();

    camsim::BurstOptions options;
    options.destination = {"127.0.0.1", workerPort};
    options.count = count;
    options.searchId = dlg.SearchId();
    options.base = base;
    options.duration = spread;
    camsim::BurstSender sender(options);
    std::string error;
    if (!sender.Open(error)) {
        std::fprintf(stderr, "bench_gui: %s\n", error.c_str());
        return {};
    }

    PaintCounter paints;
    list->viewport()->installEventFilter(&paints);
    Clock::time_point lastRowAt{};
    auto connection = QObject::connect(&dlg.Table(), &QAbstractItemModel::rowsInserted,
                                       [&] { lastRowAt = Clock::now(); });

    // The UI loop's stalls: the longest gap between ticks of a 1 ms timer.
    double longestGapMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid()) {
            longestGapMs = std::max(longestGapMs, sinceTick.nsecsElapsed() / 1e6);
        }
        sinceTick.start();
    });

    std::atomic<bool> sendDone{false};
    camsim::BurstResult result;
    Clock::time_point firstSentAt{};
    Clock::time_point lastSentAt{};
    const std::atomic<bool> neverStop{false};
    ticker.start();
    std::thread sending([&] {
        firstSentAt = Clock::now();
        result = sender.Send(neverStop);
        lastSentAt = Clock::now();
        sendDone = true;
    });

    // Run the UI until every row is there, or 3 s after the last datagram.
    QEventLoop loop;
    QTimer check;
    Clock::time_point giveUpAt = Clock::time_point::max();
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (sendDone && giveUpAt == Clock::time_point::max()) {
            giveUpAt = Clock::now() + std::chrono::seconds(3);
        }
        if ((sendDone && dlg.Table().RowCount() >= static_cast<int>(count)) ||
            Clock::now() > giveUpAt) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
    sending.join();
    ticker.stop();
    check.stop();
    QObject::disconnect(connection);
    list->viewport()->removeEventFilter(&paints);

    BurstFigures figures;
    figures.sent = result.sent;
    figures.rows = dlg.Table().RowCount();
    figures.lastSentToLastRowMs = Milliseconds(lastRowAt - lastSentAt);
    figures.firstSentToLastRowMs = Milliseconds(lastRowAt - firstSentAt);
    figures.paints = paints.paints;
    figures.longestStallMs = longestGapMs;
    malloc_trim(0);
    if (figures.rows > 0) {
        figures.heapPerRow = double(HeapInUse() - heapBefore) / figures.rows;
        figures.residentPerRow = double(ResidentBytes() - residentBefore) / figures.rows;
    }
    return figures;
}

void Print(const char* name, std::size_t count, const BurstFigures& f) {
    const double seconds = f.firstSentToLastRowMs / 1000.0;
    std::printf("%s\n", name);
    std::printf("  rows listed            %d of %zu sent (%.1f %%)\n", f.rows, f.sent,
                count ? 100.0 * f.rows / double(count) : 0.0);
    std::printf("  last datagram -> last row  %.1f ms\n", f.lastSentToLastRowMs);
    std::printf("  rows per second        %.0f (first datagram to last row %.1f ms)\n",
                seconds > 0 ? f.rows / seconds : 0.0, f.firstSentToLastRowMs);
    std::printf("  list repaints          %d (%.1f per second)\n", f.paints,
                seconds > 0 ? f.paints / seconds : 0.0);
    std::printf("  longest UI stall       %.1f ms\n", f.longestStallMs);
    std::printf("  memory per row         %.0f B heap, %.0f B resident\n", f.heapPerRow,
                f.residentPerRow);
}

// The longest gap between ticks of a 1 ms timer on the UI thread.
class StallMeter {
public:
    StallMeter() {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            const double cpuMs = ThreadCpuMs();
            if (sinceTick_.isValid()) {
                longestMs_ = std::max(longestMs_, sinceTick_.nsecsElapsed() / 1e6);
                longestBusyMs_ = std::max(longestBusyMs_, cpuMs - lastCpuMs_);
            }
            lastCpuMs_ = cpuMs;
            sinceTick_.start();
        });
        ticker_.start();
    }
    double LongestMs() const { return longestMs_; }
    // The most CPU time the UI thread itself used between two ticks: the
    // stall without the time the system gave to other threads.
    double LongestBusyMs() const { return longestBusyMs_; }

private:
    static double ThreadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }

    QTimer ticker_;
    QElapsedTimer sinceTick_;
    double longestMs_ = 0;
    double longestBusyMs_ = 0;
    double lastCpuMs_ = 0;
};

struct FloodFigures {
    bench::FloodResult sent;
    bool sendOk = false;
    int rows = 0;
    double longestStallMs = 0;
    double longestBusyMs = 0;
    std::size_t peakPending = 0;
    std::uint64_t capDrops = 0;
    double sendToLastRowMs = 0;
};

// A new search, then the plan sent from a thread while the UI runs, until
// every real reply is listed or 3 s after the last datagram.
FloodFigures RunFlood(CSearchDlg& dlg, std::uint16_t workerPort, bench::FloodPlan plan) {
    dlg.OnSearch();
    plan.destination = {"127.0.0.1", workerPort};
    plan.searchId = dlg.SearchId();
    FloodFigures figures;
    const std::uint64_t dropsBefore = dlg.Pump().Queue().Dropped();
    Clock::time_point lastRowAt{};
    auto connection = QObject::connect(&dlg.Table(), &QAbstractItemModel::rowsInserted,
                                       [&] { lastRowAt = Clock::now(); });
    StallMeter stalls;
    std::atomic<bool> sendDone{false};
    const Clock::time_point start = Clock::now();
    std::thread sending([&] {
        std::string error;
        figures.sendOk = bench::SendFlood(plan, figures.sent, error);
        if (!figures.sendOk) {
            std::fprintf(stderr, "bench_gui: %s\n", error.c_str());
        }
        sendDone = true;
    });
    QEventLoop loop;
    QTimer check;
    Clock::time_point giveUpAt = Clock::time_point::max();
    QObject::connect(&check, &QTimer::timeout, [&] {
        figures.peakPending = std::max(figures.peakPending, dlg.Pump().Queue().Pending());
        if (sendDone && giveUpAt == Clock::time_point::max()) {
            giveUpAt = Clock::now() + std::chrono::seconds(3);
        }
        const bool allListed = sendDone &&
                               dlg.Table().RowCount() >= static_cast<int>(figures.sent.realSent) &&
                               dlg.Pump().Queue().Pending() == 0;
        if (allListed || Clock::now() > giveUpAt) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
    sending.join();
    QObject::disconnect(connection);
    figures.rows = dlg.Table().RowCount();
    figures.longestStallMs = stalls.LongestMs();
    figures.longestBusyMs = stalls.LongestBusyMs();
    figures.capDrops = dlg.Pump().Queue().Dropped() - dropsBefore;
    figures.sendToLastRowMs = lastRowAt > start ? Milliseconds(lastRowAt - start) : 0;
    return figures;
}

void RunFloods(CSearchDlg& dlg, std::uint16_t workerPort,
               const std::filesystem::path& logDirectory) {
    // (a) Junk with real replies among it.
    bench::FloodPlan junk;
    junk.junk = 1000000;
    junk.real = 10000;
    const qdipc::ErrorLogCounts logBefore = dlg.Log().Counts();
    const FloodFigures a = RunFlood(dlg, workerPort, junk);
    dlg.Log().WaitIdle(std::chrono::seconds(5));
    const qdipc::ErrorLogCounts logAfter = dlg.Log().Counts();
    std::size_t lines = 0;
    {
        std::ifstream file(logDirectory / qdipc::kErrorLogFileName, std::ios::binary);
        for (std::string line; std::getline(file, line);) {
            ++lines;
        }
    }
    const double sendSeconds = std::chrono::duration<double>(a.sent.elapsed).count();
    std::printf("1,000,000 junk datagrams with 10,000 real replies, full speed\n");
    std::printf("  sent                   %zu in %.2f s (%.0f/s), %zu of them real\n", a.sent.sent,
                sendSeconds, sendSeconds > 0 ? a.sent.sent / sendSeconds : 0.0, a.sent.realSent);
    std::printf("  real replies listed    %d of %zu (%.2f %%)\n", a.rows, a.sent.realSent,
                a.sent.realSent ? 100.0 * a.rows / double(a.sent.realSent) : 0.0);
    std::printf(
        "  log lines written      %llu (file has %zu), entries dropped %llu\n",
        static_cast<unsigned long long>(logAfter.written - logBefore.written), lines,
        static_cast<unsigned long long>(logAfter.droppedByRate + logAfter.droppedQueueFull -
                                        logBefore.droppedByRate - logBefore.droppedQueueFull));
    std::printf("  longest UI stall       %.1f ms (UI thread busy %.1f ms of it at most)\n",
                a.longestStallMs, a.longestBusyMs);
    // The same mix with the junk under another search ID: dropped without a
    // log entry. Logging must not lower the share of real replies listed.
    junk.junkUnderOtherSearch = true;
    junk.firstCamera = 100000;
    const FloodFigures quiet = RunFlood(dlg, workerPort, junk);
    std::printf(
        "  baseline, junk of another search: %d of %zu listed (%.2f %%), "
        "longest stall %.1f ms\n",
        quiet.rows, quiet.sent.realSent,
        quiet.sent.realSent ? 100.0 * quiet.rows / double(quiet.sent.realSent) : 0.0,
        quiet.longestStallMs);

    // (b) A million distinct replies, then clearing them.
    malloc_trim(0);
    const long residentBefore = ResidentBytes();
    bench::FloodPlan distinct;
    distinct.real = 1000000;
    distinct.firstCamera = 2000000;
    const FloodFigures b = RunFlood(dlg, workerPort, distinct);
    const double bSeconds = std::chrono::duration<double>(b.sent.elapsed).count();
    const long residentFull = ResidentBytes();
    std::printf("1,000,000 distinct replies, full speed\n");
    std::printf("  sent                   %zu in %.2f s (%.0f/s)\n", b.sent.sent, bSeconds,
                bSeconds > 0 ? b.sent.sent / bSeconds : 0.0);
    std::printf("  rows listed            %d (%.1f %%), first datagram to last row %.0f ms\n",
                b.rows, b.sent.sent ? 100.0 * b.rows / double(b.sent.sent) : 0.0,
                b.sendToLastRowMs);
    std::printf("  rows refused (table full) %llu\n",
                static_cast<unsigned long long>(dlg.Table().RefusedRows()));
    std::printf("  pending at most        %zu (cap %zu), cap hits %llu\n", b.peakPending,
                dlg.Pump().Queue().MaxPending(), static_cast<unsigned long long>(b.capDrops));
    std::printf("  longest UI stall       %.1f ms (UI thread busy %.1f ms of it at most)\n",
                b.longestStallMs, b.longestBusyMs);
    std::printf("  longest drain slice    %.1f ms\n", dlg.Pump().LongestSliceMicroseconds() / 1e3);
    std::printf(
        "  memory                 %.0f MB resident before, %.0f MB with the rows, "
        "peak %.0f MB\n",
        Megabytes(residentBefore), Megabytes(residentFull), Megabytes(PeakResidentBytes()));

    const auto clearStart = Clock::now();
    dlg.Table().Clear();
    QCoreApplication::processEvents();
    const auto clearEnd = Clock::now();
    dlg.Table().WaitForRelease(std::chrono::seconds(30));
    const auto releasedAt = Clock::now();
    std::printf(
        "  clear                  %.1f ms on the UI thread; freed in the background "
        "after %.0f ms; %.0f MB resident after\n",
        Milliseconds(clearEnd - clearStart), Milliseconds(releasedAt - clearStart),
        Megabytes(ResidentBytes()));
    std::printf("  heap in use after      %.0f MB\n", Megabytes(long(HeapInUse())));
}

// Sorts of rows put straight into the window's table, the view repainted.
void SortFigures(CSearchDlg& dlg, QTableView* list) {
    for (const std::uint32_t rows : {50'000u, 100'000u}) {
        dlg.OnSearch();
        std::vector<qdipc::AcceptedReply> batch(rows);
        for (std::uint32_t n = 0; n < rows; ++n) {
            std::uint8_t bytes[qdipc::kDeviceInfoReplySize] = {0xD4, 0xED, 0xCB, 0xB3};
            std::memcpy(bytes + 27, &n, sizeof n);
            // Addresses in another order than the rows arrive.
            const std::uint32_t host = (n * 7919u) % rows;
            const std::string ip = "10." + std::to_string(host >> 16) + "." +
                                   std::to_string((host >> 8) & 0xFF) + "." +
                                   std::to_string(host & 0xFF);
            std::memcpy(bytes + 39, ip.data(), ip.size());
            batch[n] = {qdipc::DeviceInfoReply(bytes, sizeof bytes), dlg.SearchId()};
        }
        dlg.Table().AddReplies(batch, dlg.SearchId());
        list->viewport()->repaint();
        QCoreApplication::processEvents();
        const auto sortOnce = [&] {
            const auto start = Clock::now();
            dlg.ListPresentation().OnColumnClick(qdipc::kColIp);
            list->viewport()->repaint();
            QCoreApplication::processEvents();
            return Milliseconds(Clock::now() - start);
        };
        // The state may already stand on IP from the run before: two clicks
        // give one of each direction either way.
        const double first = sortOnce();
        const double second = sortOnce();
        list->selectAll();
        QCoreApplication::processEvents();
        const double selected = sortOnce();
        std::printf(
            "sort of %u rows by IP, view updated: %.1f / %.1f ms (two directions), "
            "%.1f ms with every row selected\n",
            rows, first, second, selected);
        list->clearSelection();
    }
}

// Waits while the event loop runs.
void RunEventsFor(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(time.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

// A site of 29 cameras: 6 configured, 20 fresh from the factory at one
// address, 3 others; listed in arrival order, then sorted by "IP".
bool SaveSiteScreenshot(CSearchDlg& dlg, QTableView* list, const QString& path) {
    dlg.resize(1000, 640);
    dlg.OnSearch();
    std::vector<qdipc::AcceptedReply> batch;
    const auto add = [&](std::uint32_t n, const std::string& ip, const std::string& name) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n);
        camera.ip = ip;
        camera.name = name;
        camera.mac = {0x02,
                      0x00,
                      0x00,
                      0x7a,
                      static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n)};
        camera.gateway = "192.168.1.1";
        camera.appVer = "V2.1.0";
        camera.kernelVer = "3.10.14";
        batch.push_back(camera.Accepted(dlg.SearchId()));
    };
    const char* configured[] = {"192.168.1.100", "192.168.1.9",   "192.168.1.10",
                                "192.168.1.11",  "192.168.1.101", "192.168.1.2"};
    for (std::uint32_t i = 0; i < 6; ++i) {
        add(100 + i, configured[i], "door-" + std::to_string(i + 1));
    }
    for (std::uint32_t i = 0; i < 20; ++i) {
        add(200 + i, "192.168.1.64", "IPCAM");
    }
    add(300, "192.168.1.250", "yard");
    add(301, "192.168.1.25", "gate");
    add(302, "10.0.0.7", "old-office");
    dlg.Table().AddReplies(batch, dlg.SearchId());
    RunEventsFor(std::chrono::milliseconds(2500));  // the search ends: the counts show
    dlg.ListPresentation().OnColumnClick(qdipc::kColIp);
    list->selectRow(0);
    RunEventsFor(std::chrono::milliseconds(200));
    std::printf("screenshot: %s\n", qPrintable(dlg.ProgressText()));
    return dlg.grab().save(path);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--confirm-only") {
        bench::RunConfirmBench();
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "--watch-only") {
        bench::RunWatchBench();
        return 0;
    }

    // Requests go to a loopback sink; the worker listens on a loopback port.
    qdipc::UdpSocket sink;
    sink.Open();
    sink.Bind({"127.0.0.1", 0});

    qdipc::SearchDlgConfig config;
    config.searchDestination = {"127.0.0.1", sink.LocalPort()};
    config.onvifDestination = {"127.0.0.1", 9};  // never the multicast group
    config.receiver.bind = {"127.0.0.1", 0};
    config.interfaces = [] {
        const auto loopback = qdipc::LoopbackInterface();
        return loopback ? std::vector<qdipc::Ipv4Interface>{*loopback}
                        : std::vector<qdipc::Ipv4Interface>{};
    };
    const std::filesystem::path logDirectory =
        std::filesystem::temp_directory_path() / ("bench_gui." + std::to_string(getpid()));
    std::filesystem::create_directories(logDirectory);
    config.errorLogDirectory = logDirectory;
    config.messages = std::make_shared<QuietMessages>();
    config.openFirewall = [] {};

    auto window = std::make_unique<CSearchDlg>(config);
    CSearchDlg& dlg = *window;
    dlg.resize(1000, 700);
    dlg.show();
    auto* list = dlg.findChild<QTableView*>(QStringLiteral("deviceList"));

    dlg.OnSearch();  // binds the worker's socket before it returns, and starts the worker
    const std::uint16_t workerPort = dlg.Worker()->BoundPort();
    if (workerPort == 0) {
        std::fprintf(stderr, "bench_gui: the receive worker did not bind\n");
        return 1;
    }
    std::printf("receive buffer granted: %d bytes\n", dlg.Worker()->EffectiveReceiveBuffer());

    if (argc > 2 && std::string(argv[1]) == "--screenshot") {
        const bool saved = SaveSiteScreenshot(dlg, list, QString::fromLocal8Bit(argv[2]));
        dlg.close();
        window.reset();
        std::filesystem::remove_all(logDirectory);
        return saved ? 0 : 1;
    }
    if (argc > 1 && std::string(argv[1]) == "--sort-only") {
        SortFigures(dlg, list);
        dlg.close();
        window.reset();
        std::filesystem::remove_all(logDirectory);
        return 0;
    }
    const bool floodsOnly = argc > 1 && std::string(argv[1]) == "--floods-only";
    if (!floodsOnly) {
        Print("10,000 replies at full speed", 10000,
              RunBurst(dlg, list, workerPort, 10000, 1, std::chrono::milliseconds(0)));
        Print("100,000 replies over one second", 100000,
              RunBurst(dlg, list, workerPort, 100000, 100000, std::chrono::milliseconds(1000)));

        // Sort the rows just listed by "IP", with the view's repaint.
        const auto sortStart = Clock::now();
        dlg.ListPresentation().OnColumnClick(qdipc::kColIp);
        list->viewport()->repaint();
        QCoreApplication::processEvents();
        const auto sortEnd = Clock::now();
        std::printf("sort of %d rows by IP, view updated: %.1f ms\n", dlg.Table().RowCount(),
                    Milliseconds(sortEnd - sortStart));
    }

    RunFloods(dlg, workerPort, logDirectory);
    if (!floodsOnly) {
        bench::RunConfirmBench();
        bench::RunWatchBench();
    }

    // Closing with a full table: a million rows put straight into the table.
    dlg.OnSearch();
    for (std::uint32_t first = 0; first < 1000000; first += 10000) {
        std::vector<qdipc::AcceptedReply> batch(10000);
        for (std::uint32_t i = 0; i < batch.size(); ++i) {
            std::uint8_t bytes[qdipc::kDeviceInfoReplySize] = {0xD4, 0xED, 0xCB, 0xB3};
            const std::uint32_t n = first + i;
            std::memcpy(bytes + 27, &n, sizeof n);
            batch[i] = {qdipc::DeviceInfoReply(bytes, sizeof bytes), dlg.SearchId()};
        }
        dlg.Table().AddReplies(batch, dlg.SearchId());
    }
    QCoreApplication::processEvents();
    const int fullRows = dlg.Table().RowCount();
    const auto closeStart = Clock::now();
    dlg.close();
    window.reset();
    std::printf("close and teardown with %d rows listed: %.1f ms\n", fullRows,
                Milliseconds(Clock::now() - closeStart));
    std::filesystem::remove_all(logDirectory);
    return 0;
}
