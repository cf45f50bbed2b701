#include "preview/VlcRuntimePreview.h"

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"

namespace qdipc {

namespace {

// The events each player is watched for.
constexpr int kPlayerEvents[] = {kVlcVoutEvent, kVlcEncounteredErrorEvent, kVlcEndReachedEvent,
                                 kVlcSnapshotTakenEvent};

// "HOST" of "rtsp://HOST[:PORT]/...", for the pane's line.
std::string HostOfLocation(const std::string& location) {
    const std::size_t start = location.find("://");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = location.find_first_of(":/", start + 3);
    return location.substr(start + 3, end == std::string::npos ? end : end - start - 3);
}

}  // namespace

// Where libvlc's callbacks find the window's handlers: held by the preview
// and by each release job, cleared when the preview closes.
struct VlcRuntimePreview::Relay {
    std::mutex mutex;
    std::function<void(const std::string&)> snapshotHandler;
    EventSink sink;
    ReachProbe reach = [](std::uint32_t address, std::uint16_t port) {
        return TryTcpConnect(address, port, kFailureProbeWait);
    };
    unsigned current = 0;     // the number of the player playing
    unsigned askedLogin = 0;  // the number of the last player that asked for a login
    // libvlc's login questions not yet answered: each is dismissed once.
    std::vector<libvlc_dialog_id*> logins;

    void Notify(unsigned player, StreamEvent event) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (sink) {
            sink(player, event);
        }
    }
    std::vector<libvlc_dialog_id*> TakeLogins() {
        const std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(logins, {});
    }
    static void Dismiss(const VlcFunctions& vlc, const std::vector<libvlc_dialog_id*>& ids) {
        for (libvlc_dialog_id* id : ids) {
            vlc.libvlc_dialog_dismiss(id);
        }
    }

    // libvlc's questions, on its threads. Errors are the events' business;
    // a login question waits for the window's thread (TakeEvent).
    static void OnError(void*, const char*, const char*) {}
    static void OnLogin(void* data, libvlc_dialog_id* id, const char*, const char*, const char*,
                        bool) {
        auto* relay = static_cast<Relay*>(data);
        unsigned player = 0;
        {
            const std::lock_guard<std::mutex> lock(relay->mutex);
            relay->logins.push_back(id);
            player = relay->current;
            relay->askedLogin = player;
        }
        relay->Notify(player, StreamEvent::Unauthorized);
    }
    // A question libvlc withdrew stays listed until it is dismissed.
    static void OnCancel(void*, libvlc_dialog_id*) {}
    static constexpr VlcDialogCallbacks kCallbacks{&OnError, &OnLogin,  nullptr,
                                                   nullptr,  &OnCancel, nullptr};
};

// What a player's event callbacks are given: freed after it is released.
struct VlcRuntimePreview::PlayerEvents {
    std::shared_ptr<Relay> relay;
    unsigned number = 0;
    std::uint32_t address = 0;  // the camera's, host order; 0: not known

    // Why the stream failed, asked of the camera's RTSP port on a thread of
    // its own (libvlc's event thread does not wait for it).
    void TellFailure() const {
        ReachProbe reach;
        {
            const std::lock_guard<std::mutex> lock(relay->mutex);
            if (relay->current != number) {
                return;  // a player replaced since: nobody is asked
            }
            // A camera that asked for a login answered: the login is why.
            if (relay->askedLogin != number) {
                reach = relay->reach;
            }
        }
        if (!reach || address == 0) {
            relay->Notify(number, StreamEvent::NoStream);
            return;
        }
        std::thread([relay = relay, number = number, address = address, reach] {
            switch (reach(address, 554)) {
                case TcpReach::Refused:
                    relay->Notify(number, StreamEvent::Refused);
                    break;
                case TcpReach::NoAnswer:
                    relay->Notify(number, StreamEvent::NoAnswer);
                    break;
                case TcpReach::Connected:
                    relay->Notify(number, StreamEvent::NoStream);
                    break;
            }
        }).detach();
    }

    static void OnEvent(const libvlc_event_t* event, void* data) {
        const auto* head = reinterpret_cast<const VlcEventHead*>(event);
        auto* self = static_cast<PlayerEvents*>(data);
        if (head == nullptr || self == nullptr) {
            return;
        }
        switch (head->type) {
            case kVlcSnapshotTakenEvent: {
                const std::lock_guard<std::mutex> lock(self->relay->mutex);
                if (self->relay->snapshotHandler) {
                    self->relay->snapshotHandler(head->snapshotFile != nullptr ? head->snapshotFile
                                                                               : "");
                }
                break;
            }
            case kVlcVoutEvent:
                if (head->voutCount > 0) {
                    self->relay->Notify(self->number, StreamEvent::Picture);
                }
                break;
            case kVlcEncounteredErrorEvent:
                self->TellFailure();
                break;
            case kVlcEndReachedEvent:
                self->relay->Notify(self->number, StreamEvent::Stopped);
                break;
            default:
                break;
        }
    }
};

VlcRuntimePreview::VlcRuntimePreview(const VlcFunctions& functions)
    : m_vlc(functions), m_relay(std::make_shared<Relay>()) {
    const std::vector<std::string> arguments = PreviewInstanceArguments();
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    m_instance = m_vlc.libvlc_new(static_cast<int>(argv.size()), argv.data());
    if (m_instance != nullptr && m_vlc.libvlc_dialog_set_callbacks != nullptr &&
        m_vlc.libvlc_dialog_dismiss != nullptr) {
        m_vlc.libvlc_dialog_set_callbacks(m_instance, &Relay::kCallbacks, m_relay.get());
    }
}

VlcRuntimePreview::~VlcRuntimePreview() {
    SetEventSink(nullptr);
    SetSnapshotHandler(nullptr);
    ReleaseAll();
}

void VlcRuntimePreview::ReleaseAll() {
    Stop();
    if (m_instance != nullptr) {
        // After the players: the queue runs its jobs in order. A question
        // asked meanwhile is dismissed; none comes after the callbacks go.
        m_releases.Post([vlc = m_vlc, instance = m_instance, relay = m_relay] {
            if (vlc.libvlc_dialog_set_callbacks != nullptr) {
                Relay::Dismiss(vlc, relay->TakeLogins());
                vlc.libvlc_dialog_set_callbacks(instance, nullptr, nullptr);
                Relay::Dismiss(vlc, relay->TakeLogins());
            }
            vlc.libvlc_release(instance);
        });
        m_instance = nullptr;
    }
}

void VlcRuntimePreview::SetEventSink(EventSink sink) {
    const std::lock_guard<std::mutex> lock(m_relay->mutex);
    m_relay->sink = m_closed ? nullptr : std::move(sink);
}

void VlcRuntimePreview::SetReachProbe(ReachProbe probe) {
    const std::lock_guard<std::mutex> lock(m_relay->mutex);
    m_relay->reach = std::move(probe);
}

std::optional<std::string> VlcRuntimePreview::TakeEvent(unsigned player, StreamEvent event) {
    if (event == StreamEvent::Unauthorized && m_vlc.libvlc_dialog_dismiss != nullptr) {
        // The window asks for the login and plays again with it: the
        // library's question is not answered with it.
        Relay::Dismiss(m_vlc, m_relay->TakeLogins());
    }
    if (m_player == nullptr || player != m_number) {
        return std::nullopt;
    }
    // A camera that asked for a login then fails the stream: the login
    // stays the reason.
    if (m_lastEvent == StreamEvent::Unauthorized &&
        (event == StreamEvent::NoStream || event == StreamEvent::Refused ||
         event == StreamEvent::NoAnswer)) {
        return std::nullopt;
    }
    m_lastEvent = event;
    m_reason = NoPictureReason(event, HostOfLocation(m_location), 554);
    return m_reason;
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

std::string VlcRuntimePreview::PlayLocation(const std::string& location, void* window,
                                            const std::string* user, const std::string* password) {
    Stop();
    if (m_instance == nullptr || m_closed) {
        return "No picture: VLC could not be started";
    }
    libvlc_media_t* media = m_vlc.libvlc_media_new_location(m_instance, location.c_str());
    if (media == nullptr) {
        return "No picture: VLC could not be started";
    }
    m_vlc.libvlc_media_add_option(media, PreviewCachingOption().c_str());
    if (user != nullptr && password != nullptr) {
        // libvlc's RTSP client takes them as options of the media.
        m_vlc.libvlc_media_add_option(media, (":rtsp-user=" + *user).c_str());
        m_vlc.libvlc_media_add_option(media, (":rtsp-pwd=" + *password).c_str());
    }
    m_player = m_vlc.libvlc_media_player_new_from_media(media);
    // The player holds its own reference to the media.
    m_vlc.libvlc_media_release(media);
    if (m_player == nullptr) {
        return "No picture: VLC could not be started";
    }
    m_location = location;
    m_number += 1;
    {
        const std::lock_guard<std::mutex> lock(m_relay->mutex);
        m_relay->current = m_number;
    }
    if (m_vlc.libvlc_media_player_event_manager != nullptr &&
        m_vlc.libvlc_event_attach != nullptr) {
        if (libvlc_event_manager_t* events = m_vlc.libvlc_media_player_event_manager(m_player)) {
            const std::optional<std::uint32_t> address = ParseIpv4Strict(HostOfLocation(location));
            m_events = std::make_shared<PlayerEvents>(
                PlayerEvents{m_relay, m_number, address.value_or(0)});
            for (const int type : kPlayerEvents) {
                m_vlc.libvlc_event_attach(events, type, &PlayerEvents::OnEvent, m_events.get());
            }
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
        // A login question of this player would hold its stop.
        if (m_vlc.libvlc_dialog_dismiss != nullptr) {
            Relay::Dismiss(m_vlc, m_relay->TakeLogins());
        }
        {
            const std::lock_guard<std::mutex> lock(m_relay->mutex);
            m_relay->current = 0;
        }
        // The callbacks' data goes with the job: the player may report until
        // its events are detached, which is done before it is released.
        m_releases.Post([vlc = m_vlc, player = m_player, events = std::move(m_events)] {
            vlc.libvlc_media_player_stop(player);
            if (events && vlc.libvlc_event_detach != nullptr) {
                if (libvlc_event_manager_t* manager =
                        vlc.libvlc_media_player_event_manager(player)) {
                    for (const int type : kPlayerEvents) {
                        vlc.libvlc_event_detach(manager, type, &PlayerEvents::OnEvent,
                                                events.get());
                    }
                }
            }
            vlc.libvlc_media_player_release(player);
        });
        m_player = nullptr;
        m_events.reset();
    }
    m_location.clear();
    m_reason.clear();
    m_lastEvent.reset();
    m_meter.Reset();
}

bool VlcRuntimePreview::Close(std::chrono::milliseconds limit) {
    SetEventSink(nullptr);
    SetSnapshotHandler(nullptr);
    ReleaseAll();
    m_closed = true;
    return m_releases.WaitUntilIdle(limit);
}

void VlcRuntimePreview::SetSnapshotHandler(std::function<void(const std::string& file)> handler) {
    const std::lock_guard<std::mutex> lock(m_relay->mutex);
    m_relay->snapshotHandler = m_closed ? nullptr : std::move(handler);
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
    // A picture shown, as the last event tells, else as the counters do.
    if (m_lastEvent ? *m_lastEvent == StreamEvent::Picture : facts.picture) {
        return text + FormatStreamFacts(facts);
    }
    // Why: the pane's own line without its "No picture: ", or the wait.
    std::string why = m_reason;
    if (why.starts_with("No picture: ")) {
        why.erase(0, 12);
    } else if (why.empty()) {
        why = "waiting for the stream's first picture";
    } else if (why[0] >= 'A' && why[0] <= 'Z') {
        why[0] = static_cast<char>(why[0] - 'A' + 'a');
    }
    return text + NoPictureYetText(EscapeControls(why));
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
