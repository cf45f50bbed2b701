#pragma once
// Where a stream player plugs into the Windows window's video pane. The
// window asks it to play a location in the pane and shows the reason line it
// answers; the libvlc runtime loader is one such player (PreviewPlayer.h).
// Until one is given, the pane says that VLC is missing, and everything else
// works.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "platform/VlcRuntime.h"
#include "preview/StreamFacts.h"

namespace qdipc::win {

class PreviewPlayer {
public:
    // Answers a snapshot request, on any thread: the file written, or empty
    // when none could be.
    using SnapshotDone = std::function<void(const std::string& file)>;

    virtual ~PreviewPlayer() = default;
    // Plays location (rtsp://IP/channel1/1) in pane, a child window of the
    // main window; answers the pane's reason line (UTF-8), empty when a
    // picture is on its way.
    virtual std::string Play(HWND pane, const std::string& location) = 0;
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
    std::string Play(HWND, const std::string&) override { return m_reason; }
    void Stop() override {}
    std::string StreamInfoText() override { return m_reason; }

private:
    std::string m_reason;
};

}  // namespace qdipc::win
