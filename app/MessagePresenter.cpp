#include "app/MessagePresenter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace qdipc {

MessagePresenter::~MessagePresenter() = default;

void WarningMessageBox::Warn(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, ProgramName(), text, QMessageBox::Ok, parent);
    box.exec();
}

QString ProgramName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

}  // namespace qdipc
