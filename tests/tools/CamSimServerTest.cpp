// The simulator run in-process over loopback: answering requests, applying
// modify records, its bounds, burst mode and its command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/discovery/TestBytes.h"
#include "tests/tools/HandBuiltDatagrams.h"
#include "tests/tools/LoopbackSocket.h"
#include "tools/camsim/BurstSender.h"
#include "tools/camsim/CamSimThread.h"
#include "tools/camsim/CommandLine.h"

namespace {

using camsim::test::LoopbackSocket;
using camsim::test::ModifyBytes;
using camsim::test::RequestBytes;
using qdipc::test::Hex;

constexpr std::chrono::seconds kWait{5};

camsim::ServerOptions LoopbackOptions(std::uint16_t replyPort) {
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    options.replyTo = {"127.0.0.1", replyPort};
    options.maxRunTime = std::chrono::seconds(20);  // ends by itself whatever happens
    return options;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t offset,
                                std::size_t width) {
    return {bytes.begin() + offset, bytes.begin() + offset + width};
}

TEST(CamSimServer, AnswersEachRequestWithOneReplyPerCamera) {
    LoopbackSocket tool;
    camsim::CamSimThread sim(3, 1, LoopbackOptions(tool.Port()));
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;

    for (const std::uint32_t searchId : {0x4321u, 0x0007u}) {
        std::vector<std::uint8_t> id = {static_cast<std::uint8_t>(searchId),
                                        static_cast<std::uint8_t>(searchId >> 8), 0, 0};
        ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", id)));
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            const auto reply = tool.Receive();
            ASSERT_TRUE(reply.has_value());
            ASSERT_EQ(reply->size(), 380u);
            EXPECT_EQ(Slice(*reply, 0, 4), Hex("D4 ED CB B3"));
            EXPECT_EQ(Slice(*reply, 23, 8),
                      (std::vector<std::uint8_t>{0x71, 0x64, 0x73, 0x6d, 0, 0, 0,
                                                 static_cast<std::uint8_t>(i + 1)}));
            EXPECT_EQ(Slice(*reply, 248, 4), id);
            const auto expected = camsim::EncodeReply(sim.Cameras().At(i), searchId);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply->begin()));
        }
    }
    ASSERT_TRUE(sim.WaitForLine("searchId 7,", kWait));
    const camsim::ServerCounts counts = sim.Stop();
    EXPECT_EQ(counts.requests, 2u);
    EXPECT_EQ(counts.repliesSent, 6u);
    EXPECT_EQ(counts.stopReason, camsim::StopReason::StopFlag);
    const std::vector<std::string> lines = sim.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("searchId 17185, localIp \"127.0.0.1\", commandPort 5050, type 2; "
                            "answered with 3 replies to 127.0.0.1:" +
                            std::to_string(tool.Port())),
              std::string::npos)
        << lines[0];
}

TEST(CamSimServer, AppliesModifyRecordsToItsNextReplies) {
    LoopbackSocket tool;
    camsim::CamSimThread sim(2, 1, LoopbackOptions(tool.Port()));
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;

    ASSERT_TRUE(tool.SendTo(sim.Port(), ModifyBytes(Hex("71 64 73 6d 00 00 00 09"))));
    ASSERT_TRUE(tool.SendTo(sim.Port(), ModifyBytes(Hex("71 64 73 6d 00 00 00 02"))));
    ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("05 00 00 00"))));
    const auto first = tool.Receive();
    const auto second = tool.Receive();
    ASSERT_TRUE(first && second);
    // Camera 1 keeps its settings, camera 2 has the record's.
    EXPECT_EQ(Slice(*first, 39, 9),
              (std::vector<std::uint8_t>{'1', '0', '.', '0', '.', '0', '.', '1', 0}));
    EXPECT_EQ(Slice(*second, 39, 9),
              (std::vector<std::uint8_t>{'1', '0', '.', '9', '.', '8', '.', '7', 0}));
    EXPECT_EQ(Slice(*second, 69, 6), Hex("A0 B1 C2 D3 E4 F5"));
    EXPECT_EQ(Slice(*second, 76, 12), (std::vector<std::uint8_t>{'2', '5', '5', '.', '2', '5', '5',
                                                                 '.', '0', '.', '0', 0}));
    EXPECT_EQ(Slice(*second, 364, 9),
              (std::vector<std::uint8_t>{'1', '0', '.', '9', '.', '0', '.', '1', 0}));

    ASSERT_TRUE(sim.WaitForLine("request from", kWait));
    const camsim::ServerCounts counts = sim.Stop();
    EXPECT_EQ(counts.modifyRecords, 2u);
    EXPECT_EQ(counts.modifyApplied, 1u);
    const std::vector<std::string> lines = sim.Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("modify from 127.0.0.1:"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "no camera has devId 7164736d-00000009: nothing applied");
    EXPECT_EQ(lines[3],
              "applied to camera 1 (7164736d-00000002): ip \"10.9.8.7\", mask \"255.255.0.0\", "
              "gateway \"10.9.0.1\", mac a0:b1:c2:d3:e4:f5");
    EXPECT_EQ(sim.Cameras().At(1).ip, "10.9.8.7");
}

// Each camera answers from its own address, and from its new one after a
// record; a spoofing host answers from its own socket under the recorded
// device IDs. Loopback only: the cameras' 10.x sources leave through "lo".
TEST(CamSimServer, CamerasAnswerFromTheirOwnAddressesAndASpooferFromItsOwn) {
    struct Case {
        const char* label;
        bool spoof;
        // Per reply after the record: device ID's last byte, source, IP field.
        std::vector<std::tuple<int, std::string, std::string>> before, after;
    };
    const std::vector<Case> cases = {
        {"own addresses",
         false,
         {{1, "10.0.0.1", "10.0.0.1"}, {2, "10.0.0.2", "10.0.0.2"}},
         {{1, "10.0.0.1", "10.0.0.1"}, {2, "10.9.8.7", "10.9.8.7"}}},
        {"spoofer", true, {}, {{2, "127.0.0.1", "10.9.8.7"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LoopbackSocket tool;
        camsim::ServerOptions options = LoopbackOptions(tool.Port());
        options.ownAddressDevice = "lo";
        options.spoof = c.spoof;
        camsim::CamSimThread sim(2, 1, options);
        std::string error;
        if (!sim.Start(error)) {
            GTEST_SKIP() << "no right to send from other addresses here: " << error;
        }
        const auto expect = [&](const auto& expected) {
            ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("05 00 00 00"))));
            for (const auto& [id, source, ip] : expected) {
                std::string from;
                const auto reply = tool.ReceiveFrom(from);
                ASSERT_TRUE(reply.has_value());
                ASSERT_EQ(reply->size(), 380u);
                EXPECT_EQ((*reply)[30], id);
                EXPECT_EQ(from, source);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply->data()) + 39), ip);
            }
        };
        expect(c.before);
        ASSERT_TRUE(tool.SendTo(sim.Port(), ModifyBytes(Hex("71 64 73 6d 00 00 00 02"))));
        ASSERT_TRUE(
            sim.WaitForLine(c.spoof ? "spoofing 7164736d-00000002" : "applied to camera 1", kWait));
        expect(c.after);
        const camsim::ServerCounts counts = sim.Stop();
        EXPECT_EQ(counts.repliesSent, c.before.size() + c.after.size());
        EXPECT_EQ(counts.modifyApplied, c.spoof ? 0u : 1u);
    }
}

// The device IDs (last byte) of the replies that arrive until none comes for
// a while.
std::vector<int> ReplyingCameras(const LoopbackSocket& tool, std::size_t expected) {
    std::vector<int> ids;
    for (std::size_t i = 0; i < expected; ++i) {
        const auto reply = tool.Receive();
        if (!reply || reply->size() != 380) {
            break;
        }
        ids.push_back((*reply)[30]);
    }
    return ids;
}

TEST(CamSimServer, AfterAModifyTheCameraIsSilentAsConfiguredThenAnswersWithItsNewSettings) {
    struct Case {
        const char* name;
        std::chrono::milliseconds restart;
        bool ignore;
        bool silentForGood;
        // Cameras answering a request right after the record, and one sent
        // once a restart is over.
        std::vector<int> atOnce;
        std::vector<int> later;
        const char* ip;  // camera 2's IP in its later reply, when it answers
    };
    const std::vector<Case> cases = {
        {"restart", std::chrono::milliseconds(1500), false, false, {1}, {1, 2}, "10.9.8.7"},
        {"no restart", std::chrono::milliseconds(0), false, false, {1, 2}, {1, 2}, "10.9.8.7"},
        {"ignore", std::chrono::milliseconds(1500), true, false, {1, 2}, {1, 2}, "10.0.0.2"},
        {"silent for good", std::chrono::milliseconds(0), false, true, {1}, {1}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackSocket tool;
        camsim::ServerOptions options = LoopbackOptions(tool.Port());
        options.restartTime = c.restart;
        options.ignoreModify = c.ignore;
        options.silentAfterModify = c.silentForGood;
        camsim::CamSimThread sim(2, 1, options);
        std::string error;
        ASSERT_TRUE(sim.Start(error)) << error;

        ASSERT_TRUE(tool.SendTo(sim.Port(), ModifyBytes(Hex("71 64 73 6d 00 00 00 02"))));
        ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("05 00 00 00"))));
        EXPECT_EQ(ReplyingCameras(tool, c.atOnce.size()), c.atOnce);
        ASSERT_TRUE(sim.WaitForLine("request from", kWait));
        std::this_thread::sleep_for(c.restart + std::chrono::milliseconds(200));
        ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("06 00 00 00"))));
        std::vector<int> later;
        for (std::size_t i = 0; i < c.later.size(); ++i) {
            const auto reply = tool.Receive();
            ASSERT_TRUE(reply.has_value());
            later.push_back((*reply)[30]);
            if (later.back() == 2) {
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply->data() + 39)), c.ip);
            }
        }
        EXPECT_EQ(later, c.later);
        ASSERT_TRUE(sim.WaitForLine("searchId 6,", kWait));
        const camsim::ServerCounts counts = sim.Stop();
        EXPECT_EQ(counts.modifyApplied, c.ignore ? 0u : 1u);
        EXPECT_EQ(counts.repliesWithheld, 4u - c.atOnce.size() - c.later.size());
    }
}

TEST(CamSimServer, AReplayingHostSendsTheCamerasLastReplyAgainAfterItsRecord) {
    LoopbackSocket tool;
    camsim::ServerOptions options = LoopbackOptions(tool.Port());
    options.replayAfter = std::chrono::milliseconds(300);
    options.silentAfterModify = true;
    camsim::CamSimThread sim(2, 1, options);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("05 00 00 00"))));
    EXPECT_EQ(ReplyingCameras(tool, 2), (std::vector<int>{1, 2}));
    ASSERT_TRUE(tool.SendTo(sim.Port(), ModifyBytes(Hex("71 64 73 6d 00 00 00 02"))));
    ASSERT_TRUE(sim.WaitForLine("applied to camera 1", kWait));
    // Camera 2 is silent from now on, but its reply to request 5 comes again,
    // with its old address.
    const auto replayed = tool.Receive();
    ASSERT_TRUE(replayed.has_value());
    ASSERT_EQ(replayed->size(), 380u);
    EXPECT_EQ((*replayed)[30], 2);
    EXPECT_EQ((*replayed)[248], 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(replayed->data()) + 39), "10.0.0.2");
    ASSERT_TRUE(sim.WaitForLine("replayed camera 1's reply to searchId 5", kWait));
    EXPECT_EQ(sim.Stop().repliesReplayed, 1u);
}

TEST(CamSimServer, MissEveryNAnswersEachCameraEveryNthRequestInTurn) {
    LoopbackSocket tool;
    camsim::ServerOptions options = LoopbackOptions(tool.Port());
    options.missEvery = 2;
    camsim::CamSimThread sim(4, 1, options);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    // Request 0: cameras 0 and 2 (IDs 1 and 3); request 1: cameras 1 and 3.
    const std::vector<std::vector<int>> expected = {{1, 3}, {2, 4}, {1, 3}};
    for (std::size_t r = 0; r < expected.size(); ++r) {
        SCOPED_TRACE(r);
        ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("05 00 00 00"))));
        EXPECT_EQ(ReplyingCameras(tool, 2), expected[r]);
    }
    ASSERT_TRUE(sim.WaitForLine("2 cameras silent", kWait));
    EXPECT_EQ(sim.Stop().repliesWithheld, 6u);
}

TEST(CamSimServer, ReplyKindsGoOutCameraByCameraAndOtherDatagramsAreOnlyPrinted) {
    LoopbackSocket tool;
    camsim::ServerOptions options = LoopbackOptions(0);
    options.replyToSender = true;
    options.replyPort = tool.Port();
    options.kinds = {camsim::ReplyKind::Empty, camsim::ReplyKind::DuplicateId,
                     camsim::ReplyKind::OverLong};
    camsim::CamSimThread sim(4, 1, options);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;

    ASSERT_TRUE(tool.SendTo(sim.Port(), Hex("D3 ED CB B3 00")));
    ASSERT_TRUE(tool.SendTo(sim.Port(), {}));
    ASSERT_TRUE(tool.SendTo(sim.Port(), RequestBytes("127.0.0.1", Hex("01 00 00 00"))));
    std::vector<std::size_t> lengths;
    for (int i = 0; i < 5; ++i) {
        const auto datagram = tool.Receive();
        ASSERT_TRUE(datagram.has_value());
        lengths.push_back(datagram->size());
    }
    // Camera 4 starts the cycle again: empty.
    EXPECT_EQ(lengths, (std::vector<std::size_t>{0, 380, 380, 400, 0}));

    ASSERT_TRUE(sim.WaitForLine("request from", kWait));
    const camsim::ServerCounts counts = sim.Stop();
    EXPECT_EQ(counts.ignored, 2u);
    EXPECT_EQ(counts.requests, 1u);
    const std::vector<std::string> lines = sim.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("ignored 5-byte datagram"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("ignored 0-byte datagram"), std::string::npos) << lines[1];
}

TEST(CamSimServer, EndsByItselfAtItsBounds) {
    LoopbackSocket tool;
    camsim::CameraSet cameras(1, 1);
    std::vector<std::string> lines;
    const std::atomic<bool> neverStop{false};

    camsim::ServerOptions byCount = LoopbackOptions(tool.Port());
    byCount.maxRequests = 2;
    camsim::CamSimServer countBound(cameras, byCount,
                                    [&](std::string_view line) { lines.emplace_back(line); });
    std::string error;
    ASSERT_TRUE(countBound.Open(error)) << error;
    camsim::ServerCounts counts;
    std::thread serving([&] { counts = countBound.Run(neverStop); });
    for (int i = 0; i < 3; ++i) {
        tool.SendTo(countBound.LocalPort(), RequestBytes("127.0.0.1", Hex("01 00 00 00")));
    }
    serving.join();
    EXPECT_EQ(counts.stopReason, camsim::StopReason::RequestCount);
    EXPECT_EQ(counts.requests, 2u);

    camsim::ServerOptions byTime = LoopbackOptions(tool.Port());
    byTime.maxRunTime = std::chrono::milliseconds(100);
    camsim::CamSimServer timeBound(cameras, byTime, [](std::string_view) {});
    ASSERT_TRUE(timeBound.Open(error)) << error;
    EXPECT_EQ(timeBound.Run(neverStop).stopReason, camsim::StopReason::RunTime);

    camsim::ServerOptions taken = LoopbackOptions(tool.Port());
    taken.listen.port = tool.Port();
    camsim::CamSimServer clash(cameras, taken, [](std::string_view) {});
    EXPECT_FALSE(clash.Open(error));
    EXPECT_NE(error.find("bind 127.0.0.1:" + std::to_string(tool.Port())), std::string::npos)
        << error;
    EXPECT_EQ(clash.Run(neverStop).stopReason, camsim::StopReason::SocketError);
}

TEST(CamSimBurst, SendsDistinctRepliesWithOneSearchId) {
    for (const auto duration : {std::chrono::microseconds(0), std::chrono::microseconds(20000)}) {
        SCOPED_TRACE(duration.count());
        LoopbackSocket tool;
        camsim::BurstOptions options;
        options.destination = {"127.0.0.1", tool.Port()};
        options.count = 150;
        options.searchId = 0x0102;
        options.base = 1000;
        options.duration = duration;
        camsim::BurstSender sender(options);
        std::string error;
        ASSERT_TRUE(sender.Open(error)) << error;
        const std::atomic<bool> neverStop{false};
        const camsim::BurstResult result = sender.Send(neverStop);
        EXPECT_EQ(result.sent, 150u);
        EXPECT_EQ(result.failed, 0u);
        EXPECT_FALSE(result.stopped);

        std::set<std::vector<std::uint8_t>> ids;
        for (int i = 0; i < 150; ++i) {
            const auto reply = tool.Receive();
            ASSERT_TRUE(reply.has_value());
            ASSERT_EQ(reply->size(), 380u);
            EXPECT_EQ(Slice(*reply, 248, 4), Hex("02 01 00 00"));
            ids.insert(Slice(*reply, 23, 8));
        }
        EXPECT_EQ(ids.size(), 150u);
        EXPECT_EQ(*ids.begin(), Hex("71 64 73 6d 00 00 03 e8"));  // camera 1000
    }
}

TEST(CamSimCommandLine, OptionsAndErrors) {
    const camsim::ParseResult defaults = camsim::ParseCommandLine({});
    ASSERT_TRUE(defaults.error.empty());
    EXPECT_EQ(defaults.commandLine.server.listen.address, "0.0.0.0");
    EXPECT_EQ(defaults.commandLine.server.listen.port, 5050);
    EXPECT_EQ(defaults.commandLine.server.replyTo.address, "255.255.255.255");
    EXPECT_EQ(defaults.commandLine.server.replyTo.port, 8089);
    EXPECT_EQ(defaults.commandLine.cameraCount, 4u);
    EXPECT_FALSE(defaults.commandLine.burstCount.has_value());

    const camsim::ParseResult full = camsim::ParseCommandLine({"--listen",
                                                               "127.0.0.1:15050",
                                                               "--reply-to",
                                                               "127.0.0.1:18089",
                                                               "--reply-to-sender",
                                                               "--reply-port",
                                                               "18090",
                                                               "--cameras",
                                                               "12",
                                                               "--base",
                                                               "500",
                                                               "--mode",
                                                               "normal,short,empty",
                                                               "--short-length",
                                                               "200",
                                                               "--over-long-length",
                                                               "512",
                                                               "--max-requests",
                                                               "3",
                                                               "--max-time",
                                                               "1.5",
                                                               "--burst",
                                                               "1000",
                                                               "--search-id",
                                                               "77",
                                                               "--duration-ms",
                                                               "250",
                                                               "--restart-ms",
                                                               "1200",
                                                               "--ignore-modify",
                                                               "--silent-after-modify",
                                                               "--miss-every",
                                                               "2",
                                                               "--replay-after",
                                                               "1400",
                                                               "--own-address",
                                                               "lan0",
                                                               "--spoof",
                                                               "--zero-mac"});
    ASSERT_TRUE(full.error.empty()) << full.error;
    const camsim::CommandLine& line = full.commandLine;
    EXPECT_EQ(line.server.listen.port, 15050);
    EXPECT_EQ(line.server.replyTo.port, 18089);
    EXPECT_TRUE(line.server.replyToSender);
    EXPECT_EQ(line.server.replyPort, 18090);
    EXPECT_EQ(line.cameraCount, 12u);
    EXPECT_EQ(line.base, 500u);
    EXPECT_EQ(line.server.kinds,
              (std::vector<camsim::ReplyKind>{camsim::ReplyKind::Normal, camsim::ReplyKind::Short,
                                              camsim::ReplyKind::Empty}));
    EXPECT_EQ(line.server.shape.shortLength, 200u);
    EXPECT_EQ(line.server.shape.overLongLength, 512u);
    EXPECT_EQ(line.server.maxRequests, 3u);
    EXPECT_EQ(line.server.maxRunTime, std::chrono::milliseconds(1500));
    EXPECT_EQ(line.burstCount, std::optional<std::size_t>(1000));
    EXPECT_EQ(line.burstSearchId, 77u);
    EXPECT_EQ(line.burstDuration, std::chrono::milliseconds(250));
    EXPECT_EQ(line.server.restartTime, std::chrono::milliseconds(1200));
    EXPECT_TRUE(line.server.ignoreModify);
    EXPECT_TRUE(line.server.silentAfterModify);
    EXPECT_EQ(line.server.missEvery, 2u);
    EXPECT_EQ(line.server.replayAfter, std::chrono::milliseconds(1400));
    EXPECT_EQ(line.server.ownAddressDevice, "lan0");
    EXPECT_TRUE(line.server.spoof);
    EXPECT_TRUE(line.zeroMac);

    const std::vector<std::vector<std::string>> bad = {
        {"--listen", "localhost:5050"},
        {"--reply-to", "127.0.0.1"},
        {"--reply-port", "70000"},
        {"--cameras", "0"},
        {"--mode", "normal,,short"},
        {"--short-length", "381"},
        {"--over-long-length", "380"},
        {"--max-time", "-1"},
        {"--restart-ms", "x"},
        {"--miss-every", "0"},
        {"--replay-after", "0"},
        {"--own-address", "a-name-too-long-x"},
        {"--cameras"},
        {"--frobnicate", "1"},
        {"--burst", "10"},  // a burst needs --reply-to
    };
    for (const auto& arguments : bad) {
        SCOPED_TRACE(arguments[0]);
        EXPECT_FALSE(camsim::ParseCommandLine(arguments).error.empty());
    }

    const std::string usage = camsim::UsageText();
    for (const char* option : {"--listen",       "--reply-to ",     "--reply-to-sender",
                               "--reply-port",   "--cameras",       "--base",
                               "--mode",         "--short-length",  "--over-long-length",
                               "--max-requests", "--max-time",      "--list",
                               "--burst",        "--search-id",     "--duration-ms",
                               "--restart-ms",   "--ignore-modify", "--silent-after-modify",
                               "--miss-every",   "--help",          "--own-address",
                               "--spoof",        "--zero-mac",      "--replay-after"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    for (const camsim::ReplyKind kind : camsim::kAllReplyKinds) {
        EXPECT_NE(usage.find(camsim::ReplyKindName(kind)), std::string::npos);
    }
}

}  // namespace
