#include "ui/ChangeRuns.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <utility>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/TimeSeededDraw.h"
#include "settings/AssignModel.h"
#include "settings/BatchAssign.h"
#include "settings/ChangeChecks.h"
#include "settings/SettingsValidation.h"

namespace qdipc {

struct ChangeRuns::Run {
    std::string deviceId;  // a settings window's change; "" for a batch
    BatchSinks sinks;
    std::optional<BroadcastOutcome> outcome;
    std::unique_ptr<ProvisioningSession> session;
    // A batch whose addresses are being probed: its orders wait here, the
    // probe runs on a thread of its own, and its answers are kept for the
    // session's own probe just before the first record.
    std::vector<AssignOrder> waiting;
    std::vector<std::uint32_t> probed;
    std::future<std::vector<ProbeAnswer>> probing;
    std::unordered_map<std::uint32_t, ProbeAnswer> answers;
};

std::vector<FoundCamera> ListedCameras(const DeviceList& list) {
    std::vector<FoundCamera> listed;
    listed.reserve(static_cast<std::size_t>(list.RowCount()));
    for (int row = 0; row < list.RowCount(); ++row) {
        FoundCamera camera;
        camera.camera = {list.CellText(row, kColDevId),   list.CellText(row, kColMac),
                         list.CellText(row, kColIp),      list.CellText(row, kColMask),
                         list.CellText(row, kColGateway), list.ArrivalInterface(row)};
        camera.otherMacs = list.OtherMacs(row);
        listed.push_back(std::move(camera));
    }
    return listed;
}

ChangeRuns::ChangeRuns(DeviceList& list, ChangeRunsConfig config, Sender send, Prober probe)
    : m_list(list),
      m_config(std::move(config)),
      m_send(std::move(send)),
      m_probe(std::move(probe)) {}

ChangeRuns::~ChangeRuns() {
    // The sessions hold reservations, a member that goes after them.
    m_runs.clear();
}

AssignOrder ChangeRuns::OrderOf(const NetSettingsRecord& stamped, std::uint32_t arrival) const {
    const std::uint8_t* bytes = stamped.bytes.data();
    AssignOrder order;
    order.camera.deviceId = FormatDeviceId(bytes + record::kDevId);
    order.newMac = FormatMac(bytes + record::kMac);
    order.camera.mac = order.newMac;
    order.camera.arrivalInterface = arrival;
    // What the camera reported before: its row, when it is listed.
    const int row = m_list.FindRow(order.camera.deviceId);
    if (row >= 0) {
        order.camera.mac = m_list.CellText(row, kColMac);
        order.camera.ip = m_list.CellText(row, kColIp);
        order.camera.mask = m_list.CellText(row, kColMask);
        order.camera.gateway = m_list.CellText(row, kColGateway);
    }
    order.newIp = stamped.Text(record::kIp);
    order.mask = stamped.Text(record::kMask);
    order.gateway = stamped.Text(record::kGateway);
    order.mode = stamped.Mode();
    return order;
}

ChangeCheck ChangeRuns::CheckChange(const AssignOrder& order) const {
    const std::vector<FoundCamera> listed = ListedCameras(m_list);
    AssignSurroundings surroundings =
        m_config.surroundings ? m_config.surroundings() : HostSurroundings({});
    surroundings.reserved = m_reservations.TakenByOthers(0);
    const ProvisioningPlan plan = PlanModify(order, listed, surroundings, false);
    std::string refusal = plan.error;
    bool overridable = plan.overridable;
    if (!plan.notFound.empty()) {
        // Not listed: only its new address can be checked.
        const AddressCheck check = CheckNewAddress(order, listed, surroundings);
        if (!check.holder.empty()) {
            refusal = UsedByText(order, check);
            overridable = true;
        }
    }
    ChangeCheck result;
    if (refusal.empty()) {
        return result;
    }
    if (overridable) {
        result.question = EscapeControls(refusal + " \u2014 send anyway?");
    } else {
        result.refusal = EscapeControls("Nothing was sent: " + refusal + ".");
    }
    return result;
}

ProvisioningOptions ChangeRuns::RunOptions(bool rollback) {
    ProvisioningOptions options;
    options.confirmation = m_config.confirmation;
    options.probes = &m_probes;
    options.rollback = rollback;
    options.rollbackDirectory = m_config.rollbackDirectory;
    return options;
}

ChangeRuns::Started ChangeRuns::Start(const NetSettingsRecord& stamped, const AssignOrder& order,
                                      bool rollback, Clock::time_point now) {
    // An earlier Modify of this camera still waiting is replaced: the camera
    // takes the record it received last.
    std::erase_if(m_runs, [&](const std::unique_ptr<Run>& run) {
        return !run->deviceId.empty() && run->deviceId == order.camera.deviceId;
    });
    if (!Going()) {
        ForgetOutcomes();
    }
    auto run = std::make_unique<Run>();
    Run* self = run.get();
    run->deviceId = order.camera.deviceId;
    const ProvisioningOptions options = RunOptions(rollback);
    ProvisioningHooks hooks;
    // The record goes out as the settings window made and the window stamped it.
    hooks.sendRecord = [this, self, stamped](const NetSettingsRecord&, std::uint32_t arrival,
                                             std::string& failure) {
        const bool sent = m_send(stamped, arrival, failure);
        self->outcome = sent ? BroadcastOutcome::Ok : BroadcastOutcome::Error;
        return sent;
    };
    hooks.sendConfirmationProbe = m_probe;
    hooks.onEvent = [this, self](const ProvisioningEvent& event) {
        if (event.kind == ProvisioningEvent::Kind::Result) {
            OnResult(*self, event.index);
        }
    };
    run->session =
        std::make_unique<ProvisioningSession>(options, std::move(hooks), &m_reservations);
    run->session->Start({order}, now);
    // The first record goes out at once.
    run->session->Tick(now);
    Started started;
    started.failure = run->session->Failure();
    started.outcome = BroadcastOutcomeText(run->outcome.value_or(BroadcastOutcome::Error));
    if (started.failure.empty()) {
        m_runs.push_back(std::move(run));
    }
    return started;
}

void ChangeRuns::StartBatch(std::vector<AssignOrder> orders, bool rollback, Clock::time_point now,
                            BatchSinks sinks) {
    if (!Going()) {
        ForgetOutcomes();
    }
    auto run = std::make_unique<Run>();
    Run* self = run.get();
    run->sinks = std::move(sinks);
    const ProvisioningOptions options = RunOptions(rollback);
    ProvisioningHooks hooks;
    // Each record is stamped and sent like a Modify's.
    hooks.sendRecord = [this](const NetSettingsRecord& record, std::uint32_t arrival,
                              std::string& failure) {
        return m_send(StampSettingsRecord(record, TimeSeededDraw(SystemSeconds())), arrival,
                      failure);
    };
    hooks.sendConfirmationProbe = m_probe;
    hooks.onEvent = [this, self](const ProvisioningEvent& event) {
        using Kind = ProvisioningEvent::Kind;
        if (event.kind == Kind::Result) {
            OnResult(*self, event.index);
            return;
        }
        if ((event.kind == Kind::Sent || event.kind == Kind::Failed ||
             event.kind == Kind::Finished) &&
            self->sinks.onState) {
            const ProvisioningSession& session = *self->session;
            self->sinks.onState({event.kind != Kind::Sent, session.Failure(),
                                 session.RollbackPath(), session.RollbackError()});
        }
    };
    AddressProber prober =
        m_config.surroundings ? m_config.surroundings().probe : HostSurroundings({}).probe;
    if (prober) {
        // The session's probe just before the first record takes the answers
        // the thread got.
        hooks.probeAddresses = [self](const std::vector<std::uint32_t>& addresses) {
            std::vector<ProbeAnswer> answers;
            for (const std::uint32_t address : addresses) {
                const auto found = self->answers.find(address);
                answers.push_back(found == self->answers.end() ? ProbeAnswer::NotProbed
                                                               : found->second);
            }
            return answers;
        };
    }
    run->session =
        std::make_unique<ProvisioningSession>(options, std::move(hooks), &m_reservations);
    if (!prober) {
        run->session->Start(std::move(orders), now);
        run->session->Tick(now);
        if (run->session->Failure().empty()) {
            m_runs.push_back(std::move(run));
        }
        return;
    }
    // The addresses the session would probe: static ones a camera does not
    // hold already.
    for (const AssignOrder& order : orders) {
        const auto address = ParseIpv4Strict(order.newIp);
        if (address && order.mode == AddressingMode::Static && order.newIp != order.camera.ip) {
            run->probed.push_back(*address);
        }
    }
    run->waiting = std::move(orders);
    run->probing = std::async(
        std::launch::async,
        [prober = std::move(prober), addresses = run->probed] { return prober(addresses); });
    m_runs.push_back(std::move(run));
}

void ChangeRuns::StartProbed(Run& run, Clock::time_point now) {
    const std::vector<ProbeAnswer> answers = run.probing.get();
    for (std::size_t i = 0; i < answers.size() && i < run.probed.size(); ++i) {
        run.answers[run.probed[i]] = answers[i];
    }
    run.session->Start(std::move(run.waiting), now);
    run.waiting.clear();
    run.session->Tick(now);
}

void ChangeRuns::OnResult(Run& run, std::size_t index) {
    const ProvisioningCamera& camera = run.session->Cameras()[index];
    if (run.sinks.onResult) {
        run.sinks.onResult(index, camera);
    }
    if (!IsFinalResult(camera.result)) {
        return;
    }
    const bool confirmed = camera.result == CameraResult::Confirmed;
    (confirmed ? m_confirmed : m_notConfirmed) += 1;
    // The camera's row shows what it now reports, in place.
    if (confirmed && camera.reply) {
        const int row = m_list.FindRow(camera.order.camera.deviceId);
        if (row >= 0) {
            m_list.UpdateRow(row, camera.reply->reply, camera.reply->arrivalInterface);
        }
    }
    if (camera.why == ResultReason::Evidence) {
        m_lastText = camera.reason;
    } else {
        std::string word = CameraResultText(camera.result);
        if (!word.empty()) {
            word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        }
        m_lastText = word + ": " + camera.order.camera.deviceId + ": " + camera.reason;
    }
}

void ChangeRuns::SearchSent(std::uint32_t searchId, Clock::time_point now) {
    m_probes.Noted(searchId, now);
}

void ChangeRuns::OnReplies(const std::vector<AcceptedReply>& replies, Clock::time_point now) {
    for (const auto& run : m_runs) {
        if (!run->probing.valid() && !run->session->Finished()) {
            run->session->OnReplies(replies, now);
        }
    }
}

void ChangeRuns::Tick(Clock::time_point now) {
    // By index: a result shown may start another batch.
    for (std::size_t i = 0; i < m_runs.size(); ++i) {
        Run& run = *m_runs[i];
        if (run.probing.valid()) {
            if (run.probing.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
                StartProbed(run, now);
            }
            continue;
        }
        if (!run.session->Finished()) {
            run.session->Tick(now);
        }
    }
}

std::optional<ChangeRuns::Clock::time_point> ChangeRuns::NextDue() const {
    std::optional<Clock::time_point> due;
    for (const auto& run : m_runs) {
        if (run->probing.valid()) {
            // Looks again soon whether the probe answered.
            const Clock::time_point poll = Clock::now() + kProbePoll;
            due = due ? std::min(*due, poll) : poll;
            continue;
        }
        if (run->session->Finished()) {
            continue;
        }
        const auto next = run->session->NextDue();
        if (next && (!due || *next < *due)) {
            due = next;
        }
    }
    return due;
}

int ChangeRuns::Waiting() const {
    int waiting = 0;
    for (const auto& run : m_runs) {
        if (!run->session->Finished()) {
            waiting += static_cast<int>(run->session->CountOf(CameraResult::Sent));
        }
    }
    return waiting;
}

int ChangeRuns::Unsent() const {
    int unsent = 0;
    for (const auto& run : m_runs) {
        unsent += static_cast<int>(run->waiting.size());
        if (!run->session->Finished()) {
            unsent += static_cast<int>(run->session->CountOf(CameraResult::Planned));
        }
    }
    return unsent;
}

bool ChangeRuns::Going() const {
    return std::any_of(m_runs.begin(), m_runs.end(),
                       [](const auto& run) { return !run->session->Finished(); });
}

int ChangeRuns::ProgressPermille() const {
    int total = 0;
    int settled = 0;
    for (const auto& run : m_runs) {
        if (run->session->Finished()) {
            continue;
        }
        const auto& cameras = run->session->Cameras();
        total += static_cast<int>(cameras.empty() ? run->waiting.size() : cameras.size());
        settled += static_cast<int>(cameras.size() - run->session->CountOf(CameraResult::Planned) -
                                    run->session->CountOf(CameraResult::Sent));
    }
    if (Waiting() > 0) {
        return total > 0 ? 1000 * settled / total : 0;
    }
    return m_notConfirmed == 0 ? 1000 : 0;
}

void ChangeRuns::StopSending(Clock::time_point now) {
    for (const auto& run : m_runs) {
        if (!run->session->Finished()) {
            run->session->StopSending(now);
        }
    }
}

std::string ChangeRuns::BarText() const {
    const int waiting = Waiting();
    if (waiting > 0) {
        if (waiting > 1) {
            return "Confirming " + std::to_string(waiting) + " changes\u2026";
        }
        for (const auto& run : m_runs) {
            if (!run->session->Finished() && run->session->CountOf(CameraResult::Sent) > 0) {
                return run->session->WaitingText();
            }
        }
    }
    const int outcomes = m_confirmed + m_notConfirmed;
    if (outcomes == 0) {
        return {};
    }
    if (outcomes == 1) {
        return m_lastText;
    }
    return "Confirmed " + std::to_string(m_confirmed) + " of " + std::to_string(outcomes) +
           " changes; last: " + m_lastText;
}

void ChangeRuns::ForgetOutcomes() {
    if (Waiting() > 0) {
        return;
    }
    std::erase_if(m_runs, [](const std::unique_ptr<Run>& run) { return run->session->Finished(); });
    m_confirmed = 0;
    m_notConfirmed = 0;
    m_lastText.clear();
}

}  // namespace qdipc
