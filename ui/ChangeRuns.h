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
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/DeviceList.h"
#include "settings/AddressReservations.h"
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

    // What a batch's dialog shows of its run besides the results.
    struct BatchState {
        bool finished = false;  // nothing waits any more, or nothing was sent
        // Nothing was sent because the rollback plan could not be written: why.
        std::string failure;
        // The rollback plan written before the first record, or why none was.
        std::filesystem::path rollbackPath;
        std::string rollbackError;
    };
    struct BatchSinks {
        // Camera index has a new result.
        std::function<void(std::size_t, const ProvisioningCamera&)> onResult;
        // Every record went out, the run ended, or it failed before sending.
        std::function<void(const BatchState&)> onState;
    };
    // A batch (the Assign dialog's Apply, Retry, Undo, an opened plan): each
    // record stamped as it goes, paced, confirmed. With an address probe
    // (the surroundings' probe), the orders' static addresses are probed
    // once more on a thread of their own first (the window stays
    // responsive), and those that answer are refused; the first record
    // leaves on the Tick after the probe answered. A failure before sending
    // (no rollback plan) reaches onState, maybe before this returns.
    void StartBatch(std::vector<AssignOrder> orders, bool rollback, Clock::time_point now,
                    BatchSinks sinks);
    // How often Tick looks whether a probe has answered.
    static constexpr std::chrono::milliseconds kProbePoll{20};
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
    // Whether a run still probes its addresses, sends or confirms.
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
    // How every run of this window goes: its confirmation, the one probe
    // schedule, the rollback plan's folder.
    ProvisioningOptions RunOptions(bool rollback);
    // The probe of a batch answered: its session starts.
    void StartProbed(Run& run, Clock::time_point now);

    DeviceList& m_list;
    ChangeRunsConfig m_config;
    Sender m_send;
    Prober m_probe;
    AddressReservations m_reservations;
    ProbeSchedule m_probes;
    std::vector<std::unique_ptr<Run>> m_runs;
    int m_confirmed = 0;
    int m_notConfirmed = 0;
    std::string m_lastText;
};

}  // namespace qdipc
