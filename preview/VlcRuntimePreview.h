#pragma once
// A camera's preview played into a native window (an HWND) with a libvlc
// loaded at run time (platform/VlcRuntime): the same location, network
// caching and library options as the Qt pane. Toolkit-free; the Windows
// window owns one per pane, on its UI thread.

#include <chrono>
#include <string>
#include <string_view>

#include "platform/VlcRuntime.h"
#include "preview/ReleaseQueue.h"

namespace qdipc {

class VlcRuntimePreview {
public:
    // Creates the library instance with the preview's options; functions
    // must be those of a Loaded runtime (the library stays loaded).
    explicit VlcRuntimePreview(const VlcFunctions& functions);
    // Unless closed: releases the player and the instance off the caller's
    // thread, without waiting.
    ~VlcRuntimePreview();
    VlcRuntimePreview(const VlcRuntimePreview&) = delete;
    VlcRuntimePreview& operator=(const VlcRuntimePreview&) = delete;

    // Plays the stream of the camera at ip into window, in place of what
    // played before. Empty when playback started, else the pane's line: an ip
    // that is no plain dotted quad is never connected to ("No picture: the
    // camera reports no valid IP address").
    std::string Play(std::string_view ip, void* window);

    // Stops and releases the player, off the caller's thread (libvlc's stop
    // joins the player's threads, which can take seconds on a silent
    // camera); the instance stays for the next Play.
    void Stop();

    // As the window closes: stops the player, releases the instance after
    // it, and waits until both are gone, at most for the limit; true when
    // they are. Play does nothing afterwards.
    bool Close(std::chrono::milliseconds limit);

private:
    void ReleaseAll();

    VlcFunctions m_vlc;  // a copy: the release thread may outlive this object
    ReleaseQueue m_releases;
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
    bool m_closed = false;
};

}  // namespace qdipc
