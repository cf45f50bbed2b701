#include "preview/VlcRuntimePreview.h"

#include <mutex>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"

namespace qdipc {

// Where libvlc's snapshot event finds the handler: held by the preview and
// by each release job, cleared when the preview closes.
struct VlcRuntimePreview::SnapshotRelay {
    std::mutex mutex;
    std::function<void(const std::string&)> handler;

    void Set(std::function<void(const std::string&)> replacement) {
        const std::lock_guard<std::mutex> lock(mutex);
        handler = std::move(replacement);
    }
    static void OnEvent(const libvlc_event_t* event, void* data) {
        const auto* head = reinterpret_cast<const VlcEventHead*>(event);
        if (head == nullptr || head->type != kVlcSnapshotTakenEvent) {
            return;
        }
        auto* relay = static_cast<SnapshotRelay*>(data);
        const std::lock_guard<std::mutex> lock(relay->mutex);
        if (relay->handler) {
            relay->handler(head->snapshotFile != nullptr ? head->snapshotFile : "");
        }
    }
};

VlcRuntimePreview::VlcRuntimePreview(const VlcFunctions& functions)
    : m_vlc(functions), m_relay(std::make_shared<SnapshotRelay>()) {
    const std::vector<std::string> arguments = PreviewInstanceArguments();
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    m_instance = m_vlc.libvlc_new(static_cast<int>(argv.size()), argv.data());
}

VlcRuntimePreview::~VlcRuntimePreview() {
    m_relay->Set(nullptr);
    ReleaseAll();
}

void VlcRuntimePreview::ReleaseAll() {
    Stop();
    if (m_instance != nullptr) {
        // After the players: the queue runs its jobs in order.
        m_releases.Post([vlc = m_vlc, instance = m_instance] { vlc.libvlc_release(instance); });
        m_instance = nullptr;
    }
}

std::string VlcRuntimePreview::Play(std::string_view ip, void* window) {
    Stop();
    if (ip.empty()) {
        return "No picture: no camera chosen";
    }
    // The IP cell is any text the camera chose: "10.9.0.5:1@10.9.0.6" would
    // make the URL parser connect to the host after the "@".
    if (!ParseIpv4Strict(ip)) {
        return "No picture: the camera reports no valid IP address";
    }
    return PlayLocation(PreviewLocationFor(ip), window);
}

std::string VlcRuntimePreview::PlayLocation(const std::string& location, void* window) {
    Stop();
    if (m_instance == nullptr || m_closed) {
        return "No picture: VLC could not be started";
    }
    libvlc_media_t* media = m_vlc.libvlc_media_new_location(m_instance, location.c_str());
    if (media == nullptr) {
        return "No picture: VLC could not be started";
    }
    m_vlc.libvlc_media_add_option(media, PreviewCachingOption().c_str());
    m_player = m_vlc.libvlc_media_player_new_from_media(media);
    // The player holds its own reference to the media.
    m_vlc.libvlc_media_release(media);
    if (m_player == nullptr) {
        return "No picture: VLC could not be started";
    }
    m_location = location;
    if (m_vlc.libvlc_media_player_event_manager != nullptr &&
        m_vlc.libvlc_event_attach != nullptr) {
        if (libvlc_event_manager_t* events = m_vlc.libvlc_media_player_event_manager(m_player)) {
            m_vlc.libvlc_event_attach(events, kVlcSnapshotTakenEvent, &SnapshotRelay::OnEvent,
                                      m_relay.get());
        }
    }
    m_vlc.libvlc_media_player_set_hwnd(m_player, window);
    if (m_vlc.libvlc_media_player_play(m_player) != 0) {
        Stop();
        return "No picture: VLC could not be started";
    }
    return {};
}

void VlcRuntimePreview::Stop() {
    if (m_player != nullptr) {
        // The relay goes with the job: the player may report until released.
        m_releases.Post([vlc = m_vlc, player = m_player, relay = m_relay] {
            vlc.libvlc_media_player_stop(player);
            vlc.libvlc_media_player_release(player);
        });
        m_player = nullptr;
    }
    m_location.clear();
    m_meter.Reset();
}

bool VlcRuntimePreview::Close(std::chrono::milliseconds limit) {
    m_relay->Set(nullptr);
    ReleaseAll();
    m_closed = true;
    return m_releases.WaitUntilIdle(limit);
}

void VlcRuntimePreview::SetSnapshotHandler(std::function<void(const std::string& file)> handler) {
    if (!m_closed) {
        m_relay->Set(std::move(handler));
    }
}

std::optional<StreamStatsSample> VlcRuntimePreview::ReadStats() const {
    if (m_player == nullptr || m_vlc.libvlc_media_player_get_media == nullptr) {
        return std::nullopt;
    }
    libvlc_media_t* media = m_vlc.libvlc_media_player_get_media(m_player);
    if (media == nullptr) {
        return std::nullopt;
    }
    StreamStatsSample sample;
    VlcMediaStats stats{};
    const bool counted =
        m_vlc.libvlc_media_get_stats != nullptr && m_vlc.libvlc_media_get_stats(media, &stats) != 0;
    if (counted) {
        // The input's bytes, else the demuxer's.
        sample.readBytes = stats.readBytes > 0 ? stats.readBytes : stats.demuxReadBytes;
        sample.displayedPictures = stats.displayedPictures;
        sample.lostPictures = stats.lostPictures;
    }
    if (m_vlc.libvlc_media_tracks_get != nullptr && m_vlc.libvlc_media_tracks_release != nullptr) {
        VlcMediaTrackHead** tracks = nullptr;
        const unsigned count = m_vlc.libvlc_media_tracks_get(media, &tracks);
        for (unsigned i = 0; tracks != nullptr && i < count; ++i) {
            if (tracks[i] == nullptr || tracks[i]->type != kVlcVideoTrack) {
                continue;
            }
            const char* name =
                m_vlc.libvlc_media_get_codec_description != nullptr
                    ? m_vlc.libvlc_media_get_codec_description(kVlcVideoTrack, tracks[i]->codec)
                    : nullptr;
            sample.codec = name != nullptr ? name : "";
            if (sample.codec.empty()) {
                // The four characters of its code, as the library names it.
                for (int shift = 0; shift < 32; shift += 8) {
                    const char c = static_cast<char>((tracks[i]->codec >> shift) & 0xff);
                    sample.codec += c >= 0x20 && c < 0x7f ? c : '?';
                }
            }
            break;
        }
        if (tracks != nullptr) {
            m_vlc.libvlc_media_tracks_release(tracks, count);
        }
    }
    m_vlc.libvlc_media_release(media);
    unsigned width = 0;
    unsigned height = 0;
    if (m_vlc.libvlc_video_get_size != nullptr &&
        m_vlc.libvlc_video_get_size(m_player, 0, &width, &height) == 0) {
        sample.width = width;
        sample.height = height;
    }
    if (!counted && sample.codec.empty() && sample.width == 0) {
        return std::nullopt;
    }
    return sample;
}

void VlcRuntimePreview::Sample(std::chrono::nanoseconds at) {
    if (std::optional<StreamStatsSample> sample = ReadStats()) {
        sample->at = at;
        m_meter.Add(*sample);
    }
}

std::string VlcRuntimePreview::StreamInfoText() const {
    if (m_player == nullptr) {
        return NoPictureYetText("nothing plays in the preview; choose a camera and press Preview");
    }
    const std::string text = EscapeControls(m_location) + "\n";
    const StreamFacts facts = m_meter.Facts();
    if (facts.picture) {
        return text + FormatStreamFacts(facts);
    }
    return text + NoPictureYetText("waiting for the stream's first picture");
}

std::string VlcRuntimePreview::TakeSnapshot(const std::string& path) {
    if (m_player == nullptr || !m_meter.Facts().picture) {
        const std::string info = StreamInfoText();
        // The "No picture yet: ..." line alone.
        return info.substr(info.rfind('\n') + 1);
    }
    if (m_vlc.libvlc_video_take_snapshot == nullptr ||
        m_vlc.libvlc_video_take_snapshot(m_player, 0, path.c_str(), 0, 0) != 0) {
        return NoPictureYetText("the stream has no picture to keep at the moment");
    }
    return {};
}

}  // namespace qdipc
