#pragma once
// Pulls a camera's RTSP session with FFmpeg's libavformat (DESCRIBE, SETUP,
// PLAY; RTP over UDP, falling back to RTP interleaved in the RTSP connection)
// and hands its video packets on, unchanged and remuxed into an MPEG
// transport stream, to a reader that asks for bytes. It is the byte source
// behind a libvlc media made with libvlc_media_new_callbacks, for a libvlc
// that has no RTSP client of its own: libvlc still demuxes, decodes, times and
// draws the picture.
//
// Open, Read and Close follow libvlc's media callback contract and run on the
// reader's thread; Abort may be called from any thread at any time.

#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qdipc {

class RtspTsSource {
public:
    // socketTimeout bounds every RTSP exchange and a silence of the camera; an
    // RTP-over-UDP session silent this long is retried over TCP.
    explicit RtspTsSource(std::string location,
                          std::chrono::microseconds socketTimeout = std::chrono::seconds(5));
    ~RtspTsSource();
    RtspTsSource(const RtspTsSource&) = delete;
    RtspTsSource& operator=(const RtspTsSource&) = delete;

    // Connects and starts the session; prepares the transport stream.
    // 0 on success, -1 when the camera cannot be reached, refuses, sends no
    // usable video stream, or Abort was called.
    int Open();
    // Copies up to size bytes of transport stream into buffer, waiting for the
    // camera when none are ready. Bytes read (> 0), 0 at the end of the session
    // (the camera stopped sending or closed), -1 after Abort or on error.
    ptrdiff_t Read(std::uint8_t* buffer, std::size_t size);
    // Ends the session (TEARDOWN) and frees everything Open made. Open may be
    // called again afterwards.
    void Close();
    // Makes a pending Open or Read return at once, and every later one fail.
    void Abort();
    bool Aborted() const { return m_aborted.load(); }

    const std::string& Location() const { return m_location; }

private:
    struct Session;
    bool PumpOnePacket();

    const std::string m_location;
    const std::chrono::microseconds m_socketTimeout;
    std::atomic<bool> m_aborted{false};
    std::unique_ptr<Session> m_session;
};

}  // namespace qdipc
