#include "settings/ChangeConfirmation.h"

#include <algorithm>
#include <cstring>

#include "discovery/DeviceCodecs.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

std::uint64_t DeviceKey(const std::uint8_t* devId) {
    std::uint64_t key = 0;
    for (int i = 0; i < 8; ++i) {
        key = (key << 8) | devId[i];
    }
    return key;
}

// The settings a reply reports, as one comparable text.
std::string ReportedValues(const DeviceInfoReply& reply) {
    std::string values = reply.Text(reply::kIp);
    values += '\n';
    values += reply.Text(reply::kMask);
    values += '\n';
    values += reply.Text(reply::kGateway);
    values += '\n';
    values.append(reinterpret_cast<const char*>(reply.Raw(reply::kMac)), 6);
    return values;
}

// A camera answers from the address it reports; a reply from elsewhere is
// another device's word about it.
bool FromItsOwnAddress(const AcceptedReply& accepted) {
    const auto reported = ParseIpv4Strict(accepted.reply.Text(reply::kIp));
    return reported && accepted.sourceAddress != 0 && *reported == accepted.sourceAddress;
}

}  // namespace

std::string SecondsText(std::chrono::milliseconds wait) {
    const long long ms = std::max<long long>(0, wait.count());
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0') {
            fraction.pop_back();
        }
        text += "." + fraction;
    }
    return text + " s";
}

std::string ConfirmationText(const ConfirmationOutcome& outcome) {
    if (outcome.verdict == ConfirmationVerdict::Conflict) {
        return "Conflict: " + outcome.deviceId + " is answered for from " + outcome.conflictWith +
               " with different settings";
    }
    if (outcome.confirmed) {
        return "Confirmed: " + outcome.deviceId + " at " + outcome.ip;
    }
    if (outcome.answered) {
        return "Not confirmed: " + outcome.deviceId + " did not take the change in " +
               SecondsText(outcome.timeout) + " (it reports " + outcome.ip + ")";
    }
    return "Not confirmed: " + outcome.deviceId + " did not answer in " +
           SecondsText(outcome.timeout);
}

std::string ConfirmingText(std::string_view deviceId, std::size_t pending) {
    if (pending > 1) {
        return "Confirming " + std::to_string(pending) + " changes\u2026";
    }
    return "Confirming " + std::string(deviceId) + "\u2026";
}

ChangeConfirmation::ChangeConfirmation(ConfirmationOptions options) : m_options(options) {}

void ChangeConfirmation::Add(const NetSettingsRecord& sent, Clock::time_point now,
                             const std::optional<ReportedSettings>& before) {
    Change change;
    change.deviceId = FormatDeviceId(sent.bytes.data() + record::kDevId);
    change.mode = sent.Mode();
    change.ip = sent.Text(record::kIp);
    change.mask = sent.Text(record::kMask);
    change.gateway = sent.Text(record::kGateway);
    std::memcpy(change.mac.data(), sent.bytes.data() + record::kMac, change.mac.size());
    change.ipAddress = ParseIpv4Strict(change.ip).value_or(0);
    change.before = before;
    change.sentAt = now;
    change.deadline = now + m_options.timeout;
    m_pending[DeviceKey(sent.bytes.data() + record::kDevId)] = std::move(change);
    // A probe already scheduled soon enough serves this change too.
    const Clock::time_point first = now + m_options.firstProbe;
    if (!m_nextProbe || *m_nextProbe > first) {
        m_nextProbe = first;
    }
}

bool ChangeConfirmation::Matches(const Change& change, const AcceptedReply& accepted) const {
    const DeviceInfoReply& reply = accepted.reply;
    if (change.mode != AddressingMode::Static) {
        // Evidence that the camera applied the record: it answers a request
        // sent after it, from its own address, and either fell silent for a
        // whole probe interval before or now reports other settings.
        if (!change.probed || !FromItsOwnAddress(accepted)) {
            return false;
        }
        if (change.wentSilent) {
            return true;
        }
        return change.before && (reply.Text(reply::kIp) != change.before->ip ||
                                 reply.Text(reply::kMask) != change.before->mask ||
                                 reply.Text(reply::kGateway) != change.before->gateway);
    }
    return change.ipAddress != 0 && accepted.sourceAddress == change.ipAddress &&
           reply.Text(reply::kIp) == change.ip && reply.Text(reply::kMask) == change.mask &&
           reply.Text(reply::kGateway) == change.gateway &&
           std::memcmp(reply.Raw(reply::kMac), change.mac.data(), change.mac.size()) == 0;
}

ConfirmationOutcome ChangeConfirmation::Outcome(const Change& change, bool confirmed,
                                                Clock::time_point now) const {
    ConfirmationOutcome outcome;
    outcome.deviceId = change.deviceId;
    outcome.confirmed = confirmed;
    outcome.verdict =
        confirmed ? ConfirmationVerdict::Confirmed : ConfirmationVerdict::NotConfirmed;
    outcome.answered = change.answered;
    outcome.ip = change.lastIp;
    outcome.waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - change.sentAt);
    outcome.timeout = m_options.timeout;
    return outcome;
}

void ChangeConfirmation::Observe(const std::vector<AcceptedReply>& replies, Clock::time_point now,
                                 std::vector<ConfirmationOutcome>& confirmed) {
    if (m_pending.empty()) {
        return;
    }
    for (const AcceptedReply& accepted : replies) {
        const auto found = m_pending.find(DeviceKey(accepted.reply.Raw(reply::kDevId)));
        if (found == m_pending.end()) {
            continue;
        }
        Change& change = found->second;
        change.lastIp = accepted.reply.Text(reply::kIp);
        // Two addresses answering for one camera with different settings in
        // one probe interval: one of them is not the camera.
        std::string values = ReportedValues(accepted.reply);
        const auto other = std::find_if(
            change.roundAnswers.begin(), change.roundAnswers.end(), [&](const auto& answer) {
                return answer.first != accepted.sourceAddress && answer.second != values;
            });
        if (other != change.roundAnswers.end()) {
            change.answered = true;
            ConfirmationOutcome outcome = Outcome(change, false, now);
            outcome.verdict = ConfirmationVerdict::Conflict;
            outcome.conflictWith =
                FormatIpv4(other->first) + " and " + FormatIpv4(accepted.sourceAddress);
            confirmed.push_back(std::move(outcome));
            m_pending.erase(found);
            continue;
        }
        if (std::none_of(
                change.roundAnswers.begin(), change.roundAnswers.end(),
                [&](const auto& answer) { return answer.first == accepted.sourceAddress; })) {
            change.roundAnswers.emplace_back(accepted.sourceAddress, std::move(values));
        }
        if (!Matches(change, accepted)) {
            // An answer with other values only counts once the camera has
            // been asked after the change.
            change.answered = change.answered || change.probed;
            change.answeredThisRound = change.answeredThisRound || change.probed;
            continue;
        }
        change.answered = true;
        ConfirmationOutcome outcome = Outcome(change, true, now);
        outcome.reply = accepted;
        confirmed.push_back(std::move(outcome));
        m_pending.erase(found);
    }
    if (m_pending.empty()) {
        m_nextProbe.reset();
    }
}

ChangeConfirmation::TickResult ChangeConfirmation::Tick(Clock::time_point now) {
    TickResult result;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.deadline <= now) {
            result.expired.push_back(Outcome(it->second, false, now));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    // Oldest first, so that a caller that shows one of them shows the same
    // one every run.
    std::sort(result.expired.begin(), result.expired.end(),
              [](const ConfirmationOutcome& a, const ConfirmationOutcome& b) {
                  return a.waited > b.waited;
              });
    if (m_pending.empty()) {
        m_nextProbe.reset();
        return result;
    }
    if (m_nextProbe && *m_nextProbe <= now) {
        result.probe = true;
        for (auto& [key, change] : m_pending) {
            // A probe interval after the change without a word from the
            // camera: it went silent (restarted its network).
            if (change.probed && !change.answeredThisRound) {
                change.wentSilent = true;
            }
            change.probed = true;
            change.answeredThisRound = false;
            change.roundAnswers.clear();
        }
        m_nextProbe = now + m_options.probeInterval;
    }
    return result;
}

std::optional<ChangeConfirmation::Clock::time_point> ChangeConfirmation::NextDue() const {
    if (m_pending.empty()) {
        return std::nullopt;
    }
    Clock::time_point due = Clock::time_point::max();
    for (const auto& [key, change] : m_pending) {
        due = std::min(due, change.deadline);
    }
    if (m_nextProbe) {
        due = std::min(due, *m_nextProbe);
    }
    return due;
}

bool ChangeConfirmation::IsPending(std::string_view deviceIdText) const {
    return std::any_of(m_pending.begin(), m_pending.end(),
                       [&](const auto& entry) { return entry.second.deviceId == deviceIdText; });
}

double ChangeConfirmation::Progress(Clock::time_point now) const {
    if (m_pending.empty()) {
        return 1.0;
    }
    const Change* oldest = nullptr;
    for (const auto& [key, change] : m_pending) {
        if (oldest == nullptr || change.sentAt < oldest->sentAt) {
            oldest = &change;
        }
    }
    const double total = std::chrono::duration<double>(oldest->deadline - oldest->sentAt).count();
    const double passed = std::chrono::duration<double>(now - oldest->sentAt).count();
    return total <= 0 ? 1.0 : std::clamp(passed / total, 0.0, 1.0);
}

void ChangeConfirmation::Clear() {
    m_pending.clear();
    m_nextProbe.reset();
}

std::string ChangeConfirmation::WaitingText() const {
    if (m_pending.empty()) {
        return {};
    }
    return ConfirmingText(m_pending.begin()->second.deviceId, m_pending.size());
}

}  // namespace qdipc
