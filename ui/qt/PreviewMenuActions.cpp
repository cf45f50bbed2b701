#include "ui/qt/PreviewMenuActions.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include "discovery/DeviceCodecs.h"
#include "ui/qt/CVideoStatic.h"

namespace qdipc {

void ShowStreamInfo(QWidget* parent, CVideoStatic* pane) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Stream Info"),
                                pane->StreamInfoText(), QMessageBox::Close, parent);
    box->setTextFormat(Qt::PlainText);  // it repeats the stream's location
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    auto* refresh = new QTimer(box);
    QObject::connect(refresh, &QTimer::timeout, box, [box, pane = QPointer<CVideoStatic>(pane)] {
        if (pane) {
            box->setText(pane->StreamInfoText());
        }
    });
    refresh->start(CVideoStatic::kFactsInterval);
    box->show();
}

QString SnapshotFileName(const std::string& location) {
    const std::size_t start = location.find("://");
    std::string host = start == std::string::npos ? std::string() : location.substr(start + 3);
    host = host.substr(0, host.find_first_of(":/"));
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString prefix =
        ParseIpv4Strict(host) ? QString::fromStdString(host) : QStringLiteral("snapshot");
    return prefix + QLatin1Char('-') + stamp + QStringLiteral(".png");
}

void SaveSnapshotAs(QWidget* parent, CVideoStatic* pane, std::function<void(const QString&)> warn,
                    std::function<QString(const QString& proposed)> chooseFile) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) {
        folder = QDir::homePath();
    }
    const QString proposed = QDir(folder).filePath(SnapshotFileName(pane->Location()));
    QString path = chooseFile
                       ? chooseFile(proposed)
                       : QFileDialog::getSaveFileName(parent, QStringLiteral("Save Snapshot"),
                                                      proposed, QStringLiteral("PNG (*.png)"));
    if (path.isEmpty()) {
        return;  // cancelled
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".png");
    }
    // One answer per request: the connections go with the first of them.
    auto* context = new QObject(pane);
    QObject::connect(pane, &CVideoStatic::snapshotSaved, context,
                     [context, parent](const QString& saved) {
                         auto* box = new QMessageBox(
                             QMessageBox::Information, QStringLiteral("Save Snapshot"),
                             QStringLiteral("Snapshot saved: ") + QDir::toNativeSeparators(saved),
                             QMessageBox::Ok, parent);
                         box->setTextFormat(Qt::PlainText);
                         box->setAttribute(Qt::WA_DeleteOnClose);
                         box->setWindowModality(Qt::NonModal);
                         box->show();
                         context->deleteLater();
                     });
    QObject::connect(pane, &CVideoStatic::snapshotFailed, context,
                     [context, warn](const QString& reason) {
                         context->deleteLater();
                         if (warn) {
                             warn(reason);
                         }
                     });
    if (const QString reason = pane->SaveSnapshot(path); !reason.isEmpty()) {
        delete context;
        if (warn) {
            warn(reason);
        }
    }
}

}  // namespace qdipc
