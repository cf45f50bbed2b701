#pragma once
// "Diagnose Network": the network checks with their results, findings and
// fixes, one row each, as plain text; "Copy" puts them on the clipboard as
// tab-separated lines.

#include <QDialog>
#include <vector>

#include "discovery/NetworkDiagnosis.h"

class QLabel;
class QTableWidget;

class CDiagnoseDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDiagnoseDlg(std::vector<qdipc::DiagnosisLine> lines, QWidget* parent = nullptr);

    const std::vector<qdipc::DiagnosisLine>& Lines() const { return m_lines; }
    QTableWidget* Table() const { return m_table; }
    QLabel* Summary() const { return m_summary; }
    // The text "Copy" puts on the clipboard.
    QString Text() const;
    void CopyToClipboard() const;

private:
    std::vector<qdipc::DiagnosisLine> m_lines;
    QTableWidget* m_table = nullptr;
    QLabel* m_summary = nullptr;
};
