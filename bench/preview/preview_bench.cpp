// Figures of the live preview, on loopback, printed (no pass or fail):
//  1. time from Play to the first picture in the pane, median of 5, for the
//     small moving test stream and for a 1280x720 moving and still stream
//     with a key frame every 2 s;
//  2. end-to-end delay: the test server switches its picture between colour
//     bars and white and prints when; the pane's pixels tell when the switch
//     is seen (median of 10);
//  3. construction of the pane with its libvlc instance, median of 5;
//  4. close of the pane (Shutdown and destruction), median of 5, on a stalled
//     camera through libvlc's own RTSP client and on a playing stream;
//  5. start-up time of qd_ip_search to its window shown (mapped), beside a
//     bare Qt dialog started the same way, median of 5 each; the tool runs in
//     a network namespace of its own, without its firewall step;
//  6. the real program: qd_ip_search in the tool namespace of a virtual camera
//     LAN (scripts/vlan.sh), without its firewall step, a simulated camera
//     and the 1280x720 stream (key frame every 2 s) on the camera host;
//     Search, a click on the row, then the time from the click on Preview to
//     the colour bars on the screen inside the pane, for the first Preview
//     after start-up and for a second one of the same camera; median of 5
//     program starts. The clicks are xdotool's; the time starts just before
//     it is run, so the figures include its start (a few ms);
//  7. snapshot: the row menu's Save Snapshot… (its action, the file name
//     given instead of the dialog's) on a playing 1280x720 stream, from the
//     action to the PNG file written, median of 10, and how much of it the
//     window waited in libvlc's snapshot call; and the command line's
//     --snapshot (TakeRtspSnapshot) from nothing to the file, median of 5.
// Needs an X display with Qt's xcb platform and root (port 554):
//   tests/preview/run_with_xvfb.sh build/bench/preview/preview_bench [figure...]
// where a figure is construction, first-picture, delay, close, startup,
// program or snapshot (default: all of them).

#include <poll.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "PanePixels.h"
#include "PaneWindow.h"
#include "RtspTestServer.h"
#include "ui/qt/PreviewMenuActions.h"
#include "ui/qt/CVideoStatic.h"
#include "preview/RtspSnapshot.h"
#include "ui/qt/DialogFont.h"
#include "ui/WindowLayout.h"

using namespace qdipc::test;

namespace {

// The clock the test server stamps its picture switches with.
qint64 MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintSeries(const char* what, const std::vector<double>& values) {
    if (values.empty()) {
        std::printf("%s: not measured\n", what);
        return;
    }
    std::printf("%s: median %.0f ms (min %.0f, max %.0f, n=%zu):", what, Median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()), values.size());
    for (double v : values) {
        std::printf(" %.0f", v);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Polls the pane (every few milliseconds) until the predicate holds; the
// monotonic time in ms when it did, or nothing.
std::optional<qint64> WaitForPane(const QWidget& pane, int limitMs,
                                  const std::function<bool(const QImage&)>& predicate) {
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 2);
        if (predicate(GrabScreenPixels(pane))) {
            return MonotonicMs();
        }
        QThread::msleep(2);
    }
    return std::nullopt;
}

bool IsWhite(const QImage& image) {
    return LitShare(image) > 0.95 && !ShowsColourBars(image);
}

// The pane makes the libvlc instance when it is constructed, at start-up.
void PaneConstruction() {
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        CVideoStatic pane;
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    PrintSeries("Pane construction (the libvlc instance)", times);
}

// Preview to the first picture, median of 5, for one kind of stream.
void FirstPicture(const char* what, const QString& address, const QStringList& serverArguments) {
    RtspTestServer server;
    if (!server.Start(address, QStringLiteral("all"), 120, serverArguments)) {
        std::printf("%s: not measured (%s)\n", what, qPrintable(server.Error()));
        return;
    }
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        PaneWindow ui;
        for (int i = 0; i < 50; ++i) {
            QApplication::processEvents();
            QThread::msleep(5);
        }
        QElapsedTimer clock;
        clock.start();
        ui.pane->SetLocation(server.Location().toStdString());
        ui.pane->Play();
        if (WaitForPane(*ui.pane, 20000, [](const QImage& i) { return ShowsColourBars(i); })) {
            times.push_back(static_cast<double>(clock.elapsed()));
        }
        ui.pane->Shutdown();
    }
    PrintSeries(what, times);
}

void FirstPictures() {
    FirstPicture(
        "Preview to first picture (loopback, RTP/UDP, 320x240 moving, key frame every 1 s)",
        QStringLiteral("127.0.77.10"), {});
    // A common camera default: 720p with a key frame every 2 s (50 frames).
    const QStringList hd = {QStringLiteral("--size"), QStringLiteral("1280x720"),
                            QStringLiteral("--gop"), QStringLiteral("50")};
    FirstPicture("Preview to first picture (loopback, 1280x720 moving, key frame every 2 s)",
                 QStringLiteral("127.0.77.12"),
                 hd + QStringList{QStringLiteral("--picture"), QStringLiteral("moving")});
    FirstPicture("Preview to first picture (loopback, 1280x720 still, key frame every 2 s)",
                 QStringLiteral("127.0.77.13"),
                 hd + QStringList{QStringLiteral("--picture"), QStringLiteral("still")});
}

void EndToEndDelay() {
    RtspTestServer server;
    if (!server.Start(QStringLiteral("127.0.77.11"), QStringLiteral("all"), 120,
                      {QStringLiteral("--flip-every"), QStringLiteral("1000")})) {
        std::printf("end-to-end delay: not measured (%s)\n", qPrintable(server.Error()));
        return;
    }
    PaneWindow ui;
    ui.pane->SetLocation(server.Location().toStdString());
    ui.pane->Play();
    std::vector<double> delays;
    if (WaitForPane(*ui.pane, 20000, [](const QImage& i) { return LitShare(i) > 0.5; })) {
        for (int flips = 0; flips < 40 && delays.size() < 10; ++flips) {
            const QList<QByteArray> words = server.ReadLine(3000).split(' ');
            if (words.size() != 3 || words[0] != "flip") {
                continue;
            }
            const bool white = words[1] == "white";
            const qint64 flippedAt = words[2].toLongLong();
            const auto seenAt = WaitForPane(*ui.pane, 900, [&](const QImage& i) {
                return white ? IsWhite(i) : ShowsColourBars(i);
            });
            if (seenAt) {
                delays.push_back(static_cast<double>(*seenAt - flippedAt));
            }
        }
    }
    ui.pane->Shutdown();
    PrintSeries("End-to-end delay, source change to pane (network caching 300 ms)", delays);
}

// Close of the pane (Shutdown, then the window and the pane destroyed, as the
// main window closes), median of 5: on a camera that accepted the connection
// and went silent, through libvlc's own RTSP client and through libavformat,
// and on the libavformat route with a stream playing.
void CloseTimes() {
    using Route = qdipc::LibVlcBackend::RtspRoute;
    auto closeOnce = [](PaneWindow* ui) {
        QElapsedTimer clock;
        clock.start();
        ui->pane->Shutdown();
        delete ui;
        return clock.nsecsElapsed() / 1e6;
    };
    QTcpServer camera;
    const bool cameraListens = camera.listen(QHostAddress(QStringLiteral("127.0.77.14")), 554);
    for (const auto& [route, what] :
         {std::pair{Route::LibVlc, "Close, stalled camera, libvlc's own RTSP client"},
          std::pair{Route::LibAvformat, "Close, stalled camera, libavformat route"}}) {
        std::vector<double> stalled;
        for (int run = 0; cameraListens && run < 5; ++run) {
            auto* ui = new PaneWindow(QString(), route);
            ui->pane->SetLocation("rtsp://127.0.77.14/channel1/1");
            ui->pane->Play();
            if (!camera.waitForNewConnection(10000)) {
                delete ui;
                break;
            }
            std::unique_ptr<QTcpSocket> held(camera.nextPendingConnection());
            QThread::msleep(300);
            stalled.push_back(closeOnce(ui));
        }
        PrintSeries(what, stalled);
    }

    RtspTestServer server;
    std::vector<double> playing;
    if (server.Start(QStringLiteral("127.0.77.15"), QStringLiteral("all"), 120)) {
        for (int run = 0; run < 5; ++run) {
            auto* ui = new PaneWindow(QString(), Route::LibAvformat);
            ui->pane->SetLocation(server.Location().toStdString());
            ui->pane->Play();
            if (!WaitForPane(*ui->pane, 20000,
                             [](const QImage& i) { return ShowsColourBars(i); })) {
                delete ui;
                break;
            }
            playing.push_back(closeOnce(ui));
        }
    }
    PrintSeries("Close, stream playing, libavformat route", playing);
}

// Time from starting the program to its first top-level window being mapped.
std::optional<double> StartupTime(const QString& program, const QStringList& arguments) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        xcb_disconnect(x);
        return std::nullopt;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    std::optional<double> shownAfter;
    const QDeadlineTimer deadline(20000);
    while (!shownAfter && !deadline.hasExpired()) {
        pollfd descriptor{xcb_get_file_descriptor(x), POLLIN, 0};
        ::poll(&descriptor, 1, 20);
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !shownAfter) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect) {
                    shownAfter = clock.nsecsElapsed() / 1e6;
                }
            }
            free(event);
        }
    }
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    xcb_disconnect(x);
    return shownAfter;
}

void StartupTimes(const QString& self) {
    const QString tool = QStringLiteral(QDIPC_TOOL_PROGRAM);
    // The tool starts in a network namespace of its own (unshare --net, as
    // root) and skips its firewall step, so that nothing it does reaches the
    // host's network or firewall. The bare dialog starts the same way, so that
    // both figures carry the same overhead.
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    const bool isolated = !unshare.isEmpty() && geteuid() == 0;
    auto run = [&](const QString& program, const QStringList& arguments) {
        return isolated ? StartupTime(unshare, QStringList{QStringLiteral("--net"),
                                                           QStringLiteral("--"), program} +
                                                   arguments)
                        : StartupTime(program, arguments);
    };
    std::vector<double> toolTimes;
    std::vector<double> bareTimes;
    const bool haveTool = isolated && !tool.isEmpty() && QFileInfo(tool).isExecutable();
    for (int i = 0; i < 5; ++i) {
        if (haveTool) {
            if (auto t = run(tool, {QStringLiteral("--no-firewall")})) {
                toolTimes.push_back(*t);
            }
        }
        if (auto t = run(self, {QStringLiteral("--bare-dialog")})) {
            bareTimes.push_back(*t);
        }
    }
    if (!isolated) {
        std::printf(
            "Start-up of qd_ip_search: not measured (needs root and unshare for a "
            "network namespace of its own)\n");
    } else {
        PrintSeries("Start-up to window shown, qd_ip_search", toolTimes);
    }
    PrintSeries("Start-up to window shown, bare Qt dialog", bareTimes);
}

// -- The real program on a virtual camera LAN

// The variables `vlan.sh up` prints (QD_VLAN_NAME='...' lines).
QMap<QString, QString> VlanUp(const QString& script) {
    QProcess up;
    up.start(script, {QStringLiteral("up"), QStringLiteral("--hosts"), QStringLiteral("1")});
    QMap<QString, QString> vars;
    if (!up.waitForFinished(30000) || up.exitCode() != 0) {
        return vars;
    }
    static const QRegularExpression line(QStringLiteral("^(QD_VLAN_\\w+)='(.*)'$"));
    for (const QString& text :
         QString::fromUtf8(up.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const auto match = line.match(text.trimmed());
        if (match.hasMatch()) {
            vars[match.captured(1)] = match.captured(2);
        }
    }
    return vars;
}

// A process started in a namespace, stopped (and waited for) on destruction.
struct NamespacedProcess {
    QProcess process;
    NamespacedProcess(const QString& ns, const QString& program, const QStringList& arguments,
                      const QString& workDir = QString()) {
        process.setWorkingDirectory(workDir);
        process.start(
            QStringLiteral("ip"),
            QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns, program} + arguments);
    }
    ~NamespacedProcess() {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool WaitForLine(const QByteArray& start, int ms) {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            while (process.canReadLine()) {
                if (process.readLine().contains(start)) {
                    return true;
                }
            }
            process.waitForReadyRead(100);
        }
        return false;
    }
};

void Xdotool(const QStringList& arguments) {
    QProcess::execute(QStringLiteral("xdotool"), arguments);
}

// The first top-level window mapped after the call, as (id, x, y, width,
// height), waiting at most ms; 0 as id when none was.
struct MappedWindow {
    xcb_window_t id = 0;
    QRect rect;
};

class MapWatcher {
public:
    MapWatcher() : m_x(xcb_connect(nullptr, nullptr)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_x);
    }
    ~MapWatcher() { xcb_disconnect(m_x); }
    MappedWindow Wait(int ms) {
        MappedWindow found;
        const QDeadlineTimer deadline(ms);
        while (!found.id && !deadline.hasExpired()) {
            pollfd descriptor{xcb_get_file_descriptor(m_x), POLLIN, 0};
            ::poll(&descriptor, 1, 20);
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_x)) {
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !found.id) {
                    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                    if (!map->override_redirect) {
                        found.id = map->window;
                    }
                }
                free(event);
            }
        }
        if (found.id) {
            xcb_get_geometry_reply_t* g =
                xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, found.id), nullptr);
            if (g) {
                found.rect = QRect(g->x, g->y, g->width, g->height);
                free(g);
            }
        }
        return found;
    }

private:
    xcb_connection_t* m_x;
};

// Where the first row of the device list is drawn: the list's own header and
// row heights, measured on a list view with the window's font.
int FirstRowCentre() {
    QTableView view;
    view.setFont(qdipc::DialogFont());
    QStandardItemModel model(1, 12);
    view.setModel(&model);
    const int header = view.horizontalHeader()->sizeHint().height();
    const int row = view.fontMetrics().height() + 4;
    return view.frameWidth() + header + row / 2;
}

QImage ScreenPixels(const QRect& rect) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Polls the screen inside rect until the predicate holds; ms since clock
// started, or nothing after limitMs.
std::optional<double> WaitForScreen(const QRect& rect, const QElapsedTimer& clock, int limitMs,
                                    const std::function<bool(const QImage&)>& predicate) {
    const QDeadlineTimer deadline(limitMs);
    while (!deadline.hasExpired()) {
        if (predicate(ScreenPixels(rect))) {
            return clock.nsecsElapsed() / 1e6;
        }
        QThread::msleep(3);
    }
    return std::nullopt;
}

void RealProgramPreview() {
    const QString tool = QStringLiteral(QDIPC_TOOL_PROGRAM);
    const QString camsim = QStringLiteral(QDIPC_CAMSIM_PROGRAM);
    const QString vlan = QStringLiteral(QDIPC_VLAN_SCRIPT);
    const QString rtsp = RtspTestServer::Program();
    const char* what = "qd_ip_search, click on Preview to picture (1280x720, key frame every 2 s)";
    if (geteuid() != 0 || tool.isEmpty() || camsim.isEmpty() || rtsp.isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        std::printf("%s: not measured (needs root, xdotool, camsim and rtsp_test_server)\n", what);
        return;
    }
    const QMap<QString, QString> lan = VlanUp(vlan);
    if (!lan.contains(QStringLiteral("QD_VLAN_NAME"))) {
        std::printf("%s: not measured (no virtual LAN)\n", what);
        return;
    }
    std::vector<double> first;
    std::vector<double> second;
    {
        const QString cams = lan[QStringLiteral("QD_VLAN_CAMS_NS")];
        const QStringList camIp = lan[QStringLiteral("QD_VLAN_CAMS_IP")].split(QLatin1Char('.'));
        const std::uint32_t base = (camIp.value(1).toUInt() << 16) |
                                   (camIp.value(2).toUInt() << 8) | camIp.value(3).toUInt();
        NamespacedProcess cameras(
            cams, camsim,
            {QStringLiteral("--cameras"), QStringLiteral("1"), QStringLiteral("--base"),
             QString::number(base), QStringLiteral("--max-time"), QStringLiteral("600")});
        NamespacedProcess stream(
            cams, rtsp,
            {QStringLiteral("--address"), QStringLiteral("0.0.0.0"), QStringLiteral("--port"),
             QStringLiteral("554"), QStringLiteral("--timeout"), QStringLiteral("600"),
             QStringLiteral("--size"), QStringLiteral("1280x720"), QStringLiteral("--gop"),
             QStringLiteral("50")});
        const bool ready =
            cameras.WaitForLine("listening", 10000) && stream.WaitForLine("ready", 15000);
        const int rowCentre = FirstRowCentre();
        for (int run = 0; ready && run < 5; ++run) {
            QTemporaryDir workDir;  // the program's error log goes here
            MapWatcher watcher;
            NamespacedProcess app(lan[QStringLiteral("QD_VLAN_TOOL_NS")], tool,
                                  {QStringLiteral("--no-firewall")}, workDir.path());
            const MappedWindow window = watcher.Wait(20000);
            if (!window.id) {
                break;
            }
            // The window keeps its form's positions until its size changes
            // for the first time; from then on the layout rules place them.
            constexpr int kWidth = 640;
            constexpr int kHeight = 480;
            Xdotool({QStringLiteral("windowsize"), QString::number(window.id),
                     QString::number(kWidth), QString::number(kHeight)});
            QThread::msleep(1000);  // as an operator looks at the window first
            const qdipc::MainWindowLayout layout = qdipc::ComputeMainWindowLayout(kWidth, kHeight);
            auto centre = [&](const qdipc::ControlRect& r) {
                return QStringList{QString::number(window.rect.x() + r.x + r.width / 2),
                                   QString::number(window.rect.y() + r.y + r.height / 2)};
            };
            const QRect pane(window.rect.x() + layout.videoPane.x,
                             window.rect.y() + layout.videoPane.y, layout.videoPane.width,
                             layout.videoPane.height);
            Xdotool(QStringList{QStringLiteral("mousemove")} + centre(layout.searchButton) +
                    QStringList{QStringLiteral("click"), QStringLiteral("1")});
            QThread::msleep(1500);
            Xdotool({QStringLiteral("mousemove"),
                     QString::number(window.rect.x() + layout.deviceList.x + 40),
                     QString::number(window.rect.y() + layout.deviceList.y + rowCentre),
                     QStringLiteral("click"), QStringLiteral("1")});
            QThread::msleep(300);
            Xdotool(QStringList{QStringLiteral("mousemove")} + centre(layout.previewButton));
            QElapsedTimer clock;
            clock.start();
            Xdotool({QStringLiteral("click"), QStringLiteral("1")});
            if (auto t = WaitForScreen(pane, clock, 15000,
                                       [](const QImage& i) { return ShowsColourBars(i); })) {
                first.push_back(*t);
            } else {
                continue;
            }
            QThread::msleep(1500);
            clock.restart();
            Xdotool({QStringLiteral("click"), QStringLiteral("1")});
            // The picture of the first Preview goes, then the new one comes.
            if (WaitForScreen(pane, clock, 5000,
                              [](const QImage& i) { return !ShowsColourBars(i); })) {
                if (auto t = WaitForScreen(pane, clock, 15000,
                                           [](const QImage& i) { return ShowsColourBars(i); })) {
                    second.push_back(*t);
                }
            }
        }
    }
    QProcess::execute(vlan, {QStringLiteral("down"), lan[QStringLiteral("QD_VLAN_NAME")]});
    PrintSeries(
        "qd_ip_search, click on first Preview after start-up to picture (1280x720 moving, "
        "key frame every 2 s)",
        first);
    PrintSeries("qd_ip_search, click on a second Preview of the same camera to picture", second);
}

}  // namespace

// Save Snapshot… from its action to the file, and --snapshot's whole run.
void SnapshotLatency() {
    RtspTestServer server;
    if (!server.Start(QStringLiteral("127.0.77.44"), QStringLiteral("udp"), 180,
                      {QStringLiteral("--size"), QStringLiteral("1280x720")})) {
        std::printf("Snapshot: not measured (%s)\n", qPrintable(server.Error()));
        return;
    }
    QTemporaryDir folder;
    PaneWindow ui;
    ui.pane->SetLocation(server.Location().toStdString());
    ui.pane->Play();
    if (!WaitForPane(*ui.pane, 20000, [](const QImage& i) { return ShowsColourBars(i); })) {
        std::printf("Snapshot: not measured (no picture)\n");
        return;
    }
    std::vector<double> times;
    std::vector<double> blocked;
    for (int run = 0; run < 10; ++run) {
        const QString file = folder.filePath(QStringLiteral("pane-%1.png").arg(run));
        bool saved = false;
        QString failure;
        QObject context;
        QObject::connect(ui.pane, &CVideoStatic::snapshotSaved, &context,
                         [&](const QString&) { saved = true; });
        QElapsedTimer clock;
        clock.start();
        qdipc::SaveSnapshotAs(
            &ui.window, ui.pane, [&](const QString& text) { failure = text; },
            [&](const QString&) { return file; });
        // The part the window waits for (libvlc's snapshot call).
        blocked.push_back(clock.nsecsElapsed() / 1e6);
        const QDeadlineTimer deadline(10000);
        while (!saved && failure.isEmpty() && !deadline.hasExpired()) {
            QApplication::processEvents(QEventLoop::AllEvents, 2);
        }
        if (saved && QFileInfo(file).size() > 0) {
            times.push_back(clock.nsecsElapsed() / 1e6);
        } else {
            std::printf("  run %d: %s\n", run, qPrintable(failure));
        }
        // The box that names the file.
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(w)) {
                w->close();
            }
        }
        QThread::msleep(200);
    }
    PrintSeries("Save Snapshot… to the PNG file (1280x720 playing)", times);
    PrintSeries("  of which the window waited (the snapshot call)", blocked);
    ui.pane->Shutdown();

    std::vector<double> cli;
    for (int run = 0; run < 5; ++run) {
        qdipc::SnapshotRequest request;
        request.location = server.Location().toStdString();
        request.file = folder.filePath(QStringLiteral("cli-%1.png").arg(run)).toStdString();
        QElapsedTimer clock;
        clock.start();
        const qdipc::SnapshotResult result = qdipc::TakeRtspSnapshot(request);
        if (result.status == qdipc::SnapshotResult::Status::Written) {
            cli.push_back(clock.nsecsElapsed() / 1e6);
        } else {
            std::printf("  run %d: %s\n", run, result.reason.c_str());
        }
    }
    PrintSeries("--snapshot to the PNG file (1280x720, key frame every 1 s)", cli);
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--bare-dialog") == 0) {
        QApplication app(argc, argv);
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Bare dialog"));
        dialog.resize(504, 508);
        return dialog.exec();
    }
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr,
                     "needs an X display with Qt's xcb platform, e.g.\n"
                     "  tests/preview/run_with_xvfb.sh %s\n",
                     argv[0]);
        return 1;
    }
    // Every figure, or only those named on the command line.
    const QStringList only = QCoreApplication::arguments().mid(1);
    auto wanted = [&](const char* name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };
    if (wanted("construction")) {
        PaneConstruction();
    }
    if (wanted("first-picture")) {
        FirstPictures();
    }
    if (wanted("delay")) {
        EndToEndDelay();
    }
    if (wanted("close")) {
        CloseTimes();
    }
    if (wanted("startup")) {
        StartupTimes(QCoreApplication::applicationFilePath());
    }
    if (wanted("program")) {
        RealProgramPreview();
    }
    if (wanted("snapshot")) {
        SnapshotLatency();
    }
    return 0;
}
