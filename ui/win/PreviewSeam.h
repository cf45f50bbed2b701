#pragma once
// Where a stream player plugs into the Windows window's video pane. The
// window asks it to play a location in the pane and shows the reason line it
// answers; the libvlc runtime loader is one such player. Until one is given,
// the pane says that VLC is missing, and everything else works.

#include <windows.h>

#include <string>

namespace qdipc::win {

class PreviewPlayer {
public:
    virtual ~PreviewPlayer() = default;
    // Plays location (rtsp://IP/channel1/1) in pane, a child window of the
    // main window; answers the pane's reason line (UTF-8), empty when a
    // picture is on its way.
    virtual std::string Play(HWND pane, const std::string& location) = 0;
    // Stops what plays; the window calls it before it closes.
    virtual void Stop() = 0;
};

// The player when no VLC 3 could be loaded: plays nothing, says why.
class MissingVlcPlayer final : public PreviewPlayer {
public:
    std::string Play(HWND, const std::string&) override {
        return "No picture: VLC 3 (64-bit) is not installed";
    }
    void Stop() override {}
};

}  // namespace qdipc::win
