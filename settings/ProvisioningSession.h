#pragma once
// One provisioning run: find the cameras (the search with its repeated
// requests), plan their new settings, send each camera its record paced
// kAssignPacing apart, confirm every change by evidence from the camera
// itself (ChangeConfirmation), and report each camera's result as events.
// Changing one camera (the settings window's Modify, --modify) and a batch
// (the Assign dialog, --assign, --plan) are the same run with one or many
// cameras.
//
// The session owns no thread, timer or socket. Its owner
// - gives it the time on every call (any steady clock; tests use a made-up one),
// - sends what it asks through the hooks (settings records and discovery
//   probes),
// - feeds it every reply the receive worker accepted (OnReplies), with the
//   address each came from,
// - and calls Tick when NextDue says (a QTimer in the window, a loop on the
//   command line).
// Every camera ends as confirmed, not_confirmed, conflict, unverifiable,
// refused (with a reason) or not_found; "sent" is a state on the way, never a
// result. The
// run is finished only when no camera is waiting any more.
//
// A session runs once: StartSearch or Start, then OnReplies/Tick until
// Finished. The hooks are called from inside those calls, on the owner's
// thread; onEvent may read the session (Cameras(), counts) but must not call
// its Start, OnReplies, Tick or StopSending.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "discovery/ReplyQueue.h"
#include "discovery/SearchSchedule.h"
#include "settings/AddressPlanner.h"
#include "settings/AddressReservations.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeConfirmation.h"
#include "settings/PlanFile.h"
#include "settings/ResultReason.h"

namespace qdipc {

enum class CameraResult {
    Planned,       // on the way: not yet sent (or a dry run's end)
    Sent,          // on the way: sent, waiting for the camera's evidence
    Confirmed,     // the camera showed it took the change
    NotConfirmed,  // no evidence in time (or the record could not be sent)
    Conflict,      // another device answers for this camera
    Unverifiable,  // sent, but no answer could show it: the camera reported these settings
    Refused,       // not sent: the record breaks a rule, or the camera is busy
    NotFound,      // the camera did not answer the search
};

// The word the command line prints: planned, sent, confirmed, not_confirmed,
// conflict, unverifiable, refused, not_found.
const char* CameraResultWord(CameraResult result);
// The plan file's word for a mode: static, dhcp, adsl.
const char* AddressingModeWord(AddressingMode mode);
// True for the results a camera ends with (everything but Planned and Sent).
bool IsFinalResult(CameraResult result);

// A camera as the search found it.
struct FoundCamera {
    AssignCamera camera;              // device ID, MAC, IP, mask, gateway, arrival interface
    std::uint32_t sourceAddress = 0;  // where its first reply came from
    // Other MACs its device ID answered with (another device using its ID).
    std::vector<std::string> otherMacs;
};

// What the plan made of the cameras found. An error ends the run before any
// record is sent.
struct ProvisioningPlan {
    std::vector<AssignOrder> orders;
    // Cameras the plan names that the search did not find (their record's
    // camera holds the name, newIp what they would have got).
    std::vector<AssignOrder> notFound;
    std::vector<SkippedAddress> skipped;
    // Cameras found that may not get a record, each with why (a device ID
    // answered by several MACs); the others go on.
    struct Refusal {
        AssignOrder order;
        std::string reason;
    };
    std::vector<Refusal> refused;
    // Addresses handed out that could not be probed (on no link of this host).
    std::vector<std::uint32_t> unprobed;
    std::string error;
    // The error is an address in use: the operator may send anyway (--force).
    bool overridable = false;

    bool Ok() const { return error.empty(); }
};

// Which cameras an --assign (or a dialog) takes from those found.
struct AssignSelection {
    enum class By { All, Ip, Ids };
    By by = By::All;
    std::string ip;                // By::Ip: the cameras answering at this address
    std::vector<std::string> ids;  // By::Ids: lowercase device IDs
};

// The plan of an --assign: the selected cameras get addresses from fields,
// in AssignOrderLess order (the orders come in that order too), around
// surroundings (whose otherCameras this fills with the cameras found outside
// the batch). An ID asked for but not found is in notFound; a camera whose
// device ID answered with several MACs is refused (SeveralMacsReason) and
// keeps its address out of the plan.
ProvisioningPlan PlanAssign(const std::vector<FoundCamera>& found, const AssignSelection& selection,
                            const AssignFields& fields, AssignSurroundings surroundings);

// The plan of a plan file's lines against the cameras found, in the file's
// order. Errors (nothing may be sent): a line whose MAC matches several
// cameras found; a line whose camera's device ID answers with several MACs
// or with another MAC than the line gives; one camera named by two lines
// (once by device ID, once by MAC); a static IP held by this host, a gateway
// (the host's or a line's), a camera found that is not this line's camera,
// an address the neighbour table knows or where something answers a probe
// (unless it is the camera's own) or another run's reservation.
// Lines whose camera was not found are in notFound.
ProvisioningPlan PlanLines(const std::vector<PlanLine>& lines,
                           const std::vector<FoundCamera>& found,
                           const AssignSurroundings& surroundings);

// A plan file's text (a rollback plan, an edited plan) planned against the
// cameras found: ReadPlanFile, then PlanLines; a fault of the reading is the
// plan's error.
ProvisioningPlan PlanText(std::string_view text, const std::vector<FoundCamera>& found,
                          const AssignSurroundings& surroundings);

struct ProvisioningOptions {
    // How long the search runs before the plan is made; zero: no search, the
    // orders are given to Start.
    std::chrono::milliseconds searchWait{0};
    // With a search: the device IDs (lowercase) the plan needs; the search
    // ends as soon as each of them answered (settings of one camera).
    std::vector<std::string> awaitedIds;
    std::chrono::milliseconds pacing = kAssignPacing;
    // timeout zero: nothing is confirmed; a camera whose record went out ends
    // as Sent (the operator asked not to wait).
    ConfirmationOptions confirmation;
    // Plan only: every camera ends as Planned, nothing is sent.
    bool dryRun = false;
    // The probe schedule shared with the other runs of one window (it must
    // outlive the session); null: the session keeps its own.
    ProbeSchedule* probes = nullptr;
    // The operator chose to send to an address that is in use: the probe
    // just before sending refuses nothing.
    bool force = false;
    // Whether a rollback plan (see RollbackPlanText) is written into
    // rollbackDirectory before the first record. When it cannot be (no
    // folder given, the folder cannot be made, the disk is full, read-only),
    // the run ends Failed before anything is sent, and RollbackError says
    // why; no partial file is left.
    bool rollback = false;
    std::filesystem::path rollbackDirectory;
};

struct ProvisioningHooks {
    // Stamps and sends one record toward the interface given (0: every one);
    // false with the reason in failure when it did not go out.
    std::function<bool(const NetSettingsRecord& record, std::uint32_t arrivalInterface,
                       std::string& failure)>
        sendRecord;
    // The search's discovery request; first is true for the session's first
    // one (draw a new search ID), false for a repeat of it. False when
    // nothing went out.
    std::function<bool(bool first)> sendProbe;
    // A confirmation probe: a discovery request under a fresh search ID (one
    // no recent request used), which it returns; nothing when it did not go
    // out. Unset: no probe goes out and no answer counts.
    std::function<std::optional<std::uint32_t>()> sendConfirmationProbe;
    // With a search: makes the plan from the cameras found (in the order
    // their first replies came).
    std::function<ProvisioningPlan(const std::vector<FoundCamera>&)> plan;
    // Told about everything that happens, as it happens.
    std::function<void(const struct ProvisioningEvent&)> onEvent;
    // Probes the static addresses of orders given to Start just before the
    // first record leaves (they were planned earlier, maybe minutes ago): an
    // address that answers is refused. Empty: no probe.
    AddressProber probeAddresses{};
    // Writes the rollback plan whole (false with the reason); empty:
    // WriteFileWhole. Tests give a disk that fails.
    std::function<bool(const std::filesystem::path&, const std::string&, std::string&)> writeFile{};
};

struct ProvisioningEvent {
    enum class Kind {
        Searched,  // the search ended: text "N cameras found"
        Planned,   // the cameras and their plan are known (Cameras())
        Failed,    // the run ended before sending: text is why (plan or network)
        Sent,      // every record went out: text "N records sent in M ms"
        Result,    // camera index has a new result; text says it in words
        // Nothing is waiting any more: text "N of M confirmed in T ms" (T from
        // the first record to the last confirmation), or with none confirmed
        // "0 of M confirmed (waited T ms)".
        Finished,
    };
    Kind kind = Kind::Result;
    std::size_t index = 0;  // Result: the camera
    CameraResult result = CameraResult::Planned;
    std::string text;
    // Result: the code of the reason that text says in words.
    ResultReason reason = ResultReason::None;
};

// One camera of the run and where it stands.
struct ProvisioningCamera {
    AssignOrder order;  // what it is sent; order.camera is what it reported before
    CameraResult result = CameraResult::Planned;
    // Refused, NotConfirmed, Conflict, Unverifiable: why; Confirmed: ConfirmationText.
    // ResultReasonText(why, detail).
    std::string reason;
    // Confirmed: the reply that confirmed it (the list row's new cells).
    std::optional<AcceptedReply> reply;
    // The reason's code and its detail (see ResultReason).
    ResultReason why = ResultReason::None;
    std::string detail{};
};

class ProvisioningSession {
public:
    using Clock = std::chrono::steady_clock;

    // reservations may be null (nothing else plans on this host); when given
    // it must outlive the session.
    ProvisioningSession(ProvisioningOptions options, ProvisioningHooks hooks,
                        AddressReservations* reservations = nullptr);
    ~ProvisioningSession();
    ProvisioningSession(const ProvisioningSession&) = delete;
    ProvisioningSession& operator=(const ProvisioningSession&) = delete;

    // Starts with a search (options.searchWait > 0): sends the first probe.
    // False (and a Failed event) when it could not go out.
    bool StartSearch(Clock::time_point now);
    // Starts with the cameras known (the window's rows): checks and reserves,
    // then sends from the next Tick on.
    void Start(std::vector<AssignOrder> orders, Clock::time_point now);

    // Every accepted reply, in arrival order, duplicates included.
    void OnReplies(const std::vector<AcceptedReply>& replies, Clock::time_point now);
    // Does what is due: search repeats, the end of the search, the next
    // record, probes, deadlines.
    void Tick(Clock::time_point now);
    // When Tick next has something to do; nothing once finished.
    std::optional<Clock::time_point> NextDue() const;

    // Stops sending: the records not sent yet end as NotConfirmed ("not sent:
    // the run was stopped"); the ones sent keep being confirmed. Before Start
    // (an owner still probing): nothing will be sent.
    void StopSending(Clock::time_point now);

    bool Finished() const;
    // The run ended before sending (plan or network failure): why.
    const std::string& Failure() const { return failure_; }
    // A record or the first probe could not go out.
    bool NetworkFailed() const { return networkFailed_; }

    const std::vector<ProvisioningCamera>& Cameras() const { return cameras_; }
    // The orders are Cameras()[0, OrderCount()); the cameras not found follow.
    std::size_t OrderCount() const { return ordersCount_; }
    // This run's holder in the reservations (0 without them): a plan made for
    // the run avoids AddressReservations::TakenByOthers(Holder()).
    AddressReservations::Holder Holder() const { return holder_; }
    const std::vector<FoundCamera>& Found() const { return found_; }
    const std::vector<SkippedAddress>& Skipped() const { return skipped_; }
    // The addresses of the plan that could not be probed.
    const std::vector<std::uint32_t>& Unprobed() const { return unprobed_; }
    std::size_t CountOf(CameraResult result) const;
    // "Confirming N changes…" while changes are waiting, else empty.
    std::string WaitingText() const { return confirmation_.WaitingText(); }

    // A plan file of restore lines (the --plan columns dev_id, mac, ip,
    // mask, gateway, mode, new_mac, restore), written with CsvCell, that puts
    // every camera whose record goes out back to the settings it reported
    // before: mac is the MAC it answers with after the change, new_mac the
    // one it had when the change gives it another, mode its own where known
    // (AssignCamera::mode), else static.
    std::string RollbackPlanText() const;
    // Where the rollback plan was written; empty when it was not (then
    // RollbackError says why, and nothing was sent).
    const std::filesystem::path& RollbackPath() const { return rollbackPath_; }
    const std::string& RollbackError() const { return rollbackError_; }

private:
    enum class Phase { Idle, Searching, Sending, Confirming, Done };

    void Emit(ProvisioningEvent event);
    void SetResult(std::size_t index, CameraResult result, ResultReason why,
                   std::string detail = {});
    void EndSearch(Clock::time_point now);
    void BeginSending(Clock::time_point now);
    void SendDue(Clock::time_point now);
    void TakeOutcomes(std::vector<ConfirmationOutcome>& outcomes);
    void FinishIfDone(Clock::time_point now);
    bool WriteRollback();
    void RefuseAnsweringAddresses();

    ProvisioningOptions options_;
    ProvisioningHooks hooks_;
    AddressReservations* reservations_;
    AddressReservations::Holder holder_ = 0;
    ChangeConfirmation confirmation_;

    Phase phase_ = Phase::Idle;
    Clock::time_point searchStart_{};
    SearchSchedule searchSchedule_;
    bool probed_ = false;  // the session's first probe went out
    std::vector<FoundCamera> found_;
    std::unordered_map<std::string, std::size_t> foundIndex_;  // device ID -> found_
    // Lowercase device ID -> the camera whose change is waiting for it.
    std::unordered_map<std::string, std::size_t> sentIndex_;
    std::vector<ProvisioningCamera> cameras_;
    std::vector<SkippedAddress> skipped_;
    std::vector<std::uint32_t> unprobed_;
    bool probeBeforeSending_ = false;  // the orders were given to Start
    bool stopBeforeSending_ = false;   // StopSending came before Start
    std::size_t ordersCount_ = 0;      // cameras_[0, ordersCount_) are the orders
    std::size_t nextToSend_ = 0;
    std::size_t sentCount_ = 0;
    Clock::time_point sendStart_{};
    // When the next record may go: kAssignPacing after the latest one left.
    Clock::time_point nextSend_{};
    Clock::time_point confirmStart_{};
    Clock::time_point now_{};              // the time of the call being handled
    Clock::time_point lastConfirmedAt_{};  // when the latest camera was confirmed
    std::string failure_;
    bool networkFailed_ = false;
    std::filesystem::path rollbackPath_;
    std::string rollbackError_;
};

}  // namespace qdipc
