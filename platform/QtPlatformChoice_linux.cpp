#include "platform/QtPlatformChoice.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace qdipc {

namespace {

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

QtPlatformChoice ChooseQtPlatform(const EnvironmentLookup& environment) {
    const char* chosen = environment("QT_QPA_PLATFORM");
    if (IsSet(chosen)) {
        // The user's choice stands; a list tries its first entry first.
        if (std::string_view(chosen).starts_with("wayland")) {
            return {{},
                    "qd_ip_search: QT_QPA_PLATFORM=" + std::string(chosen) +
                        " runs on Wayland, where the preview stays black; unset it or set it "
                        "to xcb to see the camera's picture"};
        }
        return {};
    }
    const char* session = environment("XDG_SESSION_TYPE");
    const bool waylandDesktop = IsSet(environment("WAYLAND_DISPLAY")) ||
                                (session != nullptr && std::string_view(session) == "wayland");
    if (!waylandDesktop) {
        return {};  // an X11 desktop (Qt picks xcb itself), or none at all
    }
    if (IsSet(environment("DISPLAY"))) {
        return {"xcb;wayland", {}};
    }
    return {{},
            "qd_ip_search: no X server on this Wayland desktop (DISPLAY is not set); the "
            "preview needs one (XWayland) and stays black"};
}

void ApplyQtPlatformChoice() {
    const QtPlatformChoice choice =
        ChooseQtPlatform([](const char* name) { return std::getenv(name); });
    if (!choice.platform.empty()) {
        setenv("QT_QPA_PLATFORM", choice.platform.c_str(), 1);
    }
    if (!choice.notice.empty()) {
        std::fprintf(stderr, "%s\n", choice.notice.c_str());
    }
}

}  // namespace qdipc
