#include "ui/qt/CAssignDlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "discovery/CellText.h"
#include "platform/WholeFile.h"
#include "settings/AssignMemory.h"
#include "settings/SettingsValidation.h"
#include "ui/qt/DeviceTable.h"
#include "ui/qt/PlainProgressBar.h"

namespace {

// A camera's text as every cell shows it: decoded by the one rule, its
// control characters escaped; never markup.
QTableWidgetItem* Cell(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(qdipc::DisplayCellText(text)));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QLabel* PlainLabel(QWidget* parent, const QString& accessibleName) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);  // camera and operator texts are never markup
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(accessibleName);
    return label;
}

}  // namespace

CAssignDlg::CAssignDlg(std::vector<qdipc::AssignCamera> batch,
                       qdipc::AssignSurroundings surroundings, RunStarter startRun,
                       qdipc::AddressReservations* reservations, QWidget* parent)
    : QDialog(parent),
      m_model(std::move(batch), std::move(surroundings), reservations),
      m_startRun(std::move(startRun)) {
    setWindowTitle(QStringLiteral("Assign Addresses"));
    // Typing in the fields plans at once; the addresses are probed off the
    // UI thread and the checked plan shown when it comes.
    m_model.CheckPlansInBackground([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_model.TakeCheckedPlan()) {
                    ShowPlan();
                }
            },
            Qt::QueuedConnection);
    });
    Build();
}

CAssignDlg::CAssignDlg(qdipc::ProvisioningPlan plan, const QString& fileName,
                       qdipc::AssignSurroundings surroundings, RunStarter startRun,
                       qdipc::AddressReservations* reservations, QWidget* parent)
    : QDialog(parent),
      m_model(std::move(plan), std::move(surroundings), reservations),
      m_startRun(std::move(startRun)) {
    // The file's name is operator text: plain in the title.
    setWindowTitle(QStringLiteral("Apply Plan ") +
                   QString::fromStdString(qdipc::EscapeControls(fileName.toStdString())));
    Build();
}

void CAssignDlg::Build() {
    setAttribute(Qt::WA_DeleteOnClose);

    m_editStart = new QLineEdit(this);
    m_editMask = new QLineEdit(this);
    m_editGateway = new QLineEdit(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Start IP"), m_editStart);
    form->addRow(QStringLiteral("Mask"), m_editMask);
    form->addRow(QStringLiteral("Gateway"), m_editGateway);

    m_message = PlainLabel(this, QStringLiteral("Message"));

    const auto& rows = m_model.Rows();
    m_table = new QTableWidget(static_cast<int>(rows.size()), kColumnCount, this);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Dev ID"), QStringLiteral("MAC"), QStringLiteral("IP"),
         QStringLiteral("New IP"), QStringLiteral("Mask"), QStringLiteral("Gateway"),
         QStringLiteral("Mode"), QStringLiteral("Result"), QStringLiteral("Reason")});
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const qdipc::AssignCamera& camera = rows[static_cast<std::size_t>(row)].camera;
        m_table->setItem(row, kColDevId, Cell(camera.deviceId));
        m_table->setItem(row, kColMac, Cell(camera.mac));
        m_table->setItem(row, kColIp, Cell(camera.ip));
        for (const int column : {kColNewIp, kColNewMask, kColNewGateway, kColNewMode, kColResult}) {
            m_table->setItem(row, column, Cell({}));
        }
        m_table->setItem(row, kColReason, Cell({}));
    }
    FitColumns();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Ten rows at least: a factory batch is read without scrolling.
    m_table->setMinimumHeight(m_table->horizontalHeader()->sizeHint().height() +
                              10 * m_table->verticalHeader()->defaultSectionSize() +
                              m_table->horizontalScrollBar()->sizeHint().height() +
                              2 * m_table->frameWidth());

    m_skipped = PlainLabel(this, QStringLiteral("Skipped addresses"));
    m_rollback = PlainLabel(this, QStringLiteral("Rollback plan"));

    m_progress = new qdipc::PlainProgressBar(this);
    m_progress->setRange(0, static_cast<int>(rows.size()));
    m_progress->setValue(0);
    m_progress->SetPlainText(QStringLiteral("0 of %1 confirmed").arg(rows.size()));
    // No count before anything was applied.
    m_progress->hide();

    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::ApplyRole);
    m_retry = buttons->addButton(QStringLiteral("Retry Unconfirmed"), QDialogButtonBox::ActionRole);
    m_undo = buttons->addButton(QStringLiteral("Undo This Run"), QDialogButtonBox::ActionRole);
    m_export =
        buttons->addButton(QStringLiteral("Export Results\u2026"), QDialogButtonBox::ActionRole);
    m_close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    for (QPushButton* button : {m_apply, m_retry, m_undo, m_export, m_close}) {
        button->setAutoDefault(false);
    }
    m_retry->setEnabled(false);
    m_retry->setToolTip(
        QStringLiteral("Sends the cameras whose change was not confirmed their records again"));
    connect(m_apply, &QPushButton::clicked, this, &CAssignDlg::OnApply);
    connect(m_retry, &QPushButton::clicked, this, &CAssignDlg::OnRetryUnconfirmed);
    m_undo->setEnabled(false);
    m_undo->setToolTip(QStringLiteral(
        "Applies this dialog's rollback plan: every camera back to what it reported before"));
    connect(m_undo, &QPushButton::clicked, this, &CAssignDlg::OnUndoRun);
    connect(m_export, &QPushButton::clicked, this, &CAssignDlg::OnExport);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    if (m_model.FromPlanFile()) {
        // The plan's lines are what goes out: no fields to plan from.
        for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
            edit->setReadOnly(true);
            edit->hide();
            form->labelForField(edit)->hide();
        }
    }
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_skipped);
    layout->addWidget(m_rollback);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(std::max(640, sizeHint().width()), std::max(420, sizeHint().height()));

    m_prefill = m_model.PrefilledFields();
    m_editStart->setText(QString::fromStdString(m_prefill.start));
    m_editMask->setText(QString::fromStdString(m_prefill.mask));
    m_editGateway->setText(QString::fromStdString(m_prefill.gateway));
    for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
        connect(edit, &QLineEdit::textChanged, this, &CAssignDlg::Replan);
    }
    Replan();
}

CAssignDlg::~CAssignDlg() = default;

void CAssignDlg::RememberFieldsIn(std::filesystem::path file) {
    const qdipc::AssignFields shown = m_model.RememberFieldsIn(
        std::move(file), m_prefill,
        {m_editStart->text().toStdString(), m_editMask->text().toStdString(),
         m_editGateway->text().toStdString()});
    m_editStart->setText(QString::fromStdString(shown.start));
    m_editMask->setText(QString::fromStdString(shown.mask));
    m_editGateway->setText(QString::fromStdString(shown.gateway));
}

void CAssignDlg::FitColumns() {
    m_table->resizeColumnsToContents();
    // Room for the longest result word, before any result is there.
    const int widest =
        m_table->fontMetrics().horizontalAdvance(QStringLiteral("not confirmed")) + 16;
    m_table->setColumnWidth(kColResult, std::max(m_table->columnWidth(kColResult), widest));
}

void CAssignDlg::Replan() {
    if (m_model.RunEverStarted()) {
        return;  // the plan of a started run stays as it was sent
    }
    m_model.Replan(Fields());
    ShowPlan();
}

qdipc::AssignFields CAssignDlg::Fields() const {
    return {m_editStart->text().trimmed().toStdString(), m_editMask->text().trimmed().toStdString(),
            m_editGateway->text().trimmed().toStdString()};
}

void CAssignDlg::ShowPlan() {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        ShowRow(row);
    }
    m_message->setText(QString::fromStdString(m_model.PlanMessage()));
    m_skipped->setText(QString::fromStdString(m_model.SkippedText()));
    FitColumns();
    m_apply->setEnabled(m_model.PlanOk());
}

void CAssignDlg::OnApply() {
    if (m_model.RunEverStarted()) {
        return;
    }
    const std::vector<int> rows = m_model.RowsToApply(Fields());
    ShowPlan();
    if (!rows.empty()) {
        StartRun(rows);
    }
}

void CAssignDlg::OnRetryUnconfirmed() {
    if (!m_model.RetryEnabled()) {
        return;
    }
    const std::vector<int> rows = m_model.RetryRows();
    if (!rows.empty()) {
        StartRun(rows);
    }
}

void CAssignDlg::OnUndoRun() {
    if (!m_model.UndoEnabled()) {
        return;
    }
    qdipc::AssignModel::UndoPlan undo = m_model.PlanUndoRun();
    if (!undo.message.empty()) {
        m_message->setText(QString::fromStdString(undo.message));
        return;
    }
    StartOrders(std::move(undo.plan.orders), undo.rows);
}

void CAssignDlg::StartRun(const std::vector<int>& rows) {
    StartOrders(m_model.OrdersFor(rows), rows);
}

void CAssignDlg::StartOrders(std::vector<qdipc::AssignOrder> orders, const std::vector<int>& rows) {
    // The run holds the addresses from now on.
    m_model.ReleasePlan();
    qdipc::AssignRun* run = m_startRun ? m_startRun(std::move(orders)) : nullptr;
    if (run == nullptr) {
        Replan();  // plans (and holds) again unless a run started before
        return;
    }
    m_run = run;
    // The first run's fields are this network's from now on (RememberFieldsIn).
    m_model.RunStarted(rows);
    m_progress->show();
    m_apply->setEnabled(false);
    m_retry->setEnabled(false);
    m_undo->setEnabled(false);
    SetFieldsEditable(false);
    for (const int row : rows) {
        ShowRow(row);
    }
    connect(run, &qdipc::AssignRun::ResultChanged, this, &CAssignDlg::ShowResult);
    connect(run, &qdipc::AssignRun::Finished, this, &CAssignDlg::ShowProgress);
    run->Start();
    ShowProgress();
}

void CAssignDlg::SetFieldsEditable(bool editable) {
    for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
        edit->setReadOnly(!editable);
    }
}

void CAssignDlg::ShowRow(int row) {
    const qdipc::AssignRow& shown = m_model.Rows()[static_cast<std::size_t>(row)];
    // A plan file's texts as every cell shows them.
    m_table->item(row, kColNewIp)
        ->setText(QString::fromStdString(qdipc::DisplayCellText(shown.newIp)));
    m_table->item(row, kColNewMask)
        ->setText(QString::fromStdString(qdipc::DisplayCellText(shown.mask)));
    m_table->item(row, kColNewGateway)
        ->setText(QString::fromStdString(qdipc::DisplayCellText(shown.gateway)));
    m_table->item(row, kColNewMode)
        ->setText(QString::fromLatin1(qdipc::AddressingModeWord(shown.mode)));
    QTableWidgetItem* item = m_table->item(row, kColResult);
    item->setText(QString::fromStdString(qdipc::CameraResultText(shown.result)));
    // The reason can carry a camera's texts: decoded, escaped and plain, in
    // its own column, the tooltip and for screen readers alike.
    const QString reason = QString::fromStdString(qdipc::DisplayCellText(shown.reason));
    item->setToolTip(qdipc::PlainToolTip(reason));
    item->setData(Qt::AccessibleDescriptionRole, reason);
    m_table->item(row, kColReason)->setText(reason);
}

void CAssignDlg::ShowResult(int index) {
    if (!m_run || index < 0 || index >= m_run->Total()) {
        return;
    }
    const int row = m_model.SetRunResult(static_cast<std::size_t>(index),
                                         m_run->CameraAt(static_cast<std::size_t>(index)));
    if (row >= 0) {
        ShowRow(row);
    }
    ShowProgress();
}

void CAssignDlg::ShowProgress() {
    if (!m_run) {
        return;
    }
    m_model.RunStateChanged(m_run->IsFinished(), m_run->Failure().toStdString(),
                            m_run->RollbackPath().toStdString(),
                            m_run->RollbackError().toStdString());
    m_progress->setValue(m_model.Counts().confirmed);
    m_progress->SetPlainText(QString::fromStdString(m_model.ProgressText()));
    m_message->setText(QString::fromStdString(m_model.Message()));
    m_rollback->setText(QString::fromStdString(m_model.RollbackText()));
    if (!m_run->Failure().isEmpty()) {
        // Nothing went out: the operator fixes the folder and applies again.
        m_apply->setEnabled(true);
        SetFieldsEditable(true);
        return;
    }
    if (m_run->IsFinished()) {
        m_retry->setEnabled(m_model.RetryEnabled());
        m_undo->setEnabled(m_model.UndoEnabled());
        FitColumns();
    }
}

QString CAssignDlg::ResultsCsv() const {
    return QString::fromStdString(m_model.ResultsCsv());
}

bool CAssignDlg::ExportResults(const QString& path) {
    const std::string words = m_model.ExportResults(QFile::encodeName(path).toStdString());
    m_message->setText(QString::fromStdString(words));
    return words.rfind("Results written", 0) == 0;
}

void CAssignDlg::OnExport() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Results"), QStringLiteral("assign-results.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty()) {
        ExportResults(path);
    }
}
