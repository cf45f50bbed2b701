#pragma once
// The warning boxes the main window shows (search and settings failures and
// outcomes). The window talks to this small interface so tests can answer and
// read the boxes without a person.

#include <QString>

class QWidget;

namespace qdipc {

class MessagePresenter {
public:
    virtual ~MessagePresenter();
    // Shows a warning with the text and only an OK button, modal to the
    // parent's window (to the whole application without a parent); returns
    // when it has been closed.
    virtual void Warn(QWidget* parent, const QString& text) = 0;
    // Asks a yes/no question the same way (Yes and No buttons, No the
    // default); true for Yes.
    virtual bool Ask(QWidget* parent, const QString& text);
};

// The real thing: a QMessageBox warning captioned with the program's name.
// While it is open the parent's window takes no input, but the windows that
// window owns (the settings windows) stay usable, as with an owner-modal box.
class WarningMessageBox : public MessagePresenter {
public:
    void Warn(QWidget* parent, const QString& text) override;
};

// The program file's name without its extension ("qd_ip_search"), the caption
// of every message box.
QString ProgramName();

}  // namespace qdipc
