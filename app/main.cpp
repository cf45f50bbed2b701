// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.
//
// --no-firewall skips the start-up step that asks the system's firewall to
// admit the receive port (the tests and the demo use it: from a network
// namespace the firewall command would still change the host's firewall).

#include <QApplication>
#include <QStringList>

#include "app/CSearchApp.h"
#include "platform/QtPlatformChoice.h"

int main(int argc, char* argv[]) {
    qdipc::ApplyQtPlatformChoice();  // the preview needs X11 windows, also on Wayland
    QApplication application(argc, argv);
    qdipc::SearchDlgConfig config;
    if (QCoreApplication::arguments().mid(1).contains(QStringLiteral("--no-firewall"))) {
        config.openFirewall = nullptr;
    }
    CSearchApp searchApp(std::move(config));
    return searchApp.InitInstance();
}
