#include "ui/qt/CSearchDlg.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTableView>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ListOutput.h"
#include "platform/NetworkInterfaces.h"
#include "platform/StateDirectory.h"
#include "platform/UdpSocket.h"
#include "platform/WholeFile.h"
#include "settings/AssignMemory.h"
#include "settings/AssignModel.h"
#include "settings/ChangeChecks.h"
#include "settings/PlanFile.h"
#include "settings/ProvisioningSession.h"
#include "ui/RowMenu.h"
#include "ui/WindowLayout.h"
#include "ui/WindowTexts.h"
#include "ui/qt/AppResources.h"
#include "ui/qt/ApplySettingsEvent.h"
#include "ui/qt/CAboutDlg.h"
#include "ui/qt/CAssignDlg.h"
#include "ui/qt/CDeviceDetailsDlg.h"
#include "ui/qt/CDiagnoseDlg.h"
#include "ui/qt/CSettingDlg.h"
#include "ui/qt/CVideoStatic.h"
#include "ui/qt/DialogFont.h"
#include "ui/qt/PreviewMenuActions.h"
#include "ui/qt/SystemMenu.h"
#include "ui_SearchDlg.h"

namespace {

QRect ToWidgetRect(const qdipc::ControlRect& rect) {
    // Widgets take no negative sizes; a window too small for a control shows
    // none of it.
    return QRect(rect.x, rect.y, std::max(0, rect.width), std::max(0, rect.height));
}

// What an address plan avoids and offers: this host's interfaces, the
// neighbour table, the gateways and the address probe, as configured.
qdipc::AssignSurroundings SurroundingsOf(const qdipc::SearchDlgConfig& config) {
    qdipc::AssignSurroundings surroundings;
    surroundings.interfaces =
        config.interfaces ? config.interfaces() : qdipc::ListBroadcastInterfaces();
    surroundings.neighbours =
        config.neighbours ? config.neighbours() : qdipc::ReachableNeighbours();
    surroundings.gatewayOf =
        config.gatewayOf
            ? config.gatewayOf
            : std::function<std::optional<std::string>(std::uint32_t)>(qdipc::DefaultGatewayOf);
    surroundings.probe = config.probeAddresses;
    if (!surroundings.probe) {
        surroundings.probe =
            [interfaces = surroundings.interfaces](const std::vector<std::uint32_t>& addresses) {
                return qdipc::ProbeAddresses(addresses, interfaces);
            };
    }
    return surroundings;
}

// The window model's part of the window's configuration.
qdipc::SearchWindowConfig WindowConfigOf(const qdipc::SearchDlgConfig& config) {
    qdipc::SearchWindowConfig window;
    static_cast<qdipc::NetworkConfig&>(window) = config;
    window.searchEndDelay = config.searchEndDelay;
    window.portOwners = config.portOwners;
    window.watch = config.watch;
    window.confirmation = config.confirmation;
    if (!window.confirmation.neighbours && config.neighbours) {
        window.confirmation.neighbours = config.neighbours;
    }
    window.hostFacts = config.hostFacts;
    window.reversePathDrops = config.reversePathDrops;
    window.surroundings = [config] { return SurroundingsOf(config); };
    return window;
}

qdipc::ReplyPumpOptions PumpOptions(const qdipc::SearchDlgConfig& config) {
    qdipc::ReplyPumpOptions options;
    options.minInterval = config.replyDrainInterval;
    options.sliceBudget = config.replySliceBudget;
    options.maxPending = config.maxPendingReplies;
    return options;
}

}  // namespace

CSearchDlg::CSearchDlg(qdipc::SearchDlgConfig config, QWidget* parent)
    : QDialog(parent),
      m_config(std::move(config)),
      m_ui(std::make_unique<Ui::SearchDlg>()),
      m_messages(m_config.messages ? m_config.messages
                                   : std::make_shared<qdipc::WarningMessageBox>()),
      // Called on the worker's and the ONVIF threads: this window's thread
      // takes what waits. The model ends its threads before the window goes.
      m_model(WindowConfigOf(m_config),
              [this] {
                  QMetaObject::invokeMethod(this, &CSearchDlg::OnModelWake, Qt::QueuedConnection);
              }),
      m_table(m_model.List()),
      m_pump(
          m_model.Queue(),
          [this](std::vector<qdipc::AcceptedReply>& batch) {
              m_model.AddReplies(batch);
              ShowBar();
          },
          PumpOptions(m_config)),
      m_hIcon(qdipc::ProgramIcon()) {
    // One timer steps the whole model: the search's repeats and end, watch
    // cycles, the changes' probes.
    qdipc::ChangeRunsTimer::Stepping stepping;
    stepping.nextDue = [this] { return m_model.NextDue(); };
    stepping.tick = [this](qdipc::ChangeRuns::Clock::time_point now) { OnTick(now); };
    m_changeTimer = std::make_unique<qdipc::ChangeRunsTimer>(m_model.Changes(), stepping);
    connect(m_changeTimer.get(), &qdipc::ChangeRunsTimer::Stepped, this, &CSearchDlg::ShowBar);
    m_ui->setupUi(this);
    OnInitDialog();
}

CSearchDlg::~CSearchDlg() {
    Shutdown();
    // The dialogs and runs hold the reservations, a member that goes before
    // the child objects do: they go first.
    for (CAssignDlg* dialog : findChildren<CAssignDlg*>()) {
        delete dialog;
    }
    for (qdipc::AssignRun* run : findChildren<qdipc::AssignRun*>()) {
        delete run;
    }
    m_changeTimer.reset();
    // The table is a member and goes before the child widgets do.
    m_deviceList->setModel(nullptr);
}

void CSearchDlg::OnInitDialog() {
    setFont(qdipc::DialogFont());
    // Caption, system menu, resizable frame and a minimise box; no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    m_progress = m_ui->progressBar;
    m_videoPane = m_ui->videoPane;
    m_deviceList = m_ui->deviceList;
    // The About entry: in the window's system menu where the platform has one,
    // otherwise on F1 and on the window background's context menu.
    m_aboutInSystemMenu =
        qdipc::AppendSystemMenuItem(this, qdipc::kAboutCommandId, qdipc::AboutMenuText());
    // "Keep Watching" beside it; where there is no system menu, on the
    // window background's context menu (and always on the list's).
    m_watchInSystemMenu = qdipc::AppendSystemMenuItem(this, qdipc::kKeepWatchingCommandId,
                                                      QStringLiteral("Keep Watching"));
    if (!m_aboutInSystemMenu) {
        auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
        connect(help, &QShortcut::activated, this, &CSearchDlg::OnAbout);
    } else {
        qdipc::AppendSystemMenuItem(this, qdipc::kDiagnoseCommandId, qdipc::DiagnoseMenuText());
    }

    setWindowIcon(m_hIcon);

    m_listPresentation =
        std::make_unique<qdipc::DeviceListPresentation>(m_deviceList, &m_table, this);
    qdipc::DeviceListMenuActions menuActions;
    menuActions.assignAddresses = [this] { OnAssignAddresses(); };
    menuActions.settings = [this] { OnSetting(); };
    menuActions.preview = [this] { OnPreview(); };
    menuActions.streamInfo = [this] { qdipc::ShowStreamInfo(this, m_videoPane); };
    menuActions.saveSnapshot = [this] {
        qdipc::SaveSnapshotAs(this, m_videoPane,
                              [this](const QString& text) { m_messages->Warn(this, text); });
    };
    menuActions.deviceDetails = [this] { OnDeviceDetails(); };
    menuActions.copy = [this] { m_listPresentation->CopySelectedRows(); };
    menuActions.keepWatching = [this](bool on) { SetWatching(on); };
    menuActions.watching = [this] { return Watching(); };
    menuActions.saveList = [this] { OnSaveList(); };
    menuActions.applyPlan = [this] { OnApplyPlan(); };
    menuActions.warn = [this](const QString& text) { m_messages->Warn(this, text); };
    menuActions.diagnose = [this] { OnDiagnose(); };
    m_listMenu = std::make_unique<qdipc::DeviceListMenu>(m_deviceList, &m_table, menuActions,
                                                         m_config.openUrl);

    // The table starts empty with device count and selected row 0.

    // Range 1 to 100, step 1; nothing advances the bar, so it stays empty.
    m_progress->setRange(1, 100);
    m_progress->reset();
    m_progress->setTextVisible(false);

    m_pSettingDlg = nullptr;

    if (m_config.openFirewall) {
        m_config.openFirewall();
    }
    qdipc::StartSocketLibrary();

    connect(m_ui->searchButton, &QPushButton::clicked, this, &CSearchDlg::OnSearch);
    connect(m_ui->previewButton, &QPushButton::clicked, this, &CSearchDlg::OnPreview);
    connect(m_ui->settingButton, &QPushButton::clicked, this, &CSearchDlg::OnSetting);
    connect(m_ui->testButton, &QPushButton::clicked, this, &CSearchDlg::OnNoAction);
    connect(m_deviceList, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { OnClickList(index.row()); });
    // The buttons act on the view's current row, however it was chosen
    // (click, arrow keys, Home/End, type-ahead), and the current IP follows
    // it, also when the row's cells change in place.
    connect(m_deviceList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentRowChanged(current.row()); });
    connect(&m_table, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                const int row = m_deviceList->currentIndex().row();
                if (row >= first.row() && row <= last.row()) {
                    OnCurrentRowChanged(row);
                }
            });
    // The view reports double-clicks of every button; only the left one counts.
    m_deviceList->viewport()->installEventFilter(this);
    connect(m_deviceList, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) {
                if (m_listDoubleClickButton == Qt::LeftButton) {
                    OnDblClickList(index.row());
                }
            });

    connect(m_deviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnOperatorAction(); });
    // A click on the bar while it says "No camera answered" opens the diagnosis.
    m_progress->installEventFilter(this);

    // The first tab stop, the list, has the focus.
    m_deviceList->setFocus(Qt::OtherFocusReason);
}

void CSearchDlg::OnSearch() {
    // A new search ends the repeats of the one before, and watching: it
    // clears the list and lists afresh. Port 8089 is bound before the
    // request leaves; when it cannot be, the operator is told every time,
    // nothing is sent, and the bar names the program that holds the port.
    const std::string failure = m_model.Search(qdipc::SearchWindowModel::Clock::now());
    m_changeTimer->Arm();
    ShowBar();
    if (!failure.empty()) {
        m_messages->Warn(this, QString::fromStdString(failure));
    }
}

void CSearchDlg::SetWatching(bool on) {
    m_model.OperatorActed();
    const std::string failure = m_model.SetWatching(on, qdipc::SearchWindowModel::Clock::now());
    m_changeTimer->Arm();
    ShowBar();
    if (!failure.empty()) {
        m_messages->Warn(this, QString::fromStdString(failure));
    }
}

void CSearchDlg::OnModelWake() {
    // ONVIF devices join now; replies go through the pump, which spreads a
    // flood of them over the event loop.
    if (m_model.TakeOnvif()) {
        ShowBar();
    }
    m_pump.Wake();
}

void CSearchDlg::OnTick(qdipc::SearchWindowModel::Clock::time_point now) {
    const bool searching = m_model.Searching();
    m_model.Tick(now);
    // A search that ended with rows: the columns fit what came.
    if (searching && !m_model.Searching() && m_table.RowCount() > 0) {
        m_listPresentation->FitColumns();
    }
}

int CSearchDlg::SelectedCount() const {
    return static_cast<int>(m_deviceList->selectionModel()->selectedRows().size());
}

QString CSearchDlg::ProgressText() const {
    return m_progress->isTextVisible() ? m_progress->PlainText() : QString();
}

void CSearchDlg::SetBarText(const QString& text) {
    // Shown as it is (never a format), also as the tooltip for a bar too
    // narrow for its text, and for screen readers.
    m_progress->SetPlainText(text);
    m_progress->setTextVisible(true);
}

void CSearchDlg::ShowBar() {
    const std::string text = m_model.BarText(SelectedCount());
    if (text.empty()) {
        // Before the first search: empty, as the window opened it.
        m_progress->setRange(1, 100);
        m_progress->reset();
        m_progress->setTextVisible(false);
        m_progress->SetPlainText({});
        return;
    }
    const qdipc::ChangeRuns& changes = m_model.Changes();
    if (!changes.BarText().empty() && text == changes.BarText()) {
        // While changes wait, the share of them that ended; then full when
        // every change was confirmed, empty when one was not.
        m_progress->setRange(0, 1000);
        m_progress->setValue(changes.ProgressPermille());
    } else {
        // An empty bar (its value at the minimum) that draws its text.
        m_progress->setRange(0, 1);
        m_progress->setValue(0);
    }
    SetBarText(QString::fromStdString(text));
}

void CSearchDlg::OnOperatorAction() {
    m_model.OperatorActed();
    ShowBar();
}

void CSearchDlg::OnSaveList() {
    const QString json = QStringLiteral("JSON (*.json)");
    QString filter;
    const QString chosen =
        m_config.chooseSaveFile
            ? m_config.chooseSaveFile(this)
            : QFileDialog::getSaveFileName(this, QStringLiteral("Save List As"), QString(),
                                           QStringLiteral("CSV (*.csv);;") + json, &filter);
    if (chosen.isEmpty()) {
        return;
    }
    // A name without an extension gets the chosen format's.
    const QString path = QString::fromStdString(qdipc::SavedListPath(
        chosen.toStdString(), filter == json ? qdipc::ListFormat::Json : qdipc::ListFormat::Csv));
    const QString error = SaveListTo(path);
    if (!error.isEmpty()) {
        m_messages->Warn(this, error);
    }
}

void CSearchDlg::OnApplyPlan() {
    const QString path =
        m_config.choosePlanFile
            ? m_config.choosePlanFile(this)
            : QFileDialog::getOpenFileName(this, QStringLiteral("Apply Plan"), QString(),
                                           QStringLiteral("CSV (*.csv);;All files (*)"));
    if (!path.isEmpty()) {
        OpenPlanFile(path);
    }
}

CAssignDlg* CSearchDlg::OpenPlanFile(const QString& path) {
    // The checks of --plan: the cameras listed are those found, the other
    // runs' addresses are taken. The path's controls are escaped.
    qdipc::SearchWindowModel::OpenedPlan opened =
        m_model.OpenPlan(std::filesystem::path(QFile::encodeName(path).toStdString()));
    if (!opened.error.empty()) {
        m_messages->Warn(this, QString::fromStdString(opened.error));
        return nullptr;
    }
    auto* dialog = new CAssignDlg(
        std::move(opened.plan), QFileInfo(path).fileName(), std::move(opened.surroundings),
        [this](std::vector<qdipc::AssignOrder> orders) {
            return StartAssignRun(std::move(orders));
        },
        &Reservations(), this);
    dialog->show();
    return dialog;
}

QString CSearchDlg::SaveListTo(const QString& path) {
    // The file name as the system spells it; the list written as every
    // window writes it.
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    return QString::fromStdString(qdipc::SaveDeviceList(
        m_table.List(), file,
        m_config.interfaces ? m_config.interfaces() : qdipc::ListBroadcastInterfaces()));
}

std::vector<qdipc::DiagnosisLine> CSearchDlg::DiagnosisLines() const {
    return m_model.DiagnosisLines();
}

CDiagnoseDlg* CSearchDlg::OnDiagnose() {
    auto* dialog = new CDiagnoseDlg(DiagnosisLines(), this);
    dialog->show();
    return dialog;
}

void CSearchDlg::OnPreview() {
    // No current row (none chosen yet, or a search emptied the list): nothing.
    const int row = CurrentRow();
    if (row < 0) {
        return;
    }
    OnCurrentRowChanged(row);
    // A row found through its device service plays the location the device
    // gives; every other row the camera's own fixed location.
    if (IsDeviceServiceRow(row)) {
        PlayDeviceServiceStream(m_videoPane, m_currentIp);
        return;
    }
    PlayStream(qdipc::StreamLocationFor(m_currentIp));
}

bool CSearchDlg::IsDeviceServiceRow(int /*row*/) const {
    // Hook: true for the rows the device-service discovery adds, once the
    // list marks them; no row is one yet.
    return false;
}

void CSearchDlg::OnDeviceDetails() {
    const int row = CurrentRow();
    if (row < 0) {
        return;
    }
    OnCurrentRowChanged(row);
    CDeviceDetailsDlg::LoginStore store;
    store.find = [pane = QPointer<CVideoStatic>(m_videoPane)](const std::string& host) {
        std::optional<qdipc::OnvifLogin> login;
        if (const auto stored = pane ? pane->StoredLogin(host) : std::nullopt) {
            login = qdipc::OnvifLogin{stored->first, stored->second};
        }
        return login;
    };
    store.keep = [pane = QPointer<CVideoStatic>(m_videoPane)](const std::string& host,
                                                              const qdipc::OnvifLogin& login) {
        if (pane) {
            pane->StoreLogin(host, login.user, login.password);
        }
    };
    (new CDeviceDetailsDlg(m_currentIp, store, this))->show();
}

void CSearchDlg::PlayStream(const std::string& location) {
    m_videoPane->SetLocation(location);
    m_videoPane->Play();
}

void CSearchDlg::OnSetting() {
    const int row = CurrentRow();
    if (row >= 0) {
        OpenSettings(row);
    }
}

int CSearchDlg::CurrentRow() const {
    const QModelIndex current = m_deviceList->selectionModel()->currentIndex();
    return current.isValid() && current.row() < m_table.RowCount() ? current.row() : -1;
}

void CSearchDlg::OnClickList(int row) {
    MakeRowCurrent(row);
    OnCurrentRowChanged(row);
}

void CSearchDlg::MakeRowCurrent(int row) {
    // A click in the view has made its row current already; a handler called
    // otherwise moves the view's current row (and selection) there, so that
    // the buttons and the highlight never disagree.
    if (row < 0 || row >= m_table.RowCount() || CurrentRow() == row) {
        return;
    }
    const int column = std::max(0, m_deviceList->currentIndex().column());
    m_deviceList->selectionModel()->setCurrentIndex(
        m_table.index(row, column),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CSearchDlg::OnCurrentRowChanged(int row) {
    if (row < 0 || row >= m_table.RowCount()) {
        return;  // no row: the current IP stays as it was
    }
    const std::string ip = m_table.CellText(row, qdipc::kColIp);
    m_currentIp = ip.substr(0, std::min(ip.size(), kCurrentIpMaxLength));
    m_table.SetSelectedRow(row);
}

void CSearchDlg::OnDblClickList(int row) {
    if (row < 0) {
        return;
    }
    MakeRowCurrent(row);
    m_table.SetSelectedRow(row);
    OpenSettings(row);
}

void CSearchDlg::OpenSettings(int row) {
    // A new window every time; the earlier ones stay as they are. Each is a
    // child object of this window and goes with it.
    auto* settingDlg = new CSettingDlg(this);
    m_pSettingDlg = settingDlg;
    settingDlg->SetWarning([messages = m_messages](QWidget* parent, const QString& text) {
        messages->Warn(parent, text);
    });
    // Not centred: every settings window opens over the top-left corner of
    // this window's client area.
    settingDlg->move(mapToGlobal(QPoint(0, 0)));
    settingDlg->show();
    settingDlg->LoadRecord(BuildSettingsRecordFromRow(
        [this, row](int column) { return m_table.CellText(row, column); }));
    m_model.NoteSettingsOpened(row);
}

void CSearchDlg::customEvent(QEvent* event) {
    if (event->type() == ApplySettingsEvent::kType) {
        OnApplySettings(static_cast<ApplySettingsEvent*>(event)->Handoff());
        return;
    }
    QDialog::customEvent(event);
}

int CSearchDlg::OnApplySettings(const qdipc::SettingsHandoff* handoff) {
    if (handoff != nullptr && handoff->HasMarker()) {
        SendSettingsRecord(handoff->Record());
    }
    return 0;
}

void CSearchDlg::SendSettingsRecord(const qdipc::NetSettingsRecord& record) {
    // A change of one camera: the engine checks it like a batch (a device ID
    // answered by several MACs is refused; an address in use is named, and
    // the operator decides), sends it (these bytes, as the settings window
    // made them, stamped) and confirms it by the camera's own evidence. A
    // newer Modify of the same camera replaces the one still waiting.
    const qdipc::PreparedChange change = m_model.PrepareChange(record);
    if (!change.refusal.empty()) {
        m_messages->Warn(this, QString::fromStdString(change.refusal));
        return;
    }
    if (!change.question.empty() &&
        !m_messages->Ask(this, QString::fromStdString(change.question))) {
        return;
    }
    // The first record goes out at once; the wait starts before the box is
    // shown, as its modal loop keeps the probes and the replies going.
    qdipc::ChangeRuns::Started started =
        m_model.SendChange(change, true, qdipc::ChangeRuns::Clock::now());
    if (!started.failure.empty()) {
        // No way back could be written: nothing went out. The operator
        // decides whether to send without one.
        const QString why = QString::fromStdString(qdipc::EscapeControls(started.failure));
        if (!m_messages->Ask(this,
                             QStringLiteral("Nothing was sent: ") + why +
                                 QStringLiteral(".\n\nSend anyway, without a rollback plan?"))) {
            return;
        }
        started = m_model.SendChange(change, false, qdipc::ChangeRuns::Clock::now());
    }
    m_changeTimer->Arm();
    ShowBar();
    m_messages->Warn(this, QString::fromStdString(started.outcome));
}

bool CSearchDlg::RunsGoing() const {
    return m_model.Changes().Going();
}

void CSearchDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CSearchDlg::OnAssignAddresses() {
    const std::vector<int> rows = m_listMenu->SelectedRows();
    if (rows.empty()) {
        return;
    }
    auto* dialog = new CAssignDlg(
        m_model.AssignCameras(rows), m_model.Surroundings(rows),
        [this](std::vector<qdipc::AssignOrder> orders) {
            return StartAssignRun(std::move(orders));
        },
        &Reservations(), this);
    dialog->RememberFieldsIn(qdipc::AssignMemoryFile(m_model.StateDirectory()));
    dialog->show();
}

qdipc::AssignRun* CSearchDlg::StartAssignRun(std::vector<qdipc::AssignOrder> orders) {
    // Each record is stamped and sent like a Modify's, without the box; the
    // plan's addresses are probed once more before the first goes.
    m_model.PrepareForRuns();
    auto* run = new qdipc::AssignRun(*m_changeTimer, std::move(orders), true, this);
    connect(run, &qdipc::AssignRun::ResultChanged, this, &CSearchDlg::ShowBar);
    connect(run, &qdipc::AssignRun::Finished, run, &QObject::deleteLater, Qt::QueuedConnection);
    return run;
}

bool CSearchDlg::MayCloseWithRunsGoing() {
    qdipc::ChangeRuns& changes = m_model.Changes();
    const int unsent = changes.Unsent();
    const int waiting = changes.Waiting();
    if (unsent == 0 && waiting == 0) {
        return true;
    }
    const QString text = QString::fromStdString(qdipc::CloseWithRunsQuestion(unsent, waiting));
    if (!m_messages->Ask(this, text)) {
        return false;
    }
    changes.StopSending(qdipc::ChangeRuns::Clock::now());
    m_changeTimer->Arm();
    return true;
}

void CSearchDlg::OnSize(int cx, int cy) {
    const qdipc::MainWindowLayout layout = qdipc::ComputeMainWindowLayout(cx, cy);
    m_ui->previewButton->setGeometry(ToWidgetRect(layout.previewButton));
    m_ui->settingButton->setGeometry(ToWidgetRect(layout.settingButton));
    m_ui->testButton->setGeometry(ToWidgetRect(layout.testButton));
    m_ui->searchButton->setGeometry(ToWidgetRect(layout.searchButton));
    m_videoPane->setGeometry(ToWidgetRect(layout.videoPane));
    m_deviceList->setGeometry(ToWidgetRect(layout.deviceList));
    m_progress->setGeometry(ToWidgetRect(layout.progressBar));
}

void CSearchDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The size the window is first shown with is the form's own: the controls
    // keep the form's positions until the window's size changes.
    if (event->oldSize().isValid()) {
        OnSize(event->size().width(), event->size().height());
    }
}

void CSearchDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the push button that has the focus; anywhere else it is
    // the OK command. OK and Esc both end the window, and with it the program.
    // (No button is a default button, so Qt picks none either.)
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && modifiers == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSearchDlg::contextMenuEvent(QContextMenuEvent* event) {
    // Only the window's own background offers the About entry, "Keep
    // Watching" and "Diagnose Network…" (where the system menu does not); a
    // right-click on a button does nothing, the list has its own menu.
    if ((m_aboutInSystemMenu && m_watchInSystemMenu) || childAt(event->pos()) != nullptr) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    if (!m_aboutInSystemMenu) {
        menu.addAction(qdipc::AboutMenuText(), this, &CSearchDlg::OnAbout);
        menu.addAction(qdipc::DiagnoseMenuText(), this, &CSearchDlg::OnDiagnose);
    }
    if (!m_watchInSystemMenu) {
        QAction* watch = menu.addAction(QStringLiteral("Keep Watching"));
        watch->setCheckable(true);
        watch->setChecked(Watching());
        connect(watch, &QAction::toggled, this, [this](bool on) { SetWatching(on); });
    }
    menu.exec(event->globalPos());
}

bool CSearchDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (qdipc::IsSystemMenuCommand(eventType, message, qdipc::kAboutCommandId)) {
        OnAbout();
        *result = 0;
        return true;
    }
    if (qdipc::IsSystemMenuCommand(eventType, message, qdipc::kKeepWatchingCommandId)) {
        SetWatching(!Watching());
        *result = 0;
        return true;
    }
    if (qdipc::IsSystemMenuCommand(eventType, message, qdipc::kDiagnoseCommandId)) {
        OnDiagnose();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

bool CSearchDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_progress && m_model.NoCameraShown() &&
        event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OnDiagnose();
        return true;
    }
    if (watched == m_deviceList->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        m_listDoubleClickButton = static_cast<QMouseEvent*>(event)->button();
    }
    return QDialog::eventFilter(watched, event);
}

void CSearchDlg::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_model.Shutdown();
    m_videoPane->Shutdown();
}

void CSearchDlg::done(int result) {
    if (!m_shutDown && !MayCloseWithRunsGoing()) {
        return;  // the operator keeps the window and its runs
    }
    Shutdown();
    QDialog::done(result);
}
