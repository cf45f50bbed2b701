#pragma once
// Confirms settings changes by the cameras themselves. A camera that takes a
// settings record restarts its network and may be silent for seconds; then
// it answers discovery requests with what it now uses. For each change sent,
// this waits for evidence that the camera with that device ID took it, or
// until the change's deadline:
// - static addressing: a reply that comes from the new IP itself and reports
//   the IP, mask, gateway and MAC sent, each compared on its own;
// - DHCP and ADSL: a reply, from the address it reports, to a request sent
//   after the change that either reports settings other than the camera
//   reported before the change, or follows a whole probe interval in which
//   the camera was silent (it restarted its network).
// A reply from another address that names the camera proves nothing. When
// two addresses answer for one pending device ID with different settings in
// one probe interval, another device speaks for the camera: the change ends
// as a conflict, never as confirmed.
//
// It owns no thread, socket or timer: its owner sends the probes it asks for
// (a discovery request with the current search ID, so the replies come
// through the receive worker as usual), shows it every accepted reply,
// duplicates included, and calls Tick at the times NextDue gives. One probe
// schedule serves every pending change, so confirming hundreds of changes
// costs no more requests than confirming one.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "discovery/ReplyQueue.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {

struct ConfirmationOptions {
    // How long a change may take to be confirmed.
    std::chrono::milliseconds timeout{10000};
    // The first probe after a change, and the time between later ones.
    std::chrono::milliseconds firstProbe{250};
    std::chrono::milliseconds probeInterval{500};
};

// What a camera reported before the change (its list row): a DHCP or ADSL
// change is confirmed when it reports something else afterwards.
struct ReportedSettings {
    std::string ip;
    std::string mask;
    std::string gateway;
};

enum class ConfirmationVerdict { Confirmed, NotConfirmed, Conflict };

struct ConfirmationOutcome {
    std::string deviceId;    // the device ID's text form
    bool confirmed = false;  // verdict == Confirmed
    ConfirmationVerdict verdict = ConfirmationVerdict::NotConfirmed;
    // Conflict: the two addresses that answered for the camera.
    std::string conflictWith;
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
// "Not confirmed: <id> did not take the change in 10 s (it reports <ip>)", or
// "Conflict: <id> is answered for from <a> and <b> with different settings".
std::string ConfirmationText(const ConfirmationOutcome& outcome);
// "Confirming <id>…" (UTF-8 ellipsis) for one pending change, "Confirming N
// changes…" for more.
std::string ConfirmingText(std::string_view deviceId, std::size_t pending);
// A wait as the texts show it: "10 s", "2.5 s", "0.25 s".
std::string SecondsText(std::chrono::milliseconds wait);

class ChangeConfirmation {
public:
    using Clock = std::chrono::steady_clock;

    explicit ChangeConfirmation(ConfirmationOptions options = {});

    // Starts waiting for the camera the record names (magic and stamp are not
    // looked at). A newer change for a device that is pending replaces the
    // older one: the camera takes the record it received last.
    // before: what the camera reported before the change, when known.
    void Add(const NetSettingsRecord& sent, Clock::time_point now,
             const std::optional<ReportedSettings>& before = std::nullopt);
    // Looks at accepted replies, all of them in arrival order; appends an
    // outcome for every change they confirm, which is then no longer pending.
    void Observe(const std::vector<AcceptedReply>& replies, Clock::time_point now,
                 std::vector<ConfirmationOutcome>& confirmed);

    struct TickResult {
        bool probe = false;  // send a probe now
        std::vector<ConfirmationOutcome> expired;
    };
    // Ends the changes whose deadline has passed (not confirmed) and says
    // whether a probe is due; when it is, the next one is scheduled and the
    // pending changes count answers from now on.
    TickResult Tick(Clock::time_point now);
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
        AddressingMode mode = AddressingMode::Static;
        std::string ip;
        std::string mask;
        std::string gateway;
        std::array<std::uint8_t, 6> mac{};
        std::uint32_t ipAddress = 0;  // ip as a number; 0 when it is none
        std::optional<ReportedSettings> before;
        Clock::time_point sentAt;
        Clock::time_point deadline;
        // Set by the first probe after the change: DHCP and ADSL changes are
        // confirmed by an answer from then on (an older reply could still be
        // on its way).
        bool probed = false;
        bool answered = false;
        // Since the latest probe: whether the camera answered, and who
        // answered for it with what (source address, settings).
        bool answeredThisRound = false;
        std::vector<std::pair<std::uint32_t, std::string>> roundAnswers;
        // A whole probe interval after the change passed without an answer.
        bool wentSilent = false;
        std::string lastIp;
    };

    bool Matches(const Change& change, const AcceptedReply& accepted) const;
    ConfirmationOutcome Outcome(const Change& change, bool confirmed, Clock::time_point now) const;

    ConfirmationOptions m_options;
    // Keyed by the device ID's eight bytes.
    std::unordered_map<std::uint64_t, Change> m_pending;
    std::optional<Clock::time_point> m_nextProbe;
};

}  // namespace qdipc
