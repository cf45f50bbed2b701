#pragma once
// A camera's preview played into a native window (an HWND) with a libvlc
// loaded at run time (platform/VlcRuntime): the same location, network
// caching and library options as the Qt pane. Toolkit-free; the Windows
// window owns one per pane, on its UI thread.

#include <string>
#include <string_view>

#include "platform/VlcRuntime.h"

namespace qdipc {

class VlcRuntimePreview {
public:
    // Creates the library instance with the preview's options; functions
    // must be those of a Loaded runtime, which outlives this object.
    explicit VlcRuntimePreview(const VlcFunctions& functions);
    ~VlcRuntimePreview();
    VlcRuntimePreview(const VlcRuntimePreview&) = delete;
    VlcRuntimePreview& operator=(const VlcRuntimePreview&) = delete;

    // Plays the stream of the camera at ip into window, in place of what
    // played before. Empty when playback started, else the pane's line: an ip
    // that is no plain dotted quad is never connected to ("No picture: the
    // camera reports no valid IP address").
    std::string Play(std::string_view ip, void* window);

    // Stops and releases the player; the instance stays for the next Play.
    void Stop();

private:
    const VlcFunctions& m_vlc;
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
};

}  // namespace qdipc
