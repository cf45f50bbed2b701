#include "ui/WindowLayout.h"

#include <algorithm>

namespace qdipc {

MainWindowLayout ComputeMainWindowLayout(int clientWidth, int clientHeight) {
    const int cx = clientWidth;
    const int cy = clientHeight;
    // The upper half is laid out for at most the form's size.
    const int upperCx = std::min(cx, kFormClientWidth);
    const int upperCy = std::min(cy, kFormClientHeight);
    const int top = upperCy - upperCy / 2;
    const int q = (top - 20) / 4;
    const int buttonX = upperCx - 90;
    const int buttonWidth = 80;
    const int buttonHeight = q - 10;

    MainWindowLayout layout;
    layout.previewButton = {buttonX, 10, buttonWidth, buttonHeight};
    layout.settingButton = {buttonX, q + 10, buttonWidth, buttonHeight};
    layout.testButton = {buttonX, 2 * q + 10, buttonWidth, buttonHeight};
    layout.searchButton = {buttonX, 3 * q + 10, buttonWidth, buttonHeight};
    layout.videoPane = {10, 10, upperCx - 110, top - 30};
    layout.deviceList = {10, top, cx - 20, cy - 25 - top};
    layout.progressBar = {10, cy - 25, cx - 20, 20};
    return layout;
}

}  // namespace qdipc
