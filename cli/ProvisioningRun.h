#pragma once
// The command line's side of the network: the receive worker bound before
// anything leaves, the search command whose requests are the probes, the
// interface check, and a loop that drives a ProvisioningSession until it is
// finished. Every verb that searches (--list, --modify, --assign, --plan,
// --diagnose, --watch) does so through it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/ErrorLog.h"
#include "discovery/NetworkConfig.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "settings/NetSettingsRecord.h"
#include "settings/ProvisioningSession.h"

namespace qdipc {

// The interfaces the config gives (the host's when it gives none).
std::vector<Ipv4Interface> ConfiguredInterfaces(const NetworkConfig& config);

// True when name is empty or names an up, broadcast-capable IPv4 interface;
// else says so on err, naming the ones there are.
bool CheckInterfaceName(const NetworkConfig& config, const std::string& name, std::ostream& err);

class CliNetwork {
public:
    // onlyInterface: the requests go out of that interface only ("" every one).
    CliNetwork(const NetworkConfig& config, std::string onlyInterface);
    ~CliNetwork();

    // Binds the receive port and starts the worker; false with the reason on
    // err (then nothing has been sent).
    bool Open(std::ostream& err);
    // sendRecord (stamped, broadcast toward the camera's interface) and
    // sendProbe (the first draws the search ID, the others repeat it).
    ProvisioningHooks Hooks();
    // Drives session until it is finished, feeding it the worker's replies
    // (tap, when given, sees them too; with feed false only tap does: a plain
    // search); wakes at least every 20 ms.
    void Drive(ProvisioningSession& session,
               const std::function<void(const std::vector<AcceptedReply>&)>& tap = {},
               bool feed = true);
    // A plain search: the request, its repeats within wait, every reply of
    // this search in arrival order. Nothing when the request could not go out
    // (LastSearchOutcome says why).
    std::optional<std::vector<AcceptedReply>> Search(std::chrono::milliseconds wait);
    // The same, each batch handed to onBatch as it comes instead of kept
    // (a long list need not hold every reply twice); false when the request
    // could not go out.
    bool Search(std::chrono::milliseconds wait,
                const std::function<void(const std::vector<AcceptedReply>&)>& onBatch);
    // One request: the first draws the search ID, the others repeat it.
    bool Probe(bool first);
    // The replies the worker accepted since the last call.
    std::vector<AcceptedReply> TakeReplies() { return queue_.TakeAll(); }
    std::uint32_t SearchId() const { return searchId_.load(); }
    const RecvSearchThread& Worker() const { return worker_; }
    const SearchCommand& Command() const { return command_; }
    // How the latest request went (its failure text: SearchFailureText).
    SearchOutcome LastSearchOutcome() const { return lastOutcome_; }
    void Close();

private:
    const NetworkConfig& config_;
    std::string onlyInterface_;
    std::atomic<std::uint32_t> searchId_{0};
    ReplyQueue queue_;
    ErrorLog log_;
    RecvSearchThread worker_;
    SearchCommand command_;
    SettingsBroadcaster broadcaster_;
    SearchOutcome lastOutcome_ = SearchOutcome::Sent;
};

// --modify on the engine: finds the camera (the search ends once it
// answered), sends its record, confirms it.
int RunModifyCommand(const ModifyOptions& options, const NetworkConfig& config, std::ostream& out,
                     std::ostream& err);

}  // namespace qdipc
