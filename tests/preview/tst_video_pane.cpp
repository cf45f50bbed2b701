// Rules of the video pane, with the libvlc calls recorded by a fake:
// the instance made once, the calls of each Preview in order, the changed
// flag, the empty location, Shutdown, and the black painting.

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <thread>

#include "RecordingVlcBackend.h"
#include "ui/qt/CCredentialsDlg.h"
#include "ui/qt/CVideoStatic.h"

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
        QCOMPARE(m_log->calls.size(), 1);
        QVERIFY(m_log->calls[0].startsWith(QStringLiteral("NewInstance(--ignore-config ")));
    }

    // What the pane says for each event of the player that plays; events of
    // a player released since are ignored, and a picture takes the line away.
    void saysWhyThereIsNoPicture_data() {
        using qdipc::StreamEvent;
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("event");
        QTest::addColumn<QString>("text");
        const QString camera = QStringLiteral("rtsp://10.77.0.21/channel1/1");
        QTest::newRow("refused")
            << camera << int(StreamEvent::Refused)
            << "No picture: 10.77.0.21 refused the connection on RTSP port 554";
        QTest::newRow("other port")
            << QStringLiteral("rtsp://10.77.0.21:8554/channel1/1") << int(StreamEvent::Refused)
            << "No picture: 10.77.0.21 refused the connection on RTSP port "
               "8554";
        QTest::newRow("no answer")
            << camera << int(StreamEvent::NoAnswer) << "No picture: no answer from 10.77.0.21";
        QTest::newRow("no video") << camera << int(StreamEvent::NoVideo)
                                  << "No picture: the stream has no video";
        QTest::newRow("no stream")
            << camera << int(StreamEvent::NoStream) << "No picture: 10.77.0.21 sent no stream";
        QTest::newRow("stopped") << camera << int(StreamEvent::Stopped) << "Stream stopped";
    }
    void saysWhyThereIsNoPicture() {
        QFETCH(QString, location);
        QFETCH(int, event);
        QFETCH(QString, text);
        auto* const stale = reinterpret_cast<libvlc_media_player_t*>(0x1030);  // h3
        m_pane->SetLocation(location.toStdString());
        m_pane->Play();
        m_pane->SetLocation(location.toStdString());
        m_pane->Play();  // h5 plays; h3 is released
        auto* const playing = reinterpret_cast<libvlc_media_player_t*>(0x1050);
        m_backend->streamEvent(stale, static_cast<qdipc::StreamEvent>(event));
        QTest::qWait(20);
        QCOMPARE(m_pane->StatusText(), QString());
        m_backend->streamEvent(playing, static_cast<qdipc::StreamEvent>(event));
        QTRY_COMPARE(m_pane->StatusText(), text);
        m_backend->streamEvent(playing, qdipc::StreamEvent::Picture);
        QTRY_COMPARE(m_pane->StatusText(), QString());
    }

    // A 401: a prompt; what it is given opens the camera again and is used
    // for every later Preview of that camera, and for no other camera.
    void asksForAPasswordAndKeepsIt() {
        m_pane->SetLocation("rtsp://10.77.0.21/channel1/1");
        m_pane->Play();
        m_backend->streamEvent(reinterpret_cast<libvlc_media_player_t*>(0x1030),
                               qdipc::StreamEvent::Unauthorized);
        CCredentialsDlg* prompt = nullptr;
        QTRY_VERIFY((prompt = m_pane->window()->findChild<CCredentialsDlg*>()) != nullptr);
        QCOMPARE(m_pane->StatusText(),
                 QStringLiteral("No picture: 10.77.0.21 asks for a user name and password"));
        const auto edits = prompt->findChildren<QLineEdit*>();
        QCOMPARE(edits.size(), 2);
        edits[0]->setText(QStringLiteral("viewer"));
        edits[1]->setText(QStringLiteral("pa:ss"));
        m_log->calls.clear();
        prompt->accept();
        QVERIFY(m_log->calls.contains(QStringLiteral("SetCredentials(h4, viewer, pa:ss)")));
        QVERIFY(m_log->calls.contains(QStringLiteral("StartPlayback(h5)")));
        m_log->calls.clear();
        m_pane->SetLocation("rtsp://10.77.0.21/channel1/1");
        m_pane->Play();
        QVERIFY(m_log->calls.contains(QStringLiteral("SetCredentials(h6, viewer, pa:ss)")));
        m_log->calls.clear();
        m_pane->SetLocation("rtsp://10.77.0.22/channel1/1");
        m_pane->Play();
        QVERIFY(!m_log->calls.join(QLatin1Char(' ')).contains(QStringLiteral("SetCredentials")));
    }

    // A camera's IP text is any text: only a dotted quad is connected to.
    // "10.9.0.5:1@10.9.0.6" names 10.9.0.5 before its ':' and 10.9.0.6 after
    // its '@'; with a password stored for 10.9.0.5 nothing may be built, no
    // credentials used, and the camera playing before stops.
    void onlyAnAddressIsConnectedTo_data() {
        QTest::addColumn<QString>("ip");
        for (const char* ip :
             {"10.9.0.5:1@10.9.0.6", "10.9.0.5@10.9.0.6", "x@10.9.0.6", "10.9.0.5:", "10.9.0.5:1:2",
              "10.9.0.05", "10.9.0.5.", "<h1>X", "10.9.0.5:123456", ""}) {
            QTest::newRow(ip) << QString::fromUtf8(ip);
        }
    }
    void onlyAnAddressIsConnectedTo() {
        QFETCH(QString, ip);
        m_pane->SetLocation("rtsp://10.9.0.5/channel1/1");
        m_pane->Play();
        m_backend->streamEvent(reinterpret_cast<libvlc_media_player_t*>(0x1030),
                               qdipc::StreamEvent::Unauthorized);
        CCredentialsDlg* prompt = nullptr;
        QTRY_VERIFY((prompt = m_pane->window()->findChild<CCredentialsDlg*>()) != nullptr);
        const auto edits = prompt->findChildren<QLineEdit*>();
        edits[0]->setText(QStringLiteral("viewer"));
        edits[1]->setText(QStringLiteral("secret"));
        prompt->accept();
        QVERIFY(m_log->calls.contains(QStringLiteral("SetCredentials(h4, viewer, secret)")));
        QTRY_VERIFY(m_pane->window()->findChild<CCredentialsDlg*>() == nullptr);
        m_log->calls.clear();

        m_pane->SetLocation("rtsp://" + ip.toStdString() + "/channel1/1");
        QCOMPARE(m_pane->Play(), -1);
        QCOMPARE(m_log->calls, QStringList{QStringLiteral("ReleasePlayer(h5)")});
        // An empty IP is what Preview sends before any row was chosen.
        QCOMPARE(m_pane->StatusText(),
                 ip.isEmpty()
                     ? QStringLiteral("No picture: no camera chosen")
                     : QStringLiteral("No picture: the camera reports no valid IP address"));
        QVERIFY(m_pane->window()->findChild<CCredentialsDlg*>() == nullptr);
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
        QTest::newRow("with a port") << QStringLiteral("rtsp://192.168.1.20:8554/channel1/1");
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

    // A device's own stream location is played only when its host is the
    // row's address; a stored login for that address goes with it.
    void deviceStreamLocationOnlyForTheRowsAddress() {
        m_pane->StoreLogin("10.0.0.5", "viewer", "secret");
        const QString location = QStringLiteral("rtsp://10.0.0.5:554/stream/main?x=1");
        QCOMPARE(m_pane->PlayDeviceStream(location.toStdString(), "10.0.0.5"), 0);
        QVERIFY(m_log->calls.contains(QStringLiteral("NewMedia(h1, %1)").arg(location)));
        QVERIFY(m_log->calls.contains(QStringLiteral("SetCredentials(h2, viewer, secret)")));
        m_log->calls.clear();
        for (const char* other : {"rtsp://10.0.0.50/a", "rtsp://10.0.0.5:1@10.0.0.6/a",
                                  "rtsp://host/a", "http://10.0.0.5/a"}) {
            QCOMPARE(m_pane->PlayDeviceStream(other, "10.0.0.5"), -1);
            QVERIFY2(!m_log->calls.join(QLatin1Char(' ')).contains(QStringLiteral("NewMedia")),
                     other);
        }
        // The player of the allowed location stopped at the first refusal.
        QCOMPARE(m_log->calls.first(), QStringLiteral("ReleasePlayer(h3)"));
        QCOMPARE(m_pane->StatusText(), QStringLiteral("No picture: the device gives no RTSP "
                                                      "location"));
        QCOMPARE(m_pane->PlayDeviceStream("rtsp://10.0.0.6/a", "10.0.0.5"), -1);
        QCOMPARE(m_pane->StatusText(),
                 QStringLiteral("No picture: the device's stream location names another host "
                                "than 10.0.0.5"));
        // A row without a strict address plays nothing.
        QCOMPARE(m_pane->PlayDeviceStream("rtsp://10.0.0.5/a", "10.0.0.05"), -1);
        QCOMPARE(m_pane->StatusText(),
                 QStringLiteral("No picture: the camera reports no valid IP address"));
        QVERIFY(!m_pane->StoredLogin("10.0.0.6"));
        QCOMPARE(m_pane->StoredLogin("10.0.0.5")->second, std::string("secret"));
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

    // The facts of the player that plays, read every second: the tooltip
    // and StreamInfoText carry them; a new Preview starts them afresh.
    void tellsTheFactsOfTheStreamItPlays() {
        auto* const player = reinterpret_cast<libvlc_media_player_t*>(0x1030);  // h3
        const auto reading = [](int ms, std::int64_t shown, std::int64_t bytes, std::int64_t lost) {
            qdipc::StreamStatsSample sample;
            sample.at = std::chrono::milliseconds(ms);
            sample.codec = "H264 - MPEG-4 AVC (part 10)";
            sample.width = 1280;
            sample.height = 720;
            sample.displayedPictures = shown;
            sample.readBytes = bytes;
            sample.lostPictures = lost;
            return sample;
        };
        QCOMPARE(m_pane->StreamInfoText(),
                 QStringLiteral("No picture yet: nothing plays in the preview; choose a camera "
                                "and press Preview"));
        m_pane->SetLocation("rtsp://10.77.0.21/channel1/1");
        m_pane->Play();
        QCOMPARE(m_pane->StreamInfoText(),
                 QStringLiteral("rtsp://10.77.0.21/channel1/1\nNo picture yet: waiting for the "
                                "stream's first picture"));
        m_backend->streamEvent(player, qdipc::StreamEvent::Picture);
        m_log->stats = {reading(0, 0, 0, 0), reading(1000, 25, 250000, 3)};
        m_log->calls.clear();
        // The timer reads once a second while the player plays.
        QTRY_COMPARE_WITH_TIMEOUT(m_log->calls.count(QStringLiteral("ReadStats(h3)")), 2, 5000);
        const QString facts = QStringLiteral(
            "rtsp://10.77.0.21/channel1/1\nCodec: H264 - MPEG-4 AVC (part 10)\nResolution: 1280 "
            "× 720\nFrame rate: 25.0 frames/s\nBitrate: 2.00 Mbit/s\nLost or late frames: 3");
        QCOMPARE(m_pane->StreamInfoText(), facts);
        QCOMPARE(m_pane->toolTip(), facts);

        // Another Preview: the facts of the player before are gone.
        m_pane->SetLocation("rtsp://10.77.0.22/channel1/1");
        m_pane->Play();
        QVERIFY(m_pane->toolTip().isEmpty());
        QCOMPARE(m_pane->Facts().width, 0u);
        QVERIFY(!m_pane->Facts().framesPerSecond.has_value());
        // ...and so is the shutdown's player: the reading stops.
        m_pane->Shutdown();
        m_log->calls.clear();
        QTest::qWait(1300);
        QCOMPARE(m_log->calls.count(QStringLiteral("ReadStats(h5)")), 0);
    }

    // No picture, no snapshot: the reason, and the library is not asked.
    void snapshotNeedsAPicture() {
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")),
                 QStringLiteral("No picture yet: nothing plays in the preview; choose a camera "
                                "and press Preview"));
        m_pane->SetLocation("rtsp://10.77.0.21/channel1/1");
        m_pane->Play();
        auto* const player = reinterpret_cast<libvlc_media_player_t*>(0x1030);  // h3
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")),
                 QStringLiteral("No picture yet: waiting for the stream's first picture"));
        m_backend->streamEvent(player, qdipc::StreamEvent::NoAnswer);
        QTRY_VERIFY(!m_pane->StatusText().isEmpty());
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")),
                 QStringLiteral("No picture yet: no answer from 10.77.0.21"));
        // A picture, then the stream stops: nothing to keep any more.
        m_backend->streamEvent(player, qdipc::StreamEvent::Picture);
        m_backend->streamEvent(player, qdipc::StreamEvent::Stopped);
        QTRY_COMPARE(m_pane->StatusText(), QStringLiteral("Stream stopped"));
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")),
                 QStringLiteral("No picture yet: stream stopped"));
        QVERIFY(!m_log->calls.join(QLatin1Char(' ')).contains(QStringLiteral("TakeSnapshot")));
        // The library finds no picture either.
        m_backend->streamEvent(player, qdipc::StreamEvent::Picture);
        QTRY_VERIFY(m_pane->StatusText().isEmpty());
        m_log->snapshotResult = -1;
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")),
                 QStringLiteral("No picture yet: the stream has no picture to keep at the moment"));
    }

    // Saved once libvlc says so, for the player asked; one at a time; a new
    // Preview fails the pending one.
    void snapshotIsSavedWhenTheLibrarySaysSo() {
        m_pane->SetLocation("rtsp://10.77.0.21/channel1/1");
        m_pane->Play();
        auto* const player = reinterpret_cast<libvlc_media_player_t*>(0x1030);  // h3
        m_backend->streamEvent(player, qdipc::StreamEvent::Picture);
        QTRY_VERIFY(m_pane->StreamInfoText().contains(QStringLiteral("Codec: ")));
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/a.png")), QString());
        QVERIFY(m_log->calls.contains(QStringLiteral("TakeSnapshot(h3, /tmp/a.png)")));
        QSignalSpy saved(m_pane.get(), &CVideoStatic::snapshotSaved);
        QSignalSpy failed(m_pane.get(), &CVideoStatic::snapshotFailed);
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/b.png")),
                 QStringLiteral("A snapshot is still being taken; try again in a moment"));
        // Another player's snapshot is not this one.
        m_backend->snapshotTaken(reinterpret_cast<libvlc_media_player_t*>(0x1050), "/tmp/x.png");
        QTest::qWait(20);
        QCOMPARE(saved.count(), 0);
        m_backend->snapshotTaken(player, "/tmp/a.png");
        QTRY_COMPARE(saved.count(), 1);
        QCOMPARE(saved[0][0].toString(), QStringLiteral("/tmp/a.png"));
        QCOMPARE(failed.count(), 0);

        // The library found no picture after all: an empty name.
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/b.png")), QString());
        m_backend->snapshotTaken(player, "");
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed[0][0].toString(),
                 QStringLiteral("No picture yet: the stream has no picture to keep at the moment"));
        QCOMPARE(saved.count(), 1);

        QVERIFY(m_pane->SaveSnapshot(QStringLiteral("/tmp/c.png")).isEmpty());
        m_pane->SetLocation("rtsp://10.77.0.22/channel1/1");
        m_pane->Play();
        QCOMPARE(failed.count(), 2);
        QCOMPARE(failed[1][0].toString(),
                 QStringLiteral("Snapshot not saved: the preview stopped first"));
        m_backend->snapshotTaken(player, "/tmp/c.png");  // too late: the player went
        QTest::qWait(20);
        QCOMPARE(saved.count(), 1);

        // Closing the window drops a pending one without a word.
        m_backend->streamEvent(reinterpret_cast<libvlc_media_player_t*>(0x1050),  // h5
                               qdipc::StreamEvent::Picture);
        QTRY_VERIFY(m_pane->StreamInfoText().contains(QStringLiteral("Codec: ")));
        QCOMPARE(m_pane->SaveSnapshot(QStringLiteral("/tmp/d.png")), QString());
        m_pane->Shutdown();
        QCOMPARE(failed.count(), 2);
        QCOMPARE(saved.count(), 1);
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
