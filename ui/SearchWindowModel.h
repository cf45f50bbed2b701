#pragma once
// What the main window shows and decides, without a toolkit: the device list
// (sorted here), the search with its repeats and the ONVIF discovery beside
// it, Keep Watching, the replies taken from the receive worker, and the
// progress bar's text. A window only shows it: it calls Search on its button,
// Tick when NextDue says, TakeOnvif and TakeReplies when the wake call asks,
// ClickColumn on a header click, and reads the cells and the bar text back.
//
// The search is the one the Qt window and the command line run: the same
// SearchCommand (request bytes), SearchSchedule (repeats at 0.3 s and 1 s)
// and RecvSearchThread (port 8089, bound before the request leaves).
//
// Everything but the wake call runs on the window's thread; the wake call
// comes from the receive worker's and the ONVIF threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "discovery/DeviceList.h"
#include "discovery/ErrorLog.h"
#include "discovery/ListBar.h"
#include "discovery/NetworkConfig.h"
#include "discovery/NetworkDiagnosis.h"
#include "discovery/OnvifSearchRound.h"
#include "discovery/OnvifWatch.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "discovery/SearchSchedule.h"
#include "discovery/SiteWatch.h"
#include "platform/PortOwner.h"
#include "settings/NetSettingsRecord.h"
#include "ui/ChangeRuns.h"
#include "ui/ListLook.h"
#include "ui/WindowTexts.h"

namespace qdipc {

struct SearchWindowConfig : NetworkConfig {
    // When a search with its repeats counts as ended: an empty list then
    // says "No camera answered".
    std::chrono::milliseconds searchEndDelay{2000};
    // Who holds a UDP port; empty: the system's answer (UdpPortOwners).
    std::function<PortOwnerLookup(std::uint16_t)> portOwners{};
    // "Keep Watching": the time between requests and the cycles to gone.
    WatchOptions watch{};
    // How a settings change is confirmed; a zero timeout sends only.
    ConfirmationOptions confirmation{};
    // What the diagnosis reads of the host, and the reverse-path filter's
    // drop counter; empty: the host's own (GatherHostFacts,
    // ReversePathFilterDrops).
    std::function<HostFacts()> hostFacts{};
    std::function<std::optional<std::uint64_t>()> reversePathDrops{};
    // What a change's address must not collide with; empty: the host's own
    // (HostSurroundings).
    std::function<AssignSurroundings()> surroundings{};
};

// A settings window's Modify, stamped, with the question it raises.
struct PreparedChange {
    NetSettingsRecord stamped;
    AssignOrder order;
    // "Nothing was sent: … ." (a device ID answered by several MACs): it
    // may not be sent; else empty.
    std::string refusal;
    // "… is used by … — send anyway?"; empty when nothing needs asking.
    std::string question;
};

class SearchWindowModel {
public:
    using Clock = std::chrono::steady_clock;

    // wake is called on the receive worker's thread when replies start to
    // wait, and on an ONVIF thread when devices do: the window then asks its
    // own thread to call TakeOnvif and TakeReplies.
    SearchWindowModel(SearchWindowConfig config, std::function<void()> wake);
    ~SearchWindowModel();  // stops and joins the worker
    SearchWindowModel(const SearchWindowModel&) = delete;
    SearchWindowModel& operator=(const SearchWindowModel&) = delete;

    // The Search button: binds port 8089, clears the list, sends the request,
    // schedules its repeats and starts an ONVIF discovery beside it. Answers the text of the
    // warning box the window shows ("Bind socket 8089 failed", "creat socket error", ...), empty
    // when the request went out.
    std::string Search(Clock::time_point now);
    // Sends the repeats that are due and notes the end of the search.
    void Tick(Clock::time_point now);
    // When Tick wants to be called next; nothing while nothing is pending.
    std::optional<Clock::time_point> NextDue() const;

    // Moves at most maxCount waiting replies into the list; the number of
    // rows added. Replies of a replaced search are dropped.
    int TakeReplies(std::size_t maxCount);
    // The same for replies the window took from Queue() itself.
    int AddReplies(const std::vector<AcceptedReply>& batch);
    std::size_t PendingReplies() const { return m_queue.Pending(); }
    // Moves what the ONVIF side found into the list: the devices of the
    // search's discovery once it is done, and while watching their Hello,
    // Bye and each cycle's probe answers. Whether the list changed.
    bool TakeOnvif();
    // Where the worker hands its replies over (measurements feed it too).
    ReplyQueue& Queue() { return m_queue; }

    // "Keep Watching": on, the list is kept up to date by one request per
    // interval, ONVIF devices by their announcements and a probe per cycle
    // (a window that has not searched yet searches first, and answers that
    // search's box text); off, or a new Search, ends it.
    std::string SetWatching(bool on, Clock::time_point now);
    bool Watching() const { return m_watch.Watching(); }
    const SiteWatch& Watch() const { return m_watch; }
    // A search went out and its repeats are not over.
    bool Searching() const { return m_bar.Searching(); }

    // A header click: the toggle rule, then the list's sort by that column.
    void ClickColumn(int column);
    const ListSortState& Sort() const { return m_sort; }

    DeviceList& List() { return m_list; }
    const DeviceList& List() const { return m_list; }
    // A cell as every window shows it: decoded, controls escaped (UTF-8).
    std::string DisplayCell(int row, int column) const;

    // The progress bar's text: empty before the first search, "Searching…"
    // while one runs, the counts after it (with the interval while
    // watching), "No camera answered — …" when a search ended with no row or
    // could not go out, and who holds the port when it could not be bound.
    std::string BarText(int selectedRows) const;
    bool NoCameraShown() const { return m_noCamera; }
    // The operator acted (the selection changed): a change's outcome on the
    // bar gives way to the counts, unless changes still run.
    void OperatorActed();

    // A settings window's Modify, in two steps (the window asks between
    // them): stamp the record and check its address; then send it through
    // the engine, out of the interface its camera's row came in on, and
    // confirm it (ChangeRuns). Start's outcome is the box's text.
    PreparedChange PrepareChange(const NetSettingsRecord& record) const;
    ChangeRuns::Started SendChange(const PreparedChange& change, bool rollback,
                                   Clock::time_point now);
    // A settings window opened for this row: its Modify goes out of the
    // row's interface also when a search has emptied the list meanwhile.
    void NoteSettingsOpened(int row);
    // Before a run starts elsewhere (a batch a dialog follows): the receive
    // worker runs for its probes, and the bar shows the runs.
    void PrepareForRuns();
    const ChangeRuns& Changes() const { return *m_changes; }
    ChangeRuns& Changes() { return *m_changes; }
    // The Assign dialog's Apply: a batch through the engine (ChangeRuns),
    // its addresses probed once more first, its rollback plan written before
    // the first record.
    void SendBatch(std::vector<AssignOrder> orders, Clock::time_point now,
                   ChangeRuns::BatchSinks sinks);
    // "Apply Plan…": the plan file read (bounded, as --plan reads it) and
    // checked as --plan checks it against the cameras listed, the other
    // runs' addresses taken; error says why it could not be read (the
    // path's controls escaped), else empty.
    struct OpenedPlan {
        ProvisioningPlan plan;
        AssignSurroundings surroundings;
        std::string error;
    };
    OpenedPlan OpenPlan(const std::filesystem::path& file) const;
    // Every listed camera with the other MACs answering its device ID.
    std::vector<FoundCamera> ListedCameras() const;
    // What a plan of the given rows must avoid: the surroundings, the other
    // listed cameras' addresses.
    AssignSurroundings Surroundings(const std::vector<int>& batchRows) const;
    // The rows as the Assign dialog takes them.
    std::vector<AssignCamera> AssignCameras(const std::vector<int>& rows) const;

    // "Diagnose Network…": the checks, with what the last search saw (as it
    // was when it ended, or so far while it runs).
    std::vector<DiagnosisLine> DiagnosisLines() const;

    // Where rollback plans and the Assign fields are kept.
    std::filesystem::path StateDirectory() const;

    // The host's interfaces as the configuration gives them.
    std::vector<Ipv4Interface> HostInterfaces() const {
        return m_config.interfaces ? m_config.interfaces() : ListBroadcastInterfaces();
    }

    // Ends the search, watching and the worker (the window is closing).
    void Shutdown();

    ErrorLog& Log() { return m_log; }
    const ErrorLog& Log() const { return m_log; }
    std::uint32_t SearchId() const { return m_searchId.load(); }
    // The receive worker once a search (or a change) has started it, else null.
    const RecvSearchThread* Worker() const { return m_workerStarted ? m_worker.get() : nullptr; }

private:
    SearchWindowConfig m_config;
    ErrorLog m_log;
    DeviceList m_list;
    ListSortState m_sort;
    std::atomic<std::uint32_t> m_searchId{0};
    ReplyQueue m_queue;
    SearchCommand m_command;
    SearchSchedule m_schedule;
    SiteWatch m_watch;
    std::vector<WatchEvent> m_watchEvents;
    SettingsBroadcaster m_broadcaster;
    std::unique_ptr<ChangeRuns> m_changes;
    // A change's text is on the bar until the next search.
    bool m_changeOnBar = false;
    ListBar m_bar;
    std::optional<std::uint64_t> m_dropsAtSearchStart;
    std::function<void()> m_wake;
    // Declared after the list: they end (and join their threads) first.
    OnvifSearchRound m_onvifSearch;
    std::unique_ptr<OnvifWatchSource> m_onvifWatch;
    void StartOnvifWatch();
    std::optional<std::uint64_t> ReversePathDrops() const;
    std::unique_ptr<RecvSearchThread> m_worker;
    bool m_workerStarted = false;
    // Binds the port and starts the worker once; false when it cannot bind.
    bool StartWorker();
    std::optional<Clock::time_point> m_searchEnd;
    bool m_noCamera = false;
    SearchFacts m_lastSearch;
    bool m_lastSearchEnded = false;
    SearchFacts SearchFactsNow() const;
    std::string m_portHolder;  // the bar's text while the port is held
    // Device ID -> the interface of the row its settings window opened for.
    std::map<std::string, std::uint32_t> m_settingsInterfaces;
};

}  // namespace qdipc
