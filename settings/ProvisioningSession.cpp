#include "settings/ProvisioningSession.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>
#include <fstream>
#include <unordered_set>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ListOutput.h"
#include "discovery/SearchCommand.h"
#include "platform/WholeFile.h"
#include "settings/ChangeChecks.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

long long Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

CameraResult ResultOf(const ConfirmationOutcome& outcome) {
    switch (outcome.verdict) {
        case ConfirmationVerdict::Confirmed:
            return CameraResult::Confirmed;
        case ConfirmationVerdict::Conflict:
            return CameraResult::Conflict;
        case ConfirmationVerdict::Unverifiable:
            return CameraResult::Unverifiable;
        case ConfirmationVerdict::NotConfirmed:
            break;
    }
    return CameraResult::NotConfirmed;
}

}  // namespace

const char* AddressingModeWord(AddressingMode mode) {
    return mode == AddressingMode::Dhcp ? "dhcp" : mode == AddressingMode::Adsl ? "adsl" : "static";
}

const char* CameraResultWord(CameraResult result) {
    switch (result) {
        case CameraResult::Planned:
            return "planned";
        case CameraResult::Sent:
            return "sent";
        case CameraResult::Confirmed:
            return "confirmed";
        case CameraResult::NotConfirmed:
            return "not_confirmed";
        case CameraResult::Conflict:
            return "conflict";
        case CameraResult::Unverifiable:
            return "unverifiable";
        case CameraResult::Refused:
            return "refused";
        case CameraResult::NotFound:
            return "not_found";
    }
    return "";
}

bool IsFinalResult(CameraResult result) {
    return result != CameraResult::Planned && result != CameraResult::Sent;
}

ProvisioningSession::ProvisioningSession(ProvisioningOptions options, ProvisioningHooks hooks,
                                         AddressReservations* reservations)
    : options_(std::move(options)),
      hooks_(std::move(hooks)),
      reservations_(reservations),
      confirmation_(options_.confirmation, options_.probes) {
    if (reservations_ != nullptr) {
        holder_ = reservations_->NewHolder();
    }
}

ProvisioningSession::~ProvisioningSession() {
    if (reservations_ != nullptr) {
        reservations_->Release(holder_);
    }
}

void ProvisioningSession::Emit(ProvisioningEvent event) {
    if (hooks_.onEvent) {
        hooks_.onEvent(event);
    }
}

void ProvisioningSession::SetResult(std::size_t index, CameraResult result, ResultReason why,
                                    std::string detail) {
    if (result == CameraResult::Confirmed) {
        lastConfirmedAt_ = now_;
    }
    ProvisioningCamera& camera = cameras_[index];
    camera.result = result;
    camera.why = why;
    camera.detail = std::move(detail);
    camera.reason = ResultReasonText(why, camera.detail);
    ProvisioningEvent event;
    event.kind = ProvisioningEvent::Kind::Result;
    event.index = index;
    event.result = result;
    event.text = camera.reason;
    event.reason = why;
    Emit(std::move(event));
}

bool ProvisioningSession::StartSearch(Clock::time_point now) {
    phase_ = Phase::Searching;
    searchStart_ = now;
    searchSchedule_.Start(now, options_.searchWait);
    probed_ = hooks_.sendProbe && hooks_.sendProbe(true);
    if (!probed_) {
        networkFailed_ = true;
        failure_ = "the search request could not be sent";
        phase_ = Phase::Done;
        Emit({ProvisioningEvent::Kind::Failed, 0, CameraResult::Planned, failure_});
        return false;
    }
    return true;
}

void ProvisioningSession::Start(std::vector<AssignOrder> orders, Clock::time_point now) {
    ProvisioningPlan plan;
    plan.orders = std::move(orders);
    cameras_.clear();
    for (AssignOrder& order : plan.orders) {
        cameras_.push_back({std::move(order), CameraResult::Planned, {}, {}});
    }
    ordersCount_ = cameras_.size();
    probeBeforeSending_ = true;
    Emit({ProvisioningEvent::Kind::Planned, 0, CameraResult::Planned, {}});
    BeginSending(now);
}

void ProvisioningSession::OnReplies(const std::vector<AcceptedReply>& replies,
                                    Clock::time_point now) {
    now_ = now;
    if (phase_ == Phase::Searching) {
        for (const AcceptedReply& accepted : replies) {
            const std::string id = FormatDeviceId(accepted.reply.Raw(reply::kDevId));
            const std::string mac = FormatMac(accepted.reply.Raw(reply::kMac));
            const auto [known, added] = foundIndex_.emplace(id, found_.size());
            if (!added) {
                FoundCamera& listed = found_[known->second];
                if (listed.camera.mac != mac &&
                    std::find(listed.otherMacs.begin(), listed.otherMacs.end(), mac) ==
                        listed.otherMacs.end()) {
                    listed.otherMacs.push_back(mac);
                }
                continue;
            }
            FoundCamera camera;
            camera.camera = {id,
                             mac,
                             accepted.reply.Text(reply::kIp),
                             accepted.reply.Text(reply::kMask),
                             accepted.reply.Text(reply::kGateway),
                             accepted.arrivalInterface};
            camera.sourceAddress = accepted.sourceAddress;
            found_.push_back(std::move(camera));
        }
        // FormatDeviceId writes lowercase, as the awaited IDs are.
        if (!options_.awaitedIds.empty() &&
            std::all_of(options_.awaitedIds.begin(), options_.awaitedIds.end(),
                        [&](const std::string& id) { return foundIndex_.contains(id); })) {
            EndSearch(now);
        }
        return;
    }
    if (phase_ != Phase::Sending && phase_ != Phase::Confirming) {
        return;
    }
    std::vector<ConfirmationOutcome> outcomes;
    confirmation_.Observe(replies, now, outcomes);
    TakeOutcomes(outcomes);
    FinishIfDone(now);
}

void ProvisioningSession::EndSearch(Clock::time_point now) {
    ProvisioningEvent searched{
        ProvisioningEvent::Kind::Searched, 0, CameraResult::Planned,
        std::to_string(found_.size()) + (found_.size() == 1 ? " camera found" : " cameras found")};
    phase_ = Phase::Idle;
    Emit(std::move(searched));
    ProvisioningPlan plan = hooks_.plan ? hooks_.plan(found_) : ProvisioningPlan{};
    if (!plan.Ok()) {
        failure_ = plan.error;
        phase_ = Phase::Done;
        Emit({ProvisioningEvent::Kind::Failed, 0, CameraResult::Planned, failure_});
        return;
    }
    skipped_ = std::move(plan.skipped);
    unprobed_ = std::move(plan.unprobed);
    cameras_.clear();
    for (AssignOrder& order : plan.orders) {
        cameras_.push_back({std::move(order), CameraResult::Planned, {}, {}});
    }
    const std::size_t refusedFrom = cameras_.size();
    for (ProvisioningPlan::Refusal& refusal : plan.refused) {
        std::string reason = refusal.reason;
        cameras_.push_back({std::move(refusal.order),
                            CameraResult::Refused,
                            std::move(reason),
                            {},
                            ResultReason::BreaksRule,
                            std::move(refusal.reason)});
    }
    ordersCount_ = cameras_.size();
    for (AssignOrder& order : plan.notFound) {
        cameras_.push_back({std::move(order),
                            CameraResult::NotFound,
                            ResultReasonText(ResultReason::NotFound),
                            {},
                            ResultReason::NotFound});
    }
    Emit({ProvisioningEvent::Kind::Planned, 0, CameraResult::Planned, {}});
    for (std::size_t i = refusedFrom; i < cameras_.size(); ++i) {
        Emit({ProvisioningEvent::Kind::Result, i, cameras_[i].result, cameras_[i].reason,
              cameras_[i].why});
    }
    BeginSending(now);
}

void ProvisioningSession::BeginSending(Clock::time_point now) {
    // Each record passes the settings rules and the reservations before any
    // leaves; a camera that fails is refused alone, the others go on. One
    // camera gets one change per run: a second order for it is refused.
    std::unordered_set<std::string> named;
    for (std::size_t i = 0; i < ordersCount_; ++i) {
        const AssignOrder& order = cameras_[i].order;
        if (cameras_[i].result != CameraResult::Planned) {
            continue;  // refused by the plan
        }
        if (!order.refusal.empty()) {
            SetResult(i, CameraResult::Refused, ResultReason::BreaksRule, order.refusal);
            continue;
        }
        const auto validate = order.restore ? ValidateRestoreSettings : ValidateSettings;
        if (const auto problem =
                validate(order.newIp, order.mask, order.gateway, order.RecordMac(), order.mode)) {
            SetResult(i, CameraResult::Refused, ResultReason::BreaksRule, problem->reason);
            continue;
        }
        if (!named.insert(LowerAscii(order.camera.deviceId)).second) {
            SetResult(i, CameraResult::Refused, ResultReason::NamedTwice);
            continue;
        }
        if (reservations_ == nullptr) {
            continue;
        }
        if (!reservations_->ReserveCamera(holder_, order.camera.deviceId)) {
            SetResult(i, CameraResult::Refused, ResultReason::CameraBusy);
            continue;
        }
        if (order.mode == AddressingMode::Static) {
            const std::uint32_t address = ParseIpv4Strict(order.newIp).value_or(0);
            if (!reservations_->ReserveAddress(holder_, address)) {
                SetResult(i, CameraResult::Refused, ResultReason::AddressInOtherRun, order.newIp);
            }
        }
    }
    if (options_.dryRun) {
        phase_ = Phase::Done;
        if (reservations_ != nullptr) {
            reservations_->Release(holder_);
        }
        Emit({ProvisioningEvent::Kind::Finished, 0, CameraResult::Planned,
              std::to_string(CountOf(CameraResult::Planned)) + " planned, nothing sent"});
        return;
    }
    for (std::size_t i = 0; stopBeforeSending_ && i < ordersCount_; ++i) {
        if (cameras_[i].result == CameraResult::Planned) {
            SetResult(i, CameraResult::NotConfirmed, ResultReason::Stopped);
        }
    }
    if (probeBeforeSending_ && !options_.force) {
        RefuseAnsweringAddresses();
    }
    // No record leaves without its way back.
    if (!WriteRollback()) {
        failure_ = rollbackError_;
        phase_ = Phase::Done;
        if (reservations_ != nullptr) {
            reservations_->Release(holder_);
        }
        Emit({ProvisioningEvent::Kind::Failed, 0, CameraResult::Planned, failure_});
        return;
    }
    phase_ = Phase::Sending;
    nextToSend_ = 0;
    sentCount_ = 0;
    sendStart_ = now;
    nextSend_ = now;
    SendDue(now);
}

void ProvisioningSession::RefuseAnsweringAddresses() {
    if (!hooks_.probeAddresses) {
        return;
    }
    // One probe for the whole run, right before its first record: the
    // records then leave within the pacing of each other.
    std::vector<std::uint32_t> addresses;
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < ordersCount_; ++i) {
        const AssignOrder& order = cameras_[i].order;
        const auto address = ParseIpv4Strict(order.newIp);
        if (cameras_[i].result != CameraResult::Planned || order.mode != AddressingMode::Static ||
            !address || order.newIp == order.camera.ip) {
            continue;  // a camera keeping its address answers there itself
        }
        addresses.push_back(*address);
        indices.push_back(i);
    }
    if (addresses.empty()) {
        return;
    }
    const std::vector<ProbeAnswer> answers = hooks_.probeAddresses(addresses);
    for (std::size_t k = 0; k < indices.size() && k < answers.size(); ++k) {
        if (answers[k] != ProbeAnswer::Answered) {
            continue;
        }
        const std::size_t i = indices[k];
        if (reservations_ != nullptr) {
            reservations_->ReleaseAddress(holder_, addresses[k]);
        }
        SetResult(i, CameraResult::Refused, ResultReason::AddressAnswered, cameras_[i].order.newIp);
    }
}

void ProvisioningSession::SendDue(Clock::time_point now) {
    while (phase_ == Phase::Sending) {
        while (nextToSend_ < ordersCount_ &&
               cameras_[nextToSend_].result != CameraResult::Planned) {
            ++nextToSend_;
        }
        if (nextToSend_ >= ordersCount_) {
            phase_ = Phase::Confirming;
            confirmStart_ = now;
            Emit({ProvisioningEvent::Kind::Sent, 0, CameraResult::Sent,
                  std::to_string(sentCount_) + " records sent in " +
                      std::to_string(Milliseconds(now - sendStart_)) + " ms"});
            FinishIfDone(now);
            return;
        }
        // Paced, so that a switch or a camera's small queue drops none; after
        // a late tick too, the next record waits its full spacing.
        if (now < nextSend_) {
            return;
        }
        nextSend_ = now + options_.pacing;
        const std::size_t index = nextToSend_++;
        const AssignOrder& order = cameras_[index].order;
        const NetSettingsRecord record = order.Record();
        std::string failure;
        const bool sent =
            hooks_.sendRecord && hooks_.sendRecord(record, order.camera.arrivalInterface, failure);
        ++sentCount_;
        if (!sent) {
            networkFailed_ = true;
            SetResult(index, CameraResult::NotConfirmed, ResultReason::SendFailed, failure);
            continue;
        }
        if (options_.confirmation.timeout.count() <= 0) {
            SetResult(index, CameraResult::Sent, ResultReason::NoWait);
            continue;
        }
        // What the camera reported before, when it is known (a change
        // without a listed row has no before values).
        std::optional<ReportedSettings> before;
        if (!order.camera.ip.empty()) {
            before = ReportedSettings{order.camera.ip, order.camera.mask, order.camera.gateway,
                                      order.camera.mac};
        }
        std::optional<ConfirmationOutcome> unverifiable = confirmation_.Add(record, now, before);
        // One change per camera and run (BeginSending refused the others).
        SetResult(index, CameraResult::Sent, ResultReason::None);
        if (unverifiable) {
            SetResult(index, CameraResult::Unverifiable, ResultReason::Unverifiable);
        } else {
            sentIndex_.emplace(LowerAscii(order.camera.deviceId), index);
        }
    }
}

void ProvisioningSession::StopSending(Clock::time_point now) {
    if (phase_ == Phase::Idle) {
        stopBeforeSending_ = true;  // not started yet: nothing will go
        return;
    }
    if (phase_ != Phase::Sending) {
        return;
    }
    for (std::size_t i = nextToSend_; i < ordersCount_; ++i) {
        if (cameras_[i].result == CameraResult::Planned) {
            SetResult(i, CameraResult::NotConfirmed, ResultReason::Stopped);
        }
    }
    nextToSend_ = ordersCount_;
    SendDue(now);
}

void ProvisioningSession::TakeOutcomes(std::vector<ConfirmationOutcome>& outcomes) {
    for (ConfirmationOutcome& outcome : outcomes) {
        const auto at = sentIndex_.find(LowerAscii(outcome.deviceId));
        if (at == sentIndex_.end()) {
            continue;
        }
        const std::size_t i = at->second;
        sentIndex_.erase(at);
        if (cameras_[i].result == CameraResult::Sent) {
            cameras_[i].reply = outcome.reply;
            SetResult(i, ResultOf(outcome), ResultReason::Evidence, ConfirmationText(outcome));
        }
    }
}

void ProvisioningSession::Tick(Clock::time_point now) {
    now_ = now;
    switch (phase_) {
        case Phase::Searching: {
            // The request again, for cameras that missed it.
            for (std::size_t due = searchSchedule_.Tick(now); due > 0; --due) {
                if (hooks_.sendProbe) {
                    hooks_.sendProbe(false);  // a repeat that fails is not a failure
                }
            }
            if (now >= searchStart_ + options_.searchWait) {
                EndSearch(now);
            }
            return;
        }
        case Phase::Sending:
        case Phase::Confirming: {
            SendDue(now);
            ChangeConfirmation::TickResult tick = confirmation_.Tick(now);
            TakeOutcomes(tick.ended);
            if (tick.probe) {
                // Each probe under a fresh search ID: its answers count for
                // it alone.
                std::optional<std::uint32_t> searchId;
                if (hooks_.sendConfirmationProbe) {
                    searchId = hooks_.sendConfirmationProbe();
                }
                std::vector<ConfirmationOutcome> outcomes;
                confirmation_.ProbeSent(searchId, now, outcomes);
                TakeOutcomes(outcomes);
            }
            FinishIfDone(now);
            return;
        }
        case Phase::Idle:
        case Phase::Done:
            return;
    }
}

std::optional<ProvisioningSession::Clock::time_point> ProvisioningSession::NextDue() const {
    switch (phase_) {
        case Phase::Searching: {
            Clock::time_point due = searchStart_ + options_.searchWait;
            if (const auto repeat = searchSchedule_.NextDue()) {
                due = std::min(due, *repeat);
            }
            return due;
        }
        case Phase::Sending: {
            Clock::time_point due = nextSend_;
            if (const auto confirming = confirmation_.NextDue()) {
                due = std::min(due, *confirming);
            }
            return due;
        }
        case Phase::Confirming:
            return confirmation_.NextDue();
        case Phase::Idle:
        case Phase::Done:
            break;
    }
    return std::nullopt;
}

void ProvisioningSession::FinishIfDone(Clock::time_point now) {
    if (phase_ != Phase::Confirming) {
        return;
    }
    // Finished only when no camera is still planned or waiting for evidence
    // (a camera left Sent with a wait asked would be a success nobody saw).
    const bool waiting = std::any_of(cameras_.begin(), cameras_.end(), [&](const auto& camera) {
        return camera.result == CameraResult::Planned ||
               (camera.result == CameraResult::Sent && options_.confirmation.timeout.count() > 0);
    });
    if (waiting || confirmation_.Pending() > 0) {
        return;
    }
    phase_ = Phase::Done;
    if (reservations_ != nullptr) {
        reservations_->Release(holder_);
    }
    // The time until the last confirmation, from the first record; with
    // none, how long the run waited.
    const std::size_t confirmed = CountOf(CameraResult::Confirmed);
    Emit({ProvisioningEvent::Kind::Finished, 0, CameraResult::Confirmed,
          std::to_string(confirmed) + " of " + std::to_string(ordersCount_) +
              (confirmed > 0
                   ? " confirmed in " +
                         std::to_string(Milliseconds(lastConfirmedAt_ - sendStart_)) + " ms"
                   : " confirmed (waited " + std::to_string(Milliseconds(now - sendStart_)) +
                         " ms)")});
}

bool ProvisioningSession::Finished() const {
    return phase_ == Phase::Done;
}

std::size_t ProvisioningSession::CountOf(CameraResult result) const {
    return static_cast<std::size_t>(std::count_if(
        cameras_.begin(), cameras_.end(), [&](const auto& c) { return c.result == result; }));
}

std::string ProvisioningSession::RollbackPlanText() const {
    std::string text = "dev_id,mac,ip,mask,gateway,mode,new_mac,restore\r\n";
    for (std::size_t i = 0; i < ordersCount_; ++i) {
        const ProvisioningCamera& camera = cameras_[i];
        if (camera.result == CameraResult::Refused || camera.result == CameraResult::NotFound) {
            continue;
        }
        // The settings the camera reported before, as restores: it is found
        // by the MAC it answers with after the change, and a MAC change is
        // undone by new_mac. How it got its address is not in a reply: where
        // it is not known, it comes back with static settings. A camera whose
        // settings before are unknown cannot be put back.
        const AssignCamera& before = camera.order.camera;
        if (before.ip.empty()) {
            continue;
        }
        const std::string& after = camera.order.RecordMac();
        const AddressingMode mode = before.mode.value_or(AddressingMode::Static);
        text += CsvLine({before.deviceId, after, before.ip, before.mask, before.gateway,
                         AddressingModeWord(mode),
                         LowerAscii(after) == LowerAscii(before.mac) ? std::string() : before.mac,
                         "yes"});
    }
    return text;
}

bool ProvisioningSession::WriteRollback() {
    if (!options_.rollback) {
        return true;
    }
    const bool anyToSend =
        std::any_of(cameras_.begin(), cameras_.begin() + ordersCount_,
                    [](const auto& c) { return c.result == CameraResult::Planned; });
    if (!anyToSend) {
        return true;
    }
    const std::filesystem::path& folder = options_.rollbackDirectory;
    if (folder.empty()) {
        rollbackError_ =
            "there is no folder for the rollback plan (neither XDG_STATE_HOME nor HOME is set)";
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        rollbackError_ = "the rollback plan could not be written to " + folder.string() + " (" +
                         error.message() + ")";
        return false;
    }
    // One file per run, named by the local time; a run in the same second
    // gets the next free number.
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string text = RollbackPlanText();
    std::string reason = "no free name";
    for (int n = 0; n < 1000; ++n) {
        const std::filesystem::path path =
            folder /
            (std::string("rollback-") + stamp + (n == 0 ? "" : "-" + std::to_string(n)) + ".csv");
        if (std::filesystem::exists(path, error)) {
            continue;
        }
        reason.clear();
        const bool written = hooks_.writeFile ? hooks_.writeFile(path, text, reason)
                                              : WriteFileWhole(path, text, reason);
        if (written) {
            rollbackPath_ = path;
            return true;
        }
        break;
    }
    rollbackError_ =
        "the rollback plan could not be written to " + folder.string() + " (" + reason + ")";
    return false;
}

}  // namespace qdipc

namespace qdipc {

ProvisioningPlan PlanAssign(const std::vector<FoundCamera>& found, const AssignSelection& selection,
                            const AssignFields& fields, AssignSurroundings surroundings) {
    ProvisioningPlan result;
    std::vector<AssignCamera> batch;
    std::vector<bool> inBatch(found.size(), false);
    // A device ID answered by several MACs gets no record; its address
    // stays out of the plan (it is listed below as another camera's).
    const auto take = [&](std::size_t index) {
        if (inBatch[index]) {
            return;
        }
        inBatch[index] = true;
        if (std::string reason = SeveralMacsReason(found[index]); !reason.empty()) {
            AssignOrder order;
            order.camera = found[index].camera;
            result.refused.push_back({std::move(order), std::move(reason)});
            surroundings.otherCameras.push_back(found[index].camera.ip);
            return;
        }
        batch.push_back(found[index].camera);
    };
    if (selection.by == AssignSelection::By::Ids) {
        for (const std::string& id : selection.ids) {
            const auto at = std::find_if(found.begin(), found.end(), [&](const FoundCamera& f) {
                return LowerAscii(f.camera.deviceId) == LowerAscii(id);
            });
            if (at == found.end()) {
                AssignOrder missing;
                missing.camera.deviceId = LowerAscii(id);
                result.notFound.push_back(std::move(missing));
                continue;
            }
            take(static_cast<std::size_t>(at - found.begin()));
        }
    } else {
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (selection.by == AssignSelection::By::All || found[i].camera.ip == selection.ip) {
                take(i);
            }
        }
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!inBatch[i]) {
            surroundings.otherCameras.push_back(found[i].camera.ip);
        }
    }
    std::stable_sort(batch.begin(), batch.end(), AssignOrderLess);
    if (batch.empty()) {
        return result;
    }
    const BatchPlan plan = PlanBatch(batch, fields, surroundings);
    if (!plan.Ok()) {
        result.error = plan.error;
        return result;
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        result.orders.push_back(
            {batch[i], plan.newIps[i], fields.mask, fields.gateway, AddressingMode::Static, {}});
    }
    result.skipped = plan.skipped;
    result.unprobed = plan.unprobed;
    return result;
}

ProvisioningPlan PlanLines(const std::vector<PlanLine>& lines,
                           const std::vector<FoundCamera>& found,
                           const AssignSurroundings& surroundings) {
    ProvisioningPlan result;
    const auto fail = [&](const PlanLine& line, const std::string& column, std::string reason) {
        result.error = "line " + std::to_string(line.line) +
                       (column.empty() ? "" : ", column " + column) + ": " + std::move(reason);
        result.orders.clear();
        result.notFound.clear();
        return result;
    };
    // Every lookup hashed, so that planning stays linear in the lines.
    std::unordered_map<std::string, std::size_t> foundById;
    std::unordered_map<std::string, std::vector<std::size_t>> foundByMac;
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> foundByAddress;
    for (std::size_t f = 0; f < found.size(); ++f) {
        foundById.emplace(LowerAscii(found[f].camera.deviceId), f);
        foundByMac[LowerAscii(found[f].camera.mac)].push_back(f);
        if (const auto address = ParseIpv4Strict(found[f].camera.ip)) {
            foundByAddress[*address].push_back(f);
        }
    }
    // A restore line's faults refuse that line alone; another line's end the plan.
    std::vector<std::string> refusals(lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
        refusals[l] = lines[l].refusal;
    }
    const auto refuseOrFail = [&](std::size_t l, const std::string& column, std::string reason) {
        if (!lines[l].restore) {
            fail(lines[l], column, std::move(reason));
            return false;
        }
        if (refusals[l].empty()) {
            refusals[l] = std::move(reason);
        }
        return true;
    };
    // Each line's camera, by device ID or else by MAC.
    std::vector<int> cameraOf(lines.size(), -1);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        if (!line.deviceId.empty()) {
            const auto at = foundById.find(line.deviceId);
            if (at != foundById.end()) {
                cameraOf[l] = static_cast<int>(at->second);
            }
            if (cameraOf[l] >= 0) {
                // Several MACs say more than "another MAC than the line's".
                std::string reason =
                    SeveralMacsReason(found[static_cast<std::size_t>(cameraOf[l])]);
                if (!reason.empty()) {
                    return fail(line, "", std::move(reason));
                }
            }
            if (cameraOf[l] >= 0 && !line.mac.empty()) {
                const FoundCamera& camera = found[at->second];
                std::vector<std::string> macs = camera.otherMacs;
                macs.push_back(camera.camera.mac);
                for (const std::string& mac : macs) {
                    if (LowerAscii(mac) != line.mac && LowerAscii(mac) != line.newMac &&
                        !refuseOrFail(l, "mac",
                                      "the camera " + line.deviceId + " answers with MAC " + mac +
                                          ", not " + line.mac)) {
                        return result;
                    }
                }
            }
            continue;
        }
        const auto at = foundByMac.find(line.mac);
        if (at == foundByMac.end()) {
            continue;
        }
        if (at->second.size() > 1) {
            return fail(line, "mac",
                        line.mac + " matches " + std::to_string(at->second.size()) +
                            " cameras found; name the camera by dev_id");
        }
        cameraOf[l] = static_cast<int>(at->second.front());
    }
    // A camera named by its MAC whose device ID answers with several MACs.
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (cameraOf[l] >= 0) {
            std::string reason = SeveralMacsReason(found[static_cast<std::size_t>(cameraOf[l])]);
            if (!reason.empty()) {
                return fail(lines[l], "", std::move(reason));
            }
        }
    }
    // One camera, one line.
    std::unordered_map<int, std::size_t> lineOfCamera;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (cameraOf[l] < 0) {
            continue;
        }
        const auto [earlier, added] = lineOfCamera.emplace(cameraOf[l], l);
        if (!added) {
            return fail(lines[l], "",
                        "the camera " +
                            found[static_cast<std::size_t>(cameraOf[l])].camera.deviceId +
                            " is planned on line " + std::to_string(lines[earlier->second].line) +
                            " already");
        }
    }
    // The addresses a static line may not take, with why (the first reason
    // given for an address holds).
    std::unordered_map<std::uint32_t, SkipReason> taken;
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (const auto address = ParseIpv4Strict(network.address)) {
            taken.emplace(*address, SkipReason::ThisHost);
        }
        if (surroundings.gatewayOf) {
            if (const auto gateway = surroundings.gatewayOf(network.index)) {
                if (const auto address = ParseIpv4Strict(*gateway)) {
                    taken.emplace(*address, SkipReason::Gateway);
                }
            }
        }
    }
    // A restore's gateway is what its camera had (0.0.0.0, another camera's
    // old address): no reason to refuse another line.
    for (const PlanLine& line : lines) {
        if (line.restore) {
            continue;
        }
        if (const auto address = ParseIpv4Strict(line.gateway)) {
            taken.emplace(*address, SkipReason::Gateway);
        }
    }
    for (std::uint32_t address : surroundings.reserved) {
        taken.emplace(address, SkipReason::Reserved);
    }
    // Devices listed beside the found cameras (ONVIF devices) hold theirs.
    for (const std::string& other : surroundings.otherCameras) {
        if (const auto address = ParseIpv4Strict(other)) {
            taken.emplace(*address, SkipReason::ListedCamera);
        }
    }
    std::unordered_set<std::string> neighbours;
    for (const NeighbourEntry& n : surroundings.neighbours) {
        neighbours.insert(n.address);
    }
    // The cameras that restore lines put back at each address: they may
    // share it, and one of them sitting there still is no reason.
    std::unordered_map<std::uint32_t, std::unordered_set<int>> restoredTo;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (lines[l].restore && lines[l].mode == AddressingMode::Static && cameraOf[l] >= 0) {
            if (const auto address = ParseIpv4Strict(lines[l].ip)) {
                restoredTo[*address].insert(cameraOf[l]);
            }
        }
    }
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> strangers;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        if (line.mode != AddressingMode::Static || !refusals[l].empty()) {
            continue;
        }
        const auto address = ParseIpv4Strict(line.ip);
        if (!address) {
            continue;  // the settings rules refuse it
        }
        if (const auto reason = taken.find(*address); reason != taken.end()) {
            if (!refuseOrFail(l, "ip",
                              line.ip + " is taken by " + SkipReasonText(reason->second))) {
                return result;
            }
            continue;
        }
        if (const auto holders = foundByAddress.find(*address); holders != foundByAddress.end()) {
            // The listed cameras at the address that may not share it: for a
            // restore, those no restore line brings back to it (worked out
            // once per address, so a factory batch stays linear).
            const std::vector<std::size_t>* others = &holders->second;
            if (line.restore) {
                auto [stranger, added] = strangers.try_emplace(*address);
                if (added) {
                    const auto restored = restoredTo.find(*address);
                    for (const std::size_t f : holders->second) {
                        if (restored == restoredTo.end() ||
                            !restored->second.contains(static_cast<int>(f))) {
                            stranger->second.push_back(f);
                        }
                    }
                }
                others = &stranger->second;
            }
            // Stops at the first that is not the line's own camera.
            for (const std::size_t f : *others) {
                if (static_cast<int>(f) == cameraOf[l]) {
                    continue;
                }
                if (!refuseOrFail(l, "ip",
                                  line.ip + " is taken by a listed camera (" +
                                      found[f].camera.deviceId + ")")) {
                    return result;
                }
                break;
            }
        }
        // A restore's address was its camera's own: the neighbour table's
        // entry for it is most likely the camera's own stale one.
        const bool ownAddress =
            line.restore ||
            (cameraOf[l] >= 0 && found[static_cast<std::size_t>(cameraOf[l])].camera.ip == line.ip);
        if (neighbours.contains(line.ip) && !ownAddress) {
            return fail(line, "ip",
                        line.ip + " is taken by " + SkipReasonText(SkipReason::Neighbour));
        }
    }
    // Every static address that is not its camera's own is probed, all at
    // once. A restore's address was held before and may be shared on purpose,
    // and a line refused when read is sent nowhere: neither is probed.
    if (surroundings.probe) {
        std::vector<std::uint32_t> addresses;
        std::vector<std::size_t> lineOf;
        for (std::size_t l = 0; l < lines.size(); ++l) {
            const PlanLine& line = lines[l];
            const auto address = ParseIpv4Strict(line.ip);
            const bool own = cameraOf[l] >= 0 &&
                             found[static_cast<std::size_t>(cameraOf[l])].camera.ip == line.ip;
            if (line.mode == AddressingMode::Static && address && !own && !line.restore &&
                line.refusal.empty()) {
                addresses.push_back(*address);
                lineOf.push_back(l);
            }
        }
        const std::vector<ProbeAnswer> answers =
            addresses.empty() ? std::vector<ProbeAnswer>{} : surroundings.probe(addresses);
        for (std::size_t k = 0; k < answers.size() && k < addresses.size(); ++k) {
            if (answers[k] == ProbeAnswer::Answered) {
                const PlanLine& line = lines[lineOf[k]];
                return fail(line, "ip",
                            line.ip + " is taken by " + SkipReasonText(SkipReason::Answered));
            }
            if (answers[k] == ProbeAnswer::NotProbed) {
                result.unprobed.push_back(addresses[k]);
            }
        }
    }
    const auto foundLines = static_cast<std::size_t>(
        std::count_if(cameraOf.begin(), cameraOf.end(), [](int c) { return c >= 0; }));
    result.orders.reserve(foundLines);
    result.notFound.reserve(lines.size() - foundLines);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        AssignOrder order;
        order.newIp = line.ip;
        order.mask = line.mask;
        order.gateway = line.gateway;
        order.mode = line.mode;
        order.newMac = line.newMac;
        order.restore = line.restore;
        order.refusal = refusals[l];
        if (cameraOf[l] < 0) {
            order.camera.deviceId = line.deviceId;
            order.camera.mac = line.mac;
            result.notFound.push_back(std::move(order));
            continue;
        }
        order.camera = found[static_cast<std::size_t>(cameraOf[l])].camera;
        result.orders.push_back(std::move(order));
    }
    return result;
}

ProvisioningPlan PlanText(std::string_view text, const std::vector<FoundCamera>& found,
                          const AssignSurroundings& surroundings) {
    const PlanFile file = ReadPlanFile(text);
    if (!file.Ok()) {
        ProvisioningPlan plan;
        plan.error = file.error;
        return plan;
    }
    return PlanLines(file.lines, found, surroundings);
}

}  // namespace qdipc
