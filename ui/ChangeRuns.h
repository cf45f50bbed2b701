#pragma once
// The settings changes a window has sent with its settings windows' Modify,
// without a toolkit: each is a ProvisioningSession of one camera (the engine
// that the Qt window's runs, the Assign dialog and --modify use), which
// writes the rollback plan, sends the stamped record, probes and confirms it
// by the camera's own evidence. A newer Modify of the same camera replaces
// the one still waiting. A confirmed camera's row shows what it now reports.
// The window feeds it the replies and the time, and shows BarText.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/DeviceList.h"
#include "settings/AddressReservations.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeConfirmation.h"
#include "settings/NetSettingsRecord.h"
#include "settings/ProvisioningSession.h"

namespace qdipc {

// What a settings window's change runs into before anything is sent.
struct ChangeCheck {
    // Nothing may be sent (a device ID answered by several MACs): the
    // sentence that says so ("Nothing was sent: … ."); else empty.
    std::string refusal;
    // An address someone holds: the question to ask ("10.0.0.10 is used by a
    // listed camera (…) — send anyway?"); else empty.
    std::string question;
};

// How a batch runs.
struct BatchRunOptions {
    // Whether the rollback plan is written before the first record (nothing
    // is sent when it cannot be).
    bool rollback = true;
    std::chrono::milliseconds pacing = kAssignPacing;
    // The answers of a probe of the orders' addresses made just before; an
    // address that answered is refused. Empty: no probe.
    AddressProber probed{};
    // Stopped before it began (the window closed while its addresses were
    // probed): nothing is sent, each camera ends "not sent".
    bool stopped = false;
};

// Every listed camera as a plan sees it: its row's facts, with the other
// MACs its device ID was answered by.
std::vector<FoundCamera> ListedCameras(const DeviceList& list);

struct ChangeRunsConfig {
    ConfirmationOptions confirmation{};
    // Where each change's rollback plan is written.
    std::filesystem::path rollbackDirectory{};
    // What an address must not collide with (this host, gateways, neighbours,
    // the probe); the listed cameras are added from the list.
    std::function<AssignSurroundings()> surroundings{};
};

class ChangeRuns {
public:
    using Clock = ProvisioningSession::Clock;
    // Sends a stamped record toward an interface (0: every one); false with
    // the reason when it did not go out.
    using Sender = std::function<bool(const NetSettingsRecord& stamped, std::uint32_t arrival,
                                      std::string& failure)>;
    // A confirmation probe under a fresh search ID, which it answers.
    using Prober = std::function<std::optional<std::uint32_t>()>;

    ChangeRuns(DeviceList& list, ChangeRunsConfig config, Sender send, Prober probe);
    ~ChangeRuns();

    // The change a stamped record asks for: its camera as the list shows it
    // (when listed), arrival the interface its Modify goes out on.
    AssignOrder OrderOf(const NetSettingsRecord& stamped, std::uint32_t arrival) const;
    // The checks of a batch on one change: a device ID answered by several
    // MACs is refused; an address someone holds is asked about.
    ChangeCheck CheckChange(const AssignOrder& order) const;

    struct Started {
        // Nothing went out because the rollback plan could not be written:
        // why (the window may ask to send without one); else empty.
        std::string failure;
        // "Setting OK!" or "Setting error!" once the record was tried.
        std::string outcome;
    };
    // Sends the record (the first at once) and starts its confirmation.
    Started Start(const NetSettingsRecord& stamped, const AssignOrder& order, bool rollback,
                  Clock::time_point now);

    // A batch (the Assign dialog's Apply): each record stamped as it goes,
    // paced, confirmed; onResult(index, camera) on each camera's new result.
    // Answers why nothing was sent (no rollback plan), else empty.
    std::string StartBatch(std::vector<AssignOrder> orders, bool rollback, Clock::time_point now,
                           std::function<void(std::size_t, const ProvisioningCamera&)> onResult);
    // The same, for a dialog that follows its run: the run's session (its
    // cameras, counts, rollback plan, or the failure that kept it from
    // sending), which stays readable after the window forgets the run.
    std::shared_ptr<const ProvisioningSession> StartBatchRun(
        std::vector<AssignOrder> orders, BatchRunOptions options, Clock::time_point now,
        std::function<void(std::size_t, const ProvisioningCamera&)> onResult);
    // The reservations every plan, dialog and run of the window shares.
    AddressReservations& Reservations() { return m_reservations; }

    // A search's request (not a probe of the runs) went out under this ID:
    // its answers count like a probe's.
    void SearchSent(std::uint32_t searchId, Clock::time_point now);
    void OnReplies(const std::vector<AcceptedReply>& replies, Clock::time_point now);
    void Tick(Clock::time_point now);
    std::optional<Clock::time_point> NextDue() const;
    // Changes sent that wait for their camera, and records not sent yet.
    int Waiting() const;
    int Unsent() const;
    // Whether a run still sends or confirms.
    bool Going() const;
    // The progress bar's value in thousandths while changes wait (how many
    // of the going runs' changes have ended); once none waits, 1000 when
    // every outcome was a confirmation, 0 when one was not.
    int ProgressPermille() const;
    // The records not sent yet end "not confirmed" (the run was stopped);
    // the ones sent keep being confirmed.
    void StopSending(Clock::time_point now);
    // The bar's text for the changes: "Confirming <id>…", "Confirming N
    // changes…", the outcome's sentence, "Confirmed X of Y changes; last: …";
    // empty when there is nothing to say.
    std::string BarText() const;
    // A new search forgets the outcomes of changes that no longer wait.
    void ForgetOutcomes();

private:
    struct Run;
    void OnResult(Run& run, std::size_t index);

    DeviceList& m_list;
    ChangeRunsConfig m_config;
    Sender m_send;
    Prober m_probe;
    AddressReservations m_reservations;
    ProbeSchedule m_probes;
    std::vector<std::shared_ptr<Run>> m_runs;
    int m_confirmed = 0;
    int m_notConfirmed = 0;
    std::string m_lastText;
};

}  // namespace qdipc
