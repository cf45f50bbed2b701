// qd_ip_search: searches the LAN for IP cameras, lists them, changes their
// network settings and previews their streams.

#include <QApplication>

#include "app/CSearchApp.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CSearchApp searchApp;
    return searchApp.InitInstance();
}
