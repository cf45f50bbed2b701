#include "ui/qt/CSearchDlg.h"

#include "ui/qt/OnvifSearchPump.h"

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
      m_errorLog(m_config.errorLogDirectory),
      m_watch(m_table.List(), m_config.watch),
      m_pump(
          [this](std::vector<qdipc::AcceptedReply>& batch) {
              for (const qdipc::AcceptedReply& reply : batch) {
                  if (reply.searchId == m_searchId.load()) {
                      m_lastSearch.NoteReplySource(reply.sourceAddress);
                  }
              }
              // Watching, a listed camera's reply is news too (back,
              // changed); otherwise only new cameras are.
              if (m_watch.Watching()) {
                  m_watchEvents.clear();
                  m_watch.Observe(batch, m_searchId.load(), m_watchEvents);
              } else {
                  m_table.AddReplies(batch, m_searchId.load());
              }
              // The runs see every reply, also those the list drops as
              // duplicates: a camera's new values come with an ID it already
              // lists.
              m_changeTimer->OnReplies(batch);
              // Watching, the counts change with the events only (and each
              // cycle shows them anyway).
              if (!m_watch.Watching() || !m_watchEvents.empty()) {
                  ShowCounts();
              }
          },
          PumpOptions(m_config)),
      m_searchCommand(m_searchId, m_config.searchDestination, m_config.interfaces),
      m_settingsBroadcaster(m_config.settingsDestination, qdipc::SystemSeconds,
                            m_config.interfaces),
      m_hIcon(qdipc::ProgramIcon()) {
    qdipc::ChangeRunsConfig runs;
    runs.confirmation = m_config.confirmation;
    if (!runs.confirmation.neighbours) {
        runs.confirmation.neighbours =
            m_config.neighbours ? m_config.neighbours : qdipc::ReachableNeighbours;
    }
    runs.rollbackDirectory =
        m_config.stateDirectory.empty() ? qdipc::UserStateDirectory() : m_config.stateDirectory;
    runs.surroundings = [this] { return Surroundings({}); };
    m_changes = std::make_unique<qdipc::ChangeRuns>(
        m_table.List(), std::move(runs),
        [this](const qdipc::NetSettingsRecord& stamped, std::uint32_t arrivalInterface,
               std::string& failure) {
            return m_settingsBroadcaster.BroadcastSettingsRecord(
                       stamped, arrivalInterface, &failure) == qdipc::BroadcastOutcome::Ok;
        },
        // Every confirmation probe under a fresh search ID.
        [this]() -> std::optional<std::uint32_t> {
            if (m_searchCommand.Probe() != qdipc::SearchOutcome::Sent) {
                return std::nullopt;
            }
            return m_searchCommand.SearchId();
        });
    m_changeTimer = std::make_unique<qdipc::ChangeRunsTimer>(*m_changes);
    connect(m_changeTimer.get(), &qdipc::ChangeRunsTimer::Stepped, this,
            &CSearchDlg::ShowConfirmationProgress);
    m_ui->setupUi(this);
    OnInitDialog();
}

CSearchDlg::~CSearchDlg() {
    m_onvifWatch.reset();
    m_onvifSearch.reset();
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
    m_changes.reset();
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
    // ONVIF devices found beside each search join the same list.
    m_onvifSearch = std::make_unique<OnvifSearchPump>(
        this, [this](const std::vector<qdipc::OnvifDevice>& devices) {
            for (const qdipc::OnvifDevice& device : devices) {
                m_table.List().AddOnvifDevice(device);
            }
            ShowCounts();
        });

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
    m_pWorker.reset();

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

    m_searchRepeat.setSingleShot(true);
    connect(&m_searchRepeat, &QTimer::timeout, this, &CSearchDlg::OnSearchRepeat);
    m_watchTimer.setSingleShot(true);
    connect(&m_watchTimer, &QTimer::timeout, this, &CSearchDlg::OnWatchTick);
    connect(m_deviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnOperatorAction(); });
    m_searchEnd.setSingleShot(true);
    connect(&m_searchEnd, &QTimer::timeout, this, &CSearchDlg::OnSearchEnded);
    // A click on the bar while it says "No camera answered" opens the diagnosis.
    m_progress->installEventFilter(this);

    // The first tab stop, the list, has the focus.
    m_deviceList->setFocus(Qt::OtherFocusReason);
}

void CSearchDlg::OnSearch() {
    // A new search ends the repeats of the one before, and watching: it
    // clears the list and lists afresh.
    m_searchSchedule.Stop();
    m_searchRepeat.stop();
    StopWatching();
    // Texts of earlier runs go; a confirmation still waiting keeps its own.
    m_changes->ForgetOutcomes();
    m_outcomeOnBar = false;
    m_searchEnd.stop();
    m_bar.SearchEnded();
    m_bar.SetWatching(false, 0);
    ClearNoCameraAnswered();
    m_lastSearch = {};
    m_lastSearchEnded = false;
    // Port 8089 is bound before the request leaves, so that a camera that
    // answers at once is heard. When it cannot be bound the operator is told
    // every time, nothing is sent (no answer could be heard), and the next
    // search tries again.
    if (!BindReceiver()) {
        m_table.Clear();
        m_lastSearch.bound = false;
        // The bar names the program that holds the port (where the system
        // tells) while the box is up, and after it.
        ShowPortTaken();
        m_messages->Warn(this, QString::fromLatin1(qdipc::log_entry::kBindFailedText));
        return;
    }
    m_pWorker->ClearRejected();
    m_dropsAtSearchStart =
        m_config.reversePathDrops ? m_config.reversePathDrops() : qdipc::ReversePathFilterDrops();
    // Flags are judged by the host's interfaces as they are now.
    m_table.List().SetHostInterfaces(m_config.interfaces ? m_config.interfaces()
                                                         : qdipc::ListBroadcastInterfaces());
    const qdipc::SearchOutcome outcome = m_searchCommand.Run([this] { m_table.Clear(); });
    // The runs' pending changes take this request's answers like a probe's.
    m_changes->SearchSent(m_searchCommand.SearchId(), qdipc::ChangeRuns::Clock::now());
    m_lastSearch.searched = true;
    m_lastSearch.outcome = outcome;
    if (outcome != qdipc::SearchOutcome::Sent) {
        m_messages->Warn(this, QString::fromLatin1(qdipc::SearchFailureText(outcome)));
        ShowNoCameraAnswered();
        return;
    }
    StartWorkerOnce();
    m_bar.SearchStarted();
    m_searchSchedule.Start(qdipc::SearchSchedule::Clock::now());
    m_onvifSearch->Start(m_config);
    ScheduleSearchRepeat();
    m_searchEnd.start(m_config.searchEndDelay);
    ShowCounts();
}

void CSearchDlg::SetWatching(bool on) {
    m_outcomeOnBar = false;  // the operator acted
    if (!on) {
        m_bar.SetWatching(false, 0);
        StopWatching();
        ShowCounts();
        return;
    }
    if (m_watch.Watching()) {
        return;
    }
    // Nothing listed yet: a search comes first, and its request (with its
    // repeats) is the first cycle's; so are the repeats of a search still
    // under way. Otherwise one request starts it.
    if (!m_workerStarted) {
        OnSearch();
        if (!m_workerStarted) {
            return;  // the search could not go out; the operator was told
        }
    } else if (!m_searchSchedule.Repeating()) {
        m_searchCommand.Repeat();
    }
    m_bar.SetWatching(true, static_cast<int>(m_watch.Options().interval.count()));
    m_watch.Start(qdipc::SiteWatch::Clock::now());
    StartOnvifWatch();
    ScheduleWatchTick();
    ShowCounts();
}

void CSearchDlg::StopWatching() {
    m_watch.Stop();
    m_watchTimer.stop();
    m_onvifWatch.reset();
}

void CSearchDlg::StartOnvifWatch() {
    qdipc::OnvifWatchOptions options;
    options.announcements = m_config.onvifAnnouncements;
    options.interfaces = m_config.interfaces;
    options.probe.destination = m_config.onvifDestination;
    // Called on the source's threads: the UI thread takes what was heard.
    // The source ends (and joins its threads) before the window goes.
    options.wake = [this] {
        QMetaObject::invokeMethod(
            this, [this] { OnOnvifHeard(); }, Qt::QueuedConnection);
    };
    m_onvifWatch = std::make_unique<qdipc::OnvifWatchSource>(std::move(options));
    // Without the port only the probes of each cycle find ONVIF devices.
    m_onvifWatch->Listen();
    m_onvifWatch->Probe();
}

void CSearchDlg::OnOnvifHeard() {
    if (!m_onvifWatch || !m_watch.Watching()) {
        return;
    }
    m_watchEvents.clear();
    m_watch.ObserveOnvif(m_onvifWatch->Take(), m_watchEvents);
    if (!m_watchEvents.empty()) {
        ShowCounts();
    }
}

void CSearchDlg::ScheduleWatchTick() {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_watch.NextDue() -
                                                                   qdipc::SiteWatch::Clock::now());
    m_watchTimer.start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
}

void CSearchDlg::OnWatchTick() {
    if (!m_watch.Watching()) {
        return;
    }
    // The replies that came in so far count for the cycle that ends now.
    m_pump.DrainNow();
    OnOnvifHeard();
    m_watchEvents.clear();
    if (m_watch.Tick(qdipc::SiteWatch::Clock::now(), m_watchEvents)) {
        m_searchCommand.Repeat();
        if (m_onvifWatch) {
            m_onvifWatch->Probe();  // unless the last round is still listening
        }
    }
    ScheduleWatchTick();
    ShowCounts();
}

QString CSearchDlg::CountsText() const {
    return QString::fromStdString(m_bar.Text(qdipc::CountsOfList(
        m_table.List(), static_cast<int>(m_deviceList->selectionModel()->selectedRows().size()))));
}

QString CSearchDlg::ProgressText() const {
    return m_progress->isTextVisible() ? m_progress->PlainText() : QString();
}

void CSearchDlg::ShowCounts() {
    // Before the first search the bar stays as the window opened it.
    if (RunsGoing() || m_outcomeOnBar || m_noCameraShown || !m_workerStarted) {
        return;
    }
    // An empty bar (its value at the minimum) that draws its text.
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    SetBarText(CountsText());
}

void CSearchDlg::SetBarText(const QString& text) {
    // Shown as it is (never a format), also as the tooltip for a bar too
    // narrow for its text, and for screen readers.
    m_progress->SetPlainText(text);
    m_progress->setTextVisible(true);
}

void CSearchDlg::OnOperatorAction() {
    m_outcomeOnBar = false;
    ShowCounts();
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
    std::string text;
    std::string error;
    if (qdipc::ReadFileBounded(path.toStdString(), qdipc::kMaxPlanFileBytes,
                               std::chrono::seconds(2), text, error) != qdipc::BoundedRead::Ok) {
        // The path and the system's words are plain, their controls escaped.
        m_messages->Warn(this, QString::fromStdString(qdipc::EscapeControls(
                                   "Cannot read the plan " + path.toStdString() + ": " + error)));
        return nullptr;
    }
    // The checks of --plan: the cameras listed are those found, the other
    // runs' addresses are taken.
    qdipc::AssignSurroundings surroundings = Surroundings({});
    surroundings.reserved = Reservations().TakenByOthers(0);
    qdipc::ProvisioningPlan plan =
        qdipc::PlanText(text, qdipc::ListedCameras(m_table.List()), surroundings);
    auto* dialog = new CAssignDlg(
        std::move(plan), QFileInfo(path).fileName(), std::move(surroundings),
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

void CSearchDlg::OnSearchEnded() {
    const std::optional<std::uint64_t> now =
        m_config.reversePathDrops ? m_config.reversePathDrops() : qdipc::ReversePathFilterDrops();
    if (now && m_dropsAtSearchStart && *now >= *m_dropsAtSearchStart) {
        m_lastSearch.reversePathDrops = *now - *m_dropsAtSearchStart;
    }
    // What the search saw is kept as it was when it ended; later datagrams
    // and probes do not belong to it.
    m_lastSearch = SearchFactsNow();
    m_lastSearchEnded = true;
    m_bar.SearchEnded();
    if (m_table.RowCount() == 0) {
        ShowNoCameraAnswered();
    } else {
        m_listPresentation->FitColumns();
        ShowCounts();
    }
}

void CSearchDlg::ShowNoCameraAnswered() {
    if (RunsGoing()) {
        return;  // the bar shows the wait for a camera
    }
    const QString text = QStringLiteral("No camera answered — click here to diagnose the network");
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    SetBarText(text);
    m_noCameraShown = true;
}

void CSearchDlg::ShowPortTaken() {
    ShowNoCameraAnswered();
    if (!m_noCameraShown) {
        return;
    }
    const std::uint16_t port = m_config.receiver.bind.port;
    const qdipc::PortOwnerLookup lookup =
        m_config.portOwners ? m_config.portOwners(port) : qdipc::UdpPortOwners(port);
    if (!lookup.checked || lookup.owners.empty()) {
        return;  // the system does not say: the diagnosis tells what it knows
    }
    // Program names are the system's, shown as plain text.
    const QString text = QStringLiteral("UDP port %1 is held by %2 — end it and press Search again")
                             .arg(port)
                             .arg(QString::fromStdString(
                                 qdipc::EscapeControls(qdipc::PortOwnersText(lookup.owners))));
    SetBarText(text);
}

void CSearchDlg::ClearNoCameraAnswered() {
    if (!m_noCameraShown) {
        return;
    }
    m_noCameraShown = false;
    m_progress->setRange(1, 100);
    m_progress->reset();
    m_progress->setTextVisible(false);
    m_progress->SetPlainText({});
}

std::vector<qdipc::DiagnosisLine> CSearchDlg::DiagnosisLines() const {
    const qdipc::HostFacts host = m_config.hostFacts
                                      ? m_config.hostFacts()
                                      : qdipc::GatherHostFacts(m_config.receiver.bind.port);
    return qdipc::Diagnose(host, m_lastSearchEnded ? m_lastSearch : SearchFactsNow());
}

qdipc::SearchFacts CSearchDlg::SearchFactsNow() const {
    qdipc::SearchFacts search = m_lastSearch;
    if (search.searched) {
        search.failedNetworks = m_searchCommand.FailedNetworks();
        if (m_pWorker) {
            search.rejected = m_pWorker->Rejected();
        }
        search.cameras = m_table.RowCount();
    }
    return search;
}

CDiagnoseDlg* CSearchDlg::OnDiagnose() {
    auto* dialog = new CDiagnoseDlg(DiagnosisLines(), this);
    dialog->show();
    return dialog;
}

void CSearchDlg::ScheduleSearchRepeat() {
    const auto due = m_searchSchedule.NextDue();
    if (!due) {
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*due - qdipc::SearchSchedule::Clock::now());
    m_searchRepeat.start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
}

void CSearchDlg::OnSearchRepeat() {
    // The operator was told how the first request went; a repeat that fails
    // changes nothing of that.
    for (std::size_t due = m_searchSchedule.Tick(qdipc::SearchSchedule::Clock::now()); due > 0;
         --due) {
        m_searchCommand.Repeat();
    }
    ScheduleSearchRepeat();
}

bool CSearchDlg::BindReceiver() {
    if (!m_pWorker) {
        m_pWorker = std::make_unique<qdipc::RecvSearchThread>(m_searchId, m_pump.Queue(),
                                                              m_errorLog, m_config.receiver);
    }
    return m_pWorker->Bind();
}

void CSearchDlg::StartWorkerOnce() {
    if (m_workerStarted) {
        return;  // the running worker (or the ended one) serves every search
    }
    // A worker that could not be started stays unstarted: the next search
    // that goes out tries again.
    m_workerStarted = m_pWorker && m_pWorker->Start();
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
    if (row >= 0 && row < m_table.RowCount()) {
        m_settingsInterfaces[m_table.CellText(row, qdipc::kColDevId)] =
            m_table.ArrivalInterface(row);
    }
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
    const std::uint32_t stamp = qdipc::TimeSeededDraw(qdipc::SystemSeconds());
    BroadcastSettingsRecord(qdipc::StampSettingsRecord(record, stamp));
}

std::uint32_t CSearchDlg::ModifyInterfaceFor(const qdipc::NetSettingsRecord& record) const {
    const std::string deviceId = qdipc::FormatDeviceId(record.bytes.data() + qdipc::record::kDevId);
    for (int row = 0; row < m_table.RowCount(); ++row) {
        if (m_table.CellText(row, qdipc::kColDevId) == deviceId) {
            return m_table.ArrivalInterface(row);
        }
    }
    const auto remembered = m_settingsInterfaces.find(deviceId);
    return remembered != m_settingsInterfaces.end() ? remembered->second : 0;
}

void CSearchDlg::BroadcastSettingsRecord(const qdipc::NetSettingsRecord& stamped) {
    // A change of one camera: the engine checks it like a batch (a device ID
    // answered by several MACs is refused; an address in use is named, and
    // the operator decides), sends it (these bytes, as the settings window
    // made them) and confirms it by the camera's own evidence. A newer
    // Modify of the same camera replaces the one still waiting.
    const qdipc::AssignOrder order = m_changes->OrderOf(stamped, ModifyInterfaceFor(stamped));
    const qdipc::ChangeCheck check = m_changes->CheckChange(order);
    if (!check.refusal.empty()) {
        m_messages->Warn(this, QString::fromStdString(check.refusal));
        return;
    }
    if (!check.question.empty() && !m_messages->Ask(this, QString::fromStdString(check.question))) {
        return;
    }
    StartWorkerForRuns();
    // The first record goes out at once; the wait starts before the box is
    // shown, as its modal loop keeps the probes and the replies going.
    qdipc::ChangeRuns::Started started =
        m_changes->Start(stamped, order, true, qdipc::ChangeRuns::Clock::now());
    if (!started.failure.empty()) {
        // No way back could be written: nothing went out. The operator
        // decides whether to send without one.
        const QString why = QString::fromStdString(qdipc::EscapeControls(started.failure));
        if (!m_messages->Ask(this,
                             QStringLiteral("Nothing was sent: ") + why +
                                 QStringLiteral(".\n\nSend anyway, without a rollback plan?"))) {
            return;
        }
        started = m_changes->Start(stamped, order, false, qdipc::ChangeRuns::Clock::now());
    }
    m_changeTimer->Arm();
    ShowConfirmationProgress();
    m_messages->Warn(this, QString::fromStdString(started.outcome));
}

void CSearchDlg::StartWorkerForRuns() {
    if (m_config.confirmation.timeout.count() > 0 && BindReceiver()) {
        StartWorkerOnce();
    }
}

bool CSearchDlg::RunsGoing() const {
    return m_changes->Going();
}

void CSearchDlg::ShowConfirmationProgress() {
    const std::string text = m_changes->BarText();
    if (text.empty()) {
        return;
    }
    // While changes wait, the share of them that ended; then full when every
    // change was confirmed, empty when one was not.
    m_progress->setRange(0, 1000);
    m_progress->setValue(m_changes->ProgressPermille());
    if (m_changes->Waiting() == 0) {
        m_outcomeOnBar = true;
    }
    SetBarText(QString::fromStdString(text));
    m_noCameraShown = false;
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
    std::vector<qdipc::AssignCamera> batch;
    std::vector<std::string> others;
    std::size_t next = 0;
    for (int row = 0; row < m_table.RowCount(); ++row) {
        if (next < rows.size() && rows[next] == row) {
            ++next;
            qdipc::AssignCamera camera{
                m_table.CellText(row, qdipc::kColDevId),   m_table.CellText(row, qdipc::kColMac),
                m_table.CellText(row, qdipc::kColIp),      m_table.CellText(row, qdipc::kColMask),
                m_table.CellText(row, qdipc::kColGateway), m_table.ArrivalInterface(row)};
            camera.otherMacs = m_table.List().OtherMacs(row);
            batch.push_back(std::move(camera));
        } else {
            others.push_back(m_table.CellText(row, qdipc::kColIp));
        }
    }
    auto* dialog = new CAssignDlg(
        std::move(batch), Surroundings(std::move(others)),
        [this](std::vector<qdipc::AssignOrder> orders) {
            return StartAssignRun(std::move(orders));
        },
        &Reservations(), this);
    dialog->RememberFieldsIn(qdipc::AssignMemoryFile(
        m_config.stateDirectory.empty() ? qdipc::UserStateDirectory() : m_config.stateDirectory));
    dialog->show();
}

qdipc::AssignSurroundings CSearchDlg::Surroundings(std::vector<std::string> otherCameras) const {
    qdipc::AssignSurroundings surroundings;
    surroundings.interfaces =
        m_config.interfaces ? m_config.interfaces() : qdipc::ListBroadcastInterfaces();
    surroundings.otherCameras = std::move(otherCameras);
    surroundings.neighbours =
        m_config.neighbours ? m_config.neighbours() : qdipc::ReachableNeighbours();
    surroundings.gatewayOf =
        m_config.gatewayOf
            ? m_config.gatewayOf
            : std::function<std::optional<std::string>(std::uint32_t)>(qdipc::DefaultGatewayOf);
    surroundings.probe = m_config.probeAddresses;
    if (!surroundings.probe) {
        surroundings.probe =
            [interfaces = surroundings.interfaces](const std::vector<std::uint32_t>& addresses) {
                return qdipc::ProbeAddresses(addresses, interfaces);
            };
    }
    return surroundings;
}

qdipc::AssignRun* CSearchDlg::StartAssignRun(std::vector<qdipc::AssignOrder> orders) {
    // Each record is stamped and sent like a Modify's, without the box; the
    // plan's addresses are probed once more before the first goes.
    StartWorkerForRuns();
    auto* run = new qdipc::AssignRun(*m_changeTimer, std::move(orders), true, this);
    connect(run, &qdipc::AssignRun::ResultChanged, this, &CSearchDlg::ShowConfirmationProgress);
    connect(run, &qdipc::AssignRun::Finished, run, &QObject::deleteLater, Qt::QueuedConnection);
    return run;
}

bool CSearchDlg::MayCloseWithRunsGoing() {
    const int unsent = m_changes->Unsent();
    const int waiting = m_changes->Waiting();
    if (unsent == 0 && waiting == 0) {
        return true;
    }
    const QString text = QString::fromStdString(qdipc::CloseWithRunsQuestion(unsent, waiting));
    if (!m_messages->Ask(this, text)) {
        return false;
    }
    m_changes->StopSending(qdipc::ChangeRuns::Clock::now());
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
    if (watched == m_progress && m_noCameraShown && event->type() == QEvent::MouseButtonRelease &&
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
    m_searchSchedule.Stop();
    m_searchRepeat.stop();
    m_searchEnd.stop();
    StopWatching();
    if (m_pWorker) {
        m_pWorker->Stop();
    }
    m_videoPane->Shutdown();
}

void CSearchDlg::done(int result) {
    if (!m_shutDown && !MayCloseWithRunsGoing()) {
        return;  // the operator keeps the window and its runs
    }
    Shutdown();
    QDialog::done(result);
}
