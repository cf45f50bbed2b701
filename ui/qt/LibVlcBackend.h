#pragma once
// The real media-library calls of the video pane.
//
// RTSP: where libvlc has its own RTSP client (its live555 plugin, as in the
// official Windows and macOS builds), an rtsp:// location goes to libvlc as
// it is. Where it has none (Debian's libvlc), libvlc would hand rtsp:// to a
// SAT>IP module that shows nothing for a camera; there the media reads the
// stream from an RtspTsSource instead: libavformat runs the RTSP session and
// the video packets reach libvlc, not re-encoded, as an MPEG transport stream
// through libvlc's media callbacks. libvlc still decodes, times and draws.
//
// Released players stop on a thread of their own (ReleaseQueue), so that a
// silent camera never freezes the window. A player is only started once it is
// bound to a native window libvlc can draw into.

#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "preview/ReleaseQueue.h"
#include "ui/qt/VlcBackend.h"

namespace qdipc {

class RtspTsSource;

class LibVlcBackend : public VlcBackend {
public:
    enum class RtspRoute {
        Automatic,   // through libavformat only when libvlc has no RTSP client
        LibVlc,      // always hand rtsp:// to libvlc
        LibAvformat  // always read rtsp:// through libavformat
    };

    explicit LibVlcBackend(RtspRoute route = RtspRoute::Automatic);
    ~LibVlcBackend() override;

    // True when rtsp:// locations are read through libavformat.
    bool RtspThroughLibavformat() const { return m_rtspThroughLibavformat; }

    libvlc_instance_t* NewInstance(const std::vector<std::string>& arguments) override;
    void ReleasePlayer(libvlc_media_player_t* player) override;
    libvlc_media_t* NewMedia(libvlc_instance_t* instance, const std::string& location) override;
    void AddOption(libvlc_media_t* media, const std::string& option) override;
    libvlc_media_player_t* NewPlayer(libvlc_media_t* media) override;
    void SetWindow(libvlc_media_player_t* player, WId window) override;
    void ReleaseMedia(libvlc_media_t* media) override;
    int StartPlayback(libvlc_media_player_t* player) override;
    bool WaitForReleases(std::chrono::milliseconds limit) override;
    void SetPlayerGoneHandler(std::function<void()> handler) override;
    void ReleaseInstance(libvlc_instance_t* instance) override;
    void SetCredentials(libvlc_media_t* media, const std::string& user,
                        const std::string& password) override;
    void SetStreamEventHandler(
        std::function<void(libvlc_media_player_t*, StreamEvent)> handler) override;
    std::optional<StreamStatsSample> ReadStats(libvlc_media_player_t* player) override;
    int TakeSnapshot(libvlc_media_player_t* player, const std::string& path) override;
    void SetSnapshotHandler(
        std::function<void(libvlc_media_player_t*, const std::string&)> handler) override;

private:
    const bool m_rtspThroughLibavformat;
    // The byte source behind each callback media, kept alive until the
    // player that reads it has been released.
    std::map<libvlc_media_t*, std::shared_ptr<RtspTsSource>> m_mediaSources;
    std::map<libvlc_media_player_t*, std::shared_ptr<RtspTsSource>> m_playerSources;
    std::set<libvlc_media_player_t*> m_playersWithWindow;
    // Shared with the release jobs, which may outlive the backend.
    struct GoneHandler;
    std::shared_ptr<GoneHandler> m_goneHandler;
    struct EventRelay;
    std::shared_ptr<EventRelay> m_eventRelay;
    // What libvlc's event callbacks of each player are given; freed once
    // the player has been released.
    struct PlayerEvents;
    std::map<libvlc_media_player_t*, std::shared_ptr<PlayerEvents>> m_playerEvents;
    ReleaseQueue m_releases;
};

}  // namespace qdipc
