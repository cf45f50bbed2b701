#include "ui/qt/CSettingDlg.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cstring>
#include <utility>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ReplyCells.h"
#include "settings/SettingsValidation.h"
#include "ui/qt/ApplySettingsEvent.h"
#include "ui/qt/DialogFont.h"
#include "ui_SettingDlg.h"

namespace {

using qdipc::NetSettingsRecord;
namespace field = qdipc::record;

// A text field keeps room for its terminating zero.
constexpr qsizetype kMaxFieldTextBytes = static_cast<qsizetype>(field::kTextFieldSize) - 1;

// Record texts are 8-bit text in the system's code page.
QString FieldText(const NetSettingsRecord& record, std::size_t fieldOffset) {
    return QString::fromLocal8Bit(record.Text(fieldOffset));
}

// The edit's text as 8-bit bytes, cut at a character boundary so that it
// fits its 16-byte field with the terminating zero.
QByteArray FieldBytes(const QLineEdit* edit) {
    QString text = edit->text();
    QByteArray bytes = text.toLocal8Bit();
    while (bytes.size() > kMaxFieldTextBytes) {
        text.chop(text.size() >= 2 && text.back().isLowSurrogate() ? 2 : 1);
        bytes = text.toLocal8Bit();
    }
    return bytes;
}

}  // namespace

CSettingDlg::CSettingDlg(QWidget* mainDlg)
    : QDialog(mainDlg, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_pMainDlg(mainDlg),
      m_ui(std::make_unique<Ui::SettingDlg>()) {
    m_ui->setupUi(this);
    // 9-point 宋体, or an installed Chinese face where it is missing.
    setFont(qdipc::DialogFont());
    // A dialog frame: the template's size, not resizable.
    setFixedSize(size());

    m_editMask = m_ui->editMask;
    m_editMac = m_ui->editMac;
    m_editIp = m_ui->editIp;
    m_editGateway = m_ui->editGateway;
    // The MAC edit is wide enough for a whole MAC in the dialog's font (it
    // grows to the right, within the dialog).
    {
        QStyleOptionFrame frame;
        frame.initFrom(m_editMac);
        const int text =
            m_editMac->fontMetrics().horizontalAdvance(QStringLiteral("DD:DD:DD:DD:DD:DD"));
        // The edit's inner margins (2 pixels each side) and frame.
        const QSize wanted = m_editMac->style()->sizeFromContents(
            QStyle::CT_LineEdit, &frame, QSize(text + 4, m_editMac->height()), m_editMac);
        const int room = width() - m_editMac->x() - 8;
        m_editMac->resize(
            std::clamp(wanted.width(), m_editMac->width(), std::max(room, m_editMac->width())),
            m_editMac->height());
    }

    m_ui->modeGroup->setId(m_ui->radioStatic, static_cast<int>(qdipc::AddressingMode::Static));
    m_ui->modeGroup->setId(m_ui->radioDhcp, static_cast<int>(qdipc::AddressingMode::Dhcp));
    m_ui->modeGroup->setId(m_ui->radioAdsl, static_cast<int>(qdipc::AddressingMode::Adsl));

    connect(m_ui->buttonModify, &QPushButton::clicked, this, &CSettingDlg::OnModify);
}

CSettingDlg::~CSettingDlg() = default;

void CSettingDlg::LoadRecord(const NetSettingsRecord& record) {
    std::memcpy(m_devIdBlock.data(), record.bytes.data() + field::kDevIdBlock, m_devIdBlock.size());
    // A field that fills all 16 bytes is read up to its end, never beyond.
    m_editIp->setText(FieldText(record, field::kIp));
    m_editMac->setText(QString::fromLatin1(qdipc::FormatMac(record.bytes.data() + field::kMac)));
    m_editMask->setText(FieldText(record, field::kMask));
    m_editGateway->setText(FieldText(record, field::kGateway));
    // Each edit shows the start of its text, as a freshly set edit control
    // does; a MAC of 17 characters is wider than its edit and scrolls.
    for (QLineEdit* edit : {m_editIp, m_editMac, m_editMask, m_editGateway}) {
        edit->setCursorPosition(0);
    }

    switch (record.Mode()) {
        case qdipc::AddressingMode::Dhcp:
            m_ui->radioDhcp->setChecked(true);
            break;
        case qdipc::AddressingMode::Adsl:
            m_ui->radioAdsl->setChecked(true);
            break;
        case qdipc::AddressingMode::Static:
            m_ui->radioStatic->setChecked(true);
            break;
    }

    // The camera's IP text as every cell shows it: decoded by the one rule,
    // its control characters escaped.
    setWindowTitle(QStringLiteral("Set\uFF1A") +
                   QString::fromStdString(qdipc::DisplayCellText(record.Text(field::kIp))));
}

void CSettingDlg::SetWarning(WarnFunction warn) {
    m_warn = std::move(warn);
}

void CSettingDlg::OnModify() {
    qdipc::AddressingMode mode = qdipc::AddressingMode::Static;
    if (m_ui->radioDhcp->isChecked()) {
        mode = qdipc::AddressingMode::Dhcp;
    } else if (m_ui->radioAdsl->isChecked()) {
        mode = qdipc::AddressingMode::Adsl;
    }
    const auto view = [](const QByteArray& bytes) {
        return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    };

    // The whole texts are checked, as the operator sees them; an address is
    // ASCII and fits its field, so what passes is sent unchanged.
    const QByteArray ipText = m_editIp->text().toUtf8();
    const QByteArray maskText = m_editMask->text().toUtf8();
    const QByteArray gatewayText = m_editGateway->text().toUtf8();
    const QByteArray macText = m_editMac->text().toUtf8();
    if (const auto problem = qdipc::ValidateSettings(view(ipText), view(maskText),
                                                     view(gatewayText), view(macText), mode)) {
        const QString text = QString::fromStdString(problem->reason);
        // The box runs its own event loop; the window may go meanwhile.
        const QPointer<CSettingDlg> alive(this);
        if (m_warn) {
            m_warn(this, text);
        } else {
            QMessageBox box(QMessageBox::Warning,
                            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(),
                            text, QMessageBox::Ok, this);
            box.setTextFormat(Qt::PlainText);
            box.exec();
        }
        if (alive.isNull()) {
            return;
        }
        QLineEdit* const edits[] = {m_editIp, m_editMask, m_editGateway, m_editMac};
        QLineEdit* wrong = edits[static_cast<std::size_t>(problem->field)];
        wrong->setFocus(Qt::OtherFocusReason);
        wrong->selectAll();
        return;
    }

    const QByteArray ip = FieldBytes(m_editIp);
    const QByteArray mask = FieldBytes(m_editMask);
    const QByteArray gateway = FieldBytes(m_editGateway);
    const QByteArray mac = m_editMac->text().toLocal8Bit();
    const NetSettingsRecord record = qdipc::BuildModifyRecord(m_devIdBlock, mode, view(ip),
                                                              view(mask), view(gateway), view(mac));

    // The block lives on this stack frame for the duration of the synchronous
    // delivery only.
    const qdipc::SettingsHandoff handoff = qdipc::SettingsHandoff::Wrap(record);
    if (m_pMainDlg != nullptr) {
        ApplySettingsEvent event(&handoff);
        QCoreApplication::sendEvent(m_pMainDlg, &event);
    }
}

void CSettingDlg::keyPressEvent(QKeyEvent* event) {
    const bool enterKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->key() == Qt::Key_Enter && event->modifiers() == Qt::KeypadModifier);
    if (enterKey && plain) {
        if (focusWidget() == m_ui->buttonModify) {
            m_ui->buttonModify->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}
