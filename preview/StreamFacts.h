#pragma once
// What an installer checks about the stream a preview plays: codec,
// resolution, frame rate, bitrate and lost or late frames. The media library
// gives running counters (pictures shown, bytes read, pictures lost); the
// rates come from successive readings of them. Toolkit-free: the Qt pane, a
// Win32 window and the command line show the same text.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/StreamEvent.h"

namespace qdipc {

// One reading of the media library's counters for a playing stream.
struct StreamStatsSample {
    std::chrono::nanoseconds at{0};  // steady-clock time of the reading
    std::string codec;               // the video codec's name; empty when unknown
    unsigned width = 0;              // of the picture; 0 while none is decoded
    unsigned height = 0;
    std::int64_t readBytes = 0;          // bytes of stream read so far
    std::int64_t displayedPictures = 0;  // pictures shown so far
    std::int64_t lostPictures = 0;       // pictures decoded too late or dropped
};

struct StreamFacts {
    std::string codec;
    unsigned width = 0;
    unsigned height = 0;
    std::optional<double> framesPerSecond;  // none before two readings
    std::optional<double> bitsPerSecond;
    std::int64_t lostPictures = 0;
    bool picture = false;  // a picture has been shown
};

// Turns successive readings into facts. The rates cover the readings of the
// last few seconds, so that one late reading does not make the figure jump.
// A counter that goes back (another stream, a restarted player) starts the
// measurement afresh.
class StreamFactsMeter {
public:
    // How far back the rates look.
    static constexpr std::chrono::seconds kWindow{4};

    void Add(const StreamStatsSample& sample);
    void Reset();
    StreamFacts Facts() const;
    bool Empty() const { return m_samples.empty(); }

private:
    std::deque<StreamStatsSample> m_samples;
};

// The facts as lines, e.g.
//   Codec: H264 - MPEG-4 AVC (part 10)
//   Resolution: 1280 × 720
//   Frame rate: 25.0 frames/s
//   Bitrate: 1.52 Mbit/s
//   Lost or late frames: 0
// "measuring…" stands for a rate that needs a second reading, "unknown" for
// what the library has not told yet. No newline after the last line.
std::string FormatStreamFacts(const StreamFacts& facts);

// "1.52 Mbit/s", "830 kbit/s", "120 bit/s".
std::string FormatBitrate(double bitsPerSecond);

// The reason there is no picture to keep: "No picture yet: " and why.
std::string NoPictureYetText(std::string_view why);

// The one line that says why a stream shows no picture, as the preview pane
// shows it ("No picture: 10.0.0.5 refused the connection on RTSP port 554");
// host is the dotted quad connected to; empty for Picture.
std::string NoPictureReason(StreamEvent event, std::string_view host, int port);

// The location the preview plays for a camera's IP: "rtsp://" + ip +
// "/channel1/1", nothing between the parts.
std::string PreviewLocationFor(std::string_view ip);

// How long the preview buffers the stream against network jitter, and the
// media option that says so (":network-caching=300").
inline constexpr std::chrono::milliseconds kPreviewNetworkCaching{300};
std::string PreviewCachingOption();

// The media library's options for the preview: only what the pane shows is
// set up (no audio output, no on-screen texts, no screensaver inhibition, no
// OpenGL video output).
std::vector<std::string> PreviewInstanceArguments();

}  // namespace qdipc
