// A stand-in libvlc.dll for the loader's test under Wine: it exports the
// calls the preview makes and appends each call with its arguments, one a
// line, to the file named by QDIPC_VLC_STUB_LOG. libvlc_get_version returns
// QDIPC_VLC_STUB_VERSION, else "3.0.20 Vetinari". The stream it "plays" is
// H.264 at 1280 × 720 whose counters grow by 25 pictures, 3 of them lost,
// and 100,000 bytes a reading; a snapshot is answered at once with the
// snapshot event naming the path. QDIPC_VLC_STUB_STOP_MS makes the stop of
// a player take that long. A player that plays tells, from a thread of its
// own that its stop waits for, what QDIPC_VLC_STUB_STREAM says: "picture"
// (the default: a video output), "error", "end", or "login": a camera that
// asks for a login through the dialog callbacks unless the media has
// ":rtsp-user=" and ":rtsp-pwd=" options, then fails the stream once the
// question is dismissed, and shows a picture with them. Only the C runtime
// is used, so the library needs no DLL of its own.

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Record(const char* format, ...) {
    const char* log = std::getenv("QDIPC_VLC_STUB_LOG");
    if (log == nullptr) {
        return;
    }
    FILE* file = std::fopen(log, "a");
    if (file == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file, format, arguments);
    va_end(arguments);
    std::fputc('\n', file);
    std::fclose(file);
}

// Distinct handles, so that the log shows which object each call got.
int g_instance, g_media, g_player, g_events;

// The player's event handlers, as attached (by event type - 0x100), and
// the dialog callbacks; the lock keeps a detach from racing an event.
using Callback = void (*)(const void* event, void* data);
CRITICAL_SECTION g_lock;
Callback g_callbacks[0x20] = {};
void* g_callbackData[0x20] = {};
struct DialogCallbacks {
    void (*displayError)(void*, const char*, const char*);
    void (*displayLogin)(void*, void*, const char*, const char*, const char*, bool);
    void* displayQuestion;
    void* displayProgress;
    void (*cancel)(void*, void*);
    void* updateProgress;
};
DialogCallbacks g_dialogs{};
void* g_dialogData = nullptr;
int g_dialog;                             // the login question's id
HANDLE g_dismissed = nullptr;             // set when the question is dismissed
HANDLE g_stream = nullptr;                // the playing player's thread
bool g_user = false, g_password = false;  // the media's login options

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
};

// libvlc 3's layouts of what the stub hands out.
struct Stats {
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
    int rest[4];
    float sendBitrate;
};
struct Track {
    unsigned codec;
    unsigned originalFourcc;
    int id;
    int type;
    int profile;
    int level;
    void* video;
    unsigned bitrate;
    char* language;
    char* description;
};
struct Event {
    int type;
    void* object;
    const char* file;
};

void Fire(int type, const char* file = nullptr) {
    const Lock lock;
    if (Callback callback = g_callbacks[type - 0x100]) {
        Event event{type, &g_player, file};
        if (type == 0x112) {
            event.file = nullptr;
            *reinterpret_cast<int*>(&event.file) = 1;  // u.media_player_vout.new_count
        }
        callback(&event, g_callbackData[type - 0x100]);
    }
}

DWORD WINAPI Stream(void*) {
    Sleep(50);
    const char* what = std::getenv("QDIPC_VLC_STUB_STREAM");
    const std::string stream = what != nullptr ? what : "picture";
    if (stream == "login" && !(g_user && g_password)) {
        {
            const Lock lock;
            if (g_dialogs.displayLogin != nullptr) {
                ResetEvent(g_dismissed);
                g_dialogs.displayLogin(g_dialogData, &g_dialog, "Authentication",
                                       "rtsp://camera asks", "", false);
            }
        }
        // The RTSP client waits for the answer, then gives up on the stream.
        WaitForSingleObject(g_dismissed, 5000);
        Fire(0x10a);
    } else if (stream == "error") {
        Fire(0x10a);
    } else if (stream == "end") {
        Fire(0x112);
        Fire(0x109);
    } else {
        Fire(0x112);
    }
    return 0;
}
int g_readings = 0;
Track g_track{0x34363268 /* "h264" */, 0, 0, 1, 0, 0, nullptr, 0, nullptr, nullptr};
Track* g_tracks[] = {&g_track};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        g_dismissed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    return TRUE;
}

__declspec(dllexport) const char* libvlc_get_version() {
    const char* version = std::getenv("QDIPC_VLC_STUB_VERSION");
    Record("libvlc_get_version");
    return version != nullptr ? version : "3.0.20 Vetinari";
}

__declspec(dllexport) void* libvlc_new(int argc, const char* const* argv) {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("libvlc.dll"), module, MAX_PATH);
    Record("libvlc_new from %s", module);
    for (int i = 0; i < argc; ++i) {
        Record("libvlc_new argument %s", argv[i]);
    }
    return &g_instance;
}

__declspec(dllexport) void libvlc_release(void* instance) {
    Record("libvlc_release %s", instance == &g_instance ? "instance" : "?");
}

__declspec(dllexport) void* libvlc_media_new_location(void* instance, const char* location) {
    g_user = g_password = false;
    Record("libvlc_media_new_location %s %s", instance == &g_instance ? "instance" : "?", location);
    return &g_media;
}

__declspec(dllexport) void libvlc_media_add_option(void* media, const char* option) {
    Record("libvlc_media_add_option %s %s", media == &g_media ? "media" : "?", option);
    g_user = g_user || std::strncmp(option, ":rtsp-user=", 11) == 0;
    g_password = g_password || std::strncmp(option, ":rtsp-pwd=", 10) == 0;
}

__declspec(dllexport) void libvlc_media_release(void* media) {
    Record("libvlc_media_release %s", media == &g_media ? "media" : "?");
}

__declspec(dllexport) void* libvlc_media_player_new_from_media(void* media) {
    Record("libvlc_media_player_new_from_media %s", media == &g_media ? "media" : "?");
    return &g_player;
}

__declspec(dllexport) void libvlc_media_player_release(void* player) {
    Record("libvlc_media_player_release %s", player == &g_player ? "player" : "?");
}

__declspec(dllexport) void libvlc_media_player_set_hwnd(void* player, void* window) {
    Record("libvlc_media_player_set_hwnd %s %p", player == &g_player ? "player" : "?", window);
}

__declspec(dllexport) int libvlc_media_player_play(void* player) {
    Record("libvlc_media_player_play %s", player == &g_player ? "player" : "?");
    g_stream = CreateThread(nullptr, 0, &Stream, nullptr, 0, nullptr);
    return 0;
}

__declspec(dllexport) void libvlc_media_player_stop(void* player) {
    Record("libvlc_media_player_stop %s", player == &g_player ? "player" : "?");
    // A silent camera: libvlc's stop waits for the stream's threads.
    if (const char* wait = std::getenv("QDIPC_VLC_STUB_STOP_MS")) {
        Sleep(static_cast<DWORD>(std::atoi(wait)));
    }
    // The stream's thread ends with the stop; a question it waits on is
    // withdrawn.
    if (g_stream != nullptr) {
        {
            const Lock lock;
            if (g_dialogs.cancel != nullptr &&
                WaitForSingleObject(g_dismissed, 0) != WAIT_OBJECT_0) {
                g_dialogs.cancel(g_dialogData, &g_dialog);
            }
        }
        SetEvent(g_dismissed);
        WaitForSingleObject(g_stream, INFINITE);
        CloseHandle(g_stream);
        g_stream = nullptr;
    }
}

__declspec(dllexport) void* libvlc_media_player_event_manager(void* player) {
    Record("libvlc_media_player_event_manager %s", player == &g_player ? "player" : "?");
    return &g_events;
}

__declspec(dllexport) int libvlc_event_attach(void* manager, int type, Callback callback,
                                              void* data) {
    Record("libvlc_event_attach %s %d", manager == &g_events ? "events" : "?", type);
    if (type >= 0x100 && type < 0x120) {
        const Lock lock;
        g_callbacks[type - 0x100] = callback;
        g_callbackData[type - 0x100] = data;
    }
    return 0;
}

__declspec(dllexport) void libvlc_event_detach(void* manager, int type, Callback callback,
                                               void* data) {
    Record("libvlc_event_detach %s %d", manager == &g_events ? "events" : "?", type);
    if (type >= 0x100 && type < 0x120) {
        const Lock lock;
        if (g_callbacks[type - 0x100] == callback && g_callbackData[type - 0x100] == data) {
            g_callbacks[type - 0x100] = nullptr;
        }
    }
}

__declspec(dllexport) void libvlc_dialog_set_callbacks(void* instance,
                                                       const DialogCallbacks* callbacks,
                                                       void* data) {
    Record("libvlc_dialog_set_callbacks %s %s", instance == &g_instance ? "instance" : "?",
           callbacks != nullptr ? "set" : "none");
    const Lock lock;
    g_dialogs = callbacks != nullptr ? *callbacks : DialogCallbacks{};
    g_dialogData = data;
}

__declspec(dllexport) int libvlc_dialog_dismiss(void* id) {
    Record("libvlc_dialog_dismiss %s", id == &g_dialog ? "login" : "?");
    SetEvent(g_dismissed);
    return 0;
}

__declspec(dllexport) int libvlc_video_get_size(void* player, unsigned video, unsigned* width,
                                                unsigned* height) {
    (void)video;
    *width = player == &g_player ? 1280 : 0;
    *height = player == &g_player ? 720 : 0;
    return player == &g_player ? 0 : -1;
}

__declspec(dllexport) int libvlc_video_take_snapshot(void* player, unsigned video, const char* path,
                                                     unsigned width, unsigned height) {
    Record("libvlc_video_take_snapshot %s %u %s %u %u", player == &g_player ? "player" : "?", video,
           path, width, height);
    Fire(0x110, path);
    return 0;
}

__declspec(dllexport) void* libvlc_media_player_get_media(void* player) {
    return player == &g_player ? &g_media : nullptr;
}

__declspec(dllexport) int libvlc_media_get_stats(void* media, Stats* stats) {
    if (media != &g_media) {
        return 0;
    }
    ++g_readings;
    *stats = Stats{};
    stats->readBytes = 100000 * g_readings;
    stats->displayedPictures = 25 * g_readings;
    stats->lostPictures = 3 * g_readings;
    return 1;
}

__declspec(dllexport) unsigned libvlc_media_tracks_get(void* media, Track*** tracks) {
    *tracks = media == &g_media ? g_tracks : nullptr;
    return media == &g_media ? 1 : 0;
}

__declspec(dllexport) void libvlc_media_tracks_release(Track** tracks, unsigned count) {
    (void)tracks;
    (void)count;
}

__declspec(dllexport) const char* libvlc_media_get_codec_description(int type, unsigned codec) {
    return type == 1 && codec == 0x34363268 ? "H264 - MPEG-4 AVC (part 10)" : nullptr;
}

}  // extern "C"
