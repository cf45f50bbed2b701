// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.

#include <QApplication>

#include "app/CSearchApp.h"
#include "platform/QtPlatformChoice.h"

int main(int argc, char* argv[]) {
    qdipc::ApplyQtPlatformChoice();  // the preview needs X11 windows, also on Wayland
    QApplication application(argc, argv);
    CSearchApp searchApp;
    return searchApp.InitInstance();
}
