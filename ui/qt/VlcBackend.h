#pragma once
// The media-library calls the video pane makes, one method per call, so that
// the pane's rules can be exercised without libvlc. LibVlcBackend is the real
// one; tests use a recording fake.

#include <QWindow>  // WId
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "preview/StreamEvent.h"
#include "preview/StreamFacts.h"

struct libvlc_instance_t;
struct libvlc_media_t;
struct libvlc_media_player_t;

namespace qdipc {

class VlcBackend {
public:
    virtual ~VlcBackend() = default;

    // Creates the library instance from an argument vector; null on failure.
    virtual libvlc_instance_t* NewInstance(const std::vector<std::string>& arguments) = 0;
    // Releases a player: it stops and goes away with its picture. Returns at
    // once; the stop itself may finish later, off the caller's thread.
    virtual void ReleasePlayer(libvlc_media_player_t* player) = 0;
    // Creates a media for a stream location; null on failure.
    virtual libvlc_media_t* NewMedia(libvlc_instance_t* instance, const std::string& location) = 0;
    virtual void AddOption(libvlc_media_t* media, const std::string& option) = 0;
    // Creates a player that holds its own reference to the media; null on failure.
    virtual libvlc_media_player_t* NewPlayer(libvlc_media_t* media) = 0;
    // Binds the player's picture to a native window.
    virtual void SetWindow(libvlc_media_player_t* player, WId window) = 0;
    virtual void ReleaseMedia(libvlc_media_t* media) = 0;
    // 0 when playback started, -1 on error.
    virtual int StartPlayback(libvlc_media_player_t* player) = 0;
    // Waits until every released player has stopped and gone, at most for the
    // given time. True when none is left.
    virtual bool WaitForReleases(std::chrono::milliseconds limit) = 0;
    // The handler runs, on any thread, each time a released player has gone;
    // the picture it drew is then no longer repainted by libvlc. It is never
    // called after it has been replaced or the backend destroyed.
    virtual void SetPlayerGoneHandler(std::function<void()> handler) = 0;
    // Releases the instance; only called when no player is left.
    virtual void ReleaseInstance(libvlc_instance_t* instance) = 0;
    // The user name and password for the camera of a media made by NewMedia,
    // given before the player is made. They reach the camera only.
    virtual void SetCredentials(libvlc_media_t* media, const std::string& user,
                                const std::string& password) {
        (void)media;
        (void)user;
        (void)password;
    }
    // The handler runs, on any thread, for what happens to a player's stream:
    // its first picture, or why there is none. It is never called after it
    // has been replaced or the backend destroyed.
    virtual void SetStreamEventHandler(
        std::function<void(libvlc_media_player_t*, StreamEvent)> handler) {
        (void)handler;
    }
    // A reading of the player's counters, its video codec and picture size;
    // nothing when the library cannot tell (no stream opened yet).
    virtual std::optional<StreamStatsSample> ReadStats(libvlc_media_player_t* player) {
        (void)player;
        return std::nullopt;
    }
    // Asks the library to write the picture the player shows to path, as PNG
    // at the stream's own size, without waiting for it. 0 when asked: the
    // snapshot handler then names the file once it is there, or gives an
    // empty name when none was written; -1 when it cannot be asked.
    virtual int TakeSnapshot(libvlc_media_player_t* player, const std::string& path) {
        (void)player;
        (void)path;
        return -1;
    }
    // The handler runs, on any thread, when a snapshot file has been written
    // (its name) or none could be (an empty name).
    // It is never called after it has been replaced or the backend destroyed.
    virtual void SetSnapshotHandler(
        std::function<void(libvlc_media_player_t*, const std::string&)> handler) {
        (void)handler;
    }
};

}  // namespace qdipc
