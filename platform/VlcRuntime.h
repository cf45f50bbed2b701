#pragma once
// libvlc for a program that does not link it (the Windows window): the
// library of an installed VLC 3 of the program's own bitness, loaded at run
// time, and the calls the preview makes, resolved by name. Where nothing fit,
// the result says why in the one line the preview pane shows.
//
// Windows (VlcRuntime_win.cpp): the install folder is read from
// HKLM\Software\VideoLAN\VLC "InstallDir", then HKCU, then
// %ProgramFiles%\VideoLAN\VLC is tried; libvlc.dll is loaded with its own
// folder searched for its dependencies (libvlccore.dll). Elsewhere
// (VlcRuntime_linux.cpp) the program links libvlc when it is built.
// Toolkit-free.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct libvlc_instance_t;
struct libvlc_media_t;
struct libvlc_media_player_t;
struct libvlc_event_manager_t;
struct libvlc_event_t;
struct libvlc_dialog_id;

namespace qdipc {

// libvlc 3's libvlc_media_stats_t, field for field.
struct VlcMediaStats {
    int readBytes;
    float inputBitrate;
    int demuxReadBytes;
    float demuxBitrate;
    int demuxCorrupted;
    int demuxDiscontinuity;
    int decodedVideo;
    int decodedAudio;
    int displayedPictures;
    int lostPictures;
    int playedAudioBuffers;
    int lostAudioBuffers;
    int sentPackets;
    int sentBytes;
    float sendBitrate;
};

// The leading fields of libvlc 3's libvlc_media_track_t, the only ones read.
struct VlcMediaTrackHead {
    std::uint32_t codec;
    std::uint32_t originalFourcc;
    int id;
    int type;  // 1: video (libvlc_track_video)
};

// libvlc 3's event numbers and the leading fields of libvlc_event_t.
inline constexpr int kVlcEndReachedEvent = 0x109;        // libvlc_MediaPlayerEndReached
inline constexpr int kVlcEncounteredErrorEvent = 0x10a;  // libvlc_MediaPlayerEncounteredError
inline constexpr int kVlcSnapshotTakenEvent = 0x110;     // libvlc_MediaPlayerSnapshotTaken
inline constexpr int kVlcVoutEvent = 0x112;              // libvlc_MediaPlayerVout
inline constexpr int kVlcVideoTrack = 1;
struct VlcEventHead {
    int type;
    void* object;
    union {
        const char* snapshotFile;  // u.media_player_snapshot_taken.psz_filename
        int voutCount;             // u.media_player_vout.new_count
    };
};

// libvlc 3's libvlc_dialog_cbs, field for field: how the library asks the
// program (a camera's login among others).
struct VlcDialogCallbacks {
    void (*displayError)(void* data, const char* title, const char* text);
    void (*displayLogin)(void* data, libvlc_dialog_id* id, const char* title, const char* text,
                         const char* defaultUser, bool askStore);
    void (*displayQuestion)(void* data, libvlc_dialog_id* id, const char* title, const char* text,
                            int type, const char* cancel, const char* action1, const char* action2);
    void (*displayProgress)(void* data, libvlc_dialog_id* id, const char* title, const char* text,
                            bool indeterminate, float position, const char* cancel);
    void (*cancel)(void* data, libvlc_dialog_id* id);
    void (*updateProgress)(void* data, libvlc_dialog_id* id, float position, const char* text);
};

// The libvlc 3 calls the preview makes, each named as the library exports it.
struct VlcFunctions {
    libvlc_instance_t* (*libvlc_new)(int argc, const char* const* argv) = nullptr;
    void (*libvlc_release)(libvlc_instance_t* instance) = nullptr;
    const char* (*libvlc_get_version)() = nullptr;
    libvlc_media_t* (*libvlc_media_new_location)(libvlc_instance_t* instance,
                                                 const char* location) = nullptr;
    void (*libvlc_media_add_option)(libvlc_media_t* media, const char* option) = nullptr;
    void (*libvlc_media_release)(libvlc_media_t* media) = nullptr;
    libvlc_media_player_t* (*libvlc_media_player_new_from_media)(libvlc_media_t* media) = nullptr;
    void (*libvlc_media_player_release)(libvlc_media_player_t* player) = nullptr;
    void (*libvlc_media_player_set_hwnd)(libvlc_media_player_t* player, void* window) = nullptr;
    int (*libvlc_media_player_play)(libvlc_media_player_t* player) = nullptr;
    void (*libvlc_media_player_stop)(libvlc_media_player_t* player) = nullptr;
    libvlc_event_manager_t* (*libvlc_media_player_event_manager)(libvlc_media_player_t* player) =
        nullptr;
    int (*libvlc_event_attach)(libvlc_event_manager_t* manager, int type,
                               void (*callback)(const libvlc_event_t* event, void* data),
                               void* data) = nullptr;
    void (*libvlc_event_detach)(libvlc_event_manager_t* manager, int type,
                                void (*callback)(const libvlc_event_t* event, void* data),
                                void* data) = nullptr;
    // The library's questions (a camera's login) and their answers.
    void (*libvlc_dialog_set_callbacks)(libvlc_instance_t* instance,
                                        const VlcDialogCallbacks* callbacks, void* data) = nullptr;
    int (*libvlc_dialog_dismiss)(libvlc_dialog_id* id) = nullptr;
    int (*libvlc_video_get_size)(libvlc_media_player_t* player, unsigned video, unsigned* width,
                                 unsigned* height) = nullptr;
    int (*libvlc_video_take_snapshot)(libvlc_media_player_t* player, unsigned video,
                                      const char* path, unsigned width, unsigned height) = nullptr;
    // For Stream Info: the player's media (a new reference), its counters,
    // its tracks and a codec's name.
    libvlc_media_t* (*libvlc_media_player_get_media)(libvlc_media_player_t* player) = nullptr;
    int (*libvlc_media_get_stats)(libvlc_media_t* media, VlcMediaStats* stats) = nullptr;
    unsigned (*libvlc_media_tracks_get)(libvlc_media_t* media,
                                        VlcMediaTrackHead*** tracks) = nullptr;
    void (*libvlc_media_tracks_release)(VlcMediaTrackHead** tracks, unsigned count) = nullptr;
    const char* (*libvlc_media_get_codec_description)(int type, std::uint32_t codec) = nullptr;
};

struct VlcRuntime {
    enum class State {
        Loaded,        // functions holds every call
        Linked,        // the program links libvlc itself (not Windows)
        Missing,       // no VLC installed where it is looked for
        WrongVersion,  // a libvlc that is not VLC 3 (version says which)
        WrongBitness,  // only a VLC of the other bitness is installed
        Unloadable     // libvlc.dll is there but did not load (systemError)
    };
    State state = State::Missing;
    // The library's version number as it reports it ("3.0.20"), when read.
    std::string version;
    std::filesystem::path folder;  // where libvlc was found
    unsigned long systemError = 0;
    VlcFunctions functions;  // complete when Loaded
};

// Finds and loads libvlc (see above). The library stays loaded for the rest
// of the process: its threads may outlive any one player.
VlcRuntime LoadVlcRuntime();

// Why the preview shows no picture with this runtime, as the pane's line:
// "No picture: VLC 3 (64-bit) is not installed"; empty when Loaded or Linked.
std::string VlcRuntimeReason(const VlcRuntime& runtime);

// "64-bit" or "32-bit": this program's, which the library must share.
std::string_view ProgramBitness();

// True for a libvlc_get_version() text of VLC 3 ("3.0.20 Vetinari").
bool IsVlc3Version(std::string_view version);

// The version number at the start of a libvlc_get_version() text: its
// letters, digits, '.', '-' and '+', at most 32 ("3.0.20" of "3.0.20
// Vetinari"), so that no other text of the library reaches a window.
std::string VlcVersionNumber(std::string_view version);

// The machine a Windows program or library is built for (the PE header's
// Machine field: 0x8664 x64, 0x14c x86, 0xaa64 ARM64), read from the first
// bytes of its file; nothing when they are no complete PE header.
std::optional<std::uint16_t> PeMachine(std::span<const unsigned char> head);

// The machine this program is built for, as PeMachine gives it.
std::uint16_t ProgramMachine();

}  // namespace qdipc
