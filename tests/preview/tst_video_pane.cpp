// Rules of the video pane, with the libvlc calls recorded by a fake:
// the instance made once, the calls of each Preview in order, the changed
// flag, the empty location, Shutdown, and the black painting.

#include <QTest>
#include <memory>
#include <thread>

#include "RecordingVlcBackend.h"
#include "preview/CVideoStatic.h"

using qdipc::test::RecordingVlcBackend;
using qdipc::test::VlcCallLog;

namespace {

const QString kCaching = QStringLiteral(":network-caching=300");

// The calls of one Play that builds a player: media hM, player hP.
QStringList BuildCalls(const QString& location, int media, int player) {
    const QString m = QStringLiteral("h%1").arg(media);
    const QString p = QStringLiteral("h%1").arg(player);
    return {QStringLiteral("NewMedia(h1, %1)").arg(location),
            QStringLiteral("AddOption(%1, %2)").arg(m, kCaching),
            QStringLiteral("NewPlayer(%1)").arg(m),
            QStringLiteral("SetWindow(%1, window)").arg(p),
            QStringLiteral("ReleaseMedia(%1)").arg(m),
            QStringLiteral("StartPlayback(%1)").arg(p)};
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

}  // namespace

class TestVideoPane : public QObject {
    Q_OBJECT

    std::shared_ptr<VlcCallLog> m_log;
    std::unique_ptr<CVideoStatic> m_pane;
    RecordingVlcBackend* m_backend = nullptr;

    // Calls made since construction.
    QStringList CallsAfterConstruction() const { return m_log->calls.mid(1); }

private slots:
    void init() {
        m_log = std::make_shared<VlcCallLog>();
        auto backend = std::make_unique<RecordingVlcBackend>(m_log);
        m_backend = backend.get();
        m_pane = std::make_unique<CVideoStatic>(std::move(backend));
        m_pane->resize(64, 48);
    }
    void cleanup() {
        m_pane.reset();
        m_log.reset();
    }

    void constructionMakesOneInstanceIgnoringConfig() {
        QCOMPARE(m_log->calls, QStringList{QStringLiteral("NewInstance(--ignore-config)")});
    }

    void emptyLocationReturnsMinusOneAndTouchesNothing() {
        QCOMPARE(m_pane->Play(), -1);  // never set
        m_pane->SetLocation("");
        QCOMPARE(m_pane->Play(), -1);
        QVERIFY(CallsAfterConstruction().isEmpty());
    }

    void emptyLocationLeavesThePlayingPlayerAlone() {
        m_pane->SetLocation("rtsp://10.0.0.7/channel1/1");
        QCOMPARE(m_pane->Play(), 0);
        m_log->calls.clear();
        m_pane->SetLocation("");
        QCOMPARE(m_pane->Play(), -1);
        QVERIFY(m_log->calls.isEmpty());
    }

    void previewBuildsPlayerInOrder_data() {
        QTest::addColumn<QString>("location");
        QTest::newRow("camera") << QStringLiteral("rtsp://192.168.1.20/channel1/1");
        // Before any row is clicked the current IP is empty: the location has
        // no host but is not empty, so a player is still built and started.
        QTest::newRow("no row clicked yet") << QStringLiteral("rtsp:///channel1/1");
    }
    void previewBuildsPlayerInOrder() {
        QFETCH(QString, location);
        m_pane->SetLocation(location.toStdString());
        QCOMPARE(m_pane->Play(), 0);
        QCOMPARE(CallsAfterConstruction(), BuildCalls(location, 2, 3));
        QCOMPARE(m_backend->lastWindow, m_pane->winId());
    }

    void everyPreviewReleasesThePreviousPlayerFirst() {
        const QString first = QStringLiteral("rtsp://192.168.1.20/channel1/1");
        const QString second = QStringLiteral("rtsp://192.168.1.21/channel1/1");
        m_pane->SetLocation(first.toStdString());
        m_pane->Play();
        m_pane->SetLocation(second.toStdString());
        m_pane->Play();
        // The same camera again: SetLocation marks it changed all the same.
        m_pane->SetLocation(second.toStdString());
        m_pane->Play();
        QStringList expected = BuildCalls(first, 2, 3);
        expected << QStringLiteral("ReleasePlayer(h3)") << BuildCalls(second, 4, 5);
        expected << QStringLiteral("ReleasePlayer(h5)") << BuildCalls(second, 6, 7);
        QCOMPARE(CallsAfterConstruction(), expected);
    }

    void playWithoutNewLocationOnlyRestartsThePlayer() {
        m_pane->SetLocation("rtsp://192.168.1.20/channel1/1");
        m_pane->Play();
        m_log->calls.clear();
        m_log->startResult = -1;
        QCOMPARE(m_pane->Play(), -1);  // the start result is passed through
        QCOMPARE(m_log->calls, QStringList{QStringLiteral("StartPlayback(h3)")});
    }

    void failedMediaIsNotReported() {
        m_log->failMedia = true;
        m_log->startResult = -1;
        m_pane->SetLocation("rtsp://192.168.1.20/channel1/1");
        QCOMPARE(m_pane->Play(), -1);
        QVERIFY(CallsAfterConstruction().contains(QStringLiteral("StartPlayback(null)")));
    }

    void shutdownReleasesThePlayerAndWaits() {
        m_pane->SetLocation("rtsp://192.168.1.20/channel1/1");
        m_pane->Play();
        m_log->calls.clear();
        QVERIFY(m_pane->Shutdown());
        QCOMPARE(m_log->calls, (QStringList{QStringLiteral("ReleasePlayer(h3)"),
                                            QStringLiteral("WaitForReleases")}));
        // One wait, within the pane's share of the window's one-second close.
        QCOMPARE(m_log->waitLimitsMs.size(), 1);
        QVERIFY(m_log->waitLimitsMs.front() > 0 && m_log->waitLimitsMs.front() <= 600);
        // Nothing left to release or wait for.
        m_log->calls.clear();
        QVERIFY(m_pane->Shutdown());
        QVERIFY(m_log->calls.isEmpty());
        // A later Play builds a new player, though the location is the same.
        m_pane->Play();
        QCOMPARE(m_log->calls.first(),
                 QStringLiteral("NewMedia(h1, rtsp://192.168.1.20/channel1/1)"));
        // Destruction shuts down, then releases the instance.
        m_log->calls.clear();
        m_pane.reset();
        QCOMPARE(m_log->calls, (QStringList{QStringLiteral("ReleasePlayer(h5)"),
                                            QStringLiteral("WaitForReleases"),
                                            QStringLiteral("ReleaseInstance(h1)")}));
    }

    void instanceKeptWhileAPlayerIsStillStopping() {
        m_pane->SetLocation("rtsp://192.168.1.20/channel1/1");
        m_pane->Play();
        m_log->releasesFinish = false;
        QVERIFY(!m_pane->Shutdown());
        QVERIFY(!m_pane->Shutdown());  // the window's close, then its destructor
        m_log->calls.clear();
        m_pane.reset();
        // Asked again at destruction; still not done, so the instance stays.
        QCOMPARE(m_log->calls, QStringList{QStringLiteral("WaitForReleases")});
        // The close waited once: every later look did not wait at all.
        const qint64 limit = CVideoStatic::kShutdownLimit.count();
        QCOMPARE(m_log->waitLimitsMs, (QList<qint64>{limit, 0, 0}));
    }

    void playerThatStoppedLateFreesTheInstanceWithoutASecondWait() {
        m_pane->SetLocation("rtsp://192.168.1.20/channel1/1");
        m_pane->Play();
        m_log->releasesFinish = false;
        QVERIFY(!m_pane->Shutdown());
        m_log->releasesFinish = true;  // the player stopped after the limit
        m_log->calls.clear();
        m_pane.reset();
        QCOMPARE(m_log->calls, (QStringList{QStringLiteral("WaitForReleases"),
                                            QStringLiteral("ReleaseInstance(h1)")}));
        QCOMPARE(m_log->waitLimitsMs.last(), qint64{0});
    }

    void repaintsWhenAReleasedPlayerHasGone() {
        // The backend reports it from its release thread.
        QVERIFY(m_backend->playerGone);
        m_pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
        PaintCounter counter;
        m_pane->installEventFilter(&counter);
        std::thread releaser(m_backend->playerGone);
        releaser.join();
        QVERIFY(QTest::qWaitFor([&] { return counter.paints > 0; }, 10000));
    }

    void paintsTheWholePaneBlack() {
        m_pane->setAutoFillBackground(false);
        const QImage image = m_pane->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(64, 48));
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                QCOMPARE(image.pixel(x, y), qRgb(0, 0, 0));
            }
        }
    }
};

QTEST_MAIN(TestVideoPane)
#include "tst_video_pane.moc"
