#include "ui/qt/VlcPlatform.h"

#include <dlfcn.h>
#include <vlc/vlc.h>

#include <QGuiApplication>
#include <cstdlib>
#include <sstream>
#include <string>

namespace qdipc {

bool PlatformHasEmbeddableWindows() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void BindPlayerToWindow(libvlc_media_player_t* player, WId window) {
    libvlc_media_player_set_xwindow(player, static_cast<std::uint32_t>(window));
}

std::vector<std::filesystem::path> VlcPluginDirectories() {
    std::vector<std::filesystem::path> folders;
    if (const char* fromEnvironment = std::getenv("VLC_PLUGIN_PATH")) {
        std::istringstream list{std::string(fromEnvironment)};
        std::string folder;
        while (std::getline(list, folder, ':')) {
            if (!folder.empty()) {
                folders.emplace_back(folder);
            }
        }
    }
    // libvlccore looks in <its own folder>/vlc/plugins; libvlc and libvlccore
    // are installed side by side.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libvlc_new), &info) != 0 && info.dli_fname) {
        folders.push_back(std::filesystem::path(info.dli_fname).parent_path() / "vlc" / "plugins");
    }
    return folders;
}

}  // namespace qdipc
