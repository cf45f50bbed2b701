#pragma once
// Reads what is on the screen inside a widget (including what libvlc drew
// into the widget's native window) and recognises the test pattern that
// rtsp_test_server sends: SMPTE colour bars scrolling sideways.

#include <QImage>
#include <QWidget>

namespace qdipc::test {

// The screen's pixels where the widget is, as the X server shows them.
QImage GrabScreenPixels(const QWidget& widget);

// Share of pixels (0..1) that are not near black.
double LitShare(const QImage& image);

// True when each of the six coloured bars (yellow, cyan, green, magenta, red,
// blue) covers at least minShare of the image.
bool ShowsColourBars(const QImage& image, double minShare = 0.03);

// Share of pixels (0..1) that differ clearly between two images of one size.
double ChangedShare(const QImage& a, const QImage& b);

}  // namespace qdipc::test
