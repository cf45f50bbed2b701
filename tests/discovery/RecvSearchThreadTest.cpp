#include "discovery/RecvSearchThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"

namespace qdipc {
namespace {

using test::MakeReply;
using test::ReadFile;
using test::SendDatagram;
using test::TempDir;
using test::WaitUntil;

constexpr std::int64_t kFixedNow = 1767198605;       // 2026-1-1 0:30:5 in UTC+8
constexpr auto kLogWait = std::chrono::seconds(20);  // catches a hang only

const std::string kLine575 =
    std::string(
        "2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:575,[recv discover not match qd "
        "massage][111111]") +
    test::kTextLineEnd;
const std::string kLine525 =
    std::string(
        "2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:525,[Bind socket 8089 failed][11111]") +
    test::kTextLineEnd;

ReceiverConfig LoopbackConfig(std::uint16_t port = 0) {
    ReceiverConfig config;
    config.bind = {"127.0.0.1", port};
    return config;
}

// One worker on an ephemeral loopback port, a queue and a log in a temporary
// directory.
class WorkerFixture : public ::testing::Test {
protected:
    void StartWorker(std::uint32_t id, ReceiverConfig config = LoopbackConfig()) {
        searchId_.store(id);
        worker_ = std::make_unique<RecvSearchThread>(searchId_, queue_, log_, config);
        ASSERT_TRUE(worker_->Start());
        ASSERT_TRUE(WaitUntil([this] {
            return worker_->BoundPort() != 0 ||
                   worker_->GetState() == RecvSearchThread::State::Ended;
        }));
    }

    // Waits until the queue holds count replies, then takes them.
    std::vector<AcceptedReply> TakeWhenPending(std::size_t count) {
        std::vector<AcceptedReply> taken;
        WaitUntil([&] {
            for (auto& reply : queue_.TakeAll())
                taken.push_back(std::move(reply));
            return taken.size() >= count;
        });
        return taken;
    }

    // The log once its writer has written what was queued.
    std::string LogText() {
        EXPECT_TRUE(log_.WaitIdle(kLogWait));
        return ReadFile(log_.FilePath());
    }
    bool LogExists() {
        EXPECT_TRUE(log_.WaitIdle(kLogWait));
        return std::filesystem::exists(log_.FilePath());
    }

    TempDir dir_;
    std::atomic<std::uint32_t> searchId_{0};
    ReplyQueue queue_;
    ErrorLog log_{dir_.Path(), [] { return kFixedNow; }};
    std::unique_ptr<RecvSearchThread> worker_;
};

TEST_F(WorkerFixture, AcceptsBothSignaturesOfTheCurrentSearch) {
    StartWorker(1234);
    EXPECT_EQ(worker_->GetState(), RecvSearchThread::State::Running);
    const auto first = MakeReply(1234, 1);
    const auto second = MakeReply(1234, 2, /*alternativeSignature=*/true);
    ASSERT_EQ(SendDatagram(first, worker_->BoundPort()), 380);
    ASSERT_EQ(SendDatagram(second, worker_->BoundPort()), 380);

    const auto taken = TakeWhenPending(2);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].searchId, 1234u);
    // Each reply knows the interface it came in on: loopback here.
    const auto loopback = LoopbackInterface();
    ASSERT_TRUE(loopback.has_value());
    EXPECT_EQ(taken[0].arrivalInterface, loopback->index);
    EXPECT_EQ(taken[1].arrivalInterface, loopback->index);
    // ... and the address it came from (the test's sender, on 127.0.0.1).
    EXPECT_EQ(taken[0].sourceAddress, 0x7F000001u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), taken[0].reply.Data()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), taken[1].reply.Data()));
    EXPECT_EQ(taken[1].reply.Text(39), "10.0.0.2");
    EXPECT_FALSE(LogExists());
}

TEST_F(WorkerFixture, FiltersInTheOrderLengthSearchIdSignature) {
    StartWorker(77);
    const std::uint16_t port = worker_->BoundPort();
    auto noSignature = MakeReply(77, 3);
    noSignature[0] = 0xD3;  // the request's magic, not a reply's
    auto otherSearchNoSignature = MakeReply(78, 4);
    otherSearchNoSignature[0] = 0x00;
    // One byte over the reply's size; MakeReply's 380 bytes are accepted.
    std::vector<std::uint8_t> overlong(381, 0);
    test::Put(overlong, 0, test::Hex("D4 ED CB B3"));
    test::Put(overlong, 248, test::Hex("4D 00 00 00"));  // the current ID, 77
    std::vector<std::uint8_t> shortReply(252, 0);
    test::Put(shortReply, 0, test::Hex("D4 ED CB B3"));
    test::Put(shortReply, 248, test::Hex("4D 00 00 00"));
    std::vector<std::uint8_t> tooShortForId(250, 0);  // search ID reads 0 at 250/251
    test::Put(tooShortForId, 0, test::Hex("D4 ED CB B3"));
    test::Put(tooShortForId, 248, test::Hex("4D 00"));

    SendDatagram(MakeReply(78, 5), port);          // another search: dropped silently
    SendDatagram(otherSearchNoSignature, port);    // another search, no signature: silent
    SendDatagram(noSignature, port);               // current search, no signature: one 575
    ASSERT_EQ(SendDatagram(overlong, port), 381);  // over-long: skipped silently
    SendDatagram({}, port);                        // empty: skipped silently
    SendDatagram(tooShortForId, port);             // 248..251 = 4D 00 00 00 -> accepted
    SendDatagram(shortReply, port);                // accepted, missing fields empty
    SendDatagram(MakeReply(77, 6), port);          // accepted, marks the end

    const auto taken = TakeWhenPending(3);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].reply.Text(252), "");
    EXPECT_EQ(taken[1].reply.Text(364), "");
    EXPECT_EQ(taken[2].reply.Text(39), "10.0.0.6");
    EXPECT_EQ(LogText(), kLine575);
    EXPECT_EQ(queue_.Pending(), 0u);
}

TEST_F(WorkerFixture, SearchIdChangeAppliesToTheNextDatagram) {
    StartWorker(10);
    const std::uint16_t port = worker_->BoundPort();
    SendDatagram(MakeReply(10, 1), port);
    ASSERT_EQ(TakeWhenPending(1).size(), 1u);

    searchId_.store(11);
    SendDatagram(MakeReply(10, 2), port);  // the old search: dropped
    SendDatagram(MakeReply(11, 3), port);
    const auto taken = TakeWhenPending(1);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].searchId, 11u);
    EXPECT_EQ(taken[0].reply.Text(39), "10.0.0.3");
    EXPECT_FALSE(LogExists());
}

TEST_F(WorkerFixture, TakenPortWritesBindEntryPerAttemptAndBindsOnceFreed) {
    auto holder = std::make_unique<test::LoopbackReceiver>();
    const std::uint16_t port = holder->Port();
    searchId_.store(1);
    worker_ = std::make_unique<RecvSearchThread>(searchId_, queue_, log_, LoopbackConfig(port));
    EXPECT_FALSE(worker_->Bind());
    EXPECT_EQ(LogText(), kLine525);
    // Start binds first: a second failed attempt, a second entry, no thread.
    EXPECT_FALSE(worker_->Start());
    EXPECT_EQ(worker_->GetState(), RecvSearchThread::State::NotStarted);
    EXPECT_EQ(worker_->BoundPort(), 0);
    EXPECT_EQ(LogText(), kLine525 + kLine525);

    holder.reset();  // the other program lets the port go
    ASSERT_TRUE(worker_->Bind());
    EXPECT_EQ(worker_->BoundPort(), port);
    EXPECT_TRUE(worker_->Bind());  // bound already: nothing happens
    // A reply that arrives between the bind and the thread's start is kept.
    ASSERT_EQ(SendDatagram(MakeReply(1, 7), port), 380);
    ASSERT_TRUE(worker_->Start());
    const auto taken = TakeWhenPending(1);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].reply.Text(39), "10.0.0.7");
    EXPECT_EQ(LogText(), kLine525 + kLine525);
}

TEST(WorkerLogTest, UnwritableLogDropsEntriesAndTheWorkerGoesOn) {
    TempDir dir;
    const auto blocker = dir.Path() / "file";
    std::ofstream(blocker) << "x";
    ErrorLog log(blocker, [] { return kFixedNow; });
    std::atomic<std::uint32_t> searchId{5};
    ReplyQueue queue;
    RecvSearchThread worker(searchId, queue, log, LoopbackConfig());
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return worker.BoundPort() != 0; }));
    auto noSignature = MakeReply(5, 1);
    noSignature[3] = 0x00;
    SendDatagram(noSignature, worker.BoundPort());
    SendDatagram(noSignature, worker.BoundPort());
    SendDatagram(MakeReply(5, 2), worker.BoundPort());
    ASSERT_TRUE(WaitUntil([&] { return queue.Pending() == 1; }));
    EXPECT_EQ(worker.GetState(), RecvSearchThread::State::Running);
    ASSERT_TRUE(log.WaitIdle(kLogWait));
    EXPECT_FALSE(std::filesystem::exists(log.FilePath()));
    EXPECT_EQ(log.Counts().unwritten, 2u);
}

TEST_F(WorkerFixture, StopReturnsPromptlyWhileTheWorkerWaits) {
    StartWorker(1);
    ASSERT_EQ(worker_->GetState(), RecvSearchThread::State::Running);
    auto stopping = std::async(std::launch::async, [this] { worker_->Stop(); });
    ASSERT_EQ(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(worker_->GetState(), RecvSearchThread::State::Ended);
    worker_->Stop();                 // a second stop is harmless
    EXPECT_FALSE(worker_->Start());  // a stopped worker stays stopped
    EXPECT_FALSE(worker_->Bind());
    EXPECT_FALSE(LogExists());
}

TEST(WorkerLifetimeTest, DestroyingAStartedWorkerJoinsIt) {
    TempDir dir;
    ErrorLog log(dir.Path());
    std::atomic<std::uint32_t> searchId{0};
    ReplyQueue queue;
    auto destroying = std::async(std::launch::async, [&] {
        RecvSearchThread worker(searchId, queue, log, LoopbackConfig());
        worker.Start();
        WaitUntil([&] { return worker.BoundPort() != 0; });
    });
    ASSERT_EQ(destroying.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    // Destroying one that never started is harmless too.
    RecvSearchThread idle(searchId, queue, log, LoopbackConfig());
    EXPECT_EQ(idle.GetState(), RecvSearchThread::State::NotStarted);
}

TEST(WorkerExceptionTest, AnEscapingExceptionWritesOneEntryAndEndsTheWorker) {
    TempDir dir;
    ErrorLog log(dir.Path(), [] { return kFixedNow; });
    std::atomic<std::uint32_t> searchId{9};
    ReplyQueue queue([] { throw std::runtime_error("consumer failed"); });
    RecvSearchThread worker(searchId, queue, log, LoopbackConfig());
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return worker.BoundPort() != 0; }));
    SendDatagram(MakeReply(9, 1), worker.BoundPort());
    ASSERT_TRUE(WaitUntil([&] { return worker.GetState() == RecvSearchThread::State::Ended; }));
    ASSERT_TRUE(log.WaitIdle(kLogWait));
    EXPECT_EQ(ReadFile(log.FilePath()),
              std::string("2026-1-1 0:30:5 file:app\\CSearchDlg.cpp,line:587,"
                          "[RecvSearchThread\xD2\xEC\xB3\xA3][219]") +
                  test::kTextLineEnd);
}

TEST_F(WorkerFixture, BurstOfDistinctRepliesArrivesWhole) {
    StartWorker(3);
    EXPECT_GT(worker_->EffectiveReceiveBuffer(), 0);
    constexpr int kReplies = 2000;
    test::UdpSender sender;
    for (int i = 0; i < kReplies; ++i) {
        auto reply = MakeReply(3, static_cast<std::uint8_t>(i));
        reply[29] = static_cast<std::uint8_t>(i >> 8);  // device ID byte 6
        ASSERT_EQ(sender.Send(reply, worker_->BoundPort()), 380);
    }
    const auto taken = TakeWhenPending(kReplies);
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kReplies));
    for (int i = 0; i < kReplies; ++i) {
        const std::uint8_t* id = taken[static_cast<std::size_t>(i)].reply.Raw(23);
        EXPECT_EQ(id[6] << 8 | id[7], i);
    }
}

TEST_F(WorkerFixture, JunkFloodCostsNoRealReplyAndIsLoggedWithinTheRate) {
    StartWorker(21);
    const std::uint16_t port = worker_->BoundPort();
    auto junk = MakeReply(21, 0);
    junk[0] = 0x00;  // the current search, neither signature: entry 575
    constexpr int kRounds = 20;
    constexpr int kJunkPerRound = 500;
    constexpr int kRealPerRound = 10;
    const auto start = std::chrono::steady_clock::now();
    test::UdpSender sender;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kJunkPerRound; ++i) {
            ASSERT_EQ(sender.Send(junk, port), 380);
            if (i % (kJunkPerRound / kRealPerRound) == 0) {
                const int n = round * kRealPerRound + i / (kJunkPerRound / kRealPerRound);
                ASSERT_EQ(sender.Send(MakeReply(21, static_cast<std::uint8_t>(n)), port), 380);
            }
        }
        // Each junk datagram is either written or counted as dropped; waiting
        // for them round by round keeps the socket's buffer from overflowing.
        const auto expected = static_cast<std::uint64_t>((round + 1) * kJunkPerRound);
        ASSERT_TRUE(WaitUntil([&] {
            const ErrorLogCounts c = log_.Counts();
            return c.written + c.droppedByRate + c.droppedQueueFull + c.unwritten >= expected;
        }));
    }
    const auto taken = TakeWhenPending(kRounds * kRealPerRound);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kRounds * kRealPerRound));
    for (std::size_t i = 0; i < taken.size(); ++i)
        EXPECT_EQ(taken[i].reply.Raw(23)[7], static_cast<std::uint8_t>(i));

    // At most 100 lines in any second, each the exact entry.
    const std::string text = LogText();
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); at += kLine575.size(), ++lines)
        ASSERT_EQ(text.compare(at, kLine575.size(), kLine575), 0) << "line " << lines;
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 100u * (static_cast<std::size_t>(seconds) + 1));
    EXPECT_EQ(log_.Counts().written, lines);
}

}  // namespace
}  // namespace qdipc
