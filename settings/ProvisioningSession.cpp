#include "settings/ProvisioningSession.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>
#include <fstream>

#include "discovery/DeviceCodecs.h"
#include "discovery/SearchCommand.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

long long Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

CameraResult ResultOf(const ConfirmationOutcome& outcome) {
    switch (outcome.verdict) {
        case ConfirmationVerdict::Confirmed:
            return CameraResult::Confirmed;
        case ConfirmationVerdict::Conflict:
            return CameraResult::Conflict;
        case ConfirmationVerdict::NotConfirmed:
            break;
    }
    return CameraResult::NotConfirmed;
}

}  // namespace

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
      confirmation_(options_.confirmation) {
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

void ProvisioningSession::SetResult(std::size_t index, CameraResult result, std::string reason) {
    ProvisioningCamera& camera = cameras_[index];
    camera.result = result;
    camera.reason = std::move(reason);
    ProvisioningEvent event;
    event.kind = ProvisioningEvent::Kind::Result;
    event.index = index;
    event.result = result;
    event.text = camera.reason;
    Emit(std::move(event));
}

bool ProvisioningSession::StartSearch(Clock::time_point now) {
    phase_ = Phase::Searching;
    searchStart_ = now;
    searchRepeatsSent_ = 0;
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
    Emit({ProvisioningEvent::Kind::Planned, 0, CameraResult::Planned, {}});
    BeginSending(now);
}

void ProvisioningSession::OnReplies(const std::vector<AcceptedReply>& replies,
                                    Clock::time_point now) {
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
    cameras_.clear();
    for (AssignOrder& order : plan.orders) {
        cameras_.push_back({std::move(order), CameraResult::Planned, {}, {}});
    }
    ordersCount_ = cameras_.size();
    for (AssignOrder& order : plan.notFound) {
        cameras_.push_back(
            {std::move(order), CameraResult::NotFound, "did not answer the search", {}});
    }
    Emit({ProvisioningEvent::Kind::Planned, 0, CameraResult::Planned, {}});
    for (std::size_t i = ordersCount_; i < cameras_.size(); ++i) {
        Emit({ProvisioningEvent::Kind::Result, i, CameraResult::NotFound, cameras_[i].reason});
    }
    BeginSending(now);
}

void ProvisioningSession::BeginSending(Clock::time_point now) {
    // Each record passes the settings rules and the reservations before any
    // leaves; a camera that fails is refused alone, the others go on.
    for (std::size_t i = 0; i < ordersCount_; ++i) {
        const AssignOrder& order = cameras_[i].order;
        if (const auto problem = ValidateSettings(order.newIp, order.mask, order.gateway,
                                                  order.RecordMac(), order.mode)) {
            SetResult(i, CameraResult::Refused, problem->reason);
            continue;
        }
        if (reservations_ == nullptr) {
            continue;
        }
        if (!reservations_->ReserveCamera(holder_, order.camera.deviceId)) {
            SetResult(i, CameraResult::Refused,
                      "a change for this camera is still waiting in another run");
            continue;
        }
        if (order.mode == AddressingMode::Static) {
            const std::uint32_t address = ParseIpv4Strict(order.newIp).value_or(0);
            if (!reservations_->ReserveAddress(holder_, address)) {
                SetResult(i, CameraResult::Refused,
                          order.newIp + " is planned for another camera in another run");
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
    WriteRollback();
    phase_ = Phase::Sending;
    nextToSend_ = 0;
    sentCount_ = 0;
    sendStart_ = now;
    SendDue(now);
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
        // Paced, so that a switch or a camera's small queue drops none.
        if (now < sendStart_ + sentCount_ * options_.pacing) {
            return;
        }
        const std::size_t index = nextToSend_++;
        const AssignOrder& order = cameras_[index].order;
        const NetSettingsRecord record = order.Record();
        std::string failure;
        const bool sent =
            hooks_.sendRecord && hooks_.sendRecord(record, order.camera.arrivalInterface, failure);
        ++sentCount_;
        if (!sent) {
            networkFailed_ = true;
            SetResult(index, CameraResult::NotConfirmed,
                      "not sent: " + (failure.empty() ? std::string("the send failed") : failure));
            continue;
        }
        if (options_.confirmation.timeout.count() <= 0) {
            SetResult(index, CameraResult::Sent, "sent, not confirmed (no wait was asked)");
            continue;
        }
        confirmation_.Add(
            record, now,
            ReportedSettings{order.camera.ip, order.camera.mask, order.camera.gateway});
        // A newer change for the same camera replaces the older one (the
        // camera takes the record it got last): the older ends unconfirmed.
        const auto [waiting, added] = sentIndex_.emplace(Lower(order.camera.deviceId), index);
        if (!added) {
            const std::size_t older = waiting->second;
            waiting->second = index;
            SetResult(older, CameraResult::NotConfirmed,
                      "replaced by a newer change for the same camera");
        }
        SetResult(index, CameraResult::Sent, {});
    }
}

void ProvisioningSession::StopSending(Clock::time_point now) {
    if (phase_ != Phase::Sending) {
        return;
    }
    for (std::size_t i = nextToSend_; i < ordersCount_; ++i) {
        if (cameras_[i].result == CameraResult::Planned) {
            SetResult(i, CameraResult::NotConfirmed, "not sent: the run was stopped");
        }
    }
    nextToSend_ = ordersCount_;
    SendDue(now);
}

void ProvisioningSession::TakeOutcomes(std::vector<ConfirmationOutcome>& outcomes) {
    for (ConfirmationOutcome& outcome : outcomes) {
        const auto at = sentIndex_.find(Lower(outcome.deviceId));
        if (at == sentIndex_.end()) {
            continue;
        }
        const std::size_t i = at->second;
        sentIndex_.erase(at);
        if (cameras_[i].result == CameraResult::Sent) {
            cameras_[i].reply = outcome.reply;
            SetResult(i, ResultOf(outcome), ConfirmationText(outcome));
        }
    }
}

void ProvisioningSession::Tick(Clock::time_point now) {
    switch (phase_) {
        case Phase::Searching: {
            // The request again, for cameras that missed it.
            while (searchRepeatsSent_ < kSearchRepeatOffsets.size() &&
                   kSearchRepeatOffsets[searchRepeatsSent_] < options_.searchWait &&
                   now >= searchStart_ + kSearchRepeatOffsets[searchRepeatsSent_]) {
                ++searchRepeatsSent_;
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
            TakeOutcomes(tick.expired);
            if (tick.probe && hooks_.sendProbe) {
                // A change without a search before it draws its search ID
                // with its first probe.
                const bool first = !probed_;
                probed_ = hooks_.sendProbe(first) || probed_;
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
            if (searchRepeatsSent_ < kSearchRepeatOffsets.size() &&
                kSearchRepeatOffsets[searchRepeatsSent_] < options_.searchWait) {
                due = std::min(due, searchStart_ + kSearchRepeatOffsets[searchRepeatsSent_]);
            }
            return due;
        }
        case Phase::Sending: {
            Clock::time_point due = sendStart_ + sentCount_ * options_.pacing;
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
    Emit({ProvisioningEvent::Kind::Finished, 0, CameraResult::Confirmed,
          std::to_string(CountOf(CameraResult::Confirmed)) + " of " + std::to_string(ordersCount_) +
              " confirmed in " + std::to_string(Milliseconds(now - confirmStart_)) + " ms"});
}

bool ProvisioningSession::Finished() const {
    return phase_ == Phase::Done;
}

std::size_t ProvisioningSession::CountOf(CameraResult result) const {
    return static_cast<std::size_t>(std::count_if(
        cameras_.begin(), cameras_.end(), [&](const auto& c) { return c.result == result; }));
}

std::string ProvisioningSession::RollbackPlanText() const {
    std::string text = "dev_id,mac,ip,mask,gateway,mode\r\n";
    for (std::size_t i = 0; i < ordersCount_; ++i) {
        const ProvisioningCamera& camera = cameras_[i];
        if (camera.result == CameraResult::Refused || camera.result == CameraResult::NotFound) {
            continue;
        }
        // The settings the camera reported before; how it got them (static or
        // DHCP) is not in a reply, so they come back as static settings.
        const AssignCamera& before = camera.order.camera;
        text += CsvField(before.deviceId) + "," + CsvField(before.mac) + "," + CsvField(before.ip) +
                "," + CsvField(before.mask) + "," + CsvField(before.gateway) + ",static\r\n";
    }
    return text;
}

void ProvisioningSession::WriteRollback() {
    if (options_.rollbackDirectory.empty()) {
        return;
    }
    const bool anyToSend =
        std::any_of(cameras_.begin(), cameras_.begin() + ordersCount_,
                    [](const auto& c) { return c.result == CameraResult::Planned; });
    if (!anyToSend) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(options_.rollbackDirectory, error);
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
    for (int n = 0; n < 1000; ++n) {
        const std::filesystem::path path =
            options_.rollbackDirectory /
            (std::string("rollback-") + stamp + (n == 0 ? "" : "-" + std::to_string(n)) + ".csv");
        if (std::filesystem::exists(path, error)) {
            continue;
        }
        std::ofstream file(path, std::ios::binary);
        file << RollbackPlanText();
        file.close();
        if (file) {
            rollbackPath_ = path;
            return;
        }
        break;
    }
    rollbackError_ =
        "the rollback plan could not be written to " + options_.rollbackDirectory.string();
}

}  // namespace qdipc

namespace qdipc {

ProvisioningPlan PlanAssign(const std::vector<FoundCamera>& found, const AssignSelection& selection,
                            const AssignFields& fields, AssignSurroundings surroundings) {
    ProvisioningPlan result;
    std::vector<AssignCamera> batch;
    std::vector<bool> inBatch(found.size(), false);
    if (selection.by == AssignSelection::By::Ids) {
        for (const std::string& id : selection.ids) {
            const auto at = std::find_if(found.begin(), found.end(), [&](const FoundCamera& f) {
                return Lower(f.camera.deviceId) == Lower(id);
            });
            if (at == found.end()) {
                AssignOrder missing;
                missing.camera.deviceId = Lower(id);
                result.notFound.push_back(std::move(missing));
                continue;
            }
            const auto index = static_cast<std::size_t>(at - found.begin());
            if (!inBatch[index]) {
                inBatch[index] = true;
                batch.push_back(at->camera);
            }
        }
    } else {
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (selection.by == AssignSelection::By::All || found[i].camera.ip == selection.ip) {
                inBatch[i] = true;
                batch.push_back(found[i].camera);
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
    // Each line's camera, by device ID or else by MAC.
    std::vector<int> cameraOf(lines.size(), -1);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        if (!line.deviceId.empty()) {
            for (std::size_t f = 0; f < found.size(); ++f) {
                if (Lower(found[f].camera.deviceId) == line.deviceId) {
                    cameraOf[l] = static_cast<int>(f);
                }
            }
            if (cameraOf[l] >= 0 && !line.mac.empty()) {
                const FoundCamera& camera = found[static_cast<std::size_t>(cameraOf[l])];
                std::vector<std::string> macs = camera.otherMacs;
                macs.push_back(camera.camera.mac);
                for (const std::string& mac : macs) {
                    if (Lower(mac) != line.mac) {
                        return fail(line, "mac",
                                    "the camera " + line.deviceId + " answers with MAC " + mac +
                                        ", not " + line.mac);
                    }
                }
            }
            continue;
        }
        int matches = 0;
        for (std::size_t f = 0; f < found.size(); ++f) {
            if (Lower(found[f].camera.mac) == line.mac) {
                cameraOf[l] = static_cast<int>(f);
                ++matches;
            }
        }
        if (matches > 1) {
            return fail(line, "mac",
                        line.mac + " matches " + std::to_string(matches) +
                            " cameras found; name the camera by dev_id");
        }
    }
    // One camera, one line.
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (std::size_t earlier = 0; earlier < l && cameraOf[l] >= 0; ++earlier) {
            if (cameraOf[earlier] == cameraOf[l]) {
                return fail(
                    lines[l], "",
                    "the camera " + found[static_cast<std::size_t>(cameraOf[l])].camera.deviceId +
                        " is planned on line " + std::to_string(lines[earlier].line) + " already");
            }
        }
    }
    // The addresses a static line may not take, with why.
    std::vector<std::pair<std::uint32_t, SkipReason>> taken;
    for (const Ipv4Interface& network : surroundings.interfaces) {
        if (const auto address = ParseIpv4Strict(network.address)) {
            taken.emplace_back(*address, SkipReason::ThisHost);
        }
        if (surroundings.gatewayOf) {
            if (const auto gateway = surroundings.gatewayOf(network.index)) {
                if (const auto address = ParseIpv4Strict(*gateway)) {
                    taken.emplace_back(*address, SkipReason::Gateway);
                }
            }
        }
    }
    for (const PlanLine& line : lines) {
        if (const auto address = ParseIpv4Strict(line.gateway)) {
            taken.emplace_back(*address, SkipReason::Gateway);
        }
    }
    for (std::uint32_t address : surroundings.reserved) {
        taken.emplace_back(address, SkipReason::Reserved);
    }
    // Devices listed beside the found cameras (ONVIF devices) hold theirs.
    for (const std::string& other : surroundings.otherCameras) {
        if (const auto address = ParseIpv4Strict(other)) {
            taken.emplace_back(*address, SkipReason::ListedCamera);
        }
    }
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        if (line.mode != AddressingMode::Static) {
            continue;
        }
        const auto address = ParseIpv4Strict(line.ip);
        if (!address) {
            continue;  // the settings rules refuse it
        }
        const auto reason = std::find_if(taken.begin(), taken.end(),
                                         [&](const auto& t) { return t.first == *address; });
        if (reason != taken.end()) {
            return fail(line, "ip", line.ip + " is taken by " + SkipReasonText(reason->second));
        }
        const FoundCamera* own =
            cameraOf[l] >= 0 ? &found[static_cast<std::size_t>(cameraOf[l])] : nullptr;
        for (std::size_t f = 0; f < found.size(); ++f) {
            if (&found[f] != own && ParseIpv4Strict(found[f].camera.ip) == address) {
                return fail(
                    line, "ip",
                    line.ip + " is taken by a listed camera (" + found[f].camera.deviceId + ")");
            }
        }
        const bool ownAddress = own != nullptr && own->camera.ip == line.ip;
        const bool neighbour =
            std::any_of(surroundings.neighbours.begin(), surroundings.neighbours.end(),
                        [&](const NeighbourEntry& n) { return n.address == line.ip; });
        if (neighbour && !ownAddress) {
            return fail(line, "ip",
                        line.ip + " is taken by " + SkipReasonText(SkipReason::Neighbour));
        }
    }
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const PlanLine& line = lines[l];
        AssignOrder order;
        order.newIp = line.ip;
        order.mask = line.mask;
        order.gateway = line.gateway;
        order.mode = line.mode;
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

}  // namespace qdipc
