#include "settings/CAssignDlg.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "discovery/CellText.h"
#include "settings/AssignMemory.h"
#include "settings/SettingsValidation.h"

namespace {

QTableWidgetItem* Cell(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
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

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// end, quotes doubled.
// A cell of the exported results: formula-safe as every CSV of the program
// (an old IP is the camera's own text), quoted when it must be.
QString CsvField(const QString& cell) {
    const QString text =
        qdipc::StartsLikeFormula(cell.toStdString()) ? QLatin1Char('\'') + cell : cell;
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'))) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

const QString kConfirmed = QStringLiteral("confirmed");
const QString kNotConfirmed = QStringLiteral("not confirmed");
const QString kConflict = QStringLiteral("conflict");
const QString kRefused = QStringLiteral("refused");
const QString kSent = QStringLiteral("sent");

}  // namespace

CAssignDlg::CAssignDlg(std::vector<qdipc::AssignCamera> batch,
                       qdipc::AssignSurroundings surroundings, RunStarter startRun,
                       qdipc::AddressReservations* reservations, QWidget* parent)
    : QDialog(parent),
      m_batch(std::move(batch)),
      m_surroundings(std::move(surroundings)),
      m_startRun(std::move(startRun)),
      m_reservations(reservations),
      m_holder(reservations != nullptr ? reservations->NewHolder() : 0),
      m_newIps(m_batch.size()),
      m_refusals(m_batch.size()),
      m_reasons(m_batch.size()) {
    setWindowTitle(QStringLiteral("Assign Addresses"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_editStart = new QLineEdit(this);
    m_editMask = new QLineEdit(this);
    m_editGateway = new QLineEdit(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Start IP"), m_editStart);
    form->addRow(QStringLiteral("Mask"), m_editMask);
    form->addRow(QStringLiteral("Gateway"), m_editGateway);

    m_message = PlainLabel(this, QStringLiteral("Message"));

    m_table = new QTableWidget(static_cast<int>(m_batch.size()), kColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Dev ID"), QStringLiteral("MAC"),
                                        QStringLiteral("IP"), QStringLiteral("New IP"),
                                        QStringLiteral("Result"), QStringLiteral("Reason")});
    m_table->verticalHeader()->setVisible(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const qdipc::AssignCamera& camera = m_batch[static_cast<std::size_t>(row)];
        m_table->setItem(row, kColDevId, Cell(camera.deviceId));
        m_table->setItem(row, kColMac, Cell(camera.mac));
        m_table->setItem(row, kColIp, Cell(camera.ip));
        m_table->setItem(row, kColNewIp, Cell({}));
        m_table->setItem(row, kColResult, Cell({}));
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

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, static_cast<int>(m_batch.size()));
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v of %m confirmed"));
    // No count before anything was applied.
    m_progress->hide();

    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::ApplyRole);
    m_retry = buttons->addButton(QStringLiteral("Retry Unconfirmed"), QDialogButtonBox::ActionRole);
    m_export =
        buttons->addButton(QStringLiteral("Export Results\u2026"), QDialogButtonBox::ActionRole);
    m_close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    for (QPushButton* button : {m_apply, m_retry, m_export, m_close}) {
        button->setAutoDefault(false);
    }
    m_retry->setEnabled(false);
    m_retry->setToolTip(
        QStringLiteral("Sends the cameras whose change was not confirmed their records again"));
    connect(m_apply, &QPushButton::clicked, this, &CAssignDlg::OnApply);
    connect(m_retry, &QPushButton::clicked, this, &CAssignDlg::OnRetryUnconfirmed);
    connect(m_export, &QPushButton::clicked, this, &CAssignDlg::OnExport);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_skipped);
    layout->addWidget(m_rollback);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(std::max(640, sizeHint().width()), std::max(420, sizeHint().height()));

    m_prefill = qdipc::PrefillAssignFields(m_batch, m_surroundings);
    m_editStart->setText(QString::fromStdString(m_prefill.start));
    m_editMask->setText(QString::fromStdString(m_prefill.mask));
    m_editGateway->setText(QString::fromStdString(m_prefill.gateway));
    for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
        connect(edit, &QLineEdit::textChanged, this, &CAssignDlg::Replan);
    }
    Replan();
}

void CAssignDlg::RememberFieldsIn(std::filesystem::path file) {
    m_memoryFile = std::move(file);
    const bool untouched = m_editStart->text().toStdString() == m_prefill.start &&
                           m_editMask->text().toStdString() == m_prefill.mask &&
                           m_editGateway->text().toStdString() == m_prefill.gateway;
    if (!untouched || !m_runRows.empty()) {
        return;
    }
    const qdipc::AssignFields recalled = qdipc::RecallAssignFields(m_memoryFile, m_prefill);
    m_editStart->setText(QString::fromStdString(recalled.start));
    m_editMask->setText(QString::fromStdString(recalled.mask));
    m_editGateway->setText(QString::fromStdString(recalled.gateway));
}

void CAssignDlg::FitColumns() {
    m_table->resizeColumnsToContents();
    // Room for the longest result word, before any result is there.
    const int widest =
        m_table->fontMetrics().horizontalAdvance(QStringLiteral("not confirmed")) + 16;
    m_table->setColumnWidth(kColResult, std::max(m_table->columnWidth(kColResult), widest));
}

CAssignDlg::~CAssignDlg() {
    // A started run holds its own addresses; the dialog's plan lets go.
    if (m_reservations != nullptr) {
        m_reservations->Release(m_holder);
    }
}

void CAssignDlg::Replan() {
    if (!m_runRows.empty()) {
        return;  // the plan of a started run stays as it was sent
    }
    m_mask = m_editMask->text().trimmed().toStdString();
    m_gateway = m_editGateway->text().trimmed().toStdString();
    const qdipc::AssignFields fields{m_editStart->text().trimmed().toStdString(), m_mask,
                                     m_gateway};
    if (m_reservations != nullptr) {
        m_reservations->Release(m_holder);
    }
    // A camera that cannot take a record is refused alone; its address stays
    // taken for the others' plan.
    qdipc::AssignSurroundings surroundings = m_surroundings;
    std::vector<qdipc::AssignCamera> eligible;
    std::vector<std::size_t> eligibleRows;
    for (std::size_t i = 0; i < m_batch.size(); ++i) {
        const qdipc::AssignCamera& camera = m_batch[i];
        m_refusals[i].clear();
        if (m_reservations != nullptr &&
            m_reservations->CameraTakenByOther(m_holder, camera.deviceId)) {
            m_refusals[i] = "a change for this camera is still waiting in another run";
        } else if (const auto problem = qdipc::ValidateSettings("", "", "", camera.mac,
                                                                qdipc::AddressingMode::Dhcp)) {
            m_refusals[i] = problem->reason;
        }
        if (m_refusals[i].empty()) {
            eligible.push_back(camera);
            eligibleRows.push_back(i);
        } else {
            surroundings.otherCameras.push_back(camera.ip);
        }
    }
    if (m_reservations != nullptr) {
        surroundings.reserved = m_reservations->TakenByOthers(m_holder);
    }
    const qdipc::BatchPlan plan = qdipc::PlanBatch(eligible, fields, surroundings);
    std::string error = plan.error;
    std::fill(m_newIps.begin(), m_newIps.end(), std::string());
    if (plan.Ok()) {
        for (std::size_t k = 0; k < eligible.size(); ++k) {
            m_newIps[eligibleRows[k]] = plan.newIps[k];
            // Every record passes the settings rules before any is sent
            // (an empty gateway, a gateway outside the subnet).
            if (const auto problem =
                    qdipc::ValidateSettings(plan.newIps[k], m_mask, m_gateway, eligible[k].mac,
                                            qdipc::AddressingMode::Static);
                problem && error.empty()) {
                error = problem->reason;
            }
            if (m_reservations != nullptr) {
                m_reservations->ReserveAddress(m_holder,
                                               qdipc::ParseIpv4Strict(plan.newIps[k]).value_or(0));
            }
        }
    }
    m_planOk = plan.Ok() && error.empty() && !eligible.empty();

    QStringList lines;
    if (!error.empty()) {
        lines << QString::fromStdString(error);
    }
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const std::string& refusal = m_refusals[static_cast<std::size_t>(row)];
        m_table->item(row, kColNewIp)
            ->setText(QString::fromStdString(m_newIps[static_cast<std::size_t>(row)]));
        SetResult(row, refusal.empty() ? QString() : kRefused, QString::fromStdString(refusal));
        if (!refusal.empty()) {
            lines << QString::fromStdString(m_batch[static_cast<std::size_t>(row)].deviceId +
                                            " is refused: " + refusal);
        }
    }
    m_message->setText(lines.join(QLatin1Char('\n')));
    QStringList skipped;
    for (const qdipc::SkippedAddress& address : plan.skipped) {
        skipped << QStringLiteral("%1 (%2)").arg(
            QString::fromStdString(qdipc::FormatIpv4(address.address)),
            QString::fromLatin1(qdipc::SkipReasonText(address.reason)));
    }
    m_skipped->setText(skipped.isEmpty()
                           ? QString()
                           : QStringLiteral("Skipped: ") + skipped.join(QStringLiteral(", ")));
    FitColumns();
    m_apply->setEnabled(m_planOk);
}

void CAssignDlg::OnApply() {
    if (!m_runRows.empty()) {
        return;
    }
    Replan();
    if (!m_planOk) {
        return;
    }
    std::vector<int> rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_refusals[static_cast<std::size_t>(row)].empty()) {
            rows.push_back(row);
        }
    }
    StartRun(rows);
}

void CAssignDlg::OnRetryUnconfirmed() {
    if (m_run && !m_run->IsFinished()) {
        return;
    }
    std::vector<int> rows;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QString result = m_table->item(row, kColResult)->text();
        if (result == kNotConfirmed || result == kConflict) {
            rows.push_back(row);
        }
    }
    if (!rows.empty()) {
        StartRun(rows);
    }
}

void CAssignDlg::StartRun(const std::vector<int>& rows) {
    std::vector<qdipc::AssignOrder> orders;
    for (const int row : rows) {
        const auto i = static_cast<std::size_t>(row);
        orders.push_back(
            {m_batch[i], m_newIps[i], m_mask, m_gateway, qdipc::AddressingMode::Static});
    }
    // The run holds the addresses from now on.
    if (m_reservations != nullptr) {
        m_reservations->Release(m_holder);
    }
    qdipc::AssignRun* run = m_startRun ? m_startRun(std::move(orders)) : nullptr;
    if (run == nullptr) {
        if (m_runRows.empty()) {
            Replan();
        }
        return;
    }
    m_run = run;
    // The fields that went out are this network's from now on.
    if (m_runRows.empty()) {
        qdipc::RememberAssignFields(
            m_memoryFile, m_prefill,
            {m_editStart->text().trimmed().toStdString(), m_mask, m_gateway});
    }
    m_runRows = rows;
    m_progress->show();
    m_apply->setEnabled(false);
    m_retry->setEnabled(false);
    SetFieldsEditable(false);
    for (const int row : rows) {
        SetResult(row, QString(), QString());
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

void CAssignDlg::SetResult(int row, const QString& text, const QString& reason) {
    QTableWidgetItem* item = m_table->item(row, kColResult);
    item->setText(text);
    item->setToolTip(reason);
    m_table->item(row, kColReason)->setText(reason);
    m_reasons[static_cast<std::size_t>(row)] = reason.toStdString();
}

void CAssignDlg::ShowResult(int index) {
    if (!m_run || index < 0 || static_cast<std::size_t>(index) >= m_runRows.size()) {
        return;
    }
    const qdipc::ProvisioningCamera& camera = m_run->CameraAt(static_cast<std::size_t>(index));
    SetResult(m_runRows[static_cast<std::size_t>(index)],
              qdipc::AssignRun::ResultText(camera.result), QString::fromStdString(camera.reason));
    ShowProgress();
}

void CAssignDlg::ShowProgress() {
    if (!m_run) {
        return;
    }
    int confirmed = 0;
    int failed = 0;
    int unconfirmed = 0;
    bool retry = false;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QString result = m_table->item(row, kColResult)->text();
        confirmed += result == kConfirmed;
        unconfirmed += result == kSent;
        failed += !result.isEmpty() && result != kConfirmed && result != kSent;
        retry = retry || result == kNotConfirmed || result == kConflict;
    }
    m_progress->setValue(confirmed);
    const QString path = m_run->RollbackPath();
    if (!path.isEmpty() && !m_rollbackPaths.contains(path)) {
        m_rollbackPaths << path;
    }
    if (!m_rollbackPaths.isEmpty()) {
        m_rollback->setText(QStringLiteral("Rollback plan (qd_ip_search --plan FILE puts the "
                                           "cameras back): ") +
                            m_rollbackPaths.join(QStringLiteral("; ")));
    } else if (!m_run->RollbackError().isEmpty()) {
        m_rollback->setText(QStringLiteral("No rollback plan: ") + m_run->RollbackError());
    }
    if (m_run->IsFinished()) {
        m_message->setText(
            failed > 0 ? QStringLiteral("%1 of %2 cameras did not confirm their new address.")
                             .arg(failed)
                             .arg(m_table->rowCount())
            : unconfirmed > 0 ? QStringLiteral("Every record was sent; confirmation is off.")
                              : QStringLiteral("Every camera confirmed its new address."));
        m_retry->setEnabled(retry);
        FitColumns();
    }
}

QString CAssignDlg::ResultsCsv() const {
    QString csv = QStringLiteral("dev_id,mac,ip,mask,gateway,mode,old_ip,result,reason\r\n");
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const auto i = static_cast<std::size_t>(row);
        QString result = m_table->item(row, kColResult)->text();
        result = result.isEmpty() ? QStringLiteral("planned")
                                  : result.replace(QLatin1Char(' '), QLatin1Char('_'));
        const QStringList fields = {
            QString::fromStdString(m_batch[i].deviceId), QString::fromStdString(m_batch[i].mac),
            QString::fromStdString(m_newIps[i]),         QString::fromStdString(m_mask),
            QString::fromStdString(m_gateway),           QStringLiteral("static"),
            QString::fromStdString(m_batch[i].ip),       result,
            QString::fromStdString(m_reasons[i])};
        QStringList quoted;
        for (const QString& field : fields) {
            quoted << CsvField(field);
        }
        csv += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
}

bool CAssignDlg::ExportResults(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(ResultsCsv().toUtf8()) < 0 || !file.flush()) {
        m_message->setText(QStringLiteral("The results could not be written to %1: %2")
                               .arg(path, file.errorString()));
        return false;
    }
    m_message->setText(QStringLiteral("Results written to %1").arg(path));
    return true;
}

void CAssignDlg::OnExport() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Results"), QStringLiteral("assign-results.csv"),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty()) {
        ExportResults(path);
    }
}
