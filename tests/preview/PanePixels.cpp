#include "PanePixels.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <array>
#include <cstdlib>

namespace qdipc::test {

namespace {

// A bar by which of its channels are lit. The pattern's bars are at 75 %,
// but the video output may stretch them to full range, so a channel counts as
// lit above kLit and as dark below kDark.
struct Bar {
    bool r, g, b;
};

constexpr std::array<Bar, 6> kBars = {{{true, true, false},
                                       {false, true, true},
                                       {false, true, false},
                                       {true, false, true},
                                       {true, false, false},
                                       {false, false, true}}};
constexpr int kLit = 150;
constexpr int kDark = 90;

bool Channel(int value, bool lit) {
    return lit ? value >= kLit : value <= kDark;
}

bool Near(QRgb pixel, const Bar& bar) {
    return Channel(qRed(pixel), bar.r) && Channel(qGreen(pixel), bar.g) &&
           Channel(qBlue(pixel), bar.b);
}

}  // namespace

QImage GrabScreenPixels(const QWidget& widget) {
    // The root window's pixels, which include libvlc's child window; grabbing
    // the widget itself would give only what Qt painted.
    QScreen* screen = widget.screen();
    const QPoint topLeft = widget.mapToGlobal(QPoint(0, 0));
    const QPixmap pixels =
        screen->grabWindow(0, topLeft.x(), topLeft.y(), widget.width(), widget.height());
    return pixels.toImage().convertToFormat(QImage::Format_RGB32);
}

double LitShare(const QImage& image) {
    if (image.isNull() || image.width() * image.height() == 0) {
        return 0.0;
    }
    long lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) + qGreen(p) + qBlue(p) > 60) {
                ++lit;
            }
        }
    }
    return static_cast<double>(lit) / (image.width() * image.height());
}

bool ShowsColourBars(const QImage& image, double minShare) {
    if (image.isNull() || image.width() * image.height() == 0) {
        return false;
    }
    std::array<long, kBars.size()> counts{};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            for (std::size_t i = 0; i < kBars.size(); ++i) {
                if (Near(p, kBars[i])) {
                    ++counts[i];
                    break;
                }
            }
        }
    }
    const double total = static_cast<double>(image.width()) * image.height();
    for (long count : counts) {
        if (count / total < minShare) {
            return false;
        }
    }
    return true;
}

double ChangedShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) {
        return 0.0;
    }
    long changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                    std::abs(qBlue(p) - qBlue(q)) >
                90) {
                ++changed;
            }
        }
    }
    return static_cast<double>(changed) / (a.width() * a.height());
}

}  // namespace qdipc::test
