#include "ui/qt/VlcPlatform.h"

#include <vlc/vlc.h>
#include <windows.h>

#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace qdipc {

bool PlatformHasEmbeddableWindows() {
    return QGuiApplication::platformName() == QLatin1String("windows");
}

void BindPlayerToWindow(libvlc_media_player_t* player, WId window) {
    libvlc_media_player_set_hwnd(player, reinterpret_cast<void*>(window));
}

std::vector<std::filesystem::path> VlcPluginDirectories() {
    std::vector<std::filesystem::path> folders;
    if (const wchar_t* fromEnvironment = _wgetenv(L"VLC_PLUGIN_PATH")) {
        std::wstring list(fromEnvironment);
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find(L';', start), list.size());
            if (end > start) {
                folders.emplace_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    // libvlc.dll looks in the "plugins" folder beside itself.
    HMODULE module = nullptr;
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&libvlc_new), &module)) {
        wchar_t file[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(module, file, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            folders.push_back(std::filesystem::path(file).parent_path() / L"plugins");
        }
    }
    return folders;
}

}  // namespace qdipc
