#pragma once
// The live-preview pane: a black native child window into which libvlc draws
// the camera's stream. Public surface used by the main window; the preview
// folder owns the implementation.
//
// The pane owns the one libvlc instance of the program, made at construction,
// and at most one media player at a time. Every Play after SetLocation
// releases the player that is playing and builds a new one for the location.
// When there is no picture, one line in the pane says why (an accessible
// label); it goes when a picture comes. Only a location whose host is a
// dotted quad is opened; any other gets the reason "the camera reports no
// valid IP address" and nothing is connected. A camera that asks for a user
// name and password gets a small modal prompt; what is entered is kept in
// memory for that address until the program ends, sent to that address only,
// and the stream is opened again.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "preview/StreamFacts.h"
#include "ui/qt/VlcBackend.h"

class CCredentialsDlg;
class QLabel;
class QTimer;

class CVideoStatic : public QWidget {
    Q_OBJECT
public:
    // Uses the real libvlc.
    explicit CVideoStatic(QWidget* parent = nullptr);
    // Uses the given media-library calls (tests inject a fake here).
    explicit CVideoStatic(std::unique_ptr<qdipc::VlcBackend> backend, QWidget* parent = nullptr);
    // Shuts down (see Shutdown), then releases the library instance unless a
    // player is still stopping.
    ~CVideoStatic() override;

    // Stores the stream location and marks it changed, also when it equals
    // the location held.
    void SetLocation(const std::string& location);
    // -1 when the location is empty (nothing else happens); otherwise, after
    // building a new player if the location changed since the last one was
    // built, the result of starting playback: 0 started, -1 on error. Never
    // waits for the network.
    int Play();
    // Stops and releases the player; call it before the window and the
    // application go away. Returns within kShutdownLimit. When it returns
    // true, every player has stopped and no libvlc thread touches the pane's
    // window any more; false only when libvlc did not finish stopping in that
    // time (possible only with libvlc's own RTSP client on a camera that went
    // silent), and the player is then left to the end of the process. Once a
    // wait has run out, later calls (the destructor's too) only look whether
    // the players have stopped meanwhile and do not wait again, so that a
    // close waits once in all. A later Play builds a new player.
    bool Shutdown();

    // The pane's share of the main window's one-second close; the receive
    // worker's stop and the window's own teardown take the rest.
    static constexpr std::chrono::milliseconds kShutdownLimit{500};

    // The line that says why there is no picture; empty while none is shown.
    QString StatusText() const;
    // The location set last (played or to be played).
    const std::string& Location() const { return m_location; }

    // How often the stream's counters are read while a player plays.
    static constexpr std::chrono::milliseconds kFactsInterval{1000};
    // How long a snapshot may take before it counts as failed.
    static constexpr std::chrono::milliseconds kSnapshotLimit{5000};

    // The location played (empty when nothing plays), then the stream's facts
    // (FormatStreamFacts), or "No picture yet: ..." and why; plain text.
    QString StreamInfoText() const;
    // The facts of the last readings (nothing before the first).
    qdipc::StreamFacts Facts() const { return m_meter.Facts(); }
    // Reads the counters now (the timer does it every kFactsInterval) and
    // updates the tooltip.
    void RefreshFacts();
    // Asks for the picture shown to be written to path as PNG at the stream's
    // size. Returns an empty text when asked: snapshotSaved or snapshotFailed
    // follows (within kSnapshotLimit; nothing after Shutdown). Otherwise, and
    // nothing follows, the reason: "No picture yet: ...", or that a snapshot
    // is still being taken.
    QString SaveSnapshot(const QString& path);

    // Plays the stream location a device's own service gave for the row whose
    // address is rowAddress: only when the location's host is exactly that
    // dotted quad; otherwise nothing is connected to, the pane says why
    // ("No picture: the device's stream location names another host than
    // ...") and the result is -1. Else the result of Play.
    int PlayDeviceStream(const std::string& location, const std::string& rowAddress);
    // Says why there is no picture (a device that gave no location).
    void ShowReason(const QString& text) { ShowStatus(text); }

    // The one in-memory store of user names and passwords, by camera
    // address: what the prompt took, for the device-details window too.
    std::optional<std::pair<std::string, std::string>> StoredLogin(const std::string& host) const;
    void StoreLogin(const std::string& host, const std::string& user, const std::string& password);

signals:
    void snapshotSaved(const QString& path);
    void snapshotFailed(const QString& reason);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Credentials {
        std::string user;
        std::string password;
    };

    void OnStreamEvent(libvlc_media_player_t* player, qdipc::StreamEvent event);
    void ShowStatus(const QString& text);
    void AskForCredentials(const std::string& host);
    void OnSnapshotTaken(libvlc_media_player_t* player, const QString& file);
    void FinishSnapshot(const QString& failure);
    // Releases the player that plays, its facts and its pending snapshot.
    void DropPlayer();

    std::unique_ptr<qdipc::VlcBackend> m_vlc;
    bool m_changed = true;
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
    libvlc_media_t* m_media = nullptr;
    std::string m_location;
    bool m_playersStopped = true;
    bool m_shutdownWaitRanOut = false;
    QLabel* m_status = nullptr;
    // By camera host; in memory only.
    std::map<std::string, Credentials> m_credentials;
    QPointer<CCredentialsDlg> m_prompt;
    // What the player that plays has shown, and its counters' readings.
    bool m_pictureShown = false;
    qdipc::StreamFactsMeter m_meter;
    QTimer* m_factsTimer = nullptr;
    // The snapshot asked for and not yet written (empty: none).
    QString m_snapshotPath;
    libvlc_media_player_t* m_snapshotPlayer = nullptr;
    QTimer* m_snapshotTimer = nullptr;
};
