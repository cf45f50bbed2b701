// Windows: the window's own system menu, extended with AppendMenu; its
// commands arrive as WM_SYSCOMMAND.

#include "ui/qt/SystemMenu.h"

#include <QByteArray>
#include <QWidget>

#include <windows.h>

namespace qdipc {

bool AppendSystemMenuItem(QWidget* window, unsigned commandId, const QString& text) {
    if (window == nullptr || text.isEmpty()) {
        return false;
    }
    HWND hwnd = reinterpret_cast<HWND>(window->winId());
    HMENU menu = ::GetSystemMenu(hwnd, FALSE);
    if (menu == nullptr) {
        return false;
    }
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, commandId, reinterpret_cast<const wchar_t*>(text.utf16()));
    return true;
}

bool IsSystemMenuCommand(const QByteArray& eventType, const void* message, unsigned commandId) {
    if (eventType != "windows_generic_MSG" || message == nullptr) {
        return false;
    }
    const MSG* msg = static_cast<const MSG*>(message);
    return msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == commandId;
}

}  // namespace qdipc
