// Plays a location in the video pane inside a small window, the way the main
// window does, waits (bounded) until the pane shows a picture, then ends the
// program while the stream still plays: Shutdown, window destroyed,
// application destroyed, return from main. Prints how long that close took.
// Exit code 0 when the picture came and everything ended cleanly, 1 when no
// picture came within the limit.
//
//   preview_play_probe <location> [seconds to wait for the picture, default 15]
//                      [shutdown|destructor] [automatic|libvlc|libavformat]
// "destructor" leaves the player to the pane's destructor instead of calling
// Shutdown first. The last argument picks the route of rtsp:// locations
// (default automatic: libavformat where libvlc has no RTSP client).

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "PanePixels.h"
#include "PaneWindow.h"
#include "ui/qt/CVideoStatic.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: preview_play_probe <location> [seconds] [mode] [route]\n");
        return 2;
    }
    const int limitMs = (argc > 2 ? std::atoi(argv[2]) : 15) * 1000;
    const bool viaDestructor = argc > 3 && std::strcmp(argv[3], "destructor") == 0;
    using Route = qdipc::LibVlcBackend::RtspRoute;
    Route route = Route::Automatic;
    if (argc > 4 && std::strcmp(argv[4], "libvlc") == 0) {
        route = Route::LibVlc;
    } else if (argc > 4 && std::strcmp(argv[4], "libavformat") == 0) {
        route = Route::LibAvformat;
    }
    auto app = std::make_unique<QApplication>(argc, argv);
    bool sawPicture = false;
    QElapsedTimer closing;
    {
        qdipc::test::PaneWindow ui(QString(), route);
        CVideoStatic* pane = ui.pane;
        QElapsedTimer clock;
        clock.start();
        pane->SetLocation(argv[1]);
        const int started = pane->Play();
        std::printf("play %d\n", started);
        while (clock.elapsed() < limitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(20);
            const QImage shot = qdipc::test::GrabScreenPixels(*pane);
            if (qdipc::test::ShowsColourBars(shot)) {
                sawPicture = true;
                std::printf("picture after %lld ms\n", static_cast<long long>(clock.elapsed()));
                break;
            }
        }
        closing.start();
        if (!viaDestructor) {
            const bool stopped = pane->Shutdown();
            std::printf("shutdown %s\n", stopped ? "complete" : "timed out");
        }
        std::fflush(stdout);
    }
    app.reset();
    std::printf("close took %lld ms\n", static_cast<long long>(closing.elapsed()));
    std::fflush(stdout);
    return sawPicture ? 0 : 1;
}
