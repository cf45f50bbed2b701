#pragma once
// Where a stream player plugs into the Windows window's video pane. The
// window asks it to play a location in the pane and shows the reason line it
// answers; the libvlc runtime loader is one such player (PreviewPlayer.h).
// Until one is given, the pane says that VLC is missing, and everything else
// works.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "discovery/OnvifDevice.h"
#include "platform/VlcRuntime.h"
#include "preview/StreamEvent.h"
#include "preview/StreamFacts.h"

namespace qdipc::win {

class PreviewPlayer {
public:
    // Answers a snapshot request, on any thread: the file written, or empty
    // when none could be.
    using SnapshotDone = std::function<void(const std::string& file)>;
    // Told, on any thread, what happens to the stream of a player (the
    // number PlayerNumber gave while it played).
    using EventSink = std::function<void(unsigned player, StreamEvent event)>;

    virtual ~PreviewPlayer() = default;
    // Plays location (rtsp://IP/channel1/1) in pane, a child window of the
    // main window, with the camera's login when one is known; answers the
    // pane's reason line (UTF-8), empty when a picture is on its way.
    virtual std::string Play(HWND pane, const std::string& location, const OnvifLogin* login) = 0;
    // Where the stream's events go (empty: nowhere); the window posts them
    // to its own thread.
    virtual void SetEventSink(EventSink sink) { (void)sink; }
    // On the window's thread, for an event the sink got: the pane's line
    // now (empty: the line goes), or nothing when it changes nothing.
    virtual std::optional<std::string> TakeEvent(unsigned player, StreamEvent event) {
        (void)player;
        (void)event;
        return std::nullopt;
    }
    // Stops what plays, waiting a bounded time at most; the window calls it
    // as it closes.
    virtual void Stop() = 0;
    // One reading of the stream's counters; the window calls it about once a
    // second while something plays.
    virtual void Sample() {}
    // "Stream Info": what plays and how, plain text of several lines.
    virtual std::string StreamInfoText() {
        return NoPictureYetText("nothing plays in the preview; choose a camera and press Preview");
    }
    // "Save Snapshot…": asks for a PNG of the picture shown at path (UTF-8);
    // empty when asked (done answers later), else why there is none.
    virtual std::string SaveSnapshot(const std::string& path, SnapshotDone done) {
        (void)path;
        (void)done;
        return StreamInfoText();
    }
};

// The player when no VLC 3 could be loaded: plays nothing, says why (the
// loader's reason line).
class MissingVlcPlayer final : public PreviewPlayer {
public:
    // Without a reason: VLC 3 of the program's bitness is not installed.
    explicit MissingVlcPlayer(std::string reason = VlcRuntimeReason(VlcRuntime{}))
        : m_reason(std::move(reason)) {}
    std::string Play(HWND, const std::string&, const OnvifLogin*) override { return m_reason; }
    void Stop() override {}
    std::string StreamInfoText() override { return m_reason; }

private:
    std::string m_reason;
};

}  // namespace qdipc::win
