#pragma once
// A small window holding the video pane (320 x 240, no margins), as the main
// window holds it, shown on construction.

#include <QString>
#include <QWidget>

#include "ui/qt/CVideoStatic.h"
#include "ui/qt/LibVlcBackend.h"

namespace qdipc::test {

struct PaneWindow {
    QWidget window;
    CVideoStatic* pane = nullptr;

    // The window keeps the platform's default title when title is empty. The
    // pane plays rtsp:// through the given route.
    explicit PaneWindow(const QString& title = QString(),
                        LibVlcBackend::RtspRoute route = LibVlcBackend::RtspRoute::Automatic);
};

}  // namespace qdipc::test
