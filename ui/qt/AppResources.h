#pragma once
// The program's compiled-in resources: icon 128 and the fixed texts.

#include <QIcon>
#include <QString>

namespace qdipc {

// Icon 128: one 16 x 16 image.
QIcon ProgramIcon();

// String 101: the About entry's text.
QString AboutMenuText();

// The About entry's command ID in the window's system menu.
inline constexpr unsigned kAboutCommandId = 0x10;
// "Keep Watching" in the system menu; its low four bits are clear as well.
inline constexpr unsigned kKeepWatchingCommandId = 0x30;

// "Diagnose Network…": the network checks, in the system menu (where the
// platform has one), the list's row menu and the window background's menu.
inline constexpr unsigned kDiagnoseCommandId = 0x20;
inline QString DiagnoseMenuText() {
    return QStringLiteral("Diagnose Network…");
}

}  // namespace qdipc
