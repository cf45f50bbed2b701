#pragma once
// Where the main window's controls go for a given client size: four buttons
// stacked at the right of the upper half, the video pane to their left, the
// device list in the lower half and the progress bar along the bottom.
//
// With top = cy - cy/2 and q = (top - 20)/4 (divisions truncate toward zero):
//   Preview   (cx-90, 10)      80 x (q-10)
//   Setting   (cx-90, q+10)    80 x (q-10)
//   Test      (cx-90, 2q+10)   80 x (q-10)
//   Search    (cx-90, 3q+10)   80 x (q-10)
//   video     (10, 10)         (cx-110) x (top-30)
//   list      (10, top)        (cx-20) x (cy-25-top)
//   progress  (10, cy-25)      (cx-20) x 20
// Larger than the form's 504 x 470 the upper half keeps its form-size layout
// (cx and cy in the button and pane formulas, and in top, are at most 504 and
// 470): the video pane and the buttons keep their size and places, and the
// list takes the extra width and height. The list and the bar always span
// the whole width.
// Small client areas give negative sizes; they are kept here and clamped to
// zero only when applied to widgets.

namespace qdipc {

// The form's client size: up to it the whole layout scales with the window.
inline constexpr int kFormClientWidth = 504;
inline constexpr int kFormClientHeight = 470;

struct ControlRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const ControlRect&, const ControlRect&) = default;
};

struct MainWindowLayout {
    ControlRect previewButton;
    ControlRect settingButton;
    ControlRect testButton;
    ControlRect searchButton;
    ControlRect videoPane;
    ControlRect deviceList;
    ControlRect progressBar;
    friend bool operator==(const MainWindowLayout&, const MainWindowLayout&) = default;
};

MainWindowLayout ComputeMainWindowLayout(int clientWidth, int clientHeight);

}  // namespace qdipc
