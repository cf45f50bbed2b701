#pragma once
// The main window "Search Tool": the device list, the video pane, the four
// buttons and the progress bar. It shows what the window model (the search
// and its repeats, the ONVIF discovery, Keep Watching, the changes and the
// bar's text) decides, follows the list's current row and its IP, opens the
// settings window and the preview for that row, and lays its controls out on
// every resize.

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/ErrorLog.h"
#include "discovery/NetworkDiagnosis.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/SiteWatch.h"
#include "settings/AddressReservations.h"
#include "settings/NetSettingsRecord.h"
#include "ui/SearchWindowModel.h"
#include "ui/qt/AssignRun.h"
#include "ui/qt/DeviceListMenu.h"
#include "ui/qt/DeviceListPresentation.h"
#include "ui/qt/DeviceTable.h"
#include "ui/qt/PlainProgressBar.h"
#include "ui/qt/ReplyPump.h"
#include "ui/qt/SearchDlgConfig.h"

class CDiagnoseDlg;
class CSettingDlg;
class CVideoStatic;
class QProgressBar;
class QTableView;

namespace Ui {
class SearchDlg;
}

class CAssignDlg;

class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    // The IP cell is read into a 20-byte buffer: at most 19 characters.
    static constexpr std::size_t kCurrentIpMaxLength = 19;

    explicit CSearchDlg(qdipc::SearchDlgConfig config = {}, QWidget* parent = nullptr);
    ~CSearchDlg() override;

    // Button and list handlers.
    void OnSearch();
    void OnPreview();
    // "Device Details…": the current row's device service, in a window.
    void OnDeviceDetails();
    void OnSetting();
    void OnNoAction() {}
    void OnClickList(int row);
    // The view's current row changed (click, keys, type-ahead) or its cells
    // did: the current IP and the selected row follow it.
    void OnCurrentRowChanged(int row);
    // The list view's current row, or -1 when there is none.
    int CurrentRow() const;
    void OnDblClickList(int row);
    void OnAbout();
    // "Diagnose Network…": the checks, with what the last search saw, in a
    // small dialog (returned, also for tests; it deletes itself on close).
    CDiagnoseDlg* OnDiagnose();
    // The checks as the dialog shows them.
    std::vector<qdipc::DiagnosisLine> DiagnosisLines() const;
    // Whether the progress bar says that the last search found no camera.
    bool NoCameraShown() const { return m_model.NoCameraShown(); }
    // Opens "Assign Addresses" for the selected rows (nothing when none is).
    void OnAssignAddresses();
    // Makes a run of a batch (the caller starts it); the run is this
    // window's and outlives the dialog that made it.
    qdipc::AssignRun* StartAssignRun(std::vector<qdipc::AssignOrder> orders);

    // The settings exchange with the settings windows. OnApplySettings takes
    // the handoff block of an ApplySettingsEvent (0x603): when its first three
    // bytes are the marker it sends the record, otherwise it does nothing; it
    // answers 0. SendSettingsRecord runs a stamped copy of the record as a
    // change of one camera (the record's bytes as they are), shows "Setting
    // OK!" or "Setting error!" before it returns, and leaves the confirmation
    // running.
    int OnApplySettings(const qdipc::SettingsHandoff* handoff);
    void SendSettingsRecord(const qdipc::NetSettingsRecord& record);

    qdipc::DeviceTable& Table() { return m_table; }
    const qdipc::DeviceTable& Table() const { return m_table; }
    qdipc::DeviceListPresentation& ListPresentation() { return *m_listPresentation; }
    const std::string& CurrentIp() const { return m_currentIp; }
    std::uint32_t SearchId() const { return m_model.SearchId(); }
    // The receive worker once a search has started it, else null.
    const qdipc::RecvSearchThread* Worker() const { return m_model.Worker(); }
    // The settings window opened last, or null.
    CSettingDlg* LastSettingDlg() const { return m_pSettingDlg; }
    qdipc::ReplyPump& Pump() { return m_pump; }
    qdipc::DeviceListMenu& ListMenu() { return *m_listMenu; }
    // Addresses and cameras held by the open dialogs and the runs.
    qdipc::AddressReservations& Reservations() { return m_model.Changes().Reservations(); }
    // Whether a run (a batch or a settings change) still sends, confirms or
    // probes its addresses.
    bool RunsGoing() const;
    const qdipc::ErrorLog& Log() const { return m_model.Log(); }

    // "Keep Watching": on, the list is kept up to date by one request per
    // interval (a window that has not searched yet searches first); off, or
    // a new Search, ends it. The rows stay as they are.
    void SetWatching(bool on);
    bool Watching() const { return m_model.Watching(); }
    const qdipc::SiteWatch& Watch() const { return m_model.Watch(); }
    // "Save List As…": asks for a file, writes it, says so in a box when it
    // fails.
    void OnSaveList();
    // Writes the list to path: JSON for a .json name, else CSV with its
    // metadata beside it (SavedListAboutPath). The error text, or empty.
    QString SaveListTo(const QString& path);
    // "Apply Plan…": asks for a plan or rollback file and opens it.
    void OnApplyPlan();
    // Plans the file's lines against the cameras listed (as --plan does)
    // and shows them in an "Apply Plan" dialog whose Apply runs them; a
    // file that cannot be read is said in a box. The dialog, or null.
    CAssignDlg* OpenPlanFile(const QString& path);
    // The progress bar's visible text (empty while it shows none).
    QString ProgressText() const;

    // Stops and joins the receive worker and shuts the video pane down; the
    // window calls it when it closes. Safe to call more than once.
    void Shutdown();

    void done(int result) override;

protected:
    // Opens a settings window for a row of the table.
    virtual void OpenSettings(int row);
    // Plays a stream location in the video pane.
    virtual void PlayStream(const std::string& location);

    void resizeEvent(QResizeEvent* event) override;
    // Delivers the settings windows' handoffs (ApplySettingsEvent) to OnApplySettings.
    void customEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    // Notes which button double-clicked the list, so that only the left one
    // opens a row's settings.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether the row was found through its device service (Preview then
    // plays the location that service gives).
    bool IsDeviceServiceRow(int row) const;
    void OnInitDialog();
    void OnSize(int cx, int cy);
    void MakeRowCurrent(int row);
    // The model's wake call, on this window's thread: ONVIF devices join
    // the list, the pump takes the replies.
    void OnModelWake();
    // One step of the model at its due time (the search's repeats and end,
    // watch cycles, the changes' probes), on m_changeTimer.
    void OnTick(qdipc::SearchWindowModel::Clock::time_point now);
    int SelectedCount() const;
    // The model's bar text on the progress bar, with the changes' progress
    // while their text is there; empty before the first search.
    void ShowBar();
    // The bar's visible text (and tooltip), safe from its format's '%' codes.
    void SetBarText(const QString& text);
    // The operator acted: a confirmation's outcome gives way to the counts.
    void OnOperatorAction();
    // Closing with records unsent or unconfirmed: asks; true to close.
    bool MayCloseWithRunsGoing();

    qdipc::SearchDlgConfig m_config;
    std::unique_ptr<Ui::SearchDlg> m_ui;
    std::shared_ptr<qdipc::MessagePresenter> m_messages;
    // What the window shows and decides; the table and the pump are views of
    // its list and its queue.
    qdipc::SearchWindowModel m_model;
    qdipc::DeviceTable m_table;
    qdipc::ReplyPump m_pump;

    CSettingDlg* m_pSettingDlg = nullptr;  // the settings window opened last
    std::string m_currentIp;               // IP cell of the current row

    qdipc::PlainProgressBar* m_progress = nullptr;
    CVideoStatic* m_videoPane = nullptr;
    QTableView* m_deviceList = nullptr;
    QIcon m_hIcon;
    std::unique_ptr<qdipc::DeviceListPresentation> m_listPresentation;
    std::unique_ptr<qdipc::DeviceListMenu> m_listMenu;
    // Steps the whole model on the event loop at its next due time; the
    // runs the Assign dialogs follow start and arm through it.
    std::unique_ptr<qdipc::ChangeRunsTimer> m_changeTimer;
    Qt::MouseButton m_listDoubleClickButton = Qt::NoButton;
    bool m_aboutInSystemMenu = false;
    bool m_watchInSystemMenu = false;
    bool m_shutDown = false;
};
