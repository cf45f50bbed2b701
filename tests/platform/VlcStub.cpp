// A stand-in libvlc.dll for the loader's test under Wine: it exports the
// calls the preview makes and appends each call with its arguments, one a
// line, to the file named by QDIPC_VLC_STUB_LOG. libvlc_get_version returns
// QDIPC_VLC_STUB_VERSION, else "3.0.20 Vetinari". Only the C runtime is used,
// so the library needs no DLL of its own.

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

extern "C" {

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
    Record("libvlc_media_new_location %s %s", instance == &g_instance ? "instance" : "?", location);
    return &g_media;
}

__declspec(dllexport) void libvlc_media_add_option(void* media, const char* option) {
    Record("libvlc_media_add_option %s %s", media == &g_media ? "media" : "?", option);
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
    return 0;
}

__declspec(dllexport) void libvlc_media_player_stop(void* player) {
    Record("libvlc_media_player_stop %s", player == &g_player ? "player" : "?");
}

__declspec(dllexport) void* libvlc_media_player_event_manager(void* player) {
    Record("libvlc_media_player_event_manager %s", player == &g_player ? "player" : "?");
    return &g_events;
}

__declspec(dllexport) int libvlc_event_attach(void* manager, int type, void* callback, void* data) {
    Record("libvlc_event_attach %d", type);
    (void)manager;
    (void)callback;
    (void)data;
    return 0;
}

__declspec(dllexport) int libvlc_video_get_size(void* player, unsigned video, unsigned* width,
                                                unsigned* height) {
    (void)player;
    (void)video;
    *width = 0;
    *height = 0;
    return -1;
}

__declspec(dllexport) int libvlc_video_take_snapshot(void* player, unsigned video, const char* path,
                                                     unsigned width, unsigned height) {
    (void)player;
    (void)video;
    (void)path;
    (void)width;
    (void)height;
    return -1;
}

}  // extern "C"
