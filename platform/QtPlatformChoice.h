#pragma once
// Which of Qt's platform plugins the program runs on. The preview pane needs
// native windows that libvlc can draw into: X11 windows ("xcb") or HWNDs
// ("windows"). On a Wayland desktop Qt would pick its Wayland plugin, where
// the pane cannot show a picture; there the program runs on the desktop's X
// server (XWayland) instead. QtPlatformChoice_linux.cpp decides; on Windows
// Qt's own choice stands.

#include <functional>
#include <string>

namespace qdipc {

struct QtPlatformChoice {
    // The value for QT_QPA_PLATFORM; empty: leave Qt's own choice.
    std::string platform;
    // One line for standard error when the preview cannot work on the
    // platform Qt will use; empty otherwise.
    std::string notice;
};

// Looks up an environment variable: its value, or null when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// The choice for the given environment. Nothing is changed when the user chose
// a platform (QT_QPA_PLATFORM not empty) or the desktop is not a Wayland one.
// On a Wayland desktop with an X server (DISPLAY set, as XWayland does) the
// choice is "xcb", with Wayland as the fall-back should the X server not
// answer; without one the program stays on Wayland and says why the preview
// stays black.
QtPlatformChoice ChooseQtPlatform(const EnvironmentLookup& environment);

// Makes the choice for this process: sets QT_QPA_PLATFORM and writes the
// notice to standard error. Call it before the QApplication is constructed.
void ApplyQtPlatformChoice();

}  // namespace qdipc
