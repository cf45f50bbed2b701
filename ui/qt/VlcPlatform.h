#pragma once
// What binding a libvlc player to a window needs from the platform.
// VlcPlatform_linux.cpp is the X11 implementation, VlcPlatform_win.cpp the
// Windows one; CMake picks the file.

#include <QWindow>  // WId
#include <filesystem>
#include <vector>

struct libvlc_media_player_t;

namespace qdipc {

// True when the running Qt platform gives widgets native windows that libvlc
// can draw into (X11 windows under "xcb", HWNDs under "windows"). Under
// "offscreen", "minimal" or Wayland there is none, and a player told to use
// one would open a top-level window of its own or fail without a display.
bool PlatformHasEmbeddableWindows();

// Tells the player to draw into the native window.
void BindPlayerToWindow(libvlc_media_player_t* player, WId window);

// The folders in which the libvlc in use looks for its plugins: those named in
// VLC_PLUGIN_PATH, then the one beside the loaded libvlc library.
std::vector<std::filesystem::path> VlcPluginDirectories();

}  // namespace qdipc
