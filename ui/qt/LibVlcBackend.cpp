#include "ui/qt/LibVlcBackend.h"

#include <vlc/vlc.h>

#include <chrono>
#include <cstdint>

#include "preview/RtspTsSource.h"
#include "ui/qt/VlcPlatform.h"
#include "ui/qt/VlcPluginProbe.h"

namespace qdipc {

namespace {

// libavcodec offers hardware formats first, and libvlc opens a video output
// for each of them to try it before it falls back to software decoding; for
// a small preview pane that costs more at the start than it ever saves.
constexpr const char* kSoftwareDecoding = ":avcodec-hw=none";

bool IsRtspLocation(const std::string& location) {
    return location.starts_with("rtsp://");
}

// libvlc's media callbacks, forwarding to the RtspTsSource given as opaque.
int OpenSource(void* opaque, void** data, std::uint64_t* size) {
    *data = opaque;
    *size = UINT64_MAX;
    return static_cast<RtspTsSource*>(opaque)->Open() == 0 ? 0 : -1;
}

ssize_t ReadSource(void* data, unsigned char* buffer, std::size_t length) {
    return static_cast<RtspTsSource*>(data)->Read(buffer, length);
}

void CloseSource(void* data) {
    static_cast<RtspTsSource*>(data)->Close();
}

bool DecideRoute(LibVlcBackend::RtspRoute route) {
    switch (route) {
        case LibVlcBackend::RtspRoute::LibVlc:
            return false;
        case LibVlcBackend::RtspRoute::LibAvformat:
            return true;
        case LibVlcBackend::RtspRoute::Automatic:
            break;
    }
    return !VlcHasOwnRtspClient();
}

}  // namespace

struct LibVlcBackend::EventRelay {
    std::mutex mutex;
    std::function<void(libvlc_media_player_t*, StreamEvent)> handler;
    std::function<void(libvlc_media_player_t*, const std::string&)> snapshotHandler;

    void Set(std::function<void(libvlc_media_player_t*, StreamEvent)> replacement) {
        std::lock_guard lock(mutex);
        handler = std::move(replacement);
    }
    void Notify(libvlc_media_player_t* player, StreamEvent event) {
        std::lock_guard lock(mutex);
        if (handler) {
            handler(player, event);
        }
    }
    void SetSnapshot(std::function<void(libvlc_media_player_t*, const std::string&)> replacement) {
        std::lock_guard lock(mutex);
        snapshotHandler = std::move(replacement);
    }
    void NotifySnapshot(libvlc_media_player_t* player, const std::string& file) {
        std::lock_guard lock(mutex);
        if (snapshotHandler) {
            snapshotHandler(player, file);
        }
    }
};

struct LibVlcBackend::PlayerEvents {
    std::shared_ptr<EventRelay> relay;
    libvlc_media_player_t* player = nullptr;
    // libvlc's own RTSP client tells failures and the end only as libvlc
    // events; the libavformat source tells them itself, by their cause.
    bool failuresFromLibVlc = false;

    static void OnEvent(const libvlc_event_t* event, void* data) {
        auto* self = static_cast<PlayerEvents*>(data);
        switch (event->type) {
            case libvlc_MediaPlayerVout:
                if (event->u.media_player_vout.new_count > 0) {
                    self->relay->Notify(self->player, StreamEvent::Picture);
                }
                break;
            case libvlc_MediaPlayerEncounteredError:
                if (self->failuresFromLibVlc) {
                    self->relay->Notify(self->player, StreamEvent::NoStream);
                }
                break;
            case libvlc_MediaPlayerEndReached:
                if (self->failuresFromLibVlc) {
                    self->relay->Notify(self->player, StreamEvent::Stopped);
                }
                break;
            case libvlc_MediaPlayerSnapshotTaken: {
                const char* file = event->u.media_player_snapshot_taken.psz_filename;
                self->relay->NotifySnapshot(self->player, file ? file : "");
                break;
            }
            default:
                break;
        }
    }
};

struct LibVlcBackend::GoneHandler {
    std::mutex mutex;
    std::function<void()> handler;

    void Set(std::function<void()> replacement) {
        std::lock_guard lock(mutex);
        handler = std::move(replacement);
    }
    void Notify() {
        std::lock_guard lock(mutex);
        if (handler) {
            handler();
        }
    }
};

LibVlcBackend::LibVlcBackend(RtspRoute route)
    : m_rtspThroughLibavformat(DecideRoute(route)),
      m_goneHandler(std::make_shared<GoneHandler>()),
      m_eventRelay(std::make_shared<EventRelay>()) {}

LibVlcBackend::~LibVlcBackend() {
    m_goneHandler->Set(nullptr);
    m_eventRelay->Set(nullptr);
    m_eventRelay->SetSnapshot(nullptr);
}

void LibVlcBackend::SetSnapshotHandler(
    std::function<void(libvlc_media_player_t*, const std::string&)> handler) {
    m_eventRelay->SetSnapshot(std::move(handler));
}

std::optional<StreamStatsSample> LibVlcBackend::ReadStats(libvlc_media_player_t* player) {
    if (!player) {
        return std::nullopt;
    }
    libvlc_media_t* media = libvlc_media_player_get_media(player);
    if (!media) {
        return std::nullopt;
    }
    StreamStatsSample sample;
    sample.at = std::chrono::steady_clock::now().time_since_epoch();
    libvlc_media_stats_t stats{};
    const bool counted = libvlc_media_get_stats(media, &stats) != 0;
    if (counted) {
        // The input's bytes; a callback media counts them at the demuxer.
        sample.readBytes = stats.i_read_bytes > 0 ? stats.i_read_bytes : stats.i_demux_read_bytes;
        sample.displayedPictures = stats.i_displayed_pictures;
        sample.lostPictures = stats.i_lost_pictures;
    }
    libvlc_media_track_t** tracks = nullptr;
    const unsigned count = libvlc_media_tracks_get(media, &tracks);
    for (unsigned i = 0; i < count; ++i) {
        if (tracks[i]->i_type == libvlc_track_video) {
            const char* name =
                libvlc_media_get_codec_description(libvlc_track_video, tracks[i]->i_codec);
            sample.codec = name ? name : "";
            if (sample.codec.empty()) {
                // The four characters of its code, as the library names it.
                for (int shift = 0; shift < 32; shift += 8) {
                    const char c = static_cast<char>((tracks[i]->i_codec >> shift) & 0xff);
                    sample.codec += c >= 0x20 && c < 0x7f ? c : '?';
                }
            }
            break;
        }
    }
    if (tracks) {
        libvlc_media_tracks_release(tracks, count);
    }
    libvlc_media_release(media);
    unsigned width = 0;
    unsigned height = 0;
    if (libvlc_video_get_size(player, 0, &width, &height) == 0) {
        sample.width = width;
        sample.height = height;
    }
    if (!counted && sample.codec.empty() && sample.width == 0) {
        return std::nullopt;
    }
    return sample;
}

int LibVlcBackend::TakeSnapshot(libvlc_media_player_t* player, const std::string& path) {
    if (!player || !m_playersWithWindow.contains(player)) {
        return -1;
    }
    // libvlc converts and writes the picture inside this call (150 ms for
    // 1280 x 720): on the release thread, so that the window does not wait,
    // and before any later release of this player, which it thus outlives.
    m_releases.Post([player, path, relay = m_eventRelay] {
        // 0 x 0: the picture as the stream carries it, not as the pane shows it.
        if (libvlc_video_take_snapshot(player, 0, path.c_str(), 0, 0) != 0) {
            relay->NotifySnapshot(player, "");  // no picture to keep
        }
    });
    return 0;
}

void LibVlcBackend::SetStreamEventHandler(
    std::function<void(libvlc_media_player_t*, StreamEvent)> handler) {
    m_eventRelay->Set(std::move(handler));
}

void LibVlcBackend::SetCredentials(libvlc_media_t* media, const std::string& user,
                                   const std::string& password) {
    if (!media) {
        return;
    }
    if (auto found = m_mediaSources.find(media); found != m_mediaSources.end()) {
        found->second->SetCredentials(user, password);
        return;
    }
    // libvlc's own RTSP client takes them as options of the media.
    libvlc_media_add_option(media, (":rtsp-user=" + user).c_str());
    libvlc_media_add_option(media, (":rtsp-pwd=" + password).c_str());
}

void LibVlcBackend::SetPlayerGoneHandler(std::function<void()> handler) {
    m_goneHandler->Set(std::move(handler));
}

libvlc_instance_t* LibVlcBackend::NewInstance(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    argv.reserve(arguments.size());
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return libvlc_new(static_cast<int>(argv.size()), argv.data());
}

void LibVlcBackend::ReleasePlayer(libvlc_media_player_t* player) {
    if (!player) {
        return;
    }
    m_playersWithWindow.erase(player);
    std::shared_ptr<PlayerEvents> events;
    if (auto found = m_playerEvents.find(player); found != m_playerEvents.end()) {
        events = std::move(found->second);
        m_playerEvents.erase(found);
    }
    std::shared_ptr<RtspTsSource> source;
    if (auto found = m_playerSources.find(player); found != m_playerSources.end()) {
        source = std::move(found->second);
        m_playerSources.erase(found);
        // Unblocks libvlc's input thread at once, so that the stop is quick.
        source->Abort();
    }
    m_releases.Post([player, source = std::move(source), events = std::move(events),
                     gone = m_goneHandler]() mutable {
        libvlc_media_player_release(player);
        events.reset();  // no event of the player comes any more
        source.reset();  // libvlc has closed it by now
        gone->Notify();
    });
}

libvlc_media_t* LibVlcBackend::NewMedia(libvlc_instance_t* instance, const std::string& location) {
    if (!instance) {
        return nullptr;
    }
    if (!m_rtspThroughLibavformat || !IsRtspLocation(location)) {
        libvlc_media_t* media = libvlc_media_new_location(instance, location.c_str());
        if (media) {
            libvlc_media_add_option(media, kSoftwareDecoding);
        }
        return media;
    }
    auto source = std::make_shared<RtspTsSource>(location);
    libvlc_media_t* media = libvlc_media_new_callbacks(instance, &OpenSource, &ReadSource, nullptr,
                                                       &CloseSource, source.get());
    if (media) {
        // The bytes are always a transport stream: name the demuxer, so that
        // libvlc does not probe the others first. Some of them wait for
        // several kilobytes before they give up, and a camera watching a still
        // scene sends only a few dozen bytes a frame after its key frame: the
        // first picture then waited for the data, not for the network cache.
        libvlc_media_add_option(media, ":demux=ts");
        libvlc_media_add_option(media, kSoftwareDecoding);
        m_mediaSources[media] = std::move(source);
    }
    return media;
}

void LibVlcBackend::AddOption(libvlc_media_t* media, const std::string& option) {
    if (media) {
        libvlc_media_add_option(media, option.c_str());
    }
}

libvlc_media_player_t* LibVlcBackend::NewPlayer(libvlc_media_t* media) {
    if (!media) {
        return nullptr;
    }
    libvlc_media_player_t* player = libvlc_media_player_new_from_media(media);
    if (!player) {
        return nullptr;
    }
    auto events = std::make_shared<PlayerEvents>();
    events->relay = m_eventRelay;
    events->player = player;
    if (auto found = m_mediaSources.find(media); found != m_mediaSources.end()) {
        m_playerSources[player] = found->second;
        // Set before the player starts; the source tells on libvlc's thread.
        found->second->SetEventHandler(
            [relay = m_eventRelay, player](StreamEvent event) { relay->Notify(player, event); });
    } else {
        events->failuresFromLibVlc = true;
    }
    libvlc_event_manager_t* manager = libvlc_media_player_event_manager(player);
    for (const libvlc_event_type_t type :
         {libvlc_MediaPlayerVout, libvlc_MediaPlayerEncounteredError, libvlc_MediaPlayerEndReached,
          libvlc_MediaPlayerSnapshotTaken}) {
        libvlc_event_attach(manager, type, &PlayerEvents::OnEvent, events.get());
    }
    m_playerEvents[player] = std::move(events);
    return player;
}

void LibVlcBackend::SetWindow(libvlc_media_player_t* player, WId window) {
    if (!player || window == 0 || !PlatformHasEmbeddableWindows()) {
        return;
    }
    BindPlayerToWindow(player, window);
    m_playersWithWindow.insert(player);
}

void LibVlcBackend::ReleaseMedia(libvlc_media_t* media) {
    if (!media) {
        return;
    }
    // The player, if one was made, keeps its own reference to the source.
    m_mediaSources.erase(media);
    libvlc_media_release(media);
}

int LibVlcBackend::StartPlayback(libvlc_media_player_t* player) {
    // Without a window of the pane's to draw into, libvlc would open one of
    // its own (or fail without a display): such a player is never started.
    if (!player || !m_playersWithWindow.contains(player)) {
        return -1;
    }
    return libvlc_media_player_play(player);
}

bool LibVlcBackend::WaitForReleases(std::chrono::milliseconds limit) {
    return m_releases.WaitUntilIdle(limit);
}

void LibVlcBackend::ReleaseInstance(libvlc_instance_t* instance) {
    if (instance) {
        libvlc_release(instance);
    }
}

}  // namespace qdipc
