#pragma once
// Confirms settings changes by the cameras themselves. A camera that takes a
// settings record restarts its network and may be silent for seconds; then
// it answers discovery requests with what it now uses. For each change sent,
// this waits for evidence that the camera with that device ID took it, or
// until the change's deadline.
//
// Evidence comes only from answers to probes sent after the record: every
// probe carries a fresh search ID, and a reply counts only for the probe
// whose ID it carries (a reply already on its way, or replayed later, counts
// for nothing). The answers to one probe are judged together when its
// interval closes (the next probe goes out), so the order in which they
// arrived decides nothing:
// - static addressing: an answer that comes from the new IP itself and
//   reports the IP, mask, gateway and MAC sent, each compared on its own;
//   when the old address answers for the camera in the same interval, one
//   more interval decides: the old address silent then, confirmed; still
//   answering, conflict;
// - DHCP and ADSL: an answer from the address it reports that either reports
//   settings other than the camera reported before the change (when those
//   are known), or follows two whole probe intervals of silence (it
//   restarted its network);
// - a change that cannot show in a reply (static settings the camera already
//   reports: the same values, or a mode change alone) ends at once as
//   unverifiable, never as confirmed.
// A reply from another address that names the camera proves nothing. Another
// device answering for the camera (its device ID with another MAC, or from a
// source whose link-layer address, as the neighbour table knows it, is not
// the MAC reported), or another device at the new address, ends the change
// as a conflict; so does a second address answering for it with other
// settings.
//
// It owns no thread, socket or timer: its owner sends the probes it asks for
// (a discovery request with a fresh search ID, so the replies come through
// the receive worker as usual), shows it every accepted reply, duplicates
// included, and calls Tick at the times NextDue gives. One probe schedule
// (ProbeSchedule) serves every pending change, also those of other
// confirmations that share it, so confirming hundreds of changes costs no
// more requests than confirming one.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "discovery/ReplyQueue.h"
#include "platform/NeighbourTable.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {

struct ConfirmationOptions {
    // How long a change may take to be confirmed.
    std::chrono::milliseconds timeout{10000};
    // The first probe after a change, and the time between later ones.
    std::chrono::milliseconds firstProbe{250};
    std::chrono::milliseconds probeInterval{500};
    // The neighbour table, read once for each probe interval judged; empty:
    // the link-layer addresses are unknown (the replies are taken as they are).
    std::function<std::vector<NeighbourEntry>()> neighbours;
};

// When the probes go out, shared by every confirmation that is given it (the
// window's runs), and which probe went out last.
class ProbeSchedule {
public:
    using Clock = std::chrono::steady_clock;
    struct Probe {
        std::uint64_t number = 0;  // counts the probes from 1; 0: none yet
        // Nothing when the probe was due but could not go out.
        std::optional<std::uint32_t> searchId;
        Clock::time_point sentAt{};
    };

    const Probe& Latest() const { return latest_; }
    // When the next probe is due; nothing when none was asked for.
    std::optional<Clock::time_point> Next() const { return next_; }
    // A probe is wanted at the latest at `at` (now: the caller's time). A
    // probe due later is brought forward; one overdue since before now is
    // stale (nobody was waiting) and moves to `at`.
    void Want(Clock::time_point at, Clock::time_point now);
    // The probe went out with this search ID (nothing: it could not); the
    // next is due one interval later.
    void Sent(std::optional<std::uint32_t> searchId, Clock::time_point now,
              std::chrono::milliseconds interval);
    // A request that this schedule did not ask for (a search) went out with
    // this search ID: its answers count like a probe's; the schedule stays.
    void Noted(std::uint32_t searchId, Clock::time_point now);

private:
    Probe latest_;
    std::optional<Clock::time_point> next_;
};

// What a camera reported before the change (its list row): a DHCP or ADSL
// change is confirmed when it reports something else afterwards; a static
// change to exactly these values cannot be confirmed at all.
struct ReportedSettings {
    std::string ip;
    std::string mask;
    std::string gateway;
    std::string mac = {};  // as the list shows it; empty when unknown
};

enum class ConfirmationVerdict { Confirmed, NotConfirmed, Conflict, Unverifiable };

// Why a change ends as unverifiable.
inline constexpr const char* kUnverifiableText =
    "sent; the camera already reported these settings, so its answers cannot show that it took "
    "them";

struct ConfirmationOutcome {
    std::string deviceId;    // the device ID's text form
    bool confirmed = false;  // verdict == Confirmed
    ConfirmationVerdict verdict = ConfirmationVerdict::NotConfirmed;
    // Conflict: the two addresses that answered for the camera, or (when
    // conflictText is set instead) what else answered.
    std::string conflictWith;
    std::string conflictText;
    // Not confirmed: the camera answered during the wait, but not with the
    // values sent (it kept or chose other ones); ip is what it reported last.
    bool answered = false;
    std::string ip;  // the IP the camera reported (confirmed, or answered)
    // Confirmed: the reply that confirmed the change (the row's new cells).
    std::optional<AcceptedReply> reply;
    std::chrono::milliseconds waited{0};  // from the change to the outcome
    std::chrono::milliseconds timeout{0};
};

// "Confirmed: <id> at <ip>", "Not confirmed: <id> did not answer in 10 s",
// "Not confirmed: <id> did not take the change in 10 s (it reports <ip>)",
// "Conflict: <id> is answered for from <a> and <b> with different settings",
// "Conflict: <id>: <conflictText>" or "Unverifiable: <id>: <kUnverifiableText>".
std::string ConfirmationText(const ConfirmationOutcome& outcome);
// "Confirming <id>…" (UTF-8 ellipsis) for one pending change, "Confirming N
// changes…" for more.
std::string ConfirmingText(std::string_view deviceId, std::size_t pending);
// A wait as the texts show it: "10 s", "2.5 s", "0.25 s".
std::string SecondsText(std::chrono::milliseconds wait);

class ChangeConfirmation {
public:
    using Clock = std::chrono::steady_clock;

    // schedule: shared with other confirmations (it must outlive this one);
    // null: this confirmation keeps its own.
    explicit ChangeConfirmation(ConfirmationOptions options = {},
                                ProbeSchedule* schedule = nullptr);
    ChangeConfirmation(const ChangeConfirmation&) = delete;
    ChangeConfirmation& operator=(const ChangeConfirmation&) = delete;

    // Starts waiting for the camera the record names (magic and stamp are not
    // looked at). A newer change for a device that is pending replaces the
    // older one: the camera takes the record it received last.
    // before: what the camera reported before the change, when known.
    // A change that no answer can show (static, and the IP, mask, gateway
    // and, when known, MAC that the camera reported before) is not waited
    // for: its Unverifiable outcome is returned at once.
    std::optional<ConfirmationOutcome> Add(
        const NetSettingsRecord& sent, Clock::time_point now,
        const std::optional<ReportedSettings>& before = std::nullopt);
    // Takes the accepted replies, all of them in arrival order: those that
    // answer the latest probe are kept for its interval's judgement, the
    // others count for nothing. Appends the outcomes of an interval that a
    // newer probe (of a shared schedule) closed.
    void Observe(const std::vector<AcceptedReply>& replies, Clock::time_point now,
                 std::vector<ConfirmationOutcome>& ended);

    struct TickResult {
        bool probe = false;  // send a probe now, then call ProbeSent
        std::vector<ConfirmationOutcome> ended;
    };
    // Judges the interval a newer probe closed, ends the changes whose
    // deadline has passed (not confirmed) and says whether a probe is due.
    TickResult Tick(Clock::time_point now);
    // The probe that Tick asked for went out with this search ID (nothing: it
    // could not go out, and its interval counts neither way). Closes the
    // interval before it; appends the outcomes.
    void ProbeSent(std::optional<std::uint32_t> searchId, Clock::time_point now,
                   std::vector<ConfirmationOutcome>& ended);
    // When Tick next has something to do; nothing when no change is pending.
    std::optional<Clock::time_point> NextDue() const;

    std::size_t Pending() const { return m_pending.size(); }
    bool IsPending(std::string_view deviceIdText) const;
    // ConfirmingText for the changes pending now; empty when none is.
    std::string WaitingText() const;
    // How far the oldest pending change has come towards its deadline, 0 to 1.
    double Progress(Clock::time_point now) const;
    // Forgets every pending change.
    void Clear();
    const ConfirmationOptions& Options() const { return m_options; }

private:
    struct Change {
        std::string deviceId;
        std::uint64_t key = 0;
        AddressingMode mode = AddressingMode::Static;
        std::string ip;
        std::string mask;
        std::string gateway;
        std::string mac;              // FormatMac of the MAC sent
        std::uint32_t ipAddress = 0;  // ip as a number; 0 when it is none
        std::optional<ReportedSettings> before;
        std::string beforeMac;  // lowercase; empty when unknown
        Clock::time_point sentAt;
        Clock::time_point deadline;
        // The latest probe when the record went out: only later probes'
        // answers count.
        std::uint64_t addedAfterProbe = 0;
        bool answered = false;
        std::string lastIp;
        // DHCP and ADSL: whole probe intervals in a row without an answer.
        int silentIntervals = 0;
        // The new settings answered while an old address still answered for
        // the camera: the next interval decides, by that address.
        std::optional<AcceptedReply> evidence;
        std::uint32_t oldSource = 0;
    };
    struct Judged;

    void Sync(Clock::time_point now, std::vector<ConfirmationOutcome>& ended);
    void CloseInterval(Clock::time_point now, std::vector<ConfirmationOutcome>& ended);
    ConfirmationOutcome Outcome(const Change& change, ConfirmationVerdict verdict,
                                Clock::time_point now) const;

    ConfirmationOptions m_options;
    ProbeSchedule m_ownSchedule;
    ProbeSchedule* m_schedule;
    // Keyed by the device ID's eight bytes.
    std::unordered_map<std::uint64_t, Change> m_pending;
    // The open interval: the probe it follows and the answers to it.
    std::uint64_t m_intervalProbe = 0;
    std::optional<std::uint32_t> m_intervalSearchId;
    std::vector<AcceptedReply> m_answers;
    // The pending static changes' new addresses (rebuilt when stale).
    std::unordered_set<std::uint32_t> m_newAddresses;
    bool m_addressesStale = true;
};

}  // namespace qdipc
