// X11 and Wayland window managers own the window menu; a program cannot add
// items to it.

#include "ui/qt/SystemMenu.h"

#include <QByteArray>

namespace qdipc {

bool AppendSystemMenuItem(QWidget*, unsigned, const QString&) {
    return false;
}

bool IsSystemMenuCommand(const QByteArray&, const void*, unsigned) {
    return false;
}

}  // namespace qdipc
