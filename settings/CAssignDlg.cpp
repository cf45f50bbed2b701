#include "settings/CAssignDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "settings/SettingsValidation.h"

namespace {

QTableWidgetItem* Cell(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

CAssignDlg::CAssignDlg(std::vector<qdipc::AssignCamera> batch,
                       qdipc::AssignSurroundings surroundings, RunStarter startRun, QWidget* parent)
    : QDialog(parent),
      m_batch(std::move(batch)),
      m_surroundings(std::move(surroundings)),
      m_startRun(std::move(startRun)) {
    setWindowTitle(QStringLiteral("Assign Addresses"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_editStart = new QLineEdit(this);
    m_editMask = new QLineEdit(this);
    m_editGateway = new QLineEdit(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Start IP"), m_editStart);
    form->addRow(QStringLiteral("Mask"), m_editMask);
    form->addRow(QStringLiteral("Gateway"), m_editGateway);

    m_message = new QLabel(this);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);

    m_table = new QTableWidget(static_cast<int>(m_batch.size()), kColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Dev ID"), QStringLiteral("MAC"),
                                        QStringLiteral("IP"), QStringLiteral("New IP"),
                                        QStringLiteral("Result")});
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
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, static_cast<int>(m_batch.size()));
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v of %m confirmed"));

    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(QStringLiteral("Apply"), QDialogButtonBox::ApplyRole);
    m_close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
    m_apply->setAutoDefault(false);
    m_close->setAutoDefault(false);
    connect(m_apply, &QPushButton::clicked, this, &CAssignDlg::OnApply);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    resize(560, 420);

    const qdipc::AssignFields fields = qdipc::PrefillAssignFields(m_batch, m_surroundings);
    m_editStart->setText(QString::fromStdString(fields.start));
    m_editMask->setText(QString::fromStdString(fields.mask));
    m_editGateway->setText(QString::fromStdString(fields.gateway));
    for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
        connect(edit, &QLineEdit::textChanged, this, &CAssignDlg::Replan);
    }
    Replan();
}

void CAssignDlg::Replan() {
    if (m_run) {
        return;  // the plan of a started run stays as it was sent
    }
    const qdipc::AssignFields fields{m_editStart->text().trimmed().toStdString(),
                                     m_editMask->text().trimmed().toStdString(),
                                     m_editGateway->text().trimmed().toStdString()};
    m_plan = qdipc::PlanBatch(m_batch, fields, m_surroundings);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const std::string newIp =
            m_plan.Ok() ? m_plan.newIps[static_cast<std::size_t>(row)] : std::string();
        m_table->item(row, kColNewIp)->setText(QString::fromStdString(newIp));
    }
    m_message->setText(QString::fromStdString(m_plan.error));
    m_apply->setEnabled(m_plan.Ok() && !m_batch.empty());
}

void CAssignDlg::OnApply() {
    Replan();
    if (m_run || !m_plan.Ok()) {
        return;
    }
    const std::string mask = m_editMask->text().trimmed().toStdString();
    const std::string gateway = m_editGateway->text().trimmed().toStdString();
    std::vector<qdipc::AssignOrder> orders;
    for (std::size_t i = 0; i < m_batch.size(); ++i) {
        qdipc::AssignOrder order{m_batch[i], m_plan.newIps[i], mask, gateway,
                                 qdipc::AddressingMode::Static};
        // Every record passes the settings rules before the first one leaves.
        if (const auto problem = qdipc::ValidateSettings(order.newIp, order.mask, order.gateway,
                                                         order.camera.mac, order.mode)) {
            m_message->setText(
                QString::fromStdString(order.camera.deviceId + ": " + problem->reason));
            return;
        }
        orders.push_back(std::move(order));
    }
    qdipc::AssignRun* run = m_startRun ? m_startRun(std::move(orders)) : nullptr;
    if (run == nullptr) {
        return;
    }
    m_run = run;
    m_apply->setEnabled(false);
    for (QLineEdit* edit : {m_editStart, m_editMask, m_editGateway}) {
        edit->setReadOnly(true);
    }
    connect(run, &qdipc::AssignRun::ResultChanged, this, &CAssignDlg::ShowResult);
    connect(run, &qdipc::AssignRun::Finished, this, &CAssignDlg::ShowProgress);
    for (int row = 0; row < run->Total(); ++row) {
        ShowResult(row);
    }
    run->Start();
}

void CAssignDlg::ShowResult(int index) {
    if (!m_run || index < 0 || index >= m_table->rowCount()) {
        return;
    }
    m_table->item(index, kColResult)
        ->setText(qdipc::AssignRun::ResultText(m_run->ResultOf(static_cast<std::size_t>(index))));
    ShowProgress();
}

void CAssignDlg::ShowProgress() {
    if (!m_run) {
        return;
    }
    m_progress->setValue(m_run->ConfirmedCount());
    if (m_run->IsFinished()) {
        int failed = 0;
        for (int i = 0; i < m_run->Total(); ++i) {
            const auto result = m_run->ResultOf(static_cast<std::size_t>(i));
            failed += result == qdipc::AssignRun::Result::NotConfirmed ||
                      result == qdipc::AssignRun::Result::NotSent;
        }
        const int unconfirmed = m_run->Total() - m_run->ConfirmedCount() - failed;
        m_message->setText(
            failed > 0 ? QStringLiteral("%1 of %2 cameras did not confirm their new address.")
                             .arg(failed)
                             .arg(m_run->Total())
            : unconfirmed > 0 ? QStringLiteral("Every record was sent; confirmation is off.")
                              : QStringLiteral("Every camera confirmed its new address."));
    }
}
