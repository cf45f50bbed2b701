// The tool's discovery core (search command, receive worker, reply queue,
// cell texts, error log) against the camera simulator over loopback: both
// sides' layouts are checked against each other, and the worker's filters
// against the awkward datagrams cameras may send.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/ErrorLog.h"
#include "discovery/RecvSearchThread.h"
#include "discovery/ReplyCells.h"
#include "discovery/ReplyQueue.h"
#include "discovery/SearchCommand.h"
#include "settings/ChangeConfirmation.h"
#include "settings/NetSettingsRecord.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"
#include "tools/camsim/CamSimThread.h"

namespace {

constexpr std::chrono::seconds kWait{5};
constexpr std::int64_t kSearchSeconds = 1767225600;  // any fixed time gives a fixed search ID

// The tool's side: worker on 127.0.0.1:<ephemeral>, its queue, its log in a
// fresh directory, and searches sent to a loopback camera port.
class ToolSide {
public:
    ToolSide()
        : log_(dir_.Path()),
          worker_(searchId_, queue_, log_, qdipc::ReceiverConfig{{"127.0.0.1", 0}, 1 << 20}) {}

    // Starts the worker and waits (bounded) until it has bound its socket.
    std::uint16_t StartWorker() {
        if (!worker_.Start()) {
            return 0;
        }
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (worker_.BoundPort() == 0 &&
               worker_.GetState() == qdipc::RecvSearchThread::State::Running &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return worker_.BoundPort();
    }

    qdipc::SearchOutcome Search(std::uint16_t cameraPort) {
        qdipc::SearchCommand search(searchId_, {"127.0.0.1", cameraPort},
                                    qdipc::test::LoopbackNetworks(), [] { return kSearchSeconds; });
        return search.Run([this] {
            queue_.TakeAll();
            received_.clear();
        });
    }

    // The search's request again, with the search ID drawn last.
    void Probe(std::uint16_t cameraPort) {
        qdipc::SearchCommand(searchId_, {"127.0.0.1", cameraPort}, qdipc::test::LoopbackNetworks())
            .Repeat();
    }
    // A confirmation probe: a fresh search ID, the request to each port.
    std::uint32_t FreshProbe(const std::vector<std::uint16_t>& cameraPorts) {
        searchId_.store((searchId_.load() + 1) & 0x7FFF);
        for (std::uint16_t port : cameraPorts) {
            Probe(port);
        }
        return searchId_.load();
    }
    qdipc::ReplyQueue& Queue() { return queue_; }

    // Collects replies until there are count of them or the wait runs out.
    const std::vector<qdipc::AcceptedReply>& WaitForReplies(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (received_.size() < count && std::chrono::steady_clock::now() < deadline) {
            for (auto& reply : queue_.TakeAll()) {
                received_.push_back(std::move(reply));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return received_;
    }

    // The log once its writer has written what was queued.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        EXPECT_TRUE(log_.WaitIdle(std::chrono::seconds(20)));
        std::ifstream file(log_.FilePath());
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    std::uint32_t SearchId() const { return searchId_.load(); }

private:
    qdipc::test::TempDir dir_;
    std::atomic<std::uint32_t> searchId_{0};
    qdipc::ReplyQueue queue_;
    qdipc::ErrorLog log_;
    qdipc::RecvSearchThread worker_;
    std::vector<qdipc::AcceptedReply> received_;
};

camsim::ServerOptions CameraOptions(std::uint16_t workerPort,
                                    std::vector<camsim::ReplyKind> kinds) {
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    options.replyTo = {"127.0.0.1", workerPort};
    options.kinds = std::move(kinds);
    options.maxRunTime = std::chrono::seconds(20);  // ends by itself whatever happens
    return options;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count, const char* separator) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += (i > 0 ? separator : "");
        text += pair;
    }
    return text;
}

// The twelve cells a camera's reply must give, written from the simulator's
// own field values.
std::array<std::string, qdipc::kColumnCount> ExpectedCells(const camsim::CameraFields& camera,
                                                           int number) {
    return {std::to_string(number),
            Hex(camera.devId.data(), 4, "") + "-" + Hex(camera.devId.data() + 4, 4, ""),
            camera.name,
            camera.ip,
            std::to_string(camera.port),
            Hex(camera.mac.data(), 6, ":"),
            camera.appVer,
            Hex(camera.hardwareVer.data(), 8, ":"),
            camera.kernelVer,
            camera.mask,
            std::to_string(camera.webPort),
            camera.gateway};
}

TEST(CamSimDiscovery, SearchListsEveryCameraWithItsFields) {
    ToolSide tool;
    const std::uint16_t workerPort = tool.StartWorker();
    ASSERT_NE(workerPort, 0);
    camsim::CamSimThread cameras(5, 40, CameraOptions(workerPort, {camsim::ReplyKind::Normal}));
    std::string error;
    ASSERT_TRUE(cameras.Start(error)) << error;

    ASSERT_EQ(tool.Search(cameras.Port()), qdipc::SearchOutcome::Sent);
    const auto& replies = tool.WaitForReplies(5);
    ASSERT_EQ(replies.size(), 5u);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(replies[i].searchId, tool.SearchId());
        const int number = static_cast<int>(i) + 1;
        EXPECT_EQ(qdipc::ReplyCellTexts(replies[i].reply, number),
                  ExpectedCells(cameras.Cameras().At(i), number));
    }

    // The simulator read the tool's request field by field.
    ASSERT_TRUE(cameras.WaitForLine("request from", kWait));
    EXPECT_NE(cameras.Lines()[0].find("searchId " + std::to_string(tool.SearchId()) +
                                      ", localIp \"127.0.0.1\", commandPort 5050, type 2;"),
              std::string::npos)
        << cameras.Lines()[0];
    EXPECT_TRUE(tool.LogLines().empty());
}

TEST(CamSimDiscovery, AwkwardDatagramsAreFilteredAsTheToolRequires) {
    using K = camsim::ReplyKind;
    struct Case {
        const char* what;
        std::vector<K> kinds;  // one camera each; the last one is a normal reply
        std::vector<std::string> acceptedNames;
        std::size_t logLines;
    };
    const std::vector<Case> cases = {
        {"wrong search ID is dropped silently", {K::WrongSearchId, K::Normal}, {"camsim-2"}, 0},
        {"no signature logs entry 575 once", {K::NoSignature, K::Normal}, {"camsim-2"}, 1},
        {"alternative signature is accepted",
         {K::AltSignature, K::Normal},
         {"camsim-1", "camsim-2"},
         0},
        {"over-long and empty are skipped", {K::OverLong, K::Empty, K::Normal}, {"camsim-3"}, 0},
        {"short is read with zeros for the missing bytes",
         {K::Short, K::Normal},
         {"camsim-1", "camsim-2"},
         0},
        {"duplicate device IDs are both delivered",
         {K::DuplicateId, K::Normal},
         {"camsim-1", "camsim-1-dup", "camsim-2"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolSide tool;
        const std::uint16_t workerPort = tool.StartWorker();
        ASSERT_NE(workerPort, 0);
        camsim::CamSimThread cameras(c.kinds.size(), 1, CameraOptions(workerPort, c.kinds));
        std::string error;
        ASSERT_TRUE(cameras.Start(error)) << error;
        ASSERT_EQ(tool.Search(cameras.Port()), qdipc::SearchOutcome::Sent);

        // The normal reply goes out last, so once it is there every datagram
        // before it has been through the worker.
        const auto& replies = tool.WaitForReplies(c.acceptedNames.size());
        std::vector<std::string> names;
        for (std::size_t i = 0; i < replies.size(); ++i) {
            const auto cells = qdipc::ReplyCellTexts(replies[i].reply, static_cast<int>(i) + 1);
            names.push_back(cells[qdipc::kColName]);
            // Every accepted reply shows the fields the simulator sent.
            const std::size_t cameraIndex = std::stoul(names.back().substr(7)) - 1;
            camsim::CameraFields expected = cameras.Cameras().At(cameraIndex);
            if (names.back().ends_with("-dup")) {
                expected = camsim::DuplicateOf(expected);
            }
            if (c.kinds[cameraIndex] == K::Short) {
                expected.gateway.clear();  // bytes 300.. were never sent
            }
            EXPECT_EQ(cells, ExpectedCells(expected, static_cast<int>(i) + 1));
        }
        EXPECT_EQ(names, c.acceptedNames);

        const std::vector<std::string> log = tool.LogLines();
        ASSERT_EQ(log.size(), c.logLines);
        for (const std::string& line : log) {
            EXPECT_NE(line.find(",line:575,[recv discover not match qd massage][111111]"),
                      std::string::npos)
                << line;
        }
    }
}

TEST(CamSimDiscovery, ModifyRecordFromTheToolReachesTheCamera) {
    ToolSide tool;
    const std::uint16_t workerPort = tool.StartWorker();
    ASSERT_NE(workerPort, 0);
    camsim::CamSimThread cameras(2, 1, CameraOptions(workerPort, {camsim::ReplyKind::Normal}));
    std::string error;
    ASSERT_TRUE(cameras.Start(error)) << error;
    const camsim::CameraFields second = cameras.Cameras().At(1);

    qdipc::NetSettingsRecord record;
    record.SetMode(qdipc::AddressingMode::Static);
    std::copy(second.devId.begin(), second.devId.end(),
              record.bytes.begin() + qdipc::record::kDevId);
    record.SetText(qdipc::record::kIp, "192.168.7.20");
    record.SetText(qdipc::record::kMask, "255.255.255.0");
    record.SetText(qdipc::record::kGateway, "192.168.7.1");
    const std::array<std::uint8_t, 6> mac{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
    std::copy(mac.begin(), mac.end(), record.bytes.begin() + qdipc::record::kMac);
    const qdipc::SettingsBroadcaster broadcaster(
        {"127.0.0.1", cameras.Port()}, [] { return kSearchSeconds; },
        qdipc::test::LoopbackNetworks());
    ASSERT_EQ(broadcaster.SendSettingsRecord(record), qdipc::BroadcastOutcome::Ok);
    ASSERT_TRUE(cameras.WaitForLine("applied to camera 1", kWait));
    EXPECT_NE(cameras.Lines()[0].find("devId 7164736d-00000002, mode static, ip \"192.168.7.20\", "
                                      "mask \"255.255.255.0\", gateway \"192.168.7.1\", "
                                      "mac 00:11:22:aa:bb:cc, stamp "),
              std::string::npos)
        << cameras.Lines()[0];

    ASSERT_EQ(tool.Search(cameras.Port()), qdipc::SearchOutcome::Sent);
    const auto& replies = tool.WaitForReplies(2);
    ASSERT_EQ(replies.size(), 2u);
    const auto cells = qdipc::ReplyCellTexts(replies[1].reply, 2);
    EXPECT_EQ(cells[qdipc::kColDevId], "7164736d-00000002");
    EXPECT_EQ(cells[qdipc::kColIp], "192.168.7.20");
    EXPECT_EQ(cells[qdipc::kColMask], "255.255.255.0");
    EXPECT_EQ(cells[qdipc::kColGateway], "192.168.7.1");
    EXPECT_EQ(cells[qdipc::kColMac], "00:11:22:aa:bb:cc");
    EXPECT_EQ(qdipc::ReplyCellTexts(replies[0].reply, 1)[qdipc::kColIp], "10.0.0.1");
}

// Until no change is pending: sends a probe whenever one is due (probe()
// returns its search ID), shows the confirmation the accepted replies, waking
// at least every 20 ms. The outcomes in the order the changes ended.
std::vector<qdipc::ConfirmationOutcome> WaitForConfirmations(
    qdipc::ChangeConfirmation& confirmation, qdipc::ReplyQueue& replies,
    const std::function<std::optional<std::uint32_t>()>& probe) {
    using Clock = qdipc::ChangeConfirmation::Clock;
    constexpr auto kLongestSleep = std::chrono::milliseconds(20);
    std::vector<qdipc::ConfirmationOutcome> outcomes;
    while (confirmation.Pending() > 0) {
        confirmation.Observe(replies.TakeAll(), Clock::now(), outcomes);
        qdipc::ChangeConfirmation::TickResult tick = confirmation.Tick(Clock::now());
        outcomes.insert(outcomes.end(), std::make_move_iterator(tick.ended.begin()),
                        std::make_move_iterator(tick.ended.end()));
        if (tick.probe) {
            confirmation.ProbeSent(probe ? probe() : std::nullopt, Clock::now(), outcomes);
        }
        const std::optional<Clock::time_point> due = confirmation.NextDue();
        if (due) {
            std::this_thread::sleep_until(std::min(*due, Clock::now() + kLongestSleep));
        }
    }
    return outcomes;
}

TEST(CamSimDiscovery, ChangesAreConfirmedByTheCamerasTheyNameOnceTheyAnswerAgain) {
    // A camera silent for 400 ms after a record; the second set never answers
    // again; no camera has the third device ID. (Every reply here leaves from
    // 127.0.0.1, the address the first camera moves to: any other camera
    // answering would be another device at its new address, a conflict.)
    ToolSide tool;
    const std::uint16_t workerPort = tool.StartWorker();
    ASSERT_NE(workerPort, 0);
    camsim::ServerOptions restarting = CameraOptions(workerPort, {camsim::ReplyKind::Normal});
    restarting.restartTime = std::chrono::milliseconds(400);
    camsim::CamSimThread cameras(1, 1, restarting);
    camsim::ServerOptions silencing = CameraOptions(workerPort, {camsim::ReplyKind::Normal});
    silencing.silentAfterModify = true;
    camsim::CamSimThread silent(1, 50, silencing);
    std::string error;
    ASSERT_TRUE(cameras.Start(error)) << error;
    ASSERT_TRUE(silent.Start(error)) << error;
    ASSERT_EQ(tool.Search(cameras.Port()), qdipc::SearchOutcome::Sent);

    struct Change {
        std::uint32_t camera;
        const char* ip;
        qdipc::AddressingMode mode;
        std::uint16_t port;
        bool confirmed;
    };
    // The simulator answers from 127.0.0.1: the cameras that are to confirm
    // move there, so that their answers come from the address they report.
    const std::vector<Change> changes = {
        {1, "127.0.0.1", qdipc::AddressingMode::Static, cameras.Port(), true},
        {50, "192.168.7.50", qdipc::AddressingMode::Static, silent.Port(), false},
        {77, "192.168.7.77", qdipc::AddressingMode::Static, cameras.Port(), false},
    };
    qdipc::ConfirmationOptions options;
    options.timeout = std::chrono::milliseconds(2000);
    qdipc::ChangeConfirmation confirmation(options);
    for (const Change& change : changes) {
        const camsim::CameraFields camera = camsim::MakeCamera(change.camera);
        std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
        std::copy(camera.devId.begin(), camera.devId.end(), block.begin());
        const qdipc::NetSettingsRecord record = qdipc::BuildModifyRecord(
            block, change.mode, change.ip, "255.255.255.0", "192.168.7.1", "00:11:22:aa:bb:cc");
        const qdipc::SettingsBroadcaster broadcaster({"127.0.0.1", change.port}, {},
                                                     qdipc::test::LoopbackNetworks());
        ASSERT_EQ(broadcaster.SendSettingsRecord(record), qdipc::BroadcastOutcome::Ok);
        confirmation.Add(record, qdipc::ChangeConfirmation::Clock::now());
    }
    int probes = 0;
    const std::vector<qdipc::ConfirmationOutcome> outcomes =
        WaitForConfirmations(confirmation, tool.Queue(), [&] {
            ++probes;
            return std::optional<std::uint32_t>(tool.FreshProbe({cameras.Port(), silent.Port()}));
        });
    ASSERT_EQ(outcomes.size(), changes.size());
    for (const Change& change : changes) {
        const std::string id = camsim::FormatDevId(camsim::MakeCamera(change.camera).devId);
        SCOPED_TRACE(id);
        const auto outcome = std::find_if(outcomes.begin(), outcomes.end(),
                                          [&](const auto& o) { return o.deviceId == id; });
        ASSERT_NE(outcome, outcomes.end());
        EXPECT_EQ(outcome->confirmed, change.confirmed);
        if (change.confirmed) {
            EXPECT_EQ(outcome->ip, change.ip);
            EXPECT_EQ(qdipc::ReplyCellTexts(outcome->reply->reply, 0)[qdipc::kColIp], change.ip);
        } else {
            EXPECT_EQ(qdipc::ConfirmationText(*outcome),
                      "Not confirmed: " + id + " did not answer in 2 s");
        }
    }
    EXPECT_GE(probes, 3);
    EXPECT_EQ(cameras.Stop().modifyApplied, 1u);
}

}  // namespace
