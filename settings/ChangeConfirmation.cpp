#include "settings/ChangeConfirmation.h"

#include <algorithm>
#include <cstring>

#include "discovery/CellText.h"
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
    if (outcome.verdict == ConfirmationVerdict::Unverifiable) {
        return "Unverifiable: " + outcome.deviceId + ": " + kUnverifiableText;
    }
    if (outcome.verdict == ConfirmationVerdict::Conflict && !outcome.conflictText.empty()) {
        return "Conflict: " + outcome.deviceId + ": " + outcome.conflictText;
    }
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

void ProbeSchedule::Want(Clock::time_point at, Clock::time_point now) {
    if (!next_ || *next_ > at || *next_ < now) {
        next_ = at;
    }
}

void ProbeSchedule::Sent(std::optional<std::uint32_t> searchId, Clock::time_point now,
                         std::chrono::milliseconds interval) {
    latest_ = {latest_.number + 1, searchId, now};
    next_ = now + interval;
}

void ProbeSchedule::Noted(std::uint32_t searchId, Clock::time_point now) {
    latest_ = {latest_.number + 1, searchId, now};
}

ChangeConfirmation::ChangeConfirmation(ConfirmationOptions options, ProbeSchedule* schedule)
    : m_options(std::move(options)), m_schedule(schedule != nullptr ? schedule : &m_ownSchedule) {
    m_intervalProbe = m_schedule->Latest().number;
    m_intervalSearchId = m_schedule->Latest().searchId;
}

std::optional<ConfirmationOutcome> ChangeConfirmation::Add(
    const NetSettingsRecord& sent, Clock::time_point now,
    const std::optional<ReportedSettings>& before) {
    Change change;
    change.deviceId = FormatDeviceId(sent.bytes.data() + record::kDevId);
    change.key = DeviceKey(sent.bytes.data() + record::kDevId);
    change.mode = sent.Mode();
    change.ip = sent.Text(record::kIp);
    change.mask = sent.Text(record::kMask);
    change.gateway = sent.Text(record::kGateway);
    change.mac = FormatMac(sent.bytes.data() + record::kMac);
    change.ipAddress = ParseIpv4Strict(change.ip).value_or(0);
    // Empty before values (a change without a listed row) are none.
    if (before && !before->ip.empty()) {
        change.before = before;
    }
    change.beforeMac = change.before ? LowerAscii(change.before->mac) : std::string();
    change.sentAt = now;
    change.deadline = now + m_options.timeout;
    change.addedAfterProbe = m_schedule->Latest().number;
    // Static settings the camera already reports: any answer looks the same
    // whether it took the record or not.
    if (change.mode == AddressingMode::Static && change.before && change.before->ip == change.ip &&
        change.before->mask == change.mask && change.before->gateway == change.gateway &&
        (change.beforeMac.empty() || change.beforeMac == change.mac)) {
        m_pending.erase(change.key);  // a newer change replaces a pending one
        m_addressesStale = true;
        return Outcome(change, ConfirmationVerdict::Unverifiable, now);
    }
    const std::uint64_t key = change.key;
    m_pending[key] = std::move(change);
    m_addressesStale = true;
    // A probe already scheduled soon enough serves this change too.
    m_schedule->Want(now + m_options.firstProbe, now);
    return std::nullopt;
}

ConfirmationOutcome ChangeConfirmation::Outcome(const Change& change, ConfirmationVerdict verdict,
                                                Clock::time_point now) const {
    ConfirmationOutcome outcome;
    outcome.deviceId = change.deviceId;
    outcome.confirmed = verdict == ConfirmationVerdict::Confirmed;
    outcome.verdict = verdict;
    outcome.answered = change.answered;
    outcome.ip = change.lastIp;
    outcome.waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - change.sentAt);
    outcome.timeout = m_options.timeout;
    return outcome;
}

void ChangeConfirmation::Sync(Clock::time_point now, std::vector<ConfirmationOutcome>& ended) {
    const ProbeSchedule::Probe& latest = m_schedule->Latest();
    if (latest.number == m_intervalProbe) {
        return;
    }
    CloseInterval(now, ended);
    m_intervalProbe = latest.number;
    m_intervalSearchId = latest.searchId;
    m_answers.clear();
}

void ChangeConfirmation::Observe(const std::vector<AcceptedReply>& replies, Clock::time_point now,
                                 std::vector<ConfirmationOutcome>& ended) {
    Sync(now, ended);
    if (m_pending.empty() || !m_intervalSearchId) {
        return;
    }
    if (m_addressesStale) {
        m_newAddresses.clear();
        for (const auto& [key, change] : m_pending) {
            if (change.ipAddress != 0) {
                m_newAddresses.insert(change.ipAddress);
            }
        }
        m_addressesStale = false;
    }
    for (const AcceptedReply& accepted : replies) {
        // An answer to an earlier request (or a replay of one) says nothing
        // about what the camera does now; nor does one that neither names a
        // pending camera nor comes from or reports a new address.
        if (accepted.searchId != *m_intervalSearchId) {
            continue;
        }
        const bool relevant =
            m_pending.contains(DeviceKey(accepted.reply.Raw(reply::kDevId))) ||
            m_newAddresses.contains(accepted.sourceAddress) ||
            m_newAddresses.contains(ParseIpv4Strict(accepted.reply.Text(reply::kIp)).value_or(0));
        if (relevant) {
            m_answers.push_back(accepted);
        }
    }
}

// The answers of one interval, by device and by address.
struct ChangeConfirmation::Judged {
    std::unordered_map<std::uint64_t, std::vector<const AcceptedReply*>> byDevice;
    // By source address, and by reported address where that is another one.
    std::unordered_map<std::uint32_t, std::vector<const AcceptedReply*>> byAddress;
    // Source address -> the link-layer address the neighbour table knows.
    std::unordered_map<std::uint32_t, std::string> linkLayer;
};

void ChangeConfirmation::CloseInterval(Clock::time_point now,
                                       std::vector<ConfirmationOutcome>& ended) {
    // A probe that did not go out (or none yet) gives no interval to judge.
    if (!m_intervalSearchId || m_intervalProbe == 0 || m_pending.empty()) {
        return;
    }
    Judged judged;
    for (const AcceptedReply& answer : m_answers) {
        judged.byDevice[DeviceKey(answer.reply.Raw(reply::kDevId))].push_back(&answer);
        judged.byAddress[answer.sourceAddress].push_back(&answer);
        const auto reported = ParseIpv4Strict(answer.reply.Text(reply::kIp));
        if (reported && *reported != answer.sourceAddress) {
            judged.byAddress[*reported].push_back(&answer);
        }
    }
    if (!m_answers.empty() && m_options.neighbours) {
        for (const NeighbourEntry& entry : m_options.neighbours()) {
            const auto address = ParseIpv4Strict(entry.address);
            if (address && !entry.mac.empty()) {
                judged.linkLayer[*address] = LowerAscii(entry.mac);
            }
        }
    }
    std::vector<std::pair<std::uint64_t, ConfirmationOutcome>> verdicts;
    const auto conflict = [&](const Change& change, std::string text) {
        ConfirmationOutcome outcome = Outcome(change, ConfirmationVerdict::Conflict, now);
        outcome.answered = true;
        outcome.conflictText = std::move(text);
        verdicts.emplace_back(change.key, std::move(outcome));
    };
    const auto twoAddresses = [&](const Change& change, std::uint32_t a, std::uint32_t b) {
        ConfirmationOutcome outcome = Outcome(change, ConfirmationVerdict::Conflict, now);
        outcome.answered = true;
        outcome.conflictWith = FormatIpv4(a) + " and " + FormatIpv4(b);
        verdicts.emplace_back(change.key, std::move(outcome));
    };
    const auto confirm = [&](Change& change, const AcceptedReply& evidence) {
        change.answered = true;
        change.lastIp = evidence.reply.Text(reply::kIp);
        ConfirmationOutcome outcome = Outcome(change, ConfirmationVerdict::Confirmed, now);
        outcome.reply = evidence;
        verdicts.emplace_back(change.key, std::move(outcome));
    };
    static const std::vector<const AcceptedReply*> kNone;
    for (auto& [key, change] : m_pending) {
        if (m_intervalProbe <= change.addedAfterProbe) {
            continue;  // the probe went out before the record
        }
        const auto found = judged.byDevice.find(key);
        const std::vector<const AcceptedReply*>& own =
            found == judged.byDevice.end() ? kNone : found->second;
        // Another device answering for the camera: its device ID with a MAC
        // that is neither the one sent nor the one it had, or a source whose
        // link-layer address is not the MAC it reports.
        std::string foreign;
        for (const AcceptedReply* answer : own) {
            const std::string mac = FormatMac(answer->reply.Raw(reply::kMac));
            const auto link = judged.linkLayer.find(answer->sourceAddress);
            if (link != judged.linkLayer.end() && link->second != mac &&
                link->second != change.beforeMac) {
                foreign = "its answer from " + FormatIpv4(answer->sourceAddress) +
                          " comes from link-layer address " + link->second + ", not " + mac;
                break;
            }
            // (Its MAC before unknown, another one may be its own.)
            if (mac != change.mac && !change.beforeMac.empty() && mac != change.beforeMac) {
                foreign = "another device (MAC " + mac + ") answers with its ID from " +
                          FormatIpv4(answer->sourceAddress);
                break;
            }
        }
        // Static: another device at the new address (a camera of this
        // confirmation that still answers at its old address, on its way
        // elsewhere, is not one; nor is one sent the same address: only
        // restores share one, a factory batch going back to its address).
        if (foreign.empty() && change.mode == AddressingMode::Static && change.ipAddress != 0) {
            const auto at = judged.byAddress.find(change.ipAddress);
            for (const AcceptedReply* answer : at == judged.byAddress.end() ? kNone : at->second) {
                const std::uint64_t other = DeviceKey(answer->reply.Raw(reply::kDevId));
                if (other == key) {
                    continue;
                }
                const auto leaving = m_pending.find(other);
                if (leaving != m_pending.end() && leaving->second.mode == AddressingMode::Static &&
                    leaving->second.ipAddress == change.ipAddress) {
                    continue;
                }
                if (leaving != m_pending.end() && leaving->second.before &&
                    leaving->second.before->ip == answer->reply.Text(reply::kIp) &&
                    leaving->second.ipAddress != change.ipAddress) {
                    continue;
                }
                foreign = FormatDeviceId(answer->reply.Raw(reply::kDevId)) + " (MAC " +
                          FormatMac(answer->reply.Raw(reply::kMac)) + ") answers at " + change.ip;
                if (leaving != m_pending.end()) {
                    conflict(leaving->second, "it answers at " + change.ip +
                                                  ", which was sent to " + change.deviceId);
                }
                break;
            }
        }
        if (!foreign.empty()) {
            conflict(change, std::move(foreign));
            continue;
        }
        if (!own.empty()) {
            change.answered = true;
            change.lastIp = own.back()->reply.Text(reply::kIp);
        }
        if (change.mode == AddressingMode::Static) {
            std::vector<const AcceptedReply*> taken;
            std::vector<const AcceptedReply*> others;
            for (const AcceptedReply* answer : own) {
                const DeviceInfoReply& reply = answer->reply;
                const bool match = change.ipAddress != 0 &&
                                   answer->sourceAddress == change.ipAddress &&
                                   reply.Text(reply::kIp) == change.ip &&
                                   reply.Text(reply::kMask) == change.mask &&
                                   reply.Text(reply::kGateway) == change.gateway &&
                                   FormatMac(reply.Raw(reply::kMac)) == change.mac;
                (match ? taken : others).push_back(answer);
            }
            // Another address that reports just what the camera does proves
            // nothing and contradicts nothing.
            if (!taken.empty()) {
                const std::string values = ReportedValues(taken.front()->reply);
                std::erase_if(others, [&](const AcceptedReply* answer) {
                    return answer->sourceAddress != change.ipAddress &&
                           ReportedValues(answer->reply) == values;
                });
            }
            if (change.evidence) {
                // Last interval both answered: the old address decides.
                const auto old = std::find_if(others.begin(), others.end(), [&](const auto* a) {
                    return a->sourceAddress == change.oldSource;
                });
                if (old != others.end()) {
                    twoAddresses(change, change.oldSource, change.ipAddress);
                } else {
                    confirm(change, taken.empty() ? *change.evidence : *taken.front());
                }
                continue;
            }
            const auto sameSource = [&](const std::vector<const AcceptedReply*>& answers) {
                return std::all_of(answers.begin(), answers.end(), [&](const auto* a) {
                    return a->sourceAddress == answers.front()->sourceAddress;
                });
            };
            if (!taken.empty()) {
                if (others.empty()) {
                    confirm(change, *taken.front());
                } else if (sameSource(others) &&
                           others.front()->sourceAddress != change.ipAddress) {
                    // The camera may have answered once before and once after
                    // it changed: one more interval tells.
                    change.evidence = *taken.front();
                    change.oldSource = others.front()->sourceAddress;
                } else {
                    twoAddresses(change, others.front()->sourceAddress, change.ipAddress);
                }
                continue;
            }
            // Two addresses answer for it with different settings: one of
            // them is not the camera.
            for (const AcceptedReply* answer : others) {
                if (answer->sourceAddress != others.front()->sourceAddress &&
                    ReportedValues(answer->reply) != ReportedValues(others.front()->reply)) {
                    twoAddresses(change, others.front()->sourceAddress, answer->sourceAddress);
                    break;
                }
            }
            continue;
        }
        // DHCP and ADSL: the camera's answers from the address it reports.
        std::vector<const AcceptedReply*> fromOwn;
        for (const AcceptedReply* answer : own) {
            if (FromItsOwnAddress(*answer)) {
                fromOwn.push_back(answer);
            }
        }
        if (change.evidence) {
            const auto old = std::find_if(fromOwn.begin(), fromOwn.end(), [&](const auto* a) {
                return a->sourceAddress == change.oldSource;
            });
            if (old != fromOwn.end()) {
                twoAddresses(change, change.oldSource, change.evidence->sourceAddress);
            } else {
                confirm(change, *change.evidence);
            }
            continue;
        }
        if (fromOwn.empty()) {
            ++change.silentIntervals;
            continue;
        }
        const auto elsewhere = std::find_if(fromOwn.begin(), fromOwn.end(), [&](const auto* a) {
            return a->sourceAddress != fromOwn.front()->sourceAddress;
        });
        if (elsewhere != fromOwn.end()) {
            // Its old address and a new one: the next interval tells, by the
            // old one; two addresses that are not the old one: a conflict.
            const std::uint32_t before =
                change.before ? ParseIpv4Strict(change.before->ip).value_or(0) : 0;
            const AcceptedReply* old = fromOwn.front()->sourceAddress == before ? fromOwn.front()
                                       : (*elsewhere)->sourceAddress == before  ? *elsewhere
                                                                                : nullptr;
            if (old == nullptr) {
                twoAddresses(change, fromOwn.front()->sourceAddress, (*elsewhere)->sourceAddress);
            } else {
                change.evidence = old == fromOwn.front() ? **elsewhere : *fromOwn.front();
                change.oldSource = before;
            }
            continue;
        }
        const DeviceInfoReply& reply = fromOwn.front()->reply;
        const bool changed =
            change.before && (reply.Text(reply::kIp) != change.before->ip ||
                              reply.Text(reply::kMask) != change.before->mask ||
                              reply.Text(reply::kGateway) != change.before->gateway);
        if (change.silentIntervals >= 2 || changed) {
            confirm(change, *fromOwn.front());
        } else {
            change.silentIntervals = 0;
        }
    }
    for (auto& [key, outcome] : verdicts) {
        if (m_pending.erase(key) > 0) {
            ended.push_back(std::move(outcome));
        }
    }
    m_addressesStale = true;
}

ChangeConfirmation::TickResult ChangeConfirmation::Tick(Clock::time_point now) {
    TickResult result;
    Sync(now, result.ended);
    std::vector<ConfirmationOutcome> expired;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.deadline <= now) {
            expired.push_back(Outcome(it->second, ConfirmationVerdict::NotConfirmed, now));
            it = m_pending.erase(it);
            m_addressesStale = true;
        } else {
            ++it;
        }
    }
    // Oldest first, so that a caller that shows one of them shows the same
    // one every run.
    std::sort(expired.begin(), expired.end(),
              [](const ConfirmationOutcome& a, const ConfirmationOutcome& b) {
                  return a.waited > b.waited;
              });
    result.ended.insert(result.ended.end(), std::make_move_iterator(expired.begin()),
                        std::make_move_iterator(expired.end()));
    if (!m_pending.empty()) {
        const auto next = m_schedule->Next();
        result.probe = next && *next <= now;
    }
    return result;
}

void ChangeConfirmation::ProbeSent(std::optional<std::uint32_t> searchId, Clock::time_point now,
                                   std::vector<ConfirmationOutcome>& ended) {
    m_schedule->Sent(searchId, now, m_options.probeInterval);
    Sync(now, ended);
}

std::optional<ChangeConfirmation::Clock::time_point> ChangeConfirmation::NextDue() const {
    if (m_pending.empty()) {
        return std::nullopt;
    }
    Clock::time_point due = Clock::time_point::max();
    for (const auto& [key, change] : m_pending) {
        due = std::min(due, change.deadline);
    }
    if (const auto next = m_schedule->Next()) {
        due = std::min(due, *next);
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
    m_answers.clear();
    m_addressesStale = true;
}

std::string ChangeConfirmation::WaitingText() const {
    if (m_pending.empty()) {
        return {};
    }
    return ConfirmingText(m_pending.begin()->second.deviceId, m_pending.size());
}

}  // namespace qdipc
