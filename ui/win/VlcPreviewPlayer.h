#pragma once
// The Windows window's video pane on the VLC 3 installed on the machine:
// libvlc loaded at run time (platform/VlcRuntime) and played into the pane
// through the toolkit-free VlcRuntimePreview; where no VLC 3 of the
// program's bitness loads, the loader's reason line in the pane.

#include <chrono>
#include <memory>

#include "platform/VlcRuntime.h"
#include "preview/VlcRuntimePreview.h"
#include "ui/win/PreviewSeam.h"

namespace qdipc::win {

// How long closing the window waits for the player and libvlc to go; a
// silent camera can hold libvlc's stop longer, and the window closes anyway.
inline constexpr std::chrono::milliseconds kPreviewCloseLimit{2000};

// A player on runtime: VlcRuntimePreview when it is Loaded, else a
// MissingVlcPlayer with VlcRuntimeReason(runtime). reach: how a failed
// stream's cause is asked (empty: a connection to the camera's RTSP port).
std::shared_ptr<PreviewPlayer> MakePreviewPlayer(const VlcRuntime& runtime,
                                                 VlcRuntimePreview::ReachProbe reach = {});

}  // namespace qdipc::win
