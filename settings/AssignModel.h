#pragma once
// What the "Assign Addresses" dialog shows and decides, without a window: the
// cameras' rows with their planned addresses, the cameras refused before
// anything is sent (with the reason's code), the addresses the plan passed
// over, the results of the runs it starts, the counts, and the results as
// CSV. A dialog of any toolkit shows its rows and texts and hands the orders
// of ApplyRows or RetryRows to a run; the numbers and words come from here.
//
// The plan holds its addresses in the shared reservations while the model
// lives and no run holds them, so two open dialogs never plan one address
// twice; a camera with a change waiting in another run, or whose record would
// break the settings rules (an all-zero MAC), is refused alone and the others
// go on.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/AddressReservations.h"
#include "settings/BatchAssign.h"
#include "settings/PlanChecker.h"
#include "settings/ProvisioningSession.h"
#include "settings/ResultReason.h"

namespace qdipc {

// The Result column's word: "" (planned), "sent", "confirmed", "not
// confirmed", "conflict", "refused", "not found".
std::string CameraResultText(CameraResult result);

// Reads a plan or rollback file for a window, bounded: at most
// kMaxPlanFileBytes, from a pipe or device only what arrives within 2 s.
// Empty when read, else why not ("is larger than 16 MB; …", "did not end
// within 2 s …", or the system's words).
std::string ReadPlanFile(const std::filesystem::path& path, std::string& text);

struct AssignRow {
    AssignCamera camera;  // as the list showed it
    std::string newIp;    // planned; "" when none
    // The rest of the new settings: the fields' mask and gateway and static
    // for a planned batch; a plan file's line for an opened plan.
    std::string mask{};
    std::string gateway{};
    AddressingMode mode = AddressingMode::Static;
    CameraResult result = CameraResult::Planned;
    ResultReason why = ResultReason::None;
    std::string reason{};  // ResultReasonText(why, detail): "" when there is none
};

struct AssignCounts {
    int confirmed = 0;    // the camera showed it took the change
    int unconfirmed = 0;  // sent, and nobody waits for the camera (confirmation off)
    int failed = 0;       // ended otherwise: not confirmed, conflict, refused, not found
    bool retry = false;   // a row is not confirmed or in conflict
};

class AssignModel {
public:
    // reservations may be null (nothing else plans); it must outlive the model.
    AssignModel(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                AddressReservations* reservations);
    // An opened plan file (PlanText against the cameras listed): one row per
    // line, in the file's order; a line the plan refuses alone (a restore
    // line that cannot be sent, a device ID answered by several MACs) is
    // refused with its reason, a line whose camera is not listed is not
    // found, and the plan's error stops it all. The plan stays as read:
    // Replan does nothing, Apply sends the lines not refused.
    AssignModel(ProvisioningPlan plan, AssignSurroundings surroundings,
                AddressReservations* reservations);
    ~AssignModel();
    AssignModel(const AssignModel&) = delete;
    AssignModel& operator=(const AssignModel&) = delete;

    // The rows come from an opened plan, not from fields.
    bool FromPlanFile() const { return fromPlan_; }
    // What the fields open with: the network the first camera answered on.
    AssignFields PrefilledFields() const;

    // Remembers the fields applied per network in file (AssignMemory): the
    // first run's fields are stored as it starts. Answers the fields to show
    // now: those last applied on prefill's network while shown are still
    // prefill and nothing ran, else shown. An empty file remembers nothing.
    AssignFields RememberFieldsIn(std::filesystem::path file, const AssignFields& prefill,
                                  const AssignFields& shown);

    // Plans again from the fields (trimmed). Once a run started, the plan
    // stays as it was sent and this does nothing. With checks in the
    // background, the plan is made at once without asking the network and
    // its addresses are probed on the checker's thread (TakeCheckedPlan);
    // otherwise the probe is made here.
    void Replan(const AssignFields& fields);
    // Plans from the fields with the probe made here, whatever the mode
    // (Apply, when the plan shown was not checked yet).
    void ReplanNow(const AssignFields& fields);
    // From now on Replan checks in the background; wake is called on the
    // checker's thread when a checked plan waits.
    void CheckPlansInBackground(std::function<void()> wake);
    // Whether the rows' addresses were probed (or no probe is configured).
    bool PlanChecked() const { return checked_; }
    // The window's thread, after wake: the checked plan replaces the one
    // shown when it is still the latest (when another dialog took one of its
    // addresses meanwhile, it is planned and checked again). Whether the
    // rows changed.
    bool TakeCheckedPlan();
    // The plan may be applied: no error, and a camera to send.
    bool PlanOk() const { return planOk_; }
    const std::vector<AssignRow>& Rows() const { return rows_; }
    // The plan's error, then "<device ID> is refused: <why>" for each camera
    // refused, one a line; control characters escaped.
    std::string PlanMessage() const;
    // "Skipped: 10.0.0.5 (a listed camera), …", and "Checking that the
    // planned addresses are free…" while they are probed; "" when nothing
    // was skipped.
    std::string SkippedText() const;

    // Apply: the rows to send now. None once a run started; the plan shown
    // when its addresses were probed, else the fields planned and probed
    // now (then the rows show that plan).
    std::vector<int> RowsToApply(const AssignFields& fields);
    // The rows Apply sends (every camera not refused; none unless PlanOk),
    // and those Retry Unconfirmed sends again (not confirmed, conflict).
    std::vector<int> ApplyRows() const;
    std::vector<int> RetryRows() const;
    // Each row's order: its camera, planned address, the fields' mask and
    // gateway, static (an opened plan: its line's order).
    std::vector<AssignOrder> OrdersFor(const std::vector<int>& rows) const;
    // Lets go of the plan's addresses: a run that is about to start holds
    // its own.
    void ReleasePlan();
    // A run of these rows started (its camera i is rows[i]): their results
    // are cleared, and the plan no longer changes.
    void RunStarted(const std::vector<int>& rows);
    bool RunEverStarted() const { return !runRows_.empty(); }
    // The run that started sent nothing (no rollback plan could be written):
    // the rows may be planned and applied again.
    void RunAbandoned();
    // Undo This Run: the orders that the rollback plan text makes of the
    // cameras as they answer now (a confirmed one at its new address), with
    // the row of each order.
    struct UndoPlan {
        ProvisioningPlan plan;
        std::vector<int> rows;
        // PlanUndoRun: why nothing can be undone ("Cannot read the rollback
        // plan …", "Cannot undo: …"); empty when the orders may go.
        std::string message{};
    };
    UndoPlan PlanUndo(const std::string& rollbackText) const;
    // Undo This Run: PlanUndo of the first rollback plan of this model's
    // runs, read from its file (bounded, as --plan reads).
    UndoPlan PlanUndoRun() const;

    // What the latest run has told (ChangeRuns' batch state): every record
    // went out, or it ended (finished). A failure (nothing was sent: no
    // rollback plan) abandons the run; the rollback plan's path is kept.
    void RunStateChanged(bool finished, const std::string& failure,
                         const std::filesystem::path& rollbackPath,
                         const std::string& rollbackError);
    // A run started and has not ended.
    bool RunGoing() const { return running_; }
    // "Retry Unconfirmed": once the run ended, while a row can be retried;
    // "Undo This Run": once the run ended, when a rollback plan was written.
    bool RetryEnabled() const { return !running_ && Counts().retry; }
    bool UndoEnabled() const { return !running_ && !rollbackPaths_.empty(); }
    // The message line: what the runs said last (their end, a failure, an
    // undo refused, an export), else PlanMessage.
    std::string Message() const { return message_.empty() ? PlanMessage() : message_; }
    // Says this on the message line until the next plan (the export's words).
    void SetMessage(std::string text) { message_ = std::move(text); }
    // "Rollback plan (qd_ip_search --plan FILE puts the cameras back): A; B",
    // "No rollback plan: why", or "" before any run.
    std::string RollbackText() const;
    const std::vector<std::filesystem::path>& RollbackPaths() const { return rollbackPaths_; }
    // "N of M confirmed" (M: every row).
    std::string ProgressText() const;
    // Camera index of the latest run has a new result; the row it belongs
    // to, or -1.
    int SetRunResult(std::size_t index, const ProvisioningCamera& camera);

    AssignCounts Counts() const;
    // What the dialog says when the run ended.
    std::string FinishedText() const;
    // The rows as CSV (the one CSV writer): the plan file's columns (dev_id,
    // mac, ip = the new address, mask, gateway, mode), then old_ip, result
    // (CameraResultWord) and reason.
    std::string ResultsCsv() const;
    // "Export Results…": ResultsCsv written whole to file; the message line's
    // words ("Results written to …", "The results could not be written to
    // …: why"), also kept as Message().
    std::string ExportResults(const std::filesystem::path& file);

private:
    void SetResult(std::size_t row, CameraResult result, ResultReason why, std::string detail = {});
    // The cameras a plan is made for: refusals set, the plan's addresses let
    // go, what the plan must avoid gathered.
    struct Eligible {
        std::vector<AssignCamera> cameras;
        std::vector<std::size_t> rows;
        AssignSurroundings surroundings;
    };
    Eligible PrepareReplan(const AssignFields& fields);
    // The plan into the rows, its addresses reserved.
    void ShowPlan(const BatchPlan& plan, const Eligible& eligible);

    std::vector<AssignCamera> batch_;
    AssignSurroundings surroundings_;
    AddressReservations* reservations_ = nullptr;
    AddressReservations::Holder holder_ = 0;

    std::vector<AssignRow> rows_;
    std::string mask_;
    std::string gateway_;
    std::string planError_;
    std::vector<SkippedAddress> skipped_;
    std::vector<std::uint32_t> unprobed_;
    bool planOk_ = false;
    std::vector<int> runRows_;
    // An opened plan: each row's order as the plan made it.
    bool fromPlan_ = false;
    std::vector<AssignOrder> planOrders_;
    bool running_ = false;
    AssignFields fields_;  // as last planned
    std::filesystem::path memoryFile_;
    AssignFields memoryPrefill_;
    std::string message_;
    std::vector<std::filesystem::path> rollbackPaths_;
    std::string rollbackError_;
    bool checked_ = true;
    std::uint64_t generation_ = 0;
    Eligible checking_;                     // what the plan being checked was made for
    std::unique_ptr<PlanChecker> checker_;  // last: its thread ends first
};

}  // namespace qdipc
