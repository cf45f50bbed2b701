#include "ui/qt/AppResources.h"

// The resource file is compiled into a static library; naming its initialiser
// here links it in and registers it before the first use.
static void RegisterProgramResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(qd_ip_search);
        return true;
    }();
    (void)registered;
}

namespace qdipc {

QIcon ProgramIcon() {
    RegisterProgramResources();
    return QIcon(QStringLiteral(":/icons/qd_ip_search.png"));
}

QString AboutMenuText() {
    return QStringLiteral("关于 qd_ip_search(&A)...");
}

}  // namespace qdipc
