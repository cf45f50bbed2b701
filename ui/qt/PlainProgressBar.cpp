#include "ui/qt/PlainProgressBar.h"

#include "ui/qt/DeviceTable.h"

namespace qdipc {

void PlainProgressBar::SetPlainText(const QString& text) {
    m_text = text;
    // format() keeps the text for those who read it; text() never applies it.
    setFormat(text);
    setToolTip(text.isEmpty() ? QString() : PlainToolTip(text));
    setAccessibleDescription(text);
    update();
}

QString PlainProgressBar::text() const {
    // Where Qt's bar shows no text (no range, a reset bar) this one shows none
    // either; elsewhere the text as it is.
    return QProgressBar::text().isEmpty() ? QString() : m_text;
}

}  // namespace qdipc
