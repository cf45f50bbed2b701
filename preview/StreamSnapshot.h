#pragma once
// One picture of a camera's stream kept as a PNG file, without a display:
// what --snapshot asks for. The command line links the core only; the
// program hands it the real taker (RtspSnapshot, on the media libraries), a
// build without them hands none.

#include <chrono>
#include <functional>
#include <string>

#include "preview/StreamFacts.h"

namespace qdipc {

struct SnapshotRequest {
    std::string location;  // the stream, as the preview opens it
    std::string file;      // the PNG to write; replaced only by a complete one
    // The whole attempt, connection to file, ends within this time.
    std::chrono::milliseconds limit{10000};
    // How long the stream is buffered against network jitter, as the pane's
    // network cache.
    std::chrono::milliseconds networkCaching{kPreviewNetworkCaching};
};

struct SnapshotResult {
    enum class Status {
        Written,    // the file holds the picture
        NoPicture,  // the camera gave none: see reason
        FileError   // the picture could not be written to the file
    };
    Status status = Status::NoPicture;
    unsigned width = 0;  // of the picture written
    unsigned height = 0;
    std::string reason;  // one line, when not Written
};

using SnapshotTaker = std::function<SnapshotResult(const SnapshotRequest&)>;

}  // namespace qdipc
