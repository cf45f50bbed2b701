#include "settings/AssignModel.h"

#include <algorithm>
#include <chrono>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ListOutput.h"
#include "platform/WholeFile.h"
#include "settings/AssignMemory.h"
#include "settings/ChangeChecks.h"
#include "settings/PlanFile.h"
#include "settings/SettingsValidation.h"

namespace qdipc {

std::string CameraResultText(CameraResult result) {
    switch (result) {
        case CameraResult::Planned:
            return {};
        case CameraResult::Sent:
            return "sent";
        case CameraResult::Confirmed:
            return "confirmed";
        case CameraResult::NotConfirmed:
            return "not confirmed";
        case CameraResult::Conflict:
            return "conflict";
        case CameraResult::Unverifiable:
            return "unverifiable";
        case CameraResult::Refused:
            return "refused";
        case CameraResult::NotFound:
            return "not found";
    }
    return {};
}

AssignModel::AssignModel(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                         AddressReservations* reservations)
    : batch_(std::move(batch)),
      surroundings_(std::move(surroundings)),
      reservations_(reservations),
      holder_(reservations != nullptr ? reservations->NewHolder() : 0) {
    rows_.reserve(batch_.size());
    for (const AssignCamera& camera : batch_) {
        rows_.push_back({camera, {}});
    }
}

AssignModel::AssignModel(ProvisioningPlan plan, AssignSurroundings surroundings,
                         AddressReservations* reservations)
    : surroundings_(std::move(surroundings)),
      reservations_(reservations),
      holder_(reservations != nullptr ? reservations->NewHolder() : 0),
      planError_(std::move(plan.error)),
      skipped_(std::move(plan.skipped)),
      unprobed_(std::move(plan.unprobed)),
      fromPlan_(true) {
    const auto add = [this](AssignOrder order, CameraResult result, ResultReason why,
                            std::string detail) {
        batch_.push_back(order.camera);
        rows_.push_back({order.camera, order.newIp, order.mask, order.gateway, order.mode});
        SetResult(rows_.size() - 1, result, why, std::move(detail));
        planOrders_.push_back(std::move(order));
    };
    bool anyToSend = false;
    for (AssignOrder& order : plan.orders) {
        std::string refusal = order.refusal;
        const bool refused = !refusal.empty();
        anyToSend = anyToSend || !refused;
        add(std::move(order), refused ? CameraResult::Refused : CameraResult::Planned,
            refused ? ResultReason::BreaksRule : ResultReason::None, std::move(refusal));
    }
    for (ProvisioningPlan::Refusal& refusal : plan.refused) {
        add(std::move(refusal.order), CameraResult::Refused, ResultReason::BreaksRule,
            std::move(refusal.reason));
    }
    for (AssignOrder& order : plan.notFound) {
        add(std::move(order), CameraResult::NotFound, ResultReason::NotFound, {});
    }
    planOk_ = planError_.empty() && anyToSend;
}

AssignModel::~AssignModel() {
    // A started run holds its own addresses; the plan lets go.
    ReleasePlan();
}

AssignFields AssignModel::PrefilledFields() const {
    return PrefillAssignFields(batch_, surroundings_);
}

void AssignModel::ReleasePlan() {
    if (reservations_ != nullptr) {
        reservations_->Release(holder_);
    }
}

void AssignModel::SetResult(std::size_t row, CameraResult result, ResultReason why,
                            std::string detail) {
    rows_[row].result = result;
    rows_[row].why = why;
    rows_[row].reason = ResultReasonText(why, detail);
}

void AssignModel::Replan(const AssignFields& fields) {
    if (!checker_) {
        ReplanNow(fields);
        return;
    }
    if (!runRows_.empty() || fromPlan_) {
        return;  // the plan of a started run (or an opened plan) stays as it is
    }
    Eligible eligible = PrepareReplan(fields);
    AssignSurroundings unprobed = eligible.surroundings;
    unprobed.probe = nullptr;
    ShowPlan(PlanBatch(eligible.cameras, fields, unprobed), eligible);
    checked_ = !eligible.surroundings.probe;
    if (checked_) {
        return;
    }
    checker_->Submit(++generation_,
                     [cameras = eligible.cameras, fields,
                      surroundings = eligible.surroundings](const std::atomic<bool>& cancel) {
                         AssignSurroundings probed = surroundings;
                         probed.probe = CancellableProber(surroundings.probe, cancel);
                         return PlanBatch(cameras, fields, probed);
                     });
    checking_ = std::move(eligible);
}

void AssignModel::ReplanNow(const AssignFields& fields) {
    if (!runRows_.empty() || fromPlan_) {
        return;
    }
    ++generation_;  // a check still running is for an older plan
    const Eligible eligible = PrepareReplan(fields);
    ShowPlan(PlanBatch(eligible.cameras, fields, eligible.surroundings), eligible);
    checked_ = true;
}

void AssignModel::CheckPlansInBackground(std::function<void()> wake) {
    checker_ = std::make_unique<PlanChecker>(std::move(wake));
}

bool AssignModel::TakeCheckedPlan() {
    if (!checker_) {
        return false;
    }
    std::optional<PlanChecker::Done> done = checker_->Take();
    if (!done || done->generation != generation_ || !runRows_.empty() || checked_) {
        return false;
    }
    // Another dialog may have planned one of these addresses while they
    // were probed: then plan (and check) again around it.
    if (reservations_ != nullptr) {
        const auto taken = reservations_->TakenByOthers(holder_);
        for (const std::string& ip : done->plan.newIps) {
            const std::uint32_t address = ParseIpv4Strict(ip).value_or(0);
            if (std::find(taken.begin(), taken.end(), address) != taken.end()) {
                Replan(fields_);
                return true;
            }
        }
    }
    ReleasePlan();
    ShowPlan(done->plan, checking_);
    checked_ = true;
    return true;
}

AssignModel::Eligible AssignModel::PrepareReplan(const AssignFields& fields) {
    message_.clear();
    fields_ = fields;
    mask_ = fields.mask;
    gateway_ = fields.gateway;
    ReleasePlan();
    // A camera that cannot take a record is refused alone; its address stays
    // taken for the others' plan.
    Eligible eligible;
    eligible.surroundings = surroundings_;
    for (std::size_t i = 0; i < batch_.size(); ++i) {
        const AssignCamera& camera = batch_[i];
        SetResult(i, CameraResult::Planned, ResultReason::None);
        if (reservations_ != nullptr &&
            reservations_->CameraTakenByOther(holder_, camera.deviceId)) {
            SetResult(i, CameraResult::Refused, ResultReason::CameraBusy);
        } else if (std::string several =
                       SeveralMacsReason(FoundCamera{camera, 0, camera.otherMacs});
                   !several.empty()) {
            SetResult(i, CameraResult::Refused, ResultReason::BreaksRule, std::move(several));
        } else if (const auto problem =
                       ValidateSettings("", "", "", camera.mac, AddressingMode::Dhcp)) {
            SetResult(i, CameraResult::Refused, ResultReason::BreaksRule, problem->reason);
        }
        if (rows_[i].result == CameraResult::Planned) {
            eligible.cameras.push_back(camera);
            eligible.rows.push_back(i);
        } else {
            eligible.surroundings.otherCameras.push_back(camera.ip);
        }
    }
    if (reservations_ != nullptr) {
        eligible.surroundings.reserved = reservations_->TakenByOthers(holder_);
    }
    return eligible;
}

void AssignModel::ShowPlan(const BatchPlan& plan, const Eligible& eligible) {
    planError_ = plan.error;
    skipped_ = plan.skipped;
    unprobed_ = plan.unprobed;
    for (AssignRow& row : rows_) {
        row.newIp.clear();
        row.mask = mask_;
        row.gateway = gateway_;
        row.mode = AddressingMode::Static;
    }
    if (plan.Ok()) {
        for (std::size_t k = 0; k < eligible.cameras.size(); ++k) {
            rows_[eligible.rows[k]].newIp = plan.newIps[k];
            // Every record passes the settings rules before any is sent
            // (an empty gateway, a gateway outside the subnet).
            if (const auto problem =
                    ValidateSettings(plan.newIps[k], mask_, gateway_, eligible.cameras[k].mac,
                                     AddressingMode::Static);
                problem && planError_.empty()) {
                planError_ = problem->reason;
            }
            if (reservations_ != nullptr) {
                reservations_->ReserveAddress(holder_, ParseIpv4Strict(plan.newIps[k]).value_or(0));
            }
        }
    }
    planOk_ = plan.Ok() && planError_.empty() && !eligible.cameras.empty();
}

std::string AssignModel::PlanMessage() const {
    // A camera's texts as every cell shows them (one decoder, one escape):
    // no line can be broken or reordered by them.
    std::vector<std::string> lines;
    if (!planError_.empty()) {
        lines.push_back(DisplayCellText(planError_));
    }
    for (const AssignRow& row : rows_) {
        if (row.result == CameraResult::Refused) {
            lines.push_back(DisplayCellText(row.camera.deviceId) +
                            " is refused: " + DisplayCellText(row.reason));
        }
    }
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

std::string AssignModel::SkippedText() const {
    std::string text;
    for (const SkippedAddress& address : skipped_) {
        text += (text.empty() ? "Skipped: " : ", ") + FormatIpv4(address.address) + " (" +
                SkipReasonText(address.reason) + ")";
    }
    if (!unprobed_.empty()) {
        // Addresses on no link of this host: nobody could be asked there.
        text += (text.empty() ? "" : "\n") + UnprobedText(unprobed_);
    }
    if (!checked_ && planOk_) {
        text += (text.empty() ? "" : "\n") +
                std::string("Checking that the planned addresses are free…");
    }
    return text;
}

std::vector<int> AssignModel::RowsToApply(const AssignFields& fields) {
    if (!runRows_.empty()) {
        return {};
    }
    if (!checked_) {
        ReplanNow(fields);
    }
    return ApplyRows();
}

std::vector<int> AssignModel::ApplyRows() const {
    std::vector<int> rows;
    if (!planOk_ || !runRows_.empty()) {
        return rows;
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].result != CameraResult::Refused && rows_[i].result != CameraResult::NotFound) {
            rows.push_back(static_cast<int>(i));
        }
    }
    return rows;
}

std::vector<int> AssignModel::RetryRows() const {
    std::vector<int> rows;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].result == CameraResult::NotConfirmed ||
            rows_[i].result == CameraResult::Conflict ||
            rows_[i].result == CameraResult::Unverifiable) {
            rows.push_back(static_cast<int>(i));
        }
    }
    return rows;
}

std::vector<AssignOrder> AssignModel::OrdersFor(const std::vector<int>& rows) const {
    std::vector<AssignOrder> orders;
    for (const int row : rows) {
        if (fromPlan_) {
            orders.push_back(planOrders_[static_cast<std::size_t>(row)]);
            continue;
        }
        const AssignRow& r = rows_[static_cast<std::size_t>(row)];
        orders.push_back({r.camera, r.newIp, mask_, gateway_, AddressingMode::Static});
    }
    return orders;
}

void AssignModel::RunStarted(const std::vector<int>& rows) {
    if (runRows_.empty() && !fromPlan_ && !memoryFile_.empty()) {
        // The fields that went out are this network's from now on.
        RememberAssignFields(memoryFile_, memoryPrefill_, fields_);
    }
    runRows_ = rows;
    running_ = true;
    message_.clear();
    for (const int row : rows) {
        SetResult(static_cast<std::size_t>(row), CameraResult::Planned, ResultReason::None);
    }
}

void AssignModel::RunAbandoned() {
    running_ = false;
    for (const int row : runRows_) {
        SetResult(static_cast<std::size_t>(row), CameraResult::Planned, ResultReason::None);
    }
    runRows_.clear();
}

AssignModel::UndoPlan AssignModel::PlanUndo(const std::string& rollbackText) const {
    std::vector<FoundCamera> found;
    for (const AssignRow& row : rows_) {
        FoundCamera camera;
        camera.camera = row.camera;
        if (row.result == CameraResult::Confirmed) {
            camera.camera.ip = row.newIp;
        }
        found.push_back(std::move(camera));
    }
    AssignSurroundings surroundings = surroundings_;
    if (reservations_ != nullptr) {
        surroundings.reserved = reservations_->TakenByOthers(holder_);
    }
    UndoPlan undo{PlanText(rollbackText, found, surroundings), {}};
    for (const AssignOrder& order : undo.plan.orders) {
        const std::string id = LowerAscii(order.camera.deviceId);
        const auto at = std::find_if(rows_.begin(), rows_.end(), [&](const AssignRow& row) {
            return LowerAscii(row.camera.deviceId) == id;
        });
        undo.rows.push_back(static_cast<int>(at - rows_.begin()));
    }
    return undo;
}

int AssignModel::SetRunResult(std::size_t index, const ProvisioningCamera& camera) {
    if (index >= runRows_.size()) {
        return -1;
    }
    const int row = runRows_[index];
    SetResult(static_cast<std::size_t>(row), camera.result, camera.why, camera.detail);
    return row;
}

AssignCounts AssignModel::Counts() const {
    AssignCounts counts;
    for (const AssignRow& row : rows_) {
        switch (row.result) {
            case CameraResult::Planned:
                break;
            case CameraResult::Confirmed:
                ++counts.confirmed;
                break;
            case CameraResult::Sent:
                ++counts.unconfirmed;
                break;
            case CameraResult::NotConfirmed:
            case CameraResult::Conflict:
            case CameraResult::Unverifiable:
                counts.retry = true;
                ++counts.failed;
                break;
            case CameraResult::Refused:
            case CameraResult::NotFound:
                ++counts.failed;
                break;
        }
    }
    return counts;
}

std::string AssignModel::FinishedText() const {
    const AssignCounts counts = Counts();
    if (counts.failed > 0) {
        return std::to_string(counts.failed) + " of " + std::to_string(rows_.size()) +
               " cameras did not confirm their new address.";
    }
    return counts.unconfirmed > 0 ? "Every record was sent; confirmation is off."
                                  : "Every camera confirmed its new address.";
}

std::string AssignModel::ResultsCsv() const {
    std::string csv = "dev_id,mac,ip,mask,gateway,mode,old_ip,result,reason\r\n";
    for (const AssignRow& row : rows_) {
        csv += CsvLine({row.camera.deviceId, row.camera.mac, row.newIp, row.mask, row.gateway,
                        AddressingModeWord(row.mode), row.camera.ip, CameraResultWord(row.result),
                        row.reason});
    }
    return csv;
}

}  // namespace qdipc

namespace qdipc {

namespace {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return EscapeControls(std::string(text.begin(), text.end()));
}

}  // namespace

AssignFields AssignModel::RememberFieldsIn(std::filesystem::path file, const AssignFields& prefill,
                                           const AssignFields& shown) {
    memoryFile_ = std::move(file);
    memoryPrefill_ = prefill;
    const bool untouched = shown.start == prefill.start && shown.mask == prefill.mask &&
                           shown.gateway == prefill.gateway;
    if (memoryFile_.empty() || !untouched || RunEverStarted() || fromPlan_) {
        return shown;
    }
    return RecallAssignFields(memoryFile_, prefill);
}

std::string ReadPlanFile(const std::filesystem::path& path, std::string& text) {
    constexpr std::chrono::seconds kLimit{2};
    std::string error;
    switch (ReadFileBounded(path, kMaxPlanFileBytes, kLimit, text, error)) {
        case BoundedRead::Ok:
            return {};
        case BoundedRead::TooLarge:
            return "is larger than " + std::to_string(kMaxPlanFileBytes / (1024 * 1024)) +
                   " MB; a plan holds one short line per camera";
        case BoundedRead::TooSlow:
            return "did not end within " + std::to_string(kLimit.count()) +
                   " s (a pipe whose writer stays open?)";
        case BoundedRead::Failed:
            break;
    }
    return error;
}

AssignModel::UndoPlan AssignModel::PlanUndoRun() const {
    if (rollbackPaths_.empty()) {
        UndoPlan none;
        none.message = "Cannot undo: no rollback plan was written";
        return none;
    }
    std::string text;
    const std::string error = ReadPlanFile(rollbackPaths_.front(), text);
    if (!error.empty()) {
        UndoPlan unread;
        unread.message = "Cannot read the rollback plan " + PathText(rollbackPaths_.front()) + " " +
                         EscapeControls(error);
        return unread;
    }
    UndoPlan undo = PlanUndo(text);
    if (!undo.plan.Ok()) {
        undo.message = "Cannot undo: " + EscapeControls(undo.plan.error);
    }
    return undo;
}

void AssignModel::RunStateChanged(bool finished, const std::string& failure,
                                  const std::filesystem::path& rollbackPath,
                                  const std::string& rollbackError) {
    if (!failure.empty()) {
        // No rollback plan could be written, so nothing went out: the
        // operator fixes the folder and applies again.
        RunAbandoned();
        message_ = "Nothing was sent: " + EscapeControls(failure) +
                   ". Make the state folder writable and Apply again.";
        return;
    }
    if (!rollbackPath.empty() && std::find(rollbackPaths_.begin(), rollbackPaths_.end(),
                                           rollbackPath) == rollbackPaths_.end()) {
        rollbackPaths_.push_back(rollbackPath);
    }
    rollbackError_ = rollbackError;
    if (finished) {
        running_ = false;
        message_ = FinishedText();
    }
}

std::string AssignModel::RollbackText() const {
    if (!rollbackPaths_.empty()) {
        std::string text = "Rollback plan (qd_ip_search --plan FILE puts the cameras back): ";
        for (std::size_t i = 0; i < rollbackPaths_.size(); ++i) {
            text += (i == 0 ? "" : "; ") + PathText(rollbackPaths_[i]);
        }
        return text;
    }
    return rollbackError_.empty() ? std::string()
                                  : "No rollback plan: " + EscapeControls(rollbackError_);
}

std::string AssignModel::ProgressText() const {
    return std::to_string(Counts().confirmed) + " of " + std::to_string(rows_.size()) +
           " confirmed";
}

std::string AssignModel::ExportResults(const std::filesystem::path& file) {
    std::string error;
    if (!WriteFileWhole(file, ResultsCsv(), error)) {
        message_ =
            "The results could not be written to " + PathText(file) + ": " + EscapeControls(error);
    } else {
        message_ = "Results written to " + PathText(file);
    }
    return message_;
}

}  // namespace qdipc
