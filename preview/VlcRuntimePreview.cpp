#include "preview/VlcRuntimePreview.h"

#include <vector>

#include "discovery/DeviceCodecs.h"
#include "preview/StreamFacts.h"

namespace qdipc {

VlcRuntimePreview::VlcRuntimePreview(const VlcFunctions& functions) : m_vlc(functions) {
    const std::vector<std::string> arguments = PreviewInstanceArguments();
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    m_instance = m_vlc.libvlc_new(static_cast<int>(argv.size()), argv.data());
}

VlcRuntimePreview::~VlcRuntimePreview() {
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
    if (m_instance == nullptr || m_closed) {
        return "No picture: VLC could not be started";
    }
    libvlc_media_t* media =
        m_vlc.libvlc_media_new_location(m_instance, PreviewLocationFor(ip).c_str());
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
    m_vlc.libvlc_media_player_set_hwnd(m_player, window);
    if (m_vlc.libvlc_media_player_play(m_player) != 0) {
        Stop();
        return "No picture: VLC could not be started";
    }
    return {};
}

void VlcRuntimePreview::Stop() {
    if (m_player != nullptr) {
        m_releases.Post([vlc = m_vlc, player = m_player] {
            vlc.libvlc_media_player_stop(player);
            vlc.libvlc_media_player_release(player);
        });
        m_player = nullptr;
    }
}

bool VlcRuntimePreview::Close(std::chrono::milliseconds limit) {
    ReleaseAll();
    m_closed = true;
    return m_releases.WaitUntilIdle(limit);
}

}  // namespace qdipc
