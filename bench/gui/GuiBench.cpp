// bench_gui: replies from a socket to rows shown, through the real main
// window on the offscreen platform: receive worker, reply pump, device table
// and list view. Prints figures; asserts nothing.
//
//   bench_gui
//
// Scenarios: a 10,000-reply blast at full speed and 100,000 replies spread
// over one second, both from camsim's burst mode over loopback; then a sort
// of the 100,000 rows by "IP" including the view's repaint.

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
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "app/CSearchDlg.h"
#include "app/MessagePresenter.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tools/camsim/BurstSender.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

class QuietMessages : public qdipc::MessagePresenter {
public:
    void Warn(QWidget*, const QString& text) override {
        std::fprintf(stderr, "bench_gui: message box: %s\n", text.toUtf8().constData());
    }
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

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);

    // Requests go to a loopback sink; the worker listens on a loopback port.
    qdipc::UdpSocket sink;
    sink.Open();
    sink.Bind({"127.0.0.1", 0});

    qdipc::SearchDlgConfig config;
    config.searchDestination = {"127.0.0.1", sink.LocalPort()};
    config.receiver.bind = {"127.0.0.1", 0};
    config.interfaces = [] {
        const auto loopback = qdipc::LoopbackInterface();
        return loopback ? std::vector<qdipc::Ipv4Interface>{*loopback}
                        : std::vector<qdipc::Ipv4Interface>{};
    };
    config.errorLogDirectory = std::filesystem::temp_directory_path();
    config.messages = std::make_shared<QuietMessages>();
    config.openFirewall = [] {};

    CSearchDlg dlg(config);
    dlg.resize(1000, 700);
    dlg.show();
    auto* list = dlg.findChild<QTableView*>(QStringLiteral("deviceList"));

    dlg.OnSearch();  // starts the worker
    const auto bindDeadline = Clock::now() + std::chrono::seconds(5);
    while (dlg.Worker()->BoundPort() == 0 && Clock::now() < bindDeadline) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::uint16_t workerPort = dlg.Worker()->BoundPort();
    if (workerPort == 0) {
        std::fprintf(stderr, "bench_gui: the receive worker did not bind\n");
        return 1;
    }
    std::printf("receive buffer granted: %d bytes\n", dlg.Worker()->EffectiveReceiveBuffer());

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

    dlg.close();
    return 0;
}
