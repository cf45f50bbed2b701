#include "ui/qt/VlcPluginProbe.h"

#include <array>
#include <string>
#include <system_error>

#include "ui/qt/VlcPlatform.h"

namespace qdipc {

namespace {

bool FolderHolds(const std::filesystem::path& folder, const std::string& stem) {
    static constexpr std::array<const char*, 3> kExtensions = {".so", ".dll", ".dylib"};
    std::error_code error;
    for (const char* extension : kExtensions) {
        if (std::filesystem::is_regular_file(folder / (stem + extension), error)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool HasVlcPlugin(const std::vector<std::filesystem::path>& folders, std::string_view name) {
    const std::string stem = "lib" + std::string(name) + "_plugin";
    for (const std::filesystem::path& folder : folders) {
        if (FolderHolds(folder, stem)) {
            return true;
        }
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code kindError;
            if (it->is_directory(kindError) && FolderHolds(it->path(), stem)) {
                return true;
            }
        }
    }
    return false;
}

bool VlcHasOwnRtspClient() {
    return HasVlcPlugin(VlcPluginDirectories(), "live555");
}

}  // namespace qdipc
