#pragma once
// "Assign Addresses": new addresses for the cameras selected in the list. The
// fields "Start IP", "Mask" and "Gateway" open filled from the network the
// first camera answered on; the table shows each camera's new address before
// anything is sent and its result afterwards; "Apply" hands the cameras to a
// run of the provisioning engine that the main window owns, "Close" closes
// the window and leaves a started run going.
//
// The plan, the refusals, the results and their counts are the core's
// AssignModel; the dialog shows its rows and texts. Below the table: the
// addresses the plan passed over and why, and the rollback plan of the run.
// "Retry Unconfirmed" sends the cameras that did not confirm again; "Export
// Results…" saves the table. Opened with a plan file ("Apply Plan…" of the
// window), it shows the file's lines (new IP, mask, gateway, mode, any
// refusal with its reason) instead of the fields, and Apply runs them.

#include <QDialog>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/AddressReservations.h"
#include "settings/AssignModel.h"
#include "settings/BatchAssign.h"
#include "ui/qt/AssignRun.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace qdipc {
class PlainProgressBar;
}

class CAssignDlg : public QDialog {
    Q_OBJECT
public:
    enum Column {
        kColDevId,
        kColMac,
        kColIp,
        kColNewIp,
        kColNewMask,
        kColNewGateway,
        kColNewMode,
        kColResult,
        kColReason,
        kColumnCount
    };

    // Makes a run of the given orders (owned elsewhere) that the dialog then
    // starts, or null when it cannot.
    using RunStarter = std::function<qdipc::AssignRun*(std::vector<qdipc::AssignOrder>)>;

    // reservations may be null (nothing else plans); it must outlive the dialog.
    CAssignDlg(std::vector<qdipc::AssignCamera> batch, qdipc::AssignSurroundings surroundings,
               RunStarter startRun, qdipc::AddressReservations* reservations = nullptr,
               QWidget* parent = nullptr);
    // "Apply Plan": the rows of an opened plan file (AssignModel's plan
    // constructor), titled with the file's name; no fields, the plan's lines
    // as they are, Apply runs them.
    CAssignDlg(qdipc::ProvisioningPlan plan, const QString& fileName,
               qdipc::AssignSurroundings surroundings, RunStarter startRun,
               qdipc::AddressReservations* reservations = nullptr, QWidget* parent = nullptr);
    ~CAssignDlg() override;

    QLineEdit* StartEdit() const { return m_editStart; }
    QLineEdit* MaskEdit() const { return m_editMask; }
    QLineEdit* GatewayEdit() const { return m_editGateway; }
    QTableWidget* PlanTable() const { return m_table; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* RetryButton() const { return m_retry; }
    QPushButton* UndoButton() const { return m_undo; }
    QPushButton* ExportButton() const { return m_export; }
    QLabel* MessageLabel() const { return m_message; }
    QLabel* SkippedLabel() const { return m_skipped; }
    QLabel* RollbackLabel() const { return m_rollback; }
    qdipc::PlainProgressBar* Progress() const { return m_progress; }
    qdipc::AssignRun* Run() const { return m_run; }
    const qdipc::AssignModel& Model() const { return m_model; }

    // Remembers the fields applied per network in file (AssignMemory), and
    // takes those last applied on this batch's network now, unless the
    // operator has edited them already. Empty: nothing is remembered.
    void RememberFieldsIn(std::filesystem::path file);

    // The table as CSV: the plan file's columns (dev_id, mac, ip = the new
    // address, mask, gateway, mode), then old_ip, result and reason.
    QString ResultsCsv() const;
    // Writes ResultsCsv to the file; false with the reason shown.
    bool ExportResults(const QString& path);

public slots:
    // Plans again from the fields (each edit does this).
    void Replan();
    void OnApply();
    // A new run of the cameras whose change was not confirmed.
    void OnRetryUnconfirmed();
    // A run of the first rollback plan of this dialog: every camera back to
    // what it reported before the dialog's first run.
    void OnUndoRun();
    void OnExport();

private:
    // The controls, for the model's rows.
    void Build();
    // The fields as the plan takes them (trimmed).
    qdipc::AssignFields Fields() const;
    // The model's plan in the rows, the message and skipped lines and Apply.
    void ShowPlan();
    // Starts a run of these table rows with their planned addresses.
    void StartRun(const std::vector<int>& rows);
    // Starts a run of these orders; order i is table row rows[i].
    void StartOrders(std::vector<qdipc::AssignOrder> orders, const std::vector<int>& rows);
    void ShowResult(int index);
    void ShowProgress();
    // Shows the model's row: its new IP and result.
    void ShowRow(int row);
    void SetFieldsEditable(bool editable);
    // The Result column fits its longest word, whatever the rows hold now.
    void FitColumns();

    qdipc::AssignModel m_model;
    RunStarter m_startRun;
    // The prefilled fields (whose network keys the remembered ones) and
    // where applied fields are remembered.
    qdipc::AssignFields m_prefill;

    QPointer<qdipc::AssignRun> m_run;

    QLineEdit* m_editStart = nullptr;
    QLineEdit* m_editMask = nullptr;
    QLineEdit* m_editGateway = nullptr;
    QLabel* m_message = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_skipped = nullptr;
    QLabel* m_rollback = nullptr;
    qdipc::PlainProgressBar* m_progress = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_retry = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_close = nullptr;
};
