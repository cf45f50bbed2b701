#include "platform/QtPlatformChoice.h"

namespace qdipc {

// Qt's "windows" platform gives every widget an HWND libvlc can draw into.
QtPlatformChoice ChooseQtPlatform(const EnvironmentLookup&) {
    return {};
}

void ApplyQtPlatformChoice() {}

}  // namespace qdipc
