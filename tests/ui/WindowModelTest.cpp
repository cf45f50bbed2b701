// The toolkit-free window model: the sort rule, the bar's texts, and the
// search with its repeats and replies over loopback, with the time given.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"
#include "tests/discovery/TestReplies.h"
#include "ui/SearchWindowModel.h"

namespace {

using namespace std::chrono_literals;
using qdipc::ListSortState;
using qdipc::SearchWindowModel;

TEST(ListSortStateTest, ClicksToggleOrStartAscending) {
    struct Case {
        std::vector<int> clicks;
        int column;
        bool ascending;
    };
    const Case cases[] = {
        {{}, 0, false},         // the start: column 0, descending
        {{0}, 0, true},         // the first click on "NO." sorts ascending
        {{0, 0}, 0, false},     // the second reverses
        {{3}, 3, true},         // another column: ascending
        {{3, 3, 3}, 3, true},   // three clicks: ascending again
        {{0, 0, 3}, 3, true},   // a new column after a descending sort: ascending
        {{3, 0}, 0, true},      // back to "NO.": ascending again
        {{11, 11}, 11, false},  // the last column
    };
    for (const Case& c : cases) {
        ListSortState state;
        for (int column : c.clicks) {
            state.Click(column);
        }
        EXPECT_EQ(state.Column(), c.column) << ::testing::PrintToString(c.clicks);
        EXPECT_EQ(state.Ascending(), c.ascending) << ::testing::PrintToString(c.clicks);
    }
}

TEST(ListCountsTextTest, CountsRowsFlagsSelectionAndGone) {
    qdipc::DeviceList list;
    EXPECT_EQ(qdipc::ListCountsText(list, 0, false), "0 cameras · 0 flagged · 0 selected");
    qdipc::test::CameraReply a = qdipc::test::Camera(1);
    a.ip = "10.0.0.5";
    const qdipc::DeviceInfoReply replyA = a.Reply();
    list.AddReply(&replyA);
    EXPECT_EQ(qdipc::ListCountsText(list, 1, false), "1 camera · 0 flagged · 1 selected");
    qdipc::test::CameraReply b = qdipc::test::Camera(2);
    b.ip = "10.0.0.5";  // the same IP: both rows flagged
    const qdipc::DeviceInfoReply replyB = b.Reply();
    list.AddReply(&replyB);
    EXPECT_EQ(qdipc::ListCountsText(list, 0, false), "2 cameras · 2 flagged · 0 selected");
    EXPECT_EQ(qdipc::ListCountsText(list, 0, true), "2 cameras · 2 flagged · 0 selected · 0 gone");
}

// A camera on loopback that answers the requests it is asked to.
class WindowModelSearchTest : public ::testing::Test {
protected:
    qdipc::SearchWindowConfig Config() {
        qdipc::SearchWindowConfig config;
        config.searchDestination = camera_.Endpoint();
        config.settingsDestination = camera_.Endpoint();
        config.receiver.bind = {"127.0.0.1", 0};
        config.receiver.receiveBufferBytes = 1 << 20;
        config.interfaces = qdipc::test::LoopbackNetworks();
        config.errorLogDirectory = dir_.Path();
        config.searchEndDelay = 2000ms;
        return config;
    }
    qdipc::test::TempDir dir_;
    qdipc::test::LoopbackReceiver camera_;
};

TEST_F(WindowModelSearchTest, RepeatsAtTheirTimesListsSortsAndEnds) {
    int wakes = 0;
    SearchWindowModel model(Config(), [&] { ++wakes; });
    EXPECT_EQ(model.BarText(0), "");  // before the first search
    const auto t0 = SearchWindowModel::Clock::now();
    ASSERT_EQ(model.Search(t0), "");
    const std::vector<std::uint8_t> first = camera_.Next(5s);
    ASSERT_EQ(first.size(), qdipc::kDiscoveryRequestSize);
    ASSERT_TRUE(model.NextDue());
    EXPECT_EQ(*model.NextDue(), t0 + 300ms);
    model.Tick(t0 + 299ms);  // not yet: nothing goes out
    model.Tick(t0 + 300ms);
    EXPECT_EQ(camera_.Next(5s), first);
    EXPECT_EQ(*model.NextDue(), t0 + 1000ms);
    model.Tick(t0 + 1000ms);
    EXPECT_EQ(camera_.Next(5s), first);
    EXPECT_EQ(*model.NextDue(), t0 + 2000ms);  // the search's end

    // Replies under the search's ID, in the order 3, 1, 2 and a duplicate.
    const std::uint16_t port = model.Worker()->BoundPort();
    for (std::uint32_t n : {3u, 1u, 2u, 1u}) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n);
        camera.searchId = model.SearchId();
        qdipc::test::SendDatagram(camera.Bytes(), port);
    }
    ASSERT_TRUE(qdipc::test::WaitUntil([&] { return model.PendingReplies() >= 4; }, 10s));
    EXPECT_GE(wakes, 1);
    EXPECT_EQ(model.TakeReplies(2), 2);
    EXPECT_EQ(model.TakeReplies(100), 1);  // the duplicate adds nothing
    EXPECT_EQ(model.List().RowCount(), 3);
    EXPECT_EQ(model.DisplayCell(0, qdipc::kColName), "cam3");

    model.ClickColumn(qdipc::kColName);
    EXPECT_EQ(model.DisplayCell(0, qdipc::kColName), "cam1");
    EXPECT_EQ(model.DisplayCell(2, qdipc::kColName), "cam3");
    EXPECT_EQ(model.DisplayCell(0, qdipc::kColNumber), "1");  // "NO." kept
    model.ClickColumn(qdipc::kColName);
    EXPECT_EQ(model.DisplayCell(0, qdipc::kColName), "cam3");

    model.Tick(t0 + 2000ms);
    EXPECT_FALSE(model.NoCameraShown());
    EXPECT_FALSE(model.NextDue());
    EXPECT_EQ(model.BarText(1), "3 cameras · 3 flagged · 1 selected");
}

TEST_F(WindowModelSearchTest, SearchWithoutAnswerSaysSoAtItsEnd) {
    SearchWindowModel model(Config(), [] {});
    const auto t0 = SearchWindowModel::Clock::now();
    ASSERT_EQ(model.Search(t0), "");
    model.Tick(t0 + 1999ms);
    EXPECT_FALSE(model.NoCameraShown());
    EXPECT_EQ(model.BarText(0), "0 cameras · 0 flagged · 0 selected");
    model.Tick(t0 + 2000ms);
    EXPECT_TRUE(model.NoCameraShown());
    EXPECT_EQ(model.BarText(0), "No camera answered — click here to diagnose the network");
}

TEST_F(WindowModelSearchTest, ModifyGoesThroughTheEngineStampedWithItsRollback) {
    qdipc::SearchWindowConfig config = Config();
    config.confirmation.timeout = 0ms;  // send only
    config.stateDirectory = dir_.Path() / "state";
    config.surroundings = [] {
        qdipc::AssignSurroundings surroundings;
        surroundings.interfaces = qdipc::test::LoopbackNetworks()();
        return surroundings;
    };
    SearchWindowModel model(config, [] {});
    std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
    block[0] = 0x42;
    const qdipc::NetSettingsRecord record =
        qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, "10.0.0.77", "255.255.255.0",
                                 "10.0.0.254", "00:1a:2b:3c:4d:5e");
    const qdipc::PreparedChange change = model.PrepareChange(record);
    EXPECT_EQ(change.question, "");
    EXPECT_EQ(change.order.camera.deviceId, "42000000-00000000");
    EXPECT_EQ(change.order.newIp, "10.0.0.77");
    const auto started = model.SendChange(change, true, SearchWindowModel::Clock::now());
    EXPECT_EQ(started.failure, "");
    EXPECT_EQ(started.outcome, "Setting OK!");
    const std::vector<std::uint8_t> sent = camera_.Next(5s);
    ASSERT_EQ(sent.size(), 88u);
    // Stamped: D3 ED CB FF, then the record's own bytes.
    EXPECT_EQ(sent[0], 0xD3);
    EXPECT_EQ(sent[1], 0xED);
    EXPECT_EQ(sent[2], 0xCB);
    EXPECT_EQ(sent[3], 0xFF);
    EXPECT_TRUE(std::equal(sent.begin() + 4, sent.begin() + 84, record.bytes.begin() + 4));
    EXPECT_EQ(
        std::vector<std::uint8_t>(sent.begin() + 84, sent.end()),
        std::vector<std::uint8_t>(change.stamped.bytes.begin() + 84, change.stamped.bytes.end()));
    // The rollback plan was written before it.
    EXPECT_FALSE(std::filesystem::is_empty(dir_.Path() / "state"));
}

}  // namespace
