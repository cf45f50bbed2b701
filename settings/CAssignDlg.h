#pragma once
// "Assign Addresses": new addresses for the cameras selected in the list. The
// fields "Start IP", "Mask" and "Gateway" open filled from the network the
// first camera answered on; the table shows each camera's new address before
// anything is sent and its result afterwards; "Apply" checks every record
// and hands them to the main window's run, "Close" closes the window and
// leaves a started run going.

#include <QDialog>
#include <QPointer>
#include <functional>
#include <vector>

#include "settings/AssignRun.h"
#include "settings/BatchAssign.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

class CAssignDlg : public QDialog {
    Q_OBJECT
public:
    enum Column { kColDevId, kColMac, kColIp, kColNewIp, kColResult, kColumnCount };

    // Starts a run of the given orders and answers it (owned elsewhere), or
    // null when it cannot start.
    using RunStarter = std::function<qdipc::AssignRun*(std::vector<qdipc::AssignOrder>)>;

    CAssignDlg(std::vector<qdipc::AssignCamera> batch, qdipc::AssignSurroundings surroundings,
               RunStarter startRun, QWidget* parent = nullptr);

    QLineEdit* StartEdit() const { return m_editStart; }
    QLineEdit* MaskEdit() const { return m_editMask; }
    QLineEdit* GatewayEdit() const { return m_editGateway; }
    QTableWidget* PlanTable() const { return m_table; }
    QPushButton* ApplyButton() const { return m_apply; }
    QLabel* MessageLabel() const { return m_message; }
    QProgressBar* Progress() const { return m_progress; }
    qdipc::AssignRun* Run() const { return m_run; }

public slots:
    // Plans again from the fields (each edit does this).
    void Replan();
    void OnApply();

private:
    void ShowResult(int index);
    void ShowProgress();

    std::vector<qdipc::AssignCamera> m_batch;
    qdipc::AssignSurroundings m_surroundings;
    RunStarter m_startRun;
    qdipc::BatchPlan m_plan;
    QPointer<qdipc::AssignRun> m_run;

    QLineEdit* m_editStart = nullptr;
    QLineEdit* m_editMask = nullptr;
    QLineEdit* m_editGateway = nullptr;
    QLabel* m_message = nullptr;
    QTableWidget* m_table = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_close = nullptr;
};
