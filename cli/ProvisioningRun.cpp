#include "cli/ProvisioningRun.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/BatchCommand.h"
#include "cli/CommandLineRun.h"
#include "cli/OnvifSearchRun.h"
#include "discovery/CellText.h"
#include "platform/PortOwner.h"
#include "platform/StateDirectory.h"
#include "platform/WholeFile.h"
#include "settings/ChangeChecks.h"
#include "settings/PlanFile.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";
// How long --modify looks for its camera before the record goes out; the
// search ends as soon as the camera answered.
constexpr std::chrono::milliseconds kModifySearchWait{2000};

// How long a plan that is not a regular file (a FIFO, a device) may take to
// end before it is refused.
constexpr std::chrono::seconds kPlanReadLimit{10};

// Reads the plan, at most kMaxPlanFileBytes of it: a larger regular file is
// refused by its size before a byte is read, a pipe or a device once one byte
// more has come or kPlanReadLimit has passed. Nothing when it was read, else
// the one-line reason.
std::optional<std::string> ReadPlanText(const std::string& path, std::string& text) {
    std::string reason;
    switch (ReadFileBounded(path, kMaxPlanFileBytes, kPlanReadLimit, text, reason)) {
        case BoundedRead::Ok:
            return std::nullopt;
        case BoundedRead::TooLarge:
            return "the plan " + QuotedText(path) + " is larger than " +
                   std::to_string(kMaxPlanFileBytes / (1024 * 1024)) +
                   " MB; a plan holds one short line per camera";
        case BoundedRead::TooSlow:
            return "the plan " + QuotedText(path) + " did not end within " +
                   std::to_string(kPlanReadLimit.count()) + " s (a pipe whose writer stays open?)";
        case BoundedRead::Failed:
            break;
    }
    return "cannot read the plan " + QuotedText(path) + " (" + reason + ")";
}

std::filesystem::path RollbackDirectory(const NetworkConfig& config) {
    return config.stateDirectory.empty() ? UserStateDirectory() : config.stateDirectory;
}

// Probes on the interfaces the configuration gives (the host's by default).
AddressProber ConfiguredProbe(const NetworkConfig& config) {
    return [&config](const std::vector<std::uint32_t>& addresses) {
        return ProbeAddresses(addresses, ConfiguredInterfaces(config));
    };
}

// What the probe found in a plan: the addresses passed over because
// something answered there, and those that could not be probed.
void SayProbed(const ProvisioningPlan& plan, std::ostream& err) {
    for (const SkippedAddress& skipped : plan.skipped) {
        if (skipped.reason == SkipReason::Answered) {
            err << "skipped " << FormatIpv4(skipped.address) << ": "
                << SkipReasonText(skipped.reason) << "\n";
        }
    }
    if (!plan.unprobed.empty()) {
        err << UnprobedText(plan.unprobed) << "\n";
    }
}

// A run that ended before sending: why, and for a rollback plan that could
// not be written, how to go on.
void SayNothingSent(const ProvisioningSession& session, std::ostream& err) {
    err << kPrefix << EscapeControls(session.Failure()) << "; nothing was sent";
    if (!session.RollbackError().empty()) {
        err << ". Free the disk, make the folder writable, set XDG_STATE_HOME to a writable"
               " folder, or give --no-rollback to send without a way back";
    }
    err << "\n";
}

void SayRollback(const ProvisioningSession& session, std::ostream& err) {
    if (!session.RollbackPath().empty()) {
        err << "rollback plan: " << EscapeControls(session.RollbackPath().string()) << "\n";
    } else if (!session.RollbackError().empty()) {
        err << kPrefix << EscapeControls(session.RollbackError()) << "\n";
    }
}

}  // namespace

std::vector<Ipv4Interface> ConfiguredInterfaces(const NetworkConfig& config) {
    return config.interfaces ? config.interfaces() : ListBroadcastInterfaces();
}

bool CheckInterfaceName(const NetworkConfig& config, const std::string& name, std::ostream& err) {
    if (name.empty()) {
        return true;
    }
    const std::vector<Ipv4Interface> interfaces = ConfiguredInterfaces(config);
    if (std::any_of(interfaces.begin(), interfaces.end(),
                    [&](const Ipv4Interface& i) { return i.name == name; })) {
        return true;
    }
    // Names as the system gives them, control characters as \xNN.
    err << kPrefix << "no up, broadcast-capable IPv4 interface is named '" << EscapeControls(name)
        << "'; there are:";
    for (const Ipv4Interface& i : interfaces) {
        err << " " << EscapeControls(i.name) << " (" << i.address << ")";
    }
    err << (interfaces.empty() ? " none\n" : "\n");
    return false;
}

CliNetwork::CliNetwork(const NetworkConfig& config, std::string onlyInterface)
    : config_(config),
      onlyInterface_(std::move(onlyInterface)),
      queue_({}, config.maxPendingReplies),
      log_(config.errorLogDirectory),
      worker_(searchId_, queue_, log_, config.receiver),
      command_(searchId_, config.searchDestination, config.interfaces),
      broadcaster_(config.settingsDestination, SystemSeconds, config.interfaces) {}

CliNetwork::~CliNetwork() {
    worker_.Stop();
}

bool CliNetwork::Open(std::ostream& err) {
    // The receive port is bound before anything leaves, so that a camera
    // that answers at once is heard, and a change that cannot be confirmed
    // is not sent.
    if (!worker_.Bind()) {
        // Named as --diagnose and the window name it: the operator knows
        // what to end (the tool's own window, another run, another program).
        const std::uint16_t port = config_.receiver.bind.port;
        const PortOwnerLookup lookup = UdpPortOwners(port);
        err << kPrefix << "cannot receive on UDP port " << port;
        if (lookup.checked && !lookup.owners.empty()) {
            err << ": it is held by " << EscapeControls(PortOwnersText(lookup.owners))
                << "; end it (or close that window) and try again\n";
        } else {
            err << " (is another program using it?)\n";
        }
        return false;
    }
    if (!worker_.Start()) {
        err << kPrefix << "cannot start the receive worker\n";
        return false;
    }
    return true;
}

ProvisioningHooks CliNetwork::Hooks() {
    ProvisioningHooks hooks;
    hooks.sendRecord = [this](const NetSettingsRecord& record, std::uint32_t arrivalInterface,
                              std::string& failure) {
        return broadcaster_.SendSettingsRecord(record, arrivalInterface, &failure) ==
               BroadcastOutcome::Ok;
    };
    hooks.sendProbe = [this](bool first) { return Probe(first); };
    hooks.sendConfirmationProbe = [this]() -> std::optional<std::uint32_t> {
        lastOutcome_ = command_.Probe();
        if (lastOutcome_ != SearchOutcome::Sent) {
            return std::nullopt;
        }
        return command_.SearchId();
    };
    return hooks;
}

bool CliNetwork::Probe(bool first) {
    lastOutcome_ = first ? command_.Run({}, onlyInterface_) : command_.Repeat();
    return lastOutcome_ == SearchOutcome::Sent;
}

std::optional<std::vector<AcceptedReply>> CliNetwork::Search(std::chrono::milliseconds wait) {
    std::vector<AcceptedReply> replies;
    if (!Search(wait, [&](const std::vector<AcceptedReply>& batch) {
            replies.insert(replies.end(), batch.begin(), batch.end());
        })) {
        return std::nullopt;
    }
    return replies;
}

bool CliNetwork::Search(std::chrono::milliseconds wait,
                        const std::function<void(const std::vector<AcceptedReply>&)>& onBatch) {
    ProvisioningOptions searchOnly;
    searchOnly.searchWait = wait;
    ProvisioningHooks hooks = Hooks();
    hooks.plan = [](const std::vector<FoundCamera>&) { return ProvisioningPlan{}; };
    ProvisioningSession session(searchOnly, std::move(hooks));
    if (!session.StartSearch(ProvisioningSession::Clock::now())) {
        return false;
    }
    // The session only keeps the schedule; the replies go to the caller alone.
    Drive(session, onBatch, false);
    return true;
}

void CliNetwork::Drive(ProvisioningSession& session,
                       const std::function<void(const std::vector<AcceptedReply>&)>& tap,
                       bool feed) {
    using Clock = ProvisioningSession::Clock;
    constexpr auto kLongestSleep = std::chrono::milliseconds(20);
    while (!session.Finished()) {
        const std::vector<AcceptedReply> replies = queue_.TakeAll();
        if (tap && !replies.empty()) {
            tap(replies);
        }
        if (feed) {
            session.OnReplies(replies, Clock::now());
        }
        session.Tick(Clock::now());
        const std::optional<Clock::time_point> due = session.NextDue();
        if (!due) {
            break;
        }
        std::this_thread::sleep_until(std::min(*due, Clock::now() + kLongestSleep));
    }
}

void CliNetwork::Close() {
    worker_.Stop();
}

int RunModifyCommand(const ModifyOptions& options, const NetworkConfig& config, std::ostream& out,
                     std::ostream& err) {
    CliNetwork network(config, "");
    if (!network.Open(err)) {
        err << kPrefix << "nothing was sent\n";
        return 1;
    }
    ProvisioningOptions sessionOptions;
    sessionOptions.searchWait = kModifySearchWait;
    sessionOptions.awaitedIds = {LowerAscii(options.deviceId)};
    sessionOptions.confirmation.timeout = std::chrono::milliseconds(options.verifyWaitMs);
    sessionOptions.confirmation.neighbours = ReachableNeighbours;
    sessionOptions.rollback = !options.noRollback;
    sessionOptions.rollbackDirectory = RollbackDirectory(config);
    ProvisioningHooks hooks = network.Hooks();
    // The checks of a batch: the device ID answered by one MAC, the address
    // not in use (without --force).
    bool refusedByPlan = false;
    hooks.plan = [&](const std::vector<FoundCamera>& found) {
        AssignOrder order;
        order.camera.deviceId = options.deviceId;
        order.newIp = options.ip;
        order.mask = options.mask;
        order.gateway = options.gateway;
        order.mode = options.mode;
        order.newMac = options.mac;
        AssignSurroundings surroundings;
        surroundings.interfaces = ConfiguredInterfaces(config);
        surroundings.neighbours = ReachableNeighbours();
        surroundings.gatewayOf = DefaultGatewayOf;
        surroundings.probe = ConfiguredProbe(config);
        ProvisioningPlan plan = PlanModify(std::move(order), found, surroundings, options.force);
        if (!plan.Ok()) {
            refusedByPlan = true;
            err << kPrefix << EscapeControls(options.deviceId + ": " + plan.error)
                << "; nothing was sent"
                << (plan.overridable ? " (--force sends to an address in use)" : "") << "\n";
        } else {
            SayProbed(plan, err);
        }
        return plan;
    };
    bool outputLost = false;
    int lostErrno = 0;  // why, as the failed write left it
    const auto write = [&](const std::string& line) {
        errno = 0;
        out << line << "\n" << std::flush;
        if (!out && !outputLost) {
            outputLost = true;
            lostErrno = errno;
        }
    };
    // The rollback plan is written before the record leaves; it is named as
    // the record goes, so that an interrupted run still says where it is.
    bool rollbackSaid = false;
    const ProvisioningSession* current = nullptr;
    hooks.onEvent = [&](const ProvisioningEvent& event) {
        if (event.kind == ProvisioningEvent::Kind::Failed && !current->NetworkFailed()) {
            SayNothingSent(*current, err);
            return;
        }
        if (event.kind != ProvisioningEvent::Kind::Result) {
            return;
        }
        if (!rollbackSaid && (event.result == CameraResult::Sent || ReasonNotSent(event.reason))) {
            SayRollback(*current, err);
            rollbackSaid = true;
        }
        switch (event.result) {
            case CameraResult::Sent:
                write(BroadcastOutcomeText(BroadcastOutcome::Ok));
                break;
            case CameraResult::NotConfirmed:
                if (ReasonNotSent(event.reason)) {
                    // The box's word on standard output, why on standard error.
                    write(BroadcastOutcomeText(BroadcastOutcome::Error));
                    err << kPrefix
                        << EscapeControls(
                               NotSentWhy(event.reason, current->Cameras()[event.index].detail))
                        << "\n";
                } else {
                    write(EscapeControls(event.text));
                }
                break;
            case CameraResult::Confirmed:
            case CameraResult::Conflict:
                write(EscapeControls(event.text));
                break;
            case CameraResult::Unverifiable:
                write(EscapeControls(
                    "Unverifiable: " + current->Cameras()[event.index].order.camera.deviceId +
                    ": " + event.text));
                break;
            case CameraResult::Refused:
                err << kPrefix << EscapeControls(options.deviceId + ": " + event.text)
                    << "; nothing was sent\n";
                break;
            case CameraResult::NotFound:
                err << kPrefix << EscapeControls(options.deviceId)
                    << " did not answer the search; nothing was sent\n";
                break;
            case CameraResult::Planned:
                break;
        }
    };
    ProvisioningSession session(sessionOptions, std::move(hooks));
    current = &session;
    if (!session.StartSearch(ProvisioningSession::Clock::now())) {
        err << kPrefix << SearchFailureText(network.LastSearchOutcome()) << "\n";
        return 1;
    }
    network.Drive(session);
    network.Close();
    if (refusedByPlan) {
        return kExitUsage;
    }
    if (outputLost) {
        if (lostErrno != EPIPE) {
            err << kPrefix << "the outcome could not be written out in full\n";
        }
        return 1;
    }
    if (session.NetworkFailed() || !session.RollbackError().empty()) {
        return 1;
    }
    const std::vector<ProvisioningCamera>& cameras = session.Cameras();
    const bool done = !cameras.empty() &&
                      (cameras.front().result == CameraResult::Confirmed ||
                       (cameras.front().result == CameraResult::Sent && options.verifyWaitMs == 0));
    if (!cameras.empty() && cameras.front().result == CameraResult::Refused) {
        return kExitUsage;
    }
    return done ? 0 : kExitNotConfirmed;
}

int RunBatchCommand(CommandMode mode, const BatchOptions& options, const NetworkConfig& config,
                    std::ostream& out, std::ostream& err, const BatchEnvironment& environment) {
    // A plan with a fault sends nothing: it is read and checked before the
    // network is touched.
    PlanFile planFile;
    if (mode == CommandMode::Plan) {
        std::string text;
        const std::optional<std::string> problem =
            environment.readFile ? (environment.readFile(options.planFile, text)
                                        ? std::nullopt
                                        : std::optional<std::string>("cannot read the plan " +
                                                                     QuotedText(options.planFile)))
                                 : ReadPlanText(options.planFile, text);
        if (problem) {
            err << kPrefix << *problem << "\n";
            return kExitUsage;
        }
        planFile = ReadPlanFile(text);
        if (!planFile.Ok()) {
            err << kPrefix << EscapeControls(options.planFile + ": " + planFile.error) << "\n";
            return kExitUsage;
        }
    }
    if (!CheckInterfaceName(config, options.interfaceName, err)) {
        return kExitUsage;
    }
    CliNetwork network(config, options.interfaceName);
    if (!network.Open(err)) {
        return 1;
    }
    // One process, one set of reservations: no two cameras of this run are
    // given one address.
    AddressReservations reservations;
    ProvisioningOptions sessionOptions;
    sessionOptions.searchWait = std::chrono::milliseconds(environment.searchWaitMs);
    sessionOptions.confirmation.timeout = std::chrono::milliseconds(options.verifyWaitMs);
    sessionOptions.confirmation.probeInterval =
        std::chrono::milliseconds(environment.probeIntervalMs);
    sessionOptions.confirmation.neighbours =
        environment.neighbours ? environment.neighbours : ReachableNeighbours;
    sessionOptions.dryRun = options.dryRun;
    sessionOptions.rollback = !options.noRollback;
    sessionOptions.rollbackDirectory = RollbackDirectory(config);
    ProvisioningHooks hooks = network.Hooks();
    const ProvisioningSession* current = nullptr;
    bool rollbackSaid = false;  // named as the first record goes
    // ONVIF devices hold their addresses too: probed beside the search, they
    // are taken when the plan is made.
    OnvifSearchRun onvif(config, options.interfaceName);
    hooks.plan = [&](const std::vector<FoundCamera>& found) {
        AssignSurroundings surroundings;
        surroundings.otherCameras = onvif.Addresses();
        surroundings.interfaces = ConfiguredInterfaces(config);
        surroundings.neighbours =
            environment.neighbours ? environment.neighbours() : ReachableNeighbours();
        surroundings.gatewayOf = environment.gatewayOf ? environment.gatewayOf : DefaultGatewayOf;
        surroundings.probe = environment.probe ? environment.probe : ConfiguredProbe(config);
        surroundings.reserved = reservations.TakenByOthers(current->Holder());
        if (mode == CommandMode::Assign) {
            AssignSelection selection;
            selection.by = options.select == BatchOptions::Select::Ids  ? AssignSelection::By::Ids
                           : options.select == BatchOptions::Select::Ip ? AssignSelection::By::Ip
                                                                        : AssignSelection::By::All;
            selection.ip = options.selectIp;
            selection.ids = options.ids;
            ProvisioningPlan plan =
                PlanAssign(found, selection, {options.from, options.mask, options.gateway},
                           std::move(surroundings));
            SayProbed(plan, err);
            return plan;
        }
        ProvisioningPlan plan = PlanLines(planFile.lines, found, surroundings);
        if (!plan.Ok()) {
            plan.error = options.planFile + ": " + plan.error;
        }
        SayProbed(plan, err);
        return plan;
    };
    hooks.onEvent = [&](const ProvisioningEvent& event) {
        switch (event.kind) {
            case ProvisioningEvent::Kind::Searched:
            case ProvisioningEvent::Kind::Sent:
            case ProvisioningEvent::Kind::Finished:
                err << event.text << "\n";
                break;
            case ProvisioningEvent::Kind::Failed:
                if (current->NetworkFailed()) {
                    break;  // said below, with the search's own words
                }
                SayNothingSent(*current, err);
                break;
            case ProvisioningEvent::Kind::Result:
                if (!rollbackSaid &&
                    (event.result == CameraResult::Sent || ReasonNotSent(event.reason))) {
                    SayRollback(*current, err);
                    rollbackSaid = true;
                }
                // Each camera's end as it comes: "ID old -> new: result (why)".
                if (IsFinalResult(event.result)) {
                    const AssignOrder& order = current->Cameras()[event.index].order;
                    std::string line = order.camera.deviceId + " " +
                                       (order.camera.ip.empty() ? "-" : order.camera.ip) + " -> " +
                                       (order.newIp.empty() ? "-" : order.newIp) + ": " +
                                       CameraResultWord(event.result);
                    if (!event.text.empty() && event.result != CameraResult::Confirmed) {
                        line += " (" + event.text + ")";
                    }
                    err << EscapeControls(line) << "\n";
                }
                break;
            case ProvisioningEvent::Kind::Planned:
                break;
        }
    };
    ProvisioningSession session(sessionOptions, std::move(hooks), &reservations);
    current = &session;
    if (!session.StartSearch(ProvisioningSession::Clock::now())) {
        err << kPrefix << SearchFailureText(network.LastSearchOutcome()) << "\n";
        return 1;
    }
    network.Drive(session);
    network.Close();
    if (!session.Failure().empty()) {
        return session.NetworkFailed() || !session.RollbackError().empty() ? 1 : kExitUsage;
    }

    std::vector<BatchRecord> records;
    for (const ProvisioningCamera& camera : session.Cameras()) {
        const AssignCamera& before = camera.order.camera;
        const AddressingMode mode = camera.order.mode;
        records.push_back({PrintableCell(before.deviceId), PrintableCell(before.mac),
                           PrintableCell(before.ip), camera.order.newIp,
                           CameraResultWord(camera.result), camera.order.mask, camera.order.gateway,
                           AddressingModeWord(mode), camera.reason});
    }
    out << FormatBatchRecords(options.format, records) << std::flush;
    if (!out) {
        err << kPrefix << "the records could not be written out in full\n";
        return 1;
    }
    if (session.NetworkFailed()) {
        err << kPrefix << "some records could not be sent\n";
        return 1;
    }
    if (records.empty()) {
        err << kPrefix << "no camera matched\n";
        return kExitNotConfirmed;
    }
    // Success is evidence: every camera confirmed; a dry run that found and
    // could plan them all; a run told not to wait whose records all went out.
    const CameraResult good = options.dryRun              ? CameraResult::Planned
                              : options.verifyWaitMs == 0 ? CameraResult::Sent
                                                          : CameraResult::Confirmed;
    const bool allGood = std::all_of(session.Cameras().begin(), session.Cameras().end(),
                                     [&](const ProvisioningCamera& c) { return c.result == good; });
    return allGood ? 0 : kExitNotConfirmed;
}

}  // namespace qdipc
