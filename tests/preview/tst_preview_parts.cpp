// The pieces behind the video pane: finding libvlc's plugins, the queue that
// releases players off the UI thread, the RTSP source's failure paths, the
// rule that no player starts without a native window (offscreen platform),
// and the choice of Qt's platform that gives the pane such a window.

#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/QtPlatformChoice.h"
#include "ui/qt/CVideoStatic.h"
#include "preview/ReleaseQueue.h"
#include "preview/RtspTsSource.h"
#include "ui/qt/VlcPlatform.h"
#include "ui/qt/VlcPluginProbe.h"

namespace {

// A latch that a test opens for a job waiting on it.
class Gate {
public:
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

void Touch(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file).put('x');
}

}  // namespace

class TestPreviewParts : public QObject {
    Q_OBJECT

private slots:
    void findsPluginsByFile_data() {
        QTest::addColumn<QString>("file");  // relative to the plugin folder
        QTest::addColumn<bool>("found");
        QTest::newRow("linux, in its kind's folder") << "demux/liblive555_plugin.so" << true;
        QTest::newRow("windows") << "demux/liblive555_plugin.dll" << true;
        QTest::newRow("macos") << "demux/liblive555_plugin.dylib" << true;
        QTest::newRow("directly in the folder") << "liblive555_plugin.so" << true;
        QTest::newRow("two levels down") << "a/b/liblive555_plugin.so" << false;
        QTest::newRow("another plugin") << "access/libsatip_plugin.so" << false;
        QTest::newRow("similar name") << "demux/liblive555_plugin.so.bak" << false;
        QTest::newRow("a folder of that name") << "demux/liblive555_plugin.so/x" << false;
    }
    void findsPluginsByFile() {
        QFETCH(QString, file);
        QFETCH(bool, found);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::filesystem::path root = dir.path().toStdString();
        Touch(root / file.toStdString());
        const std::vector<std::filesystem::path> folders = {root / "missing", root};
        QCOMPARE(qdipc::HasVlcPlugin(folders, "live555"), found);
    }

    void findsTheInstalledLibvlcPlugins() {
        // The transport stream demuxer ships with every libvlc; finding it
        // proves that the plugin folder of the libvlc in use is located.
        QVERIFY(qdipc::HasVlcPlugin(qdipc::VlcPluginDirectories(), "ts"));
        QVERIFY(!qdipc::HasVlcPlugin({}, "ts"));
    }

    void releaseQueueRunsJobsInOrder() {
        qdipc::ReleaseQueue queue;
        std::vector<int> order;
        std::mutex mutex;
        for (int i = 0; i < 20; ++i) {
            queue.Post([&, i] {
                std::lock_guard lock(mutex);
                order.push_back(i);
            });
        }
        QVERIFY(queue.WaitUntilIdle(std::chrono::seconds(30)));
        std::vector<int> expected(20);
        for (int i = 0; i < 20; ++i) {
            expected[i] = i;
        }
        QCOMPARE(order, expected);
    }

    void releaseQueueReportsABusyJob() {
        qdipc::ReleaseQueue queue;
        auto gate = std::make_shared<Gate>();
        std::atomic<bool> done{false};
        queue.Post([gate, &done] {
            gate->Wait();
            done = true;
        });
        QVERIFY(!queue.WaitUntilIdle(std::chrono::milliseconds(50)));
        QVERIFY(!done);
        gate->Open();
        QVERIFY(queue.WaitUntilIdle(std::chrono::seconds(30)));
        QVERIFY(done);
    }

    void releaseQueueDestructionDoesNotWaitForABusyJob() {
        // If the destructor waited for the job, the job would wait for the
        // gate that only opens after the destructor: the test would hang.
        auto gate = std::make_shared<Gate>();
        auto finished = std::make_shared<Gate>();
        {
            qdipc::ReleaseQueue queue;
            queue.Post([gate, finished] {
                gate->Wait();
                finished->Open();
            });
        }
        gate->Open();
        finished->Wait();  // the left thread still runs its job to the end
    }

    void rtspSourceFailsWithoutASession() {
        qdipc::RtspTsSource source("rtsp://127.0.77.30/channel1/1");
        std::uint8_t buffer[188];
        QCOMPARE(source.Read(buffer, sizeof buffer), ptrdiff_t{-1});  // not open
        source.Abort();
        QCOMPARE(source.Open(), -1);  // aborted before it began
    }

    void rtspSourceFailsOnBadLocations_data() {
        QTest::addColumn<QString>("location");
        // Nothing listens on 127.0.77.31:554: the connection is refused.
        QTest::newRow("connection refused") << "rtsp://127.0.77.31/channel1/1";
        QTest::newRow("empty host") << "rtsp:///channel1/1";
        QTest::newRow("no location") << "";
        QTest::newRow("bad port") << "rtsp://127.0.77.31:99999/channel1/1";
    }
    void rtspSourceFailsOnBadLocations() {
        QFETCH(QString, location);
        qdipc::RtspTsSource source(location.toStdString());
        QCOMPARE(source.Open(), -1);
        std::uint8_t buffer[188];
        QCOMPARE(source.Read(buffer, sizeof buffer), ptrdiff_t{-1});
    }

    void rtspSourceAbortEndsAWaitOnASilentCamera() {
        // A camera that accepts the connection and never answers. The socket
        // timeout is far beyond the test's limit, so only Abort can end Open.
        QTcpServer silent;
        if (!silent.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) {
            QSKIP("cannot listen on a loopback port");
        }
        const std::string location =
            "rtsp://127.0.0.1:" + std::to_string(silent.serverPort()) + "/channel1/1";
        qdipc::RtspTsSource source(location, std::chrono::hours(1));
        std::atomic<int> result{1};
        std::thread opener([&] { result = source.Open(); });
        const bool connected = silent.waitForNewConnection(30000);
        source.Abort();
        opener.join();
        QVERIFY(connected);
        QCOMPARE(result.load(), -1);
    }

    void qtPlatformGivesThePaneAnX11Window_data() {
        // Environment as NAME=value entries; a name without "=" is set but empty.
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("noticeMentions");  // empty: no notice
        const QString gnome = QStringLiteral("XDG_SESSION_TYPE=wayland");
        const QString wl = QStringLiteral("WAYLAND_DISPLAY=wayland-0");
        const QString x = QStringLiteral("DISPLAY=:0");
        QTest::newRow("X11 desktop")
            << QStringList{x, QStringLiteral("XDG_SESSION_TYPE=x11")} << QString() << QString();
        QTest::newRow("no desktop") << QStringList{} << QString() << QString();
        QTest::newRow("Wayland with XWayland")
            << QStringList{gnome, wl, x} << QStringLiteral("xcb;wayland") << QString();
        QTest::newRow("Wayland socket only, XWayland")
            << QStringList{wl, x} << QStringLiteral("xcb;wayland") << QString();
        QTest::newRow("Wayland session type only, XWayland")
            << QStringList{gnome, x} << QStringLiteral("xcb;wayland") << QString();
        QTest::newRow("Wayland without X server")
            << QStringList{gnome, wl} << QString() << QStringLiteral("DISPLAY");
        QTest::newRow("Wayland, DISPLAY empty") << QStringList{gnome, wl, QStringLiteral("DISPLAY")}
                                                << QString() << QStringLiteral("DISPLAY");
        QTest::newRow("user chose xcb")
            << QStringList{gnome, wl, x, QStringLiteral("QT_QPA_PLATFORM=xcb")} << QString()
            << QString();
        QTest::newRow("user chose Wayland first")
            << QStringList{gnome, wl, x, QStringLiteral("QT_QPA_PLATFORM=wayland;xcb")} << QString()
            << QStringLiteral("QT_QPA_PLATFORM=wayland;xcb");
        QTest::newRow("QT_QPA_PLATFORM set but empty")
            << QStringList{gnome, wl, x, QStringLiteral("QT_QPA_PLATFORM")}
            << QStringLiteral("xcb;wayland") << QString();
    }
    void qtPlatformGivesThePaneAnX11Window() {
        QFETCH(QStringList, environment);
        QFETCH(QString, platform);
        QFETCH(QString, noticeMentions);
        std::map<std::string, std::string> values;
        for (const QString& entry : environment) {
            const qsizetype equals = entry.indexOf(QLatin1Char('='));
            values[entry.left(equals).toStdString()] =
                equals < 0 ? std::string() : entry.mid(equals + 1).toStdString();
        }
        const qdipc::QtPlatformChoice choice = qdipc::ChooseQtPlatform([&](const char* name) {
            const auto found = values.find(name);
            return found == values.end() ? nullptr : found->second.c_str();
        });
        QCOMPARE(QString::fromStdString(choice.platform), platform);
        const QString notice = QString::fromStdString(choice.notice);
        if (noticeMentions.isEmpty()) {
            QVERIFY2(notice.isEmpty(), qPrintable(notice));
        } else {
            QVERIFY2(notice.contains(noticeMentions) && notice.contains(QLatin1String("black")),
                     qPrintable(notice));
            QVERIFY(!notice.contains(QLatin1Char('\n')));  // one line; the caller ends it
        }
    }

    void noPlayerStartsWithoutANativeWindow() {
        // Under the offscreen platform there is no window libvlc could draw
        // into; a started player would open one of its own.
        QVERIFY(!qdipc::PlatformHasEmbeddableWindows());
        CVideoStatic pane;
        pane.SetLocation("rtsp://127.0.77.32/channel1/1");
        QCOMPARE(pane.Play(), -1);
        QCOMPARE(pane.Play(), -1);
        QVERIFY(pane.Shutdown());
    }
};

QTEST_MAIN(TestPreviewParts)
#include "tst_preview_parts.moc"
