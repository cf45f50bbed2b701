#pragma once
// Finds out whether the libvlc in use has a given plugin, by its file in the
// plugin folders (libvlc has no call that lists its demuxers).

#include <filesystem>
#include <string_view>
#include <vector>

namespace qdipc {

// True when one of the folders, or a folder directly inside one (plugins sit
// in one sub-folder per kind), holds the plugin's library: "lib" + name +
// "_plugin" with the platform's library extension (.so, .dll, .dylib).
bool HasVlcPlugin(const std::vector<std::filesystem::path>& folders, std::string_view name);

// True when libvlc has its own RTSP client (the live555 plugin). Debian's
// libvlc has none; there rtsp:// goes to a SAT>IP module that shows nothing
// for a camera's H.264 stream.
bool VlcHasOwnRtspClient();

}  // namespace qdipc
