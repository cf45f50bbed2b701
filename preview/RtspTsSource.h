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
//
// Why there is no picture is told to an event handler, on the reader's
// thread: Open's failure by its cause, and the end of a session that had
// started (the camera closed it, or sent nothing for the socket timeout) as
// Stopped. Nothing is told after Abort.

#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "preview/StreamEvent.h"

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

    // Both before Open. The user name and password answer a camera that asks
    // for them; they go into the session only, never into a message.
    void SetCredentials(std::string user, std::string password);
    void SetEventHandler(std::function<void(StreamEvent)> handler);

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
    void Tell(StreamEvent event);
    // True when libavformat should give up waiting: after Abort, or once a
    // started session has had no packet for the socket timeout.
    bool Interrupted() const;

    const std::string m_location;
    const std::chrono::microseconds m_socketTimeout;
    std::string m_user;
    std::string m_password;
    std::function<void(StreamEvent)> m_events;
    bool m_stopTold = false;
    std::atomic<bool> m_aborted{false};
    // Steady-clock time of the last packet in ns; 0 while no session runs.
    std::atomic<std::int64_t> m_lastPacketNs{0};
    std::unique_ptr<Session> m_session;
};

}  // namespace qdipc
