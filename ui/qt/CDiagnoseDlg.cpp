#include "ui/qt/CDiagnoseDlg.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "discovery/CellText.h"
#include "ui/WindowTexts.h"
#include "ui/qt/DeviceTable.h"

namespace {

// Texts from the system (interface and program names) with their control
// characters as \xNN, as everywhere else.
QString Plain(const std::string& text) {
    return QString::fromStdString(qdipc::EscapeControls(text));
}

}  // namespace

CDiagnoseDlg::CDiagnoseDlg(std::vector<qdipc::DiagnosisLine> lines, QWidget* parent)
    : QDialog(parent), m_lines(std::move(lines)) {
    setWindowTitle(QStringLiteral("Diagnose Network"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);

    m_summary = new QLabel(this);
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setText(QString::fromStdString(qdipc::DiagnosisSummary(m_lines)));
    layout->addWidget(m_summary);

    m_table = new QTableWidget(static_cast<int>(m_lines.size()), 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Result"),
                                        QStringLiteral("Finding"), QStringLiteral("Fix")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < static_cast<int>(m_lines.size()); ++row) {
        const auto& line = m_lines[static_cast<std::size_t>(row)];
        const QString cells[4] = {Plain(line.check),
                                  QString::fromStdString(qdipc::CheckResultText(line.result)),
                                  Plain(line.finding), Plain(line.fix)};
        for (int column = 0; column < 4; ++column) {
            // Table items show their text as it is: never as rich text.
            auto* item = new QTableWidgetItem(cells[column]);
            // A tooltip would read markup as rich text: escaped where it could.
            item->setToolTip(qdipc::PlainToolTip(cells[column]));
            if (line.result == qdipc::CheckResult::Problem) {
                item->setBackground(QColor(255, 222, 173));
            }
            m_table->setItem(row, column, item);
        }
    }
    m_table->setColumnWidth(0, 80);
    m_table->setColumnWidth(1, 80);
    m_table->setColumnWidth(2, 360);
    m_table->resizeRowsToContents();
    layout->addWidget(m_table);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this, &CDiagnoseDlg::CopyToClipboard);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(820, 420);
}

QString CDiagnoseDlg::Text() const {
    return QString::fromStdString(qdipc::DiagnosisText(m_lines));
}

void CDiagnoseDlg::CopyToClipboard() const {
    QGuiApplication::clipboard()->setText(Text());
}
