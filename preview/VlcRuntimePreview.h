#pragma once
// A camera's preview played into a native window (an HWND) with a libvlc
// loaded at run time (platform/VlcRuntime): the same location, network
// caching and library options as the Qt pane. Toolkit-free; the Windows
// window owns one per pane, on its UI thread.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TcpReach.h"
#include "platform/VlcRuntime.h"
#include "preview/ReleaseQueue.h"
#include "preview/StreamFacts.h"

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
    // Plays a location made from a checked IP (PreviewLocationFor), with the
    // preview's caching; the reason line as Play gives it. A login (user and
    // password) goes to libvlc's RTSP client as media options, for this
    // location's camera only.
    std::string PlayLocation(const std::string& location, void* window,
                             const std::string* user = nullptr,
                             const std::string* password = nullptr);

    // What happens to a player's stream (its first picture, or why there is
    // none), with the number of the player (PlayerNumber when it played):
    // runs on libvlc's threads, never after it was replaced or Close ran. A
    // camera that asks for a login (libvlc's login question) is told as
    // Unauthorized of the player playing then.
    using EventSink = std::function<void(unsigned player, StreamEvent event)>;
    void SetEventSink(EventSink sink);
    // libvlc's RTSP client tells only that a stream failed: why is asked of
    // the camera's RTSP port (a connection tried off the caller's thread,
    // closed at once): refused, no answer, or it connected (the camera sent
    // no stream). Tests give their own probe; the default tries for
    // kFailureProbeWait.
    using ReachProbe = std::function<TcpReach(std::uint32_t address, std::uint16_t port)>;
    void SetReachProbe(ReachProbe probe);
    static constexpr std::chrono::milliseconds kFailureProbeWait{2000};
    // The number of the player that plays; 0 when none does.
    unsigned PlayerNumber() const { return m_player != nullptr ? m_number : 0; }
    // On the caller's thread, for an event the sink got: the pane's line now
    // (NoPictureReason; empty for a picture: the line goes), or nothing when
    // the event changes nothing (a player replaced since; a failure after
    // the camera asked for a login, which stays the reason). Unauthorized
    // answers libvlc's login questions (dismissed: the window asks itself and
    // plays again with the login).
    std::optional<std::string> TakeEvent(unsigned player, StreamEvent event);

    // Takes one reading of the playing stream's counters, codec and picture
    // size for Stream Info (at: the steady clock's time of it); the window
    // calls it about once a second while something plays.
    void Sample(std::chrono::nanoseconds at);
    // What plays and how: the location, then the facts (FormatStreamFacts)
    // once a picture was shown, else "No picture yet: " and why (the pane's
    // line without its "No picture: ", or the wait for the first picture).
    std::string StreamInfoText() const;

    // Asks libvlc to write the picture shown to path as PNG, without waiting
    // for it: empty when asked (the snapshot handler then names the file
    // written, or gives an empty name), else the reason there is none.
    std::string TakeSnapshot(const std::string& path);
    // Runs on a thread of libvlc's for the answer to TakeSnapshot; never
    // after it was replaced or Close or the destructor ran.
    void SetSnapshotHandler(std::function<void(const std::string& file)> handler);

    // Stops and releases the player, off the caller's thread (libvlc's stop
    // joins the player's threads, which can take seconds on a silent
    // camera); the instance stays for the next Play.
    void Stop();

    // As the window closes: stops the player, releases the instance after
    // it, and waits until both are gone, at most for the limit; true when
    // they are. Play does nothing afterwards.
    bool Close(std::chrono::milliseconds limit);

private:
    struct Relay;
    struct PlayerEvents;
    void ReleaseAll();
    std::optional<StreamStatsSample> ReadStats() const;

    VlcFunctions m_vlc;  // a copy: the release thread may outlive this object
    ReleaseQueue m_releases;
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
    bool m_closed = false;
    std::string m_location;  // what m_player plays
    unsigned m_number = 0;   // m_player's number
    // The pane's line for m_player, and the last event of it taken.
    std::string m_reason;
    std::optional<StreamEvent> m_lastEvent;
    StreamFactsMeter m_meter;
    // Shared with the release jobs: the callbacks' data lives as long as any
    // player or the instance that may call them.
    std::shared_ptr<Relay> m_relay;
    std::shared_ptr<PlayerEvents> m_events;  // m_player's
};

}  // namespace qdipc
