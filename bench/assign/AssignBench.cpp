// bench_assign: a batch assignment on the provisioning engine, from the search
// to the last confirmation, in real time, against cameras simulated in the
// process (no socket: nothing leaves the program). Prints figures; asserts
// nothing.
//
//   bench_assign [--cameras N] [--runs N] [--restart-ms MS]
//
// Each run searches for 2 s (the command line's wait), assigns every camera a
// new address from 10.200.0.1/16 with records paced kAssignPacing apart, and
// waits for each camera's evidence. A camera that takes its record is silent
// for MS milliseconds (1000 by default), then answers every probe from its
// new address with its new settings. It prints the phases' times from the
// engine's own events, the whole run's time and how many cameras confirmed.
//
// Then, with another host answering every probe for every camera with the
// camera's new settings from its own address (k spoofed replies per camera
// per probe): how many honest cameras still confirm, and how many cameras
// that ignore their record would be taken as confirmed (must be none).
//
// Then the cost per reply of the confirmation and of its source-address
// check alone.
//
// Last (Linux, root; skipped otherwise), the active address probe of a whole
// /24 on a private veth link in network namespaces the benchmark makes, with
// 40 addresses answering: the time, and how many answered.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "discovery/DeviceCodecs.h"
#include "platform/AddressProbe.h"
#include "settings/ProvisioningSession.h"
#include "settings/SettingsValidation.h"
#ifdef __linux__
#include "tests/platform/ProbeLab.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using qdipc::AcceptedReply;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Camera {
    std::uint32_t number = 0;
    std::string ip, mask, gateway;
    std::uint8_t mac[6] = {};
    bool ignores = false;
    bool applied = false;
    Clock::time_point silentUntil{};
    std::string newIp, newMask, newGateway;  // of the record it got

    AcceptedReply Reply(const std::string& i, const std::string& m, const std::string& g,
                        const std::string& source) const {
        std::uint8_t b[qdipc::kDeviceInfoReplySize] = {0xD4, 0xED, 0xCB, 0xB3};
        const std::uint8_t id[8] = {0x00,
                                    0x11,
                                    0xaa,
                                    0xbb,
                                    static_cast<std::uint8_t>(number >> 24),
                                    static_cast<std::uint8_t>(number >> 16),
                                    static_cast<std::uint8_t>(number >> 8),
                                    static_cast<std::uint8_t>(number)};
        std::memcpy(b + qdipc::reply::kDevId, id, 8);
        std::memcpy(b + qdipc::reply::kIp, i.data(), i.size());
        std::memcpy(b + qdipc::reply::kMac, mac, 6);
        std::memcpy(b + qdipc::reply::kMask, m.data(), m.size());
        std::memcpy(b + qdipc::reply::kGateway, g.data(), g.size());
        AcceptedReply accepted{qdipc::DeviceInfoReply(b, sizeof b), 0, 0, 0};
        accepted.sourceAddress = qdipc::ParseIpv4Strict(source).value_or(0);
        return accepted;
    }
};

struct RunFigures {
    double whole = 0, sending = 0, confirming = 0;
    std::size_t confirmed = 0, conflict = 0, notConfirmed = 0;
};

RunFigures Run(std::size_t count, std::chrono::milliseconds restart, int spoofsPerProbe,
               bool ignoring) {
    std::vector<Camera> cameras(count);
    for (std::size_t i = 0; i < count; ++i) {
        Camera& c = cameras[i];
        c.number = static_cast<std::uint32_t>(i + 1);
        c.ip = "192.168.1.168";  // factory cameras share an address
        c.mask = "255.255.255.0";
        c.gateway = "192.168.1.1";
        c.mac[0] = 0x02;
        c.mac[4] = static_cast<std::uint8_t>(c.number >> 8);
        c.mac[5] = static_cast<std::uint8_t>(c.number);
        c.ignores = ignoring;
    }
    std::vector<AcceptedReply> inbox;
    std::uint32_t searchId = 0;
    qdipc::ProvisioningHooks hooks;
    hooks.sendProbe = [&](bool) {
        const Clock::time_point now = Clock::now();
        for (const Camera& c : cameras) {
            if (c.applied && !c.ignores) {
                if (now >= c.silentUntil) {
                    inbox.push_back(c.Reply(c.newIp, c.newMask, c.newGateway, c.newIp));
                }
            } else {
                inbox.push_back(c.Reply(c.ip, c.mask, c.gateway, c.ip));
            }
            for (int k = 0; k < spoofsPerProbe && c.applied; ++k) {
                inbox.push_back(c.Reply(c.newIp, c.newMask, c.newGateway, "10.200.255.200"));
            }
        }
        for (AcceptedReply& reply : inbox) {
            reply.searchId = searchId;
        }
        return true;
    };
    // Each confirmation probe under a fresh search ID, which its replies carry.
    hooks.sendConfirmationProbe = [&]() -> std::optional<std::uint32_t> {
        ++searchId;
        hooks.sendProbe(false);
        return searchId;
    };
    hooks.sendRecord = [&](const qdipc::NetSettingsRecord& record, std::uint32_t, std::string&) {
        const std::uint32_t number =
            (std::uint32_t{record.bytes[qdipc::record::kDevId + 4]} << 24) |
            (std::uint32_t{record.bytes[qdipc::record::kDevId + 5]} << 16) |
            (std::uint32_t{record.bytes[qdipc::record::kDevId + 6]} << 8) |
            record.bytes[qdipc::record::kDevId + 7];
        Camera& c = cameras[number - 1];
        c.applied = true;
        c.silentUntil = Clock::now() + restart;
        c.newIp = record.Text(qdipc::record::kIp);
        c.newMask = record.Text(qdipc::record::kMask);
        c.newGateway = record.Text(qdipc::record::kGateway);
        return true;
    };
    hooks.plan = [](const std::vector<qdipc::FoundCamera>& found) {
        qdipc::AssignSelection all;
        return qdipc::PlanAssign(found, all, {"10.200.0.1", "255.255.0.0", "10.200.255.254"}, {});
    };
    Clock::time_point plannedAt{};  // the first record goes out
    Clock::time_point sentAt{};     // the last one has
    hooks.onEvent = [&](const qdipc::ProvisioningEvent& event) {
        if (event.kind == qdipc::ProvisioningEvent::Kind::Planned) {
            plannedAt = Clock::now();
        } else if (event.kind == qdipc::ProvisioningEvent::Kind::Sent) {
            sentAt = Clock::now();
        }
    };
    qdipc::ProvisioningOptions options;
    options.searchWait = std::chrono::milliseconds(2000);
    qdipc::ProvisioningSession session(options, hooks);
    const Clock::time_point start = Clock::now();
    session.StartSearch(start);
    while (!session.Finished()) {
        std::vector<AcceptedReply> arrived;
        arrived.swap(inbox);
        session.OnReplies(arrived, Clock::now());
        session.Tick(Clock::now());
        const auto due = session.NextDue();
        if (!due) {
            break;
        }
        std::this_thread::sleep_until(std::min(*due, Clock::now() + std::chrono::milliseconds(20)));
    }
    const Clock::time_point end = Clock::now();
    RunFigures figures;
    figures.whole = Seconds(end - start);
    figures.sending = Seconds(sentAt - plannedAt);
    figures.confirming = Seconds(end - sentAt);
    figures.confirmed = session.CountOf(qdipc::CameraResult::Confirmed);
    figures.conflict = session.CountOf(qdipc::CameraResult::Conflict);
    figures.notConfirmed = session.CountOf(qdipc::CameraResult::NotConfirmed);
    return figures;
}

void ReplyCosts() {
    constexpr std::uint32_t kPending = 500;
    constexpr int kReplies = 2'000'000;
    std::vector<Camera> cameras(kPending);
    qdipc::ChangeConfirmation confirmation;
    std::vector<AcceptedReply> replies;
    for (std::uint32_t n = 0; n < kPending; ++n) {
        Camera& c = cameras[n];
        c.number = n + 1;
        c.mac[5] = static_cast<std::uint8_t>(n);
        const std::string ip =
            "10.1." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
        std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{0x00, 0x11, 0xaa, 0xbb};
        block[4] = static_cast<std::uint8_t>(c.number >> 24);
        block[5] = static_cast<std::uint8_t>(c.number >> 16);
        block[6] = static_cast<std::uint8_t>(c.number >> 8);
        block[7] = static_cast<std::uint8_t>(c.number);
        confirmation.Add(qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, "10.9.0.1",
                                                  "255.255.0.0", "10.9.0.254", "02:00:00:00:00:01"),
                         Clock::time_point{});
        // Its old settings from its old address: looked at, never confirming.
        replies.push_back(c.Reply(ip, "255.255.255.0", "10.1.0.254", ip));
    }
    std::vector<qdipc::ConfirmationOutcome> outcomes;
    // Each batch answers its own probe, and is judged when the next goes out.
    std::uint32_t probe = 0;
    const Clock::time_point start = Clock::now();
    for (int done = 0; done < kReplies; done += kPending) {
        confirmation.ProbeSent(++probe, Clock::time_point{}, outcomes);
        for (AcceptedReply& reply : replies) {
            reply.searchId = probe;
        }
        confirmation.Observe(replies, Clock::time_point{}, outcomes);
    }
    const double observe = Seconds(Clock::now() - start) * 1e9 / kReplies;

    std::size_t fromOwn = 0;
    const Clock::time_point checkStart = Clock::now();
    for (int i = 0; i < kReplies; ++i) {
        const AcceptedReply& r = replies[static_cast<std::size_t>(i) % kPending];
        const auto reported = qdipc::ParseIpv4Strict(r.reply.Text(qdipc::reply::kIp));
        fromOwn += reported && *reported == r.sourceAddress ? 1 : 0;
    }
    const double check = Seconds(Clock::now() - checkStart) * 1e9 / kReplies;
    std::printf(
        "cost per reply: %.0f ns through the confirmation of %u pending changes, kept and judged "
        "with its probe's interval (outcomes %zu), "
        "%.0f ns of it the source-address check alone (%zu from their own address)\n",
        observe, kPending, outcomes.size(), check, fromOwn);
}

void ProbeFigures() {
#ifdef __linux__
    constexpr int kLive = 40;
    qdipc::test::ProbeLab lab;
    std::string why;
    if (!lab.Make(kLive, why) || !lab.Enter()) {
        std::printf("address probe of a /24: skipped (%s)\n", why.c_str());
        return;
    }
    const std::vector<qdipc::Ipv4Interface> interfaces = qdipc::ListBroadcastInterfaces();
    std::vector<std::uint32_t> addresses;
    for (std::uint32_t host = 1; host < 255; ++host) {
        addresses.push_back(lab.Subnet() | host);
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<qdipc::ProbeAnswer> answers = qdipc::ProbeAddresses(addresses, interfaces);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lab.Leave();
    const auto answered = std::count(answers.begin(), answers.end(), qdipc::ProbeAnswer::Answered);
    std::printf(
        "address probe of a /24 (254 addresses, %d live and this host's own): %.2f s, %ld "
        "answered\n",
        kLive, seconds, static_cast<long>(answered));
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t cameras = 500;
    int runs = 3;
    std::chrono::milliseconds restart{1000};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cameras") == 0) {
            cameras = static_cast<std::size_t>(std::stoul(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::stoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--restart-ms") == 0) {
            restart = std::chrono::milliseconds(std::stol(argv[i + 1]));
        }
    }
    for (int run = 0; run < runs; ++run) {
        const RunFigures f = Run(cameras, restart, 0, false);
        std::printf(
            "%zu cameras, restart %lld ms: %.2f s in all (search 2 s, sending %.2f s, confirming "
            "%.2f s), confirmed %zu\n",
            cameras, static_cast<long long>(restart.count()), f.whole, f.sending, f.confirming,
            f.confirmed);
    }
    for (int spoofs : {1, 4, 16}) {
        const RunFigures honest = Run(cameras, restart, spoofs, false);
        const RunFigures fooled = Run(cameras, restart, spoofs, true);
        std::printf(
            "%d spoofed replies per camera per probe: honest cameras confirmed %zu of %zu "
            "(%.2f s); cameras that ignore the record confirmed %zu, conflict %zu, not "
            "confirmed %zu\n",
            spoofs, honest.confirmed, cameras, honest.whole, fooled.confirmed, fooled.conflict,
            fooled.notConfirmed);
    }
    ReplyCosts();
    ProbeFigures();
    return 0;
}
