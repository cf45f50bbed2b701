#include "ui/qt/MessagePresenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QWindow>

namespace qdipc {
namespace {

bool IsOperatorInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

// Holds back the operator's input to one window while it lives: clicks, keys,
// shortcuts and the close box of that window and of the controls inside it.
// Windows that it owns (the settings windows) are windows of their own and
// stay usable. A click on the held window brings the box to the front.
class OwnerWindowHold : public QObject {
public:
    OwnerWindowHold(QWidget* owner, QWidget* box) : m_owner(owner), m_box(box) {
        qApp->installEventFilter(this);
    }
    ~OwnerWindowHold() override { qApp->removeEventFilter(this); }
    OwnerWindowHold(const OwnerWindowHold&) = delete;
    OwnerWindowHold& operator=(const OwnerWindowHold&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsOperatorInput(event->type()) || !Holds(watched)) {
            return false;
        }
        if (event->type() == QEvent::MouseButtonPress) {
            m_box->raise();
            m_box->activateWindow();
        }
        // Closing and shortcuts act on an accepted event even when it was not
        // delivered: refuse the close, and claim the key so no shortcut runs.
        if (event->type() == QEvent::Close) {
            event->ignore();
        } else {
            event->accept();
        }
        return true;
    }

private:
    // The owner's native window, the owner itself, a control inside it, or an
    // object (a shortcut) that belongs to one of them.
    bool Holds(QObject* watched) const {
        if (auto* window = qobject_cast<QWindow*>(watched)) {
            return window == m_owner->windowHandle();
        }
        for (QObject* object = watched; object != nullptr; object = object->parent()) {
            if (object->isWidgetType()) {
                return static_cast<QWidget*>(object)->window() == m_owner;
            }
        }
        return false;
    }

    QWidget* m_owner;
    QWidget* m_box;
};

}  // namespace

MessagePresenter::~MessagePresenter() = default;

bool MessagePresenter::Ask(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, ProgramName(), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);  // names a camera's text; never markup
    return box.exec() == QMessageBox::Yes;
}

void WarningMessageBox::Warn(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, ProgramName(), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // a camera's or a file's text, never markup
    if (parent == nullptr) {
        box.exec();  // no owner: modal to the whole application
        return;
    }
    // Modal to its owner window only. Qt's window modality would also hold
    // every window the owner owns, so the box runs without Qt modality (exec
    // would impose it) in an event loop of its own and holds the owner's
    // input itself.
    box.setWindowModality(Qt::NonModal);
    const OwnerWindowHold hold(parent->window(), &box);
    QEventLoop loop;
    QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    loop.exec(QEventLoop::DialogExec);
}

QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace qdipc
