#pragma once
// Takes one picture of an RTSP stream and writes it as PNG at the stream's
// own resolution: libavformat runs the session (RTP over UDP, else
// interleaved in the RTSP connection), libavcodec decodes the first whole
// picture, libswscale turns it into RGB and libavcodec's PNG encoder writes
// it. No display, no toolkit. Bounded by the request's limit. It silences
// libav's log for the process: the result's reason is what is said.

#include "preview/StreamSnapshot.h"

namespace qdipc {

// Only a location whose host is a dotted quad is opened; the caller checks.
SnapshotResult TakeRtspSnapshot(const SnapshotRequest& request);

}  // namespace qdipc
