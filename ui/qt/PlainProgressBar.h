#pragma once
// A progress bar whose text is shown exactly as given: a camera's or a
// program's text in it is never read as a format (%p, %v and %m stay as they
// are) or as markup. The same text is its tooltip (plain, wrapped) and, for
// screen readers, its accessible description, without the tooltip's markup.

#include <QProgressBar>
#include <QString>

namespace qdipc {

class PlainProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;

    // The text shown on the bar (when the bar shows text at all), its
    // tooltip and its accessible description; empty clears all three.
    void SetPlainText(const QString& text);
    const QString& PlainText() const { return m_text; }

    // The plain text where the bar would show a text: never substituted.
    QString text() const override;

private:
    QString m_text;
};

}  // namespace qdipc
