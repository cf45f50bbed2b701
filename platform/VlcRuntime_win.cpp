// Windows: libvlc.dll of the installed VLC, found through the registry and
// Program Files, loaded with its own folder searched for its dependencies.

#include <windows.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/VlcRuntime.h"

namespace qdipc {
namespace {

// The InstallDir value of Software\VideoLAN\VLC under root, in the registry
// view given (0: the program's own; KEY_WOW64_32KEY: the 32-bit programs').
std::optional<std::filesystem::path> InstallDirFromRegistry(HKEY root, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, L"Software\\VideoLAN\\VLC", 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::array<wchar_t, 1024> folder{};
    DWORD bytes = sizeof(wchar_t) * (folder.size() - 1);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key, L"InstallDir", nullptr, &type,
                                            reinterpret_cast<BYTE*>(folder.data()), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || folder[0] == 0) {
        return std::nullopt;
    }
    return std::filesystem::path(folder.data());
}

std::optional<std::filesystem::path> UnderEnvironmentFolder(const wchar_t* variable) {
    const wchar_t* value = _wgetenv(variable);
    if (value == nullptr || value[0] == 0) {
        return std::nullopt;
    }
    return std::filesystem::path(value) / L"VideoLAN" / L"VLC";
}

// The Machine of folder\libvlc.dll; nothing when there is no such file or it
// is no Windows library.
std::optional<std::uint16_t> LibraryMachine(const std::filesystem::path& folder) {
    std::ifstream file(folder / L"libvlc.dll", std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<unsigned char> head(4096);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    return PeMachine(head);
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

bool ResolveAll(HMODULE module, VlcFunctions& f) {
    bool all = true;
    all &= Resolve(module, "libvlc_new", f.libvlc_new);
    all &= Resolve(module, "libvlc_release", f.libvlc_release);
    all &= Resolve(module, "libvlc_get_version", f.libvlc_get_version);
    all &= Resolve(module, "libvlc_media_new_location", f.libvlc_media_new_location);
    all &= Resolve(module, "libvlc_media_add_option", f.libvlc_media_add_option);
    all &= Resolve(module, "libvlc_media_release", f.libvlc_media_release);
    all &=
        Resolve(module, "libvlc_media_player_new_from_media", f.libvlc_media_player_new_from_media);
    all &= Resolve(module, "libvlc_media_player_release", f.libvlc_media_player_release);
    all &= Resolve(module, "libvlc_media_player_set_hwnd", f.libvlc_media_player_set_hwnd);
    all &= Resolve(module, "libvlc_media_player_play", f.libvlc_media_player_play);
    all &= Resolve(module, "libvlc_media_player_stop", f.libvlc_media_player_stop);
    all &=
        Resolve(module, "libvlc_media_player_event_manager", f.libvlc_media_player_event_manager);
    all &= Resolve(module, "libvlc_event_attach", f.libvlc_event_attach);
    all &= Resolve(module, "libvlc_event_detach", f.libvlc_event_detach);
    all &= Resolve(module, "libvlc_dialog_set_callbacks", f.libvlc_dialog_set_callbacks);
    all &= Resolve(module, "libvlc_dialog_dismiss", f.libvlc_dialog_dismiss);
    all &= Resolve(module, "libvlc_video_get_size", f.libvlc_video_get_size);
    all &= Resolve(module, "libvlc_video_take_snapshot", f.libvlc_video_take_snapshot);
    all &= Resolve(module, "libvlc_media_player_get_media", f.libvlc_media_player_get_media);
    all &= Resolve(module, "libvlc_media_get_stats", f.libvlc_media_get_stats);
    all &= Resolve(module, "libvlc_media_tracks_get", f.libvlc_media_tracks_get);
    all &= Resolve(module, "libvlc_media_tracks_release", f.libvlc_media_tracks_release);
    all &=
        Resolve(module, "libvlc_media_get_codec_description", f.libvlc_media_get_codec_description);
    return all;
}

VlcRuntime LoadFrom(const std::filesystem::path& folder) {
    VlcRuntime runtime;
    runtime.folder = folder;
    // An absolute path with LOAD_WITH_ALTERED_SEARCH_PATH: libvlccore.dll and
    // the other dependencies are looked for in VLC's folder first.
    const std::filesystem::path library = folder / L"libvlc.dll";
    HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        // Its bitness was checked: a damaged file, or a dependency missing.
        runtime.systemError = GetLastError();
        runtime.state = VlcRuntime::State::Unloadable;
        return runtime;
    }
    VlcFunctions functions;
    const bool complete = ResolveAll(module, functions);
    if (functions.libvlc_get_version != nullptr) {
        const char* version = functions.libvlc_get_version();
        runtime.version = version != nullptr ? version : "";
    }
    // A library without one of VLC 3's calls is no VLC 3, whatever it says.
    if (!complete || !IsVlc3Version(runtime.version)) {
        runtime.state = VlcRuntime::State::WrongVersion;
        FreeLibrary(module);
        return runtime;
    }
    runtime.state = VlcRuntime::State::Loaded;
    runtime.functions = functions;
    return runtime;
}

}  // namespace

VlcRuntime LoadVlcRuntime() {
    // Where an installed VLC of this program's bitness says it is, in order.
    const std::array<std::optional<std::filesystem::path>, 3> folders = {
        InstallDirFromRegistry(HKEY_LOCAL_MACHINE, 0),
        InstallDirFromRegistry(HKEY_CURRENT_USER, 0),
        UnderEnvironmentFolder(L"ProgramFiles"),
    };
    bool otherBitness = false;
    for (const auto& folder : folders) {
        if (!folder) {
            continue;
        }
        const std::optional<std::uint16_t> machine = LibraryMachine(*folder);
        if (!machine) {
            continue;
        }
        if (*machine != ProgramMachine()) {
            otherBitness = true;
            continue;
        }
        return LoadFrom(*folder);
    }
    // A 32-bit VLC on 64-bit Windows registers in the 32-bit registry view
    // and lies under %ProgramFiles(x86)%: say that it is the wrong one.
    if (sizeof(void*) == 8) {
        for (const auto& folder : {InstallDirFromRegistry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY),
                                   UnderEnvironmentFolder(L"ProgramFiles(x86)")}) {
            if (folder && LibraryMachine(*folder)) {
                otherBitness = true;
            }
        }
    }
    VlcRuntime runtime;
    runtime.state = otherBitness ? VlcRuntime::State::WrongBitness : VlcRuntime::State::Missing;
    return runtime;
}

}  // namespace qdipc
