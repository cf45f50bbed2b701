#include "ui/WindowLayout.h"

namespace qdipc {

MainWindowLayout ComputeMainWindowLayout(int clientWidth, int clientHeight) {
    const int cx = clientWidth;
    const int cy = clientHeight;
    const int top = cy - cy / 2;
    const int q = (top - 20) / 4;
    const int buttonX = cx - 90;
    const int buttonWidth = 80;
    const int buttonHeight = q - 10;

    MainWindowLayout layout;
    layout.previewButton = {buttonX, 10, buttonWidth, buttonHeight};
    layout.settingButton = {buttonX, q + 10, buttonWidth, buttonHeight};
    layout.testButton = {buttonX, 2 * q + 10, buttonWidth, buttonHeight};
    layout.searchButton = {buttonX, 3 * q + 10, buttonWidth, buttonHeight};
    layout.videoPane = {10, 10, cx - 110, top - 30};
    layout.deviceList = {10, top, cx - 20, cy - 25 - top};
    layout.progressBar = {10, cy - 25, cx - 20, 20};
    return layout;
}

}  // namespace qdipc
