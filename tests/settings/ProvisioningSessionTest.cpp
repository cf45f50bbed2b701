// The provisioning engine on a made-up clock with simulated cameras: the
// sender and the probes reach the cameras in the test, the cameras' replies
// come back through OnReplies, each from the address the camera (or another
// device) answers from.

#include "settings/ProvisioningSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "discovery/DeviceCodecs.h"
#include "settings/SettingsValidation.h"
#include "tests/discovery/TestReplies.h"

namespace qdipc {
namespace {

using namespace std::chrono_literals;
using Clock = ProvisioningSession::Clock;

std::vector<std::string> Texts(const std::vector<std::uint32_t>& addresses) {
    std::vector<std::string> out;
    for (std::uint32_t a : addresses) {
        out.push_back(FormatIpv4(a));
    }
    return out;
}

enum class Behaviour {
    Honest,          // silent for 1 s after the record, then answers with it
    Silent,          // never answers after the record
    Ignores,         // keeps answering with its old settings
    Spoofed,         // ignores it; another host answers with the record's values
    SpoofedSilent,   // falls silent; another host answers with the record's values
    TwoSources,      // honest, but another device answers with its ID as well
    DhcpStale,       // DHCP record; keeps answering unchanged
    DhcpSilentBack,  // DHCP record; silent for 1 s, then the same settings again
    DhcpNewValues,   // DHCP record; answers at once with a leased address
    RecordLost,      // the record never reaches it
    ZeroMac,         // reports MAC 00:00:00:00:00:00: its record breaks the rules
    Absent,          // does not answer the search
    SameValues,      // honest; sent the settings it reports already
    ModeOnly,        // honest, was DHCP; sent static settings of the values it reports
    InFlight,        // ignores it; an answer to the search with the new values arrives late
    DhcpMissEvery2,  // DHCP record; ignores it, and misses every second probe
    DhcpReplayed,    // DHCP record; never answers again; its answer to the search replayed
    SpoofFirst,      // ignores it; another host at the new address answers first
    NoBefore,        // DHCP record; keeps answering unchanged; its before values unknown
    OtherAtNew,      // honest; another device answers at the new address too
    OldThenNew,      // takes it at once; answers the first probe from both addresses
};

struct SimCamera {
    SimCamera(Behaviour b, CameraResult e, test::CameraReply r)
        : behaviour(b), expected(e), reply(std::move(r)) {}

    Behaviour behaviour;
    CameraResult expected;
    test::CameraReply reply;  // what it reports now
    bool dhcp = false;
    Clock::time_point silentUntil{};
    bool silentForever = false;
    std::optional<test::CameraReply> spoofer;  // answers for it from 10.9.9.9
    std::optional<test::CameraReply> before;   // OldThenNew: its settings before
    int probesHeard = 0;
};

// Cameras, their network and the clock.
class SimNetwork {
public:
    std::vector<SimCamera> cameras;
    Clock::time_point now{};
    std::vector<std::pair<Clock::time_point, AcceptedReply>> inFlight;
    int probes = 0;
    std::vector<Clock::time_point> recordTimes;
    // The search ID of the latest request: 1 for the search, then one more
    // for each confirmation probe.
    std::uint32_t searchId = 1;
    // Once, after the third record, the driver ticks this much late.
    Clock::duration lateTick{};

    AcceptedReply From(const test::CameraReply& reply, const std::string& source) const {
        AcceptedReply accepted = reply.Accepted(searchId);
        accepted.sourceAddress = ParseIpv4Strict(source).value_or(0);
        return accepted;
    }

    std::optional<std::uint32_t> FreshProbe() {
        ++searchId;
        Probe(false);
        return searchId;
    }

    bool Probe(bool) {
        ++probes;
        for (SimCamera& camera : cameras) {
            ++camera.probesHeard;
            if (camera.behaviour == Behaviour::OtherAtNew &&
                camera.reply.ip.rfind("10.77.1.", 0) == 0) {
                test::CameraReply other = test::Camera(99);
                other.ip = camera.reply.ip;
                inFlight.emplace_back(now + 5ms, From(other, other.ip));
            }
            if (camera.behaviour == Behaviour::OldThenNew && camera.before) {
                inFlight.emplace_back(now + 5ms, From(*camera.before, camera.before->ip));
                camera.before.reset();
            }
            if (camera.behaviour == Behaviour::DhcpMissEvery2 && camera.probesHeard % 2 == 0) {
                continue;
            }
            if (camera.behaviour == Behaviour::TwoSources) {
                test::CameraReply other = camera.reply;
                other.ip = "10.8.8.8";
                other.mac = {0x02, 0x88, 0, 0, 0, 0x08};
                other.gateway = "10.8.8.1";
                inFlight.emplace_back(now + 5ms, From(other, other.ip));
            }
            if (camera.spoofer) {
                const bool atNew = camera.behaviour == Behaviour::SpoofFirst;
                inFlight.emplace_back(
                    now + (atNew ? 2ms : 5ms),
                    From(*camera.spoofer, atNew ? camera.spoofer->ip : "10.9.9.9"));
            }
            const bool silent = camera.silentForever || now < camera.silentUntil ||
                                (camera.behaviour == Behaviour::Absent);
            if (!silent) {
                inFlight.emplace_back(now + 10ms, From(camera.reply, camera.reply.ip));
            }
        }
        return true;
    }

    bool Record(const NetSettingsRecord& record) {
        recordTimes.push_back(now);
        for (SimCamera& camera : cameras) {
            if (!std::equal(camera.reply.devId.begin(), camera.reply.devId.end(),
                            record.bytes.begin() + record::kDevId)) {
                continue;
            }
            test::CameraReply applied = camera.reply;
            applied.ip = record.Text(record::kIp);
            applied.mask = record.Text(record::kMask);
            applied.gateway = record.Text(record::kGateway);
            std::copy_n(record.bytes.begin() + record::kMac, 6, applied.mac.begin());
            switch (camera.behaviour) {
                case Behaviour::Honest:
                case Behaviour::TwoSources:
                case Behaviour::SameValues:
                case Behaviour::ModeOnly:
                case Behaviour::OtherAtNew:
                    camera.reply = applied;
                    camera.silentUntil = now + 1s;
                    break;
                case Behaviour::OldThenNew:
                    camera.before = camera.reply;
                    camera.reply = applied;
                    break;
                case Behaviour::InFlight: {
                    // Sent before the record, under the search's ID.
                    AcceptedReply late = From(applied, applied.ip);
                    late.searchId = 1;
                    inFlight.emplace_back(now + 5ms, late);
                    break;
                }
                case Behaviour::DhcpReplayed: {
                    AcceptedReply replayed = From(camera.reply, camera.reply.ip);
                    replayed.searchId = 1;
                    inFlight.emplace_back(now + 1400ms, replayed);
                    camera.silentForever = true;
                    break;
                }
                case Behaviour::SpoofFirst:
                    camera.spoofer = applied;
                    break;
                case Behaviour::Silent:
                    camera.silentForever = true;
                    break;
                case Behaviour::Spoofed:
                    camera.spoofer = applied;
                    break;
                case Behaviour::SpoofedSilent:
                    camera.spoofer = applied;
                    camera.silentForever = true;
                    break;
                case Behaviour::DhcpSilentBack:
                    camera.silentUntil = now + 1s;
                    break;
                case Behaviour::DhcpNewValues:
                    camera.reply.ip = "10.77.3." + std::to_string(camera.reply.devId[7]);
                    break;
                case Behaviour::Ignores:
                case Behaviour::DhcpStale:
                case Behaviour::DhcpMissEvery2:
                case Behaviour::NoBefore:
                case Behaviour::RecordLost:
                case Behaviour::ZeroMac:
                case Behaviour::Absent:
                    break;
            }
        }
        return true;
    }

    // Runs the session to its end (at most 60 s of made-up time).
    void Drive(ProvisioningSession& session) {
        for (int step = 0; step < 100000 && !session.Finished(); ++step) {
            std::optional<Clock::time_point> next = session.NextDue();
            for (const auto& [at, reply] : inFlight) {
                next = next ? std::min(*next, at) : at;
            }
            ASSERT_TRUE(next.has_value());
            now = std::max(now, *next);
            if (lateTick.count() > 0 && recordTimes.size() == 3) {
                now += lateTick;
                lateTick = {};
            }
            ASSERT_LT(now, Clock::time_point{} + 60s);
            std::vector<AcceptedReply> arrived;
            std::stable_sort(inFlight.begin(), inFlight.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            while (!inFlight.empty() && inFlight.front().first <= now) {
                arrived.push_back(inFlight.front().second);
                inFlight.erase(inFlight.begin());
            }
            session.OnReplies(arrived, now);
            session.Tick(now);
        }
    }
};

ProvisioningHooks HooksFor(SimNetwork& network) {
    ProvisioningHooks hooks;
    hooks.sendProbe = [&network](bool first) { return network.Probe(first); };
    hooks.sendConfirmationProbe = [&network] { return network.FreshProbe(); };
    hooks.sendRecord = [&network](const NetSettingsRecord& record, std::uint32_t, std::string&) {
        return network.Record(record);
    };
    return hooks;
}

// Every camera found gets 10.77.1.N (or DHCP); the absent one is asked for.
ProvisioningPlan PlanFor(const SimNetwork& network, const std::vector<FoundCamera>& found) {
    ProvisioningPlan plan;
    for (const SimCamera& camera : network.cameras) {
        const std::string id = FormatDeviceId(camera.reply.devId.data());
        const auto at = std::find_if(found.begin(), found.end(),
                                     [&](const FoundCamera& f) { return f.camera.deviceId == id; });
        AssignOrder order;
        order.newIp = camera.dhcp ? "" : "10.77.1." + std::to_string(camera.reply.devId[7]);
        order.mask = camera.dhcp ? "" : "255.255.0.0";
        order.gateway = camera.dhcp ? "" : "10.77.0.1";
        order.mode = camera.dhcp ? AddressingMode::Dhcp : AddressingMode::Static;
        if (camera.behaviour == Behaviour::SameValues || camera.behaviour == Behaviour::ModeOnly) {
            order.newIp = camera.reply.ip;
            order.mask = camera.reply.mask;
            order.gateway = camera.reply.gateway;
        }
        if (at == found.end()) {
            order.camera.deviceId = id;
            plan.notFound.push_back(order);
        } else {
            order.camera = at->camera;
            if (camera.behaviour == Behaviour::NoBefore) {
                // As from a window whose row is gone: nothing known before.
                order.camera.ip.clear();
                order.camera.mask.clear();
                order.camera.gateway.clear();
            }
            plan.orders.push_back(order);
        }
    }
    return plan;
}

TEST(ProvisioningSessionTest, EachCameraEndsByTheEvidenceItGives) {
    const std::vector<std::pair<Behaviour, CameraResult>> table = {
        {Behaviour::Honest, CameraResult::Confirmed},
        {Behaviour::Silent, CameraResult::NotConfirmed},
        {Behaviour::Ignores, CameraResult::NotConfirmed},
        {Behaviour::Spoofed, CameraResult::Conflict},
        {Behaviour::SpoofedSilent, CameraResult::NotConfirmed},
        {Behaviour::TwoSources, CameraResult::Conflict},
        {Behaviour::DhcpStale, CameraResult::NotConfirmed},
        {Behaviour::DhcpSilentBack, CameraResult::Confirmed},
        {Behaviour::DhcpNewValues, CameraResult::Confirmed},
        {Behaviour::RecordLost, CameraResult::NotConfirmed},
        {Behaviour::ZeroMac, CameraResult::Refused},
        {Behaviour::Absent, CameraResult::NotFound},
        {Behaviour::SameValues, CameraResult::Unverifiable},
        {Behaviour::ModeOnly, CameraResult::Unverifiable},
        {Behaviour::InFlight, CameraResult::NotConfirmed},
        {Behaviour::DhcpMissEvery2, CameraResult::NotConfirmed},
        {Behaviour::DhcpReplayed, CameraResult::NotConfirmed},
        {Behaviour::SpoofFirst, CameraResult::Conflict},
        {Behaviour::NoBefore, CameraResult::NotConfirmed},
        {Behaviour::OtherAtNew, CameraResult::Conflict},
        {Behaviour::OldThenNew, CameraResult::Confirmed},
    };
    SimNetwork network;
    for (std::size_t i = 0; i < table.size(); ++i) {
        SimCamera camera{table[i].first, table[i].second,
                         test::Camera(static_cast<std::uint32_t>(i + 1))};
        camera.dhcp = camera.behaviour == Behaviour::DhcpStale ||
                      camera.behaviour == Behaviour::DhcpSilentBack ||
                      camera.behaviour == Behaviour::DhcpNewValues ||
                      camera.behaviour == Behaviour::DhcpMissEvery2 ||
                      camera.behaviour == Behaviour::DhcpReplayed ||
                      camera.behaviour == Behaviour::NoBefore;
        camera.reply.gateway = "10.0.0.254";
        if (camera.behaviour == Behaviour::ZeroMac) {
            camera.reply.mac = {};
        }
        network.cameras.push_back(camera);
    }
    const std::filesystem::path rollback =
        std::filesystem::temp_directory_path() /
        ("qdipc-rollback-test-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::remove_all(rollback);
    // The driver ticks 23 ms late once, while records go out.
    network.lateTick = 23ms;

    ProvisioningOptions options;
    options.searchWait = 2s;
    options.rollback = true;
    options.rollbackDirectory = rollback;
    ProvisioningHooks hooks = HooksFor(network);
    hooks.plan = [&](const std::vector<FoundCamera>& found) { return PlanFor(network, found); };
    std::vector<ProvisioningEvent> events;
    Clock::time_point lastConfirmed{};
    hooks.onEvent = [&](const ProvisioningEvent& event) {
        events.push_back(event);
        if (event.kind == ProvisioningEvent::Kind::Result &&
            event.result == CameraResult::Confirmed) {
            lastConfirmed = network.now;
        }
    };
    AddressReservations reservations;
    ProvisioningSession session(options, hooks, &reservations);
    ASSERT_TRUE(session.StartSearch(network.now));
    network.Drive(session);
    ASSERT_TRUE(session.Finished());

    // The search: the request and its repeats at 0.3 s and 1 s.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().text, "20 cameras found");
    ASSERT_EQ(session.Cameras().size(), table.size());
    for (const ProvisioningCamera& camera : session.Cameras()) {
        const auto sim =
            std::find_if(network.cameras.begin(), network.cameras.end(), [&](const SimCamera& s) {
                return FormatDeviceId(s.reply.devId.data()) == camera.order.camera.deviceId;
            });
        ASSERT_NE(sim, network.cameras.end());
        SCOPED_TRACE(static_cast<int>(sim->behaviour));
        EXPECT_EQ(camera.result, sim->expected) << camera.reason;
        if (camera.result == CameraResult::Refused) {
            EXPECT_EQ(camera.reason.rfind("MAC: ", 0), 0u) << camera.reason;
        }
        EXPECT_EQ(camera.reply.has_value(), camera.result == CameraResult::Confirmed);
    }
    // Nineteen records (not the refused one), kAssignPacing apart; after the
    // late tick too, the spacing stays (the tick sends one, not all overdue).
    ASSERT_EQ(network.recordTimes.size(), 19u);
    int spaced = 0;
    for (std::size_t i = 1; i < network.recordTimes.size(); ++i) {
        EXPECT_GE(network.recordTimes[i] - network.recordTimes[i - 1], kAssignPacing) << i;
        spaced += network.recordTimes[i] - network.recordTimes[i - 1] == kAssignPacing ? 1 : 0;
    }
    EXPECT_EQ(spaced, 17);
    // Finished comes last, once, after every camera's final result.
    ASSERT_EQ(events.back().kind, ProvisioningEvent::Kind::Finished);
    // The time is until the last confirmation, not until the last camera
    // gave up.
    ASSERT_FALSE(network.recordTimes.empty());
    EXPECT_EQ(events.back().text,
              "4 of 20 confirmed in " +
                  std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     lastConfirmed - network.recordTimes.front())
                                     .count()) +
                  " ms");
    EXPECT_LT(lastConfirmed, network.now);
    EXPECT_EQ(
        std::count_if(events.begin(), events.end(),
                      [](const auto& e) { return e.kind == ProvisioningEvent::Kind::Finished; }),
        1);
    // Every camera's final result came as an event, the one not found too.
    for (std::size_t i = 0; i < session.Cameras().size(); ++i) {
        const auto last = std::find_if(events.rbegin(), events.rend(), [&](const auto& e) {
            return e.kind == ProvisioningEvent::Kind::Result && e.index == i;
        });
        ASSERT_NE(last, events.rend()) << i;
        EXPECT_EQ(last->result, session.Cameras()[i].result) << i;
    }
    // The reservations are let go at the end.
    EXPECT_TRUE(reservations.TakenByOthers(reservations.NewHolder()).empty());

    // The rollback plan names the eighteen cameras whose record went out and
    // whose settings before are known, with the settings they reported
    // before, and reads back as a plan.
    ASSERT_FALSE(session.RollbackPath().empty());
    std::ifstream file(session.RollbackPath(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(text, session.RollbackPlanText());
    EXPECT_EQ(text.rfind("dev_id,mac,ip,mask,gateway,mode,new_mac,restore\r\n0011aabb-00000001,"
                         "00:1a:2b:3c:4d:5e,10.0.0.1,255.255.255.0,10.0.0.254,static,,yes\r\n",
                         0),
              0u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rollback),
                            std::filesystem::directory_iterator()),
              1);
    const PlanFile back = ReadPlanFile(text);
    ASSERT_TRUE(back.Ok()) << back.error;
    EXPECT_EQ(back.lines.size(), 18u);
    file.close();  // Windows removes no file that is open
    std::filesystem::remove_all(rollback);
}

// A session driven only until its records are out: changes still wait.
TEST(ProvisioningSessionTest, ReservationsKeepRunsApart) {
    SimNetwork network;
    network.cameras.push_back({Behaviour::Silent, CameraResult::NotConfirmed, test::Camera(1)});
    AddressReservations reservations;
    const auto order = [](const test::CameraReply& reply, const std::string& ip) {
        AssignOrder o;
        o.camera = {FormatDeviceId(reply.devId.data()),
                    "00:1a:2b:3c:4d:5e",
                    reply.ip,
                    reply.mask,
                    reply.gateway,
                    0};
        o.newIp = ip;
        o.mask = "255.255.0.0";
        o.gateway = "10.77.0.1";
        return o;
    };
    ProvisioningOptions options;
    ProvisioningSession first(options, HooksFor(network), &reservations);
    first.Start({order(test::Camera(1), "10.77.1.1")}, network.now);
    network.now += 1s;
    first.Tick(network.now);
    EXPECT_EQ(first.Cameras()[0].result, CameraResult::Sent);

    // Another plan avoids the address in flight; another run cannot take
    // the camera, nor give its address to another camera.
    AssignSurroundings surroundings;
    const AddressReservations::Holder dialog = reservations.NewHolder();
    surroundings.reserved = reservations.TakenByOthers(dialog);
    const BatchPlan plan = PlanBatch({order(test::Camera(2), "").camera},
                                     {"10.77.1.1", "255.255.0.0", "10.77.0.1"}, surroundings);
    ASSERT_TRUE(plan.Ok()) << plan.error;
    EXPECT_EQ(plan.newIps[0], "10.77.1.2");
    ASSERT_EQ(plan.skipped.size(), 1u);
    EXPECT_EQ(plan.skipped[0].reason, SkipReason::Reserved);
    EXPECT_TRUE(reservations.ReserveAddress(dialog, 0x0A4D0102u));

    ProvisioningSession second(options, HooksFor(network), &reservations);
    second.Start({order(test::Camera(1), "10.77.1.3"), order(test::Camera(3), "10.77.1.1"),
                  order(test::Camera(4), "10.77.1.2"), order(test::Camera(5), "10.77.1.5"),
                  order(test::Camera(5), "10.77.1.6")},
                 network.now);
    ASSERT_EQ(second.Cameras().size(), 5u);
    EXPECT_EQ(second.Cameras()[0].result, CameraResult::Refused);
    EXPECT_EQ(second.Cameras()[0].why, ResultReason::CameraBusy);
    EXPECT_EQ(second.Cameras()[0].reason,
              "a change for this camera is still waiting in another run");
    EXPECT_EQ(second.Cameras()[1].result, CameraResult::Refused);
    EXPECT_EQ(second.Cameras()[1].why, ResultReason::AddressInOtherRun);
    EXPECT_EQ(second.Cameras()[1].reason, "10.77.1.1 is planned for another camera in another run");
    EXPECT_EQ(second.Cameras()[2].result, CameraResult::Refused);  // the dialog's
    EXPECT_EQ(second.Cameras()[3].result, CameraResult::Sent);
    // One camera, one change per run: the second order for it is refused
    // before anything is sent, not sent and then counted as replaced.
    EXPECT_EQ(second.Cameras()[4].result, CameraResult::Refused);
    EXPECT_EQ(second.Cameras()[4].why, ResultReason::NamedTwice);
    EXPECT_EQ(second.Cameras()[4].reason, "another change for this camera is in the same run");

    // Once the first run ends, its camera and address are free again.
    network.Drive(first);
    EXPECT_EQ(first.Cameras()[0].result, CameraResult::NotConfirmed);
    EXPECT_FALSE(reservations.CameraTakenByOther(dialog, first.Cameras()[0].order.camera.deviceId));
    EXPECT_FALSE(reservations.AddressTakenByOther(dialog, 0x0A4D0101u));
    EXPECT_TRUE(reservations.AddressTakenByOther(second.Holder(), 0x0A4D0102u));
}

// Orders planned earlier (a dialog) are probed once more just before the
// first record: an address that answers now is refused alone, unless the
// operator chose to send anyway. A camera keeping its address is not asked.
TEST(ProvisioningSessionTest, AnAddressThatAnswersJustBeforeSendingIsRefused) {
    const auto order = [](int n, const std::string& ip) {
        const test::CameraReply reply = test::Camera(n);
        AssignOrder o;
        o.camera = {FormatDeviceId(reply.devId.data()),
                    "00:1a:2b:3c:4d:5e",
                    reply.ip,
                    reply.mask,
                    reply.gateway,
                    0};
        o.newIp = ip.empty() ? reply.ip : ip;
        o.mask = "255.0.0.0";
        o.gateway = "10.0.0.254";
        return o;
    };
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "forced" : "checked");
        SimNetwork network;
        std::vector<std::uint32_t> asked;
        ProvisioningHooks hooks = HooksFor(network);
        hooks.probeAddresses = [&](const std::vector<std::uint32_t>& addresses) {
            asked.insert(asked.end(), addresses.begin(), addresses.end());
            std::vector<ProbeAnswer> answers;
            for (std::uint32_t address : addresses) {
                answers.push_back(FormatIpv4(address) == "10.77.1.2" ? ProbeAnswer::Answered
                                                                     : ProbeAnswer::Silent);
            }
            return answers;
        };
        ProvisioningOptions options;
        options.force = force;
        options.confirmation.timeout = 0ms;
        ProvisioningSession session(options, std::move(hooks));
        const std::vector<AssignOrder> orders = {order(1, "10.77.1.1"), order(2, "10.77.1.2"),
                                                 order(3, "")};
        session.Start(orders, network.now);
        for (int tick = 0; tick < 10; ++tick) {  // one record per tick, paced
            network.now += 10ms;
            session.Tick(network.now);
        }
        ASSERT_EQ(session.Cameras().size(), 3u);
        EXPECT_EQ(session.Cameras()[0].result, CameraResult::Sent);
        EXPECT_EQ(session.Cameras()[2].result, CameraResult::Sent);
        if (force) {
            EXPECT_TRUE(asked.empty());
            EXPECT_EQ(session.Cameras()[1].result, CameraResult::Sent);
            EXPECT_EQ(network.recordTimes.size(), 3u);
        } else {
            EXPECT_EQ(Texts(asked), (std::vector<std::string>{"10.77.1.1", "10.77.1.2"}));
            EXPECT_EQ(session.Cameras()[1].result, CameraResult::Refused);
            EXPECT_EQ(session.Cameras()[1].reason,
                      "10.77.1.2 is taken: something answered at this address just before "
                      "sending");
            EXPECT_EQ(network.recordTimes.size(), 2u);
        }
    }
}

// No record leaves before its way back is on the disk: where the rollback
// plan cannot be written, the run ends before sending, says why, and leaves
// no file.
TEST(ProvisioningSessionTest, NoRecordLeavesWithoutItsWayBack) {
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() /
        ("qdipc-rollback-fail-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(base);
    std::ofstream(base / "a-file") << "in the way";
    struct Case {
        const char* name;
        std::filesystem::path folder;
        bool diskFull;
        const char* said;
    };
    const Case cases[] = {
        {"no state directory", {}, false, "neither XDG_STATE_HOME nor HOME is set"},
        {"a file where the folder should be", base / "a-file" / "qd_ip_search", false,
         "could not be written to"},
        {"a full disk", base / "full", true, "(No space left on device)"},
        {"written", base / "ok", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimNetwork network;
        network.cameras.push_back({Behaviour::Honest, CameraResult::Confirmed, test::Camera(1)});
        network.cameras.push_back({Behaviour::Honest, CameraResult::Confirmed, test::Camera(2)});
        ProvisioningOptions options;
        options.searchWait = 2s;
        options.rollback = true;
        options.rollbackDirectory = c.folder;
        ProvisioningHooks hooks = HooksFor(network);
        hooks.plan = [&](const std::vector<FoundCamera>& found) { return PlanFor(network, found); };
        if (c.diskFull) {
            // The disk fills as the plan is written: the writer leaves
            // nothing behind and says so.
            hooks.writeFile = [](const std::filesystem::path&, const std::string&,
                                 std::string& error) {
                error = "No space left on device";
                return false;
            };
        }
        std::vector<ProvisioningEvent> failed;
        hooks.onEvent = [&](const ProvisioningEvent& event) {
            if (event.kind == ProvisioningEvent::Kind::Failed) {
                failed.push_back(event);
            }
        };
        AddressReservations reservations;
        ProvisioningSession session(options, hooks, &reservations);
        ASSERT_TRUE(session.StartSearch(network.now));
        network.Drive(session);
        ASSERT_TRUE(session.Finished());
        if (c.said == nullptr) {
            EXPECT_EQ(network.recordTimes.size(), 2u);
            EXPECT_TRUE(failed.empty());
            EXPECT_TRUE(std::filesystem::exists(session.RollbackPath()));
            continue;
        }
        EXPECT_TRUE(network.recordTimes.empty()) << "a record left without a rollback plan";
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_NE(failed[0].text.find(c.said), std::string::npos) << failed[0].text;
        EXPECT_EQ(session.Failure(), session.RollbackError());
        EXPECT_TRUE(session.RollbackPath().empty());
        EXPECT_EQ(session.CountOf(CameraResult::Sent) + session.CountOf(CameraResult::Confirmed),
                  0u);
        // The reservations are let go: the run holds nothing.
        EXPECT_TRUE(reservations.TakenByOthers(reservations.NewHolder()).empty());
        if (!c.folder.empty() && std::filesystem::is_directory(c.folder)) {
            EXPECT_TRUE(std::filesystem::is_empty(c.folder)) << "a partial file is left";
        }
    }
    std::filesystem::remove_all(base);
}

// The rollback plan restores what each camera reported: an empty or unusual
// gateway as it was, a changed MAC through new_mac (found by the MAC it
// answers with afterwards), a DHCP camera as DHCP where that is known, and
// it is written by the one CSV writer: camera text that looks like a formula
// starts with an apostrophe, a comma is quoted, a control byte is \xNN.
TEST(ProvisioningSessionTest, TheRollbackPlanRestoresWhatEachCameraReported) {
    const auto camera = [](int n, std::string ip, std::string gateway) {
        AssignOrder o;
        o.camera = {"0011aabb-0000000" + std::to_string(n),
                    "00:1a:2b:3c:4d:0" + std::to_string(n),
                    std::move(ip),
                    "255.255.255.0",
                    std::move(gateway),
                    0};
        o.newIp = "10.77.1." + std::to_string(n);
        o.mask = "255.255.0.0";
        o.gateway = "10.77.0.1";
        return o;
    };
    std::vector<AssignOrder> orders = {
        camera(1, "192.168.1.64", ""),
        camera(2, "192.168.1.64", "0.0.0.0"),
        camera(3, "192.168.1.64", "10.9.9.9"),
        camera(4, "192.168.1.64", "=HYPERLINK(\"x\",1)"),
        camera(5, "192.168.1.64", "a,b\x1b[31m"),
        camera(6, "10.0.0.6", "10.0.0.1"),
    };
    orders[3].newMac = "02:00:00:00:00:04";
    orders[5].camera.mode = AddressingMode::Dhcp;
    ProvisioningOptions options;
    options.dryRun = true;
    ProvisioningSession session(options, {});
    session.Start(orders, Clock::time_point{});
    EXPECT_EQ(
        session.RollbackPlanText(),
        "dev_id,mac,ip,mask,gateway,mode,new_mac,restore\r\n"
        "0011aabb-00000001,00:1a:2b:3c:4d:01,192.168.1.64,255.255.255.0,,static,,yes\r\n"
        "0011aabb-00000002,00:1a:2b:3c:4d:02,192.168.1.64,255.255.255.0,0.0.0.0,static,,yes\r\n"
        "0011aabb-00000003,00:1a:2b:3c:4d:03,192.168.1.64,255.255.255.0,10.9.9.9,static,,yes\r\n"
        "0011aabb-00000004,02:00:00:00:00:04,192.168.1.64,255.255.255.0,"
        "\"'=HYPERLINK(\"\"x\"\",1)\",static,00:1a:2b:3c:4d:04,yes\r\n"
        "0011aabb-00000005,00:1a:2b:3c:4d:05,192.168.1.64,255.255.255.0,"
        "\"a,b\\x1b[31m\",static,,yes\r\n"
        "0011aabb-00000006,00:1a:2b:3c:4d:06,10.0.0.6,255.255.255.0,10.0.0.1,dhcp,,yes\r\n");

    // Read back, the lines are restores: the shared factory address, the
    // empty and unusual gateways pass; the two gateways that are no address
    // are refused alone, with their column.
    const PlanFile back = ReadPlanFile(session.RollbackPlanText());
    ASSERT_TRUE(back.Ok()) << back.error;
    ASSERT_EQ(back.lines.size(), 6u);
    for (std::size_t i = 0; i < back.lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(back.lines[i].restore);
        EXPECT_EQ(back.lines[i].refusal.empty(), i != 3 && i != 4) << back.lines[i].refusal;
    }
    EXPECT_EQ(back.lines[3].refusal.rfind("column gateway: ", 0), 0u) << back.lines[3].refusal;
    EXPECT_EQ(back.lines[3].mac, "02:00:00:00:00:04");
    EXPECT_EQ(back.lines[3].newMac, "00:1a:2b:3c:4d:04");
    EXPECT_EQ(back.lines[5].mode, AddressingMode::Dhcp);
}

}  // namespace
}  // namespace qdipc
