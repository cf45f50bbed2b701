#include "ui/SearchWindowModel.h"

#include <algorithm>
#include <utility>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/TimeSeededDraw.h"
#include "platform/InterfaceLinks.h"
#include "platform/NeighbourTable.h"
#include "platform/StateDirectory.h"
#include "settings/AssignModel.h"

namespace qdipc {

namespace {
constexpr const char* kNoCameraText = "No camera answered — click here to diagnose the network";
}  // namespace

SearchWindowModel::SearchWindowModel(SearchWindowConfig config, std::function<void()> wake)
    : m_config(std::move(config)),
      m_log(m_config.errorLogDirectory),
      m_queue(wake, m_config.maxPendingReplies),
      m_command(m_searchId, m_config.searchDestination, m_config.interfaces),
      m_watch(m_list, m_config.watch),
      m_broadcaster(m_config.settingsDestination, SystemSeconds, m_config.interfaces),
      m_wake(std::move(wake)),
      m_onvifSearch(m_wake) {
    ChangeRunsConfig changes;
    changes.confirmation = m_config.confirmation;
    if (!changes.confirmation.neighbours) {
        changes.confirmation.neighbours = ReachableNeighbours;
    }
    changes.rollbackDirectory = StateDirectory();
    changes.surroundings = m_config.surroundings;
    m_changes = std::make_unique<ChangeRuns>(
        m_list, std::move(changes),
        [this](const NetSettingsRecord& stamped, std::uint32_t arrival, std::string& failure) {
            return m_broadcaster.BroadcastSettingsRecord(stamped, arrival, &failure) ==
                   BroadcastOutcome::Ok;
        },
        [this]() -> std::optional<std::uint32_t> {
            if (m_command.Probe() != SearchOutcome::Sent) {
                return std::nullopt;
            }
            return m_command.SearchId();
        });
}

SearchWindowModel::~SearchWindowModel() {
    Shutdown();
}

bool SearchWindowModel::StartWorker() {
    if (!m_worker) {
        m_worker =
            std::make_unique<RecvSearchThread>(m_searchId, m_queue, m_log, m_config.receiver);
    }
    if (!m_worker->Bind()) {
        return false;
    }
    if (!m_workerStarted) {
        m_workerStarted = m_worker->Start();
    }
    return true;
}

std::string SearchWindowModel::Search(Clock::time_point now) {
    m_schedule.Stop();
    m_watch.Stop();
    m_onvifWatch.reset();
    m_onvifSearch.Stop();
    m_bar.SearchEnded();
    m_bar.SetWatching(false, 0);
    m_searchEnd.reset();
    m_noCamera = false;
    m_portHolder.clear();
    // Texts of earlier runs go; a change still waiting keeps its own.
    m_changes->ForgetOutcomes();
    m_changeOnBar = m_changes->Going();
    m_lastSearch = {};
    m_lastSearch.searched = true;
    m_lastSearchEnded = false;
    // The port is bound before the request leaves, so that a camera that
    // answers at once is heard; when it cannot be, nothing is sent.
    if (!m_worker) {
        m_worker =
            std::make_unique<RecvSearchThread>(m_searchId, m_queue, m_log, m_config.receiver);
    }
    if (!m_worker->Bind()) {
        m_list.Clear();
        m_noCamera = true;
        m_lastSearch.bound = false;
        const std::uint16_t port = m_config.receiver.bind.port;
        const PortOwnerLookup lookup =
            m_config.portOwners ? m_config.portOwners(port) : UdpPortOwners(port);
        if (lookup.checked && !lookup.owners.empty()) {
            m_portHolder = "UDP port " + std::to_string(port) + " is held by " +
                           EscapeControls(PortOwnersText(lookup.owners)) +
                           " — end it and press Search again";
        }
        return log_entry::kBindFailedText;
    }
    m_worker->ClearRejected();
    m_dropsAtSearchStart = ReversePathDrops();
    m_list.SetHostInterfaces(m_config.interfaces ? m_config.interfaces()
                                                 : ListBroadcastInterfaces());
    const SearchOutcome outcome = m_command.Run([this] { m_list.Clear(); });
    // The changes still waiting take this request's answers like a probe's.
    m_changes->SearchSent(m_command.SearchId(), now);
    m_lastSearch.outcome = outcome;
    if (outcome != SearchOutcome::Sent) {
        m_noCamera = true;
        return SearchFailureText(outcome);
    }
    if (!m_workerStarted) {
        m_workerStarted = m_worker->Start();
    }
    m_schedule.Start(now);
    m_searchEnd = now + m_config.searchEndDelay;
    m_bar.SearchStarted();
    OnvifProbeOptions onvif;
    onvif.destination = m_config.onvifDestination;
    onvif.interfaces = m_config.interfaces;
    m_onvifSearch.Start(std::move(onvif));
    return {};
}

std::optional<std::uint64_t> SearchWindowModel::ReversePathDrops() const {
    return m_config.reversePathDrops ? m_config.reversePathDrops() : ReversePathFilterDrops();
}

bool SearchWindowModel::TakeOnvif() {
    bool changed = false;
    if (std::optional<std::vector<OnvifDevice>> devices = m_onvifSearch.Take()) {
        for (const OnvifDevice& device : *devices) {
            changed = m_list.AddOnvifDevice(device) >= 0 || changed;
        }
        if (m_list.RowCount() > 0) {
            m_noCamera = false;
        }
    }
    if (m_onvifWatch && m_watch.Watching()) {
        m_watchEvents.clear();
        m_watch.ObserveOnvif(m_onvifWatch->Take(), m_watchEvents);
        changed = changed || !m_watchEvents.empty();
    }
    return changed;
}

void SearchWindowModel::StartOnvifWatch() {
    OnvifWatchOptions options;
    options.announcements = m_config.onvifAnnouncements;
    options.interfaces = m_config.interfaces;
    options.probe.destination = m_config.onvifDestination;
    options.wake = m_wake;
    m_onvifWatch = std::make_unique<OnvifWatchSource>(std::move(options));
    // Without the port only the probes of each cycle find ONVIF devices.
    m_onvifWatch->Listen();
    m_onvifWatch->Probe();
}

void SearchWindowModel::Tick(Clock::time_point now) {
    for (std::size_t due = m_schedule.Tick(now); due > 0; --due) {
        m_command.Repeat();
    }
    m_changes->Tick(now);
    if (m_watch.Watching() && now >= m_watch.NextDue()) {
        // What came in so far counts for the cycle that ends now.
        TakeReplies(m_queue.Pending());
        TakeOnvif();
        m_watchEvents.clear();
        if (m_watch.Tick(now, m_watchEvents)) {
            m_command.Repeat();
            if (m_onvifWatch) {
                m_onvifWatch->Probe();  // unless the last round still listens
            }
        }
    }
    if (m_searchEnd && now >= *m_searchEnd) {
        m_searchEnd.reset();
        TakeReplies(m_queue.Pending());
        m_noCamera = m_list.RowCount() == 0;
        m_bar.SearchEnded();
        const std::optional<std::uint64_t> drops = ReversePathDrops();
        if (drops && m_dropsAtSearchStart && *drops >= *m_dropsAtSearchStart) {
            m_lastSearch.reversePathDrops = *drops - *m_dropsAtSearchStart;
        }
        // What the search saw is kept as it was when it ended.
        m_lastSearch = SearchFactsNow();
        m_lastSearchEnded = true;
    }
}

std::optional<SearchWindowModel::Clock::time_point> SearchWindowModel::NextDue() const {
    std::optional<Clock::time_point> due = m_schedule.NextDue();
    std::optional<Clock::time_point> watch;
    if (m_watch.Watching()) {
        watch = m_watch.NextDue();
    }
    for (const auto& other : {m_searchEnd, m_changes->NextDue(), watch}) {
        if (other && (!due || *other < *due)) {
            due = other;
        }
    }
    return due;
}

int SearchWindowModel::TakeReplies(std::size_t maxCount) {
    return AddReplies(m_queue.Take(maxCount));
}

int SearchWindowModel::AddReplies(const std::vector<AcceptedReply>& batch) {
    if (batch.empty()) {
        return 0;
    }
    for (const AcceptedReply& reply : batch) {
        if (reply.searchId == m_searchId.load() && !m_lastSearchEnded) {
            m_lastSearch.NoteReplySource(reply.sourceAddress);
        }
    }
    // The changes see every reply, also those the list drops as duplicates:
    // a camera's new values come with an ID it already lists.
    m_changes->OnReplies(batch, Clock::now());
    // Watching, a listed camera's reply is news too (back, changed).
    if (m_watch.Watching()) {
        const int before = m_list.RowCount();
        m_watchEvents.clear();
        m_watch.Observe(batch, m_searchId.load(), m_watchEvents);
        return m_list.RowCount() - before;
    }
    const int added = m_list.AddReplies(batch, m_searchId.load());
    if (m_list.RowCount() > 0) {
        m_noCamera = false;
    }
    return added;
}

void SearchWindowModel::ClickColumn(int column) {
    m_sort.Click(column);
    m_list.SortByColumn(m_sort.Column(), m_sort.Ascending());
}

std::string SearchWindowModel::DisplayCell(int row, int column) const {
    return DisplayCellText(m_list.CellBytes(row, column));
}

std::string SearchWindowModel::BarText(int selectedRows) const {
    if (m_changeOnBar) {
        std::string text = m_changes->BarText();
        if (!text.empty()) {
            return text;
        }
    }
    if (!m_portHolder.empty()) {
        return m_portHolder;
    }
    if (m_noCamera) {
        return kNoCameraText;
    }
    if (!m_workerStarted) {
        return {};
    }
    return m_bar.Text(CountsOfList(m_list, selectedRows));
}

std::string SearchWindowModel::SetWatching(bool on, Clock::time_point now) {
    if (!on) {
        m_watch.Stop();
        m_onvifWatch.reset();
        m_bar.SetWatching(false, 0);
        return {};
    }
    if (m_watch.Watching()) {
        return {};
    }
    // Nothing listed yet: a search comes first, and its request (with its
    // repeats) is the first cycle's; so are the repeats of a search under
    // way. Otherwise one request starts it.
    if (!m_workerStarted) {
        std::string failure = Search(now);
        if (!failure.empty()) {
            return failure;
        }
    } else if (!m_schedule.Repeating()) {
        m_command.Repeat();
    }
    m_watch.Start(now);
    m_bar.SetWatching(true, static_cast<int>(m_watch.Options().interval.count()));
    StartOnvifWatch();
    return {};
}

PreparedChange SearchWindowModel::PrepareChange(const NetSettingsRecord& record) const {
    PreparedChange change;
    change.stamped = StampSettingsRecord(record, TimeSeededDraw(SystemSeconds()));
    const std::string deviceId = FormatDeviceId(record.bytes.data() + record::kDevId);
    const int row = m_list.FindRow(deviceId);
    // Out of the interface its row came in on; when a search has emptied
    // the list meanwhile, the one noted as its settings window opened.
    std::uint32_t arrival = 0;
    if (row >= 0) {
        arrival = m_list.ArrivalInterface(row);
    } else if (const auto noted = m_settingsInterfaces.find(deviceId);
               noted != m_settingsInterfaces.end()) {
        arrival = noted->second;
    }
    change.order = m_changes->OrderOf(change.stamped, arrival);
    ChangeCheck check = m_changes->CheckChange(change.order);
    change.refusal = std::move(check.refusal);
    change.question = std::move(check.question);
    return change;
}

void SearchWindowModel::NoteSettingsOpened(int row) {
    if (row >= 0 && row < m_list.RowCount()) {
        m_settingsInterfaces[m_list.CellText(row, kColDevId)] = m_list.ArrivalInterface(row);
    }
}

void SearchWindowModel::PrepareForRuns() {
    // The probes' replies come in through the receive worker; without it the
    // changes end as not confirmed.
    if (m_config.confirmation.timeout.count() > 0) {
        StartWorker();
    }
    m_changeOnBar = true;
}

void SearchWindowModel::OperatorActed() {
    if (!m_changes->Going()) {
        m_changeOnBar = false;
    }
}

void SearchWindowModel::Shutdown() {
    m_schedule.Stop();
    m_searchEnd.reset();
    m_watch.Stop();
    m_onvifWatch.reset();
    m_onvifSearch.Stop();
    if (m_worker) {
        m_worker->Stop();
    }
}

ChangeRuns::Started SearchWindowModel::SendChange(const PreparedChange& change, bool rollback,
                                                  Clock::time_point now) {
    PrepareForRuns();
    return m_changes->Start(change.stamped, change.order, rollback, now);
}

SearchFacts SearchWindowModel::SearchFactsNow() const {
    SearchFacts search = m_lastSearch;
    if (search.searched) {
        search.failedNetworks = m_command.FailedNetworks();
        if (m_worker) {
            search.rejected = m_worker->Rejected();
        }
        search.cameras = m_list.RowCount();
    }
    return search;
}

std::vector<DiagnosisLine> SearchWindowModel::DiagnosisLines() const {
    const HostFacts host =
        m_config.hostFacts ? m_config.hostFacts() : GatherHostFacts(m_config.receiver.bind.port);
    return Diagnose(host, m_lastSearchEnded ? m_lastSearch : SearchFactsNow());
}

void SearchWindowModel::SendBatch(std::vector<AssignOrder> orders, Clock::time_point now,
                                  ChangeRuns::BatchSinks sinks) {
    PrepareForRuns();
    m_changes->StartBatch(std::move(orders), true, now, std::move(sinks));
}

SearchWindowModel::OpenedPlan SearchWindowModel::OpenPlan(const std::filesystem::path& file) const {
    OpenedPlan opened;
    std::string text;
    const std::string error = ReadPlanFile(file, text);
    if (!error.empty()) {
        const std::u8string name = file.u8string();
        opened.error = EscapeControls("Cannot read the plan " +
                                      std::string(name.begin(), name.end()) + ": " + error);
        return opened;
    }
    // No camera outside the plan is "another camera": the plan names them.
    opened.surroundings = Surroundings({});
    opened.surroundings.otherCameras.clear();
    opened.surroundings.reserved = m_changes->Reservations().TakenByOthers(0);
    opened.plan = PlanText(text, ListedCameras(), opened.surroundings);
    return opened;
}

std::filesystem::path SearchWindowModel::StateDirectory() const {
    return m_config.stateDirectory.empty() ? UserStateDirectory() : m_config.stateDirectory;
}

std::vector<FoundCamera> SearchWindowModel::ListedCameras() const {
    return qdipc::ListedCameras(m_list);
}

AssignSurroundings SearchWindowModel::Surroundings(const std::vector<int>& batchRows) const {
    std::vector<std::string> others;
    for (int row = 0; row < m_list.RowCount(); ++row) {
        if (std::find(batchRows.begin(), batchRows.end(), row) == batchRows.end()) {
            others.push_back(m_list.CellText(row, kColIp));
        }
    }
    if (!m_config.surroundings) {
        return HostSurroundings(std::move(others));
    }
    AssignSurroundings surroundings = m_config.surroundings();
    surroundings.otherCameras = std::move(others);
    return surroundings;
}

std::vector<AssignCamera> SearchWindowModel::AssignCameras(const std::vector<int>& rows) const {
    std::vector<AssignCamera> batch;
    for (int row : rows) {
        batch.push_back({m_list.CellText(row, kColDevId), m_list.CellText(row, kColMac),
                         m_list.CellText(row, kColIp), m_list.CellText(row, kColMask),
                         m_list.CellText(row, kColGateway), m_list.ArrivalInterface(row)});
        // A device ID several MACs answer for is refused by the plan.
        batch.back().otherMacs = m_list.OtherMacs(row);
    }
    return batch;
}

}  // namespace qdipc
