#pragma once
// The window's system menu (the menu behind the title bar's icon), where the
// platform lets a program extend it. SystemMenu_win.cpp implements it; where
// the window system offers no such menu (SystemMenu_linux.cpp) both calls
// answer false and the caller offers its entry another way.

#include <QByteArray>
#include <QString>

class QWidget;

namespace qdipc {

// Appends a separator and a string item with the given command ID to the
// window's system menu. False when there is no system menu or the text is empty.
bool AppendSystemMenuItem(QWidget* window, unsigned commandId, const QString& text);

// Whether a native event (QWidget::nativeEvent's eventType and message) is a
// system command whose ID, with its low four bits masked, is commandId.
bool IsSystemMenuCommand(const QByteArray& eventType, const void* message, unsigned commandId);

}  // namespace qdipc
