// The toolkit-free window model: the sort rule, the bar's texts, and the
// search with its repeats and replies over loopback, with the time given.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/WsDiscovery.h"
#include "settings/AssignModel.h"
#include "settings/PlanFile.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"
#include "tests/discovery/TestReplies.h"
#include "ui/RowMenu.h"
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

TEST(CountsOfListTest, CountsRowsFlagsSelectionAndGone) {
    qdipc::DeviceList list;
    EXPECT_EQ(qdipc::CountsText(qdipc::CountsOfList(list, 0), false),
              "0 cameras · 0 flagged · 0 selected");
    qdipc::test::CameraReply a = qdipc::test::Camera(1);
    a.ip = "10.0.0.5";
    const qdipc::DeviceInfoReply replyA = a.Reply();
    list.AddReply(&replyA);
    EXPECT_EQ(qdipc::CountsText(qdipc::CountsOfList(list, 1), false),
              "1 camera · 0 flagged · 1 selected");
    qdipc::test::CameraReply b = qdipc::test::Camera(2);
    b.ip = "10.0.0.5";  // the same IP: both rows flagged
    const qdipc::DeviceInfoReply replyB = b.Reply();
    list.AddReply(&replyB);
    EXPECT_EQ(qdipc::CountsText(qdipc::CountsOfList(list, 0), false),
              "2 cameras · 2 flagged · 0 selected");
    EXPECT_EQ(qdipc::CountsText(qdipc::CountsOfList(list, 0), true),
              "2 cameras · 2 flagged · 0 selected · 0 gone");
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
        // ONVIF probes to a port nobody listens on; announcements on loopback.
        config.onvifDestination = {"127.0.0.1", 9};
        config.onvifAnnouncements = {"127.0.0.1", 0};
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
    EXPECT_EQ(model.BarText(0), "Searching…");
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

    // A settings window opened for a row: its Modify goes out of that row's
    // interface, also when a search has emptied the list meanwhile.
    const qdipc::test::CameraReply seven = qdipc::test::Camera(7);
    ASSERT_EQ(model.AddReplies({qdipc::AcceptedReply{seven.Reply(), 0, 7, 0}}), 1);
    model.NoteSettingsOpened(0);
    model.List().Clear();
    std::copy(seven.devId.begin(), seven.devId.end(), block.begin());
    const qdipc::PreparedChange noted = model.PrepareChange(
        qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, "10.0.0.79", "255.255.255.0",
                                 "10.0.0.254", "00:1a:2b:3c:4d:5e"));
    EXPECT_EQ(noted.order.camera.arrivalInterface, 7u);

    // A device ID that two MACs answer for: which camera takes the record is
    // anybody's guess, so nothing may be sent, whatever the operator says.
    qdipc::test::CameraReply first = qdipc::test::Camera(9);
    qdipc::test::CameraReply second = first;
    second.mac[5] = 0x99;
    const qdipc::DeviceInfoReply firstReply = first.Reply();
    const qdipc::DeviceInfoReply secondReply = second.Reply();
    model.List().AddReply(&firstReply);
    model.List().AddReply(&secondReply);
    std::copy(first.devId.begin(), first.devId.end(), block.begin());
    const qdipc::PreparedChange twice = model.PrepareChange(
        qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, "10.0.0.78", "255.255.255.0",
                                 "10.0.0.254", "00:1a:2b:3c:4d:5e"));
    EXPECT_EQ(twice.question, "");
    EXPECT_EQ(twice.refusal.rfind("Nothing was sent: ", 0), 0u) << twice.refusal;
    EXPECT_NE(twice.refusal.find("00:1a:2b:3c:4d:5e"), std::string::npos) << twice.refusal;
    EXPECT_NE(twice.refusal.find("00:1a:2b:3c:4d:99"), std::string::npos) << twice.refusal;
    // ... nor through the Assign dialog, which refuses it alone.
    const int row = model.List().FindRow(qdipc::FormatDeviceId(first.devId.data()));
    ASSERT_GE(row, 0);
    qdipc::AssignModel assign(model.AssignCameras({row}), model.Surroundings({row}), nullptr);
    assign.Replan({"10.0.0.80", "255.255.255.0", "10.0.0.254"});
    EXPECT_EQ(qdipc::CameraResultText(assign.Rows()[0].result), "refused");
    EXPECT_TRUE(assign.ApplyRows().empty());
}

TEST_F(WindowModelSearchTest, ABatchProbesOffItsThreadJustBeforeSendingAndRefusesWhatAnswers) {
    qdipc::SearchWindowConfig config = Config();
    config.confirmation.timeout = 0ms;  // send only
    config.stateDirectory = dir_.Path() / "state";
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> offThread{false};
    std::atomic<int> probes{0};
    config.surroundings = [&] {
        qdipc::AssignSurroundings surroundings;
        surroundings.interfaces = qdipc::test::LoopbackNetworks()();
        surroundings.probe = [&](const std::vector<std::uint32_t>& addresses) {
            ++probes;
            offThread = std::this_thread::get_id() != caller;
            std::vector<qdipc::ProbeAnswer> answers;
            for (const std::uint32_t address : addresses) {
                answers.push_back(address == 0x0A000014 ? qdipc::ProbeAnswer::Answered
                                                        : qdipc::ProbeAnswer::Silent);
            }
            std::this_thread::sleep_for(100ms);
            return answers;
        };
        return surroundings;
    };
    SearchWindowModel model(config, [] {});
    const auto order = [](const char* id, const char* ip, const char* newIp) {
        qdipc::AssignOrder o;
        o.camera = {id, "00:1a:2b:3c:4d:5e", ip, "255.255.255.0", "10.0.0.254", 0};
        o.newIp = newIp;
        o.mask = "255.255.255.0";
        o.gateway = "10.0.0.254";
        return o;
    };
    std::vector<std::pair<std::size_t, qdipc::CameraResult>> results;
    std::vector<qdipc::ChangeRuns::BatchState> states;
    qdipc::ChangeRuns::BatchSinks sinks;
    sinks.onResult = [&](std::size_t index, const qdipc::ProvisioningCamera& camera) {
        results.emplace_back(index, camera.result);
    };
    sinks.onState = [&](const qdipc::ChangeRuns::BatchState& state) { states.push_back(state); };
    const auto t0 = SearchWindowModel::Clock::now();
    // .5 keeps its own address: nobody else is asked about it.
    model.SendBatch({order("0011aabb-00000001", "10.0.0.1", "10.0.0.20"),
                     order("0011aabb-00000002", "10.0.0.2", "10.0.0.21"),
                     order("0011aabb-00000005", "10.0.0.5", "10.0.0.5")},
                    t0, sinks);
    // Sent nothing yet: the probe runs; the window looks again soon.
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(model.Changes().Unsent(), 3);
    const auto due = model.NextDue();
    ASSERT_TRUE(due);
    EXPECT_LE(*due, SearchWindowModel::Clock::now() + qdipc::ChangeRuns::kProbePoll);
    ASSERT_TRUE(qdipc::test::WaitUntil(
        [&] {
            model.Tick(SearchWindowModel::Clock::now());
            return !states.empty() && states.back().finished;
        },
        10s));
    EXPECT_EQ(probes.load(), 1);
    EXPECT_TRUE(offThread.load());
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.front(), std::make_pair(std::size_t{0}, qdipc::CameraResult::Refused));
    EXPECT_EQ(states.back().failure, "");
    EXPECT_TRUE(std::filesystem::exists(states.back().rollbackPath));
    // The other two went out, paced, in order.
    for (const char* ip : {"10.0.0.21", "10.0.0.5"}) {
        const std::vector<std::uint8_t> sent = camera_.Next(5s);
        ASSERT_EQ(sent.size(), 88u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&sent[29])), ip);
    }
}

TEST_F(WindowModelSearchTest, OpenPlanReadsBoundedAndChecksLikeThePlanOption) {
    SearchWindowModel model(Config(), [] {});
    const auto missing = model.OpenPlan(dir_.Path() / "missing\x1b.csv");
    // The path as every file text is shown: escaped (its ESC, a backslash).
    const std::u8string path = (dir_.Path() / "missing\x1b.csv").u8string();
    EXPECT_EQ(
        missing.error.rfind("Cannot read the plan " +
                                qdipc::EscapeControls(std::string(path.begin(), path.end())) + ": ",
                            0),
        0u)
        << missing.error;
    std::ofstream(dir_.Path() / "plan.csv")
        << "dev_id,mac,ip,mask,gateway,mode\n"
           "0011aabb-00000009,00:1a:2b:3c:4d:09,10.0.0.31,255.255.255.0,10.0.0.254,static\n";
    const auto opened = model.OpenPlan(dir_.Path() / "plan.csv");
    EXPECT_EQ(opened.error, "");
    EXPECT_TRUE(opened.plan.Ok()) << opened.plan.error;
    // One byte over the bound: refused before a byte is read, with why.
    std::filesystem::resize_file(dir_.Path() / "plan.csv", qdipc::kMaxPlanFileBytes + 1);
    EXPECT_EQ(model.OpenPlan(dir_.Path() / "plan.csv").error,
              "Cannot read the plan " + qdipc::EscapeControls((dir_.Path() / "plan.csv").string()) +
                  ": is larger than 16 MB; a plan holds one short line per camera");
}

}  // namespace

namespace {

using qdipc::RowCommand;

TEST(RowMenuTest, ItemsFollowSelectionRowsWatchingAndWhatTheWindowOffers) {
    const auto all = [](RowCommand) { return true; };
    const auto states = [](const std::vector<qdipc::RowMenuItem>& items) {
        std::string text;
        for (const auto& item : items) {
            text += std::string(item.separatorBefore ? "|" : "") + item.text + ":" +
                    (item.enabled ? "on" : "off") + (item.checked ? "+" : "") + " ";
        }
        return text;
    };
    const auto facts = [](int selected, int rows, bool watching, int gone = 0,
                          std::uint32_t via = 0, bool onvifOnly = false) {
        return qdipc::RowMenuFacts{selected, rows, watching, gone, via, onvifOnly};
    };
    EXPECT_EQ(states(qdipc::RowMenuItems(facts(0, 0, false), all)),
              "Assign Addresses…:off Settings…:off Preview:off Stream Info:off Save Snapshot…:off "
              "Open Web Page:off Device Details…:off |Copy:off Copy IP:off Copy MAC:off "
              "|Keep &Watching:on Show &Gone Cameras:off Save &List As…:off Apply &Plan…:on "
              "|Diagnose Network…:on ");
    EXPECT_EQ(states(qdipc::RowMenuItems(facts(2, 5, true, 1), all)),
              "Assign Addresses…:on Settings…:on Preview:on Stream Info:on Save Snapshot…:on "
              "Open Web Page:on Device Details…:on |Copy:on Copy IP:on Copy MAC:on "
              "|Keep &Watching:on+ Show &Gone Cameras:on Save &List As…:on Apply &Plan…:on "
              "|Diagnose Network…:on ");
    // One row found only as an ONVIF device: how, first; no device ID to
    // assign or set.
    const auto onvif = qdipc::RowMenuItems(facts(1, 3, false, 0, qdipc::SeenOnvif, true), all);
    EXPECT_EQ(states({onvif.begin(), onvif.begin() + 4}),
              "Found as an ONVIF device (WS-Discovery):off |Assign Addresses…:off Settings…:off "
              "Preview:on ");
    const auto noAssign = [](RowCommand command) { return command != RowCommand::AssignAddresses; };
    EXPECT_FALSE(qdipc::RowMenuItems(facts(1, 1, false), noAssign).front().enabled);

    // The facts from a list: one native row and one ONVIF-only row.
    qdipc::DeviceList list;
    const qdipc::DeviceInfoReply reply = qdipc::test::Camera(3).Reply();
    list.AddReply(&reply);
    qdipc::OnvifDevice device;
    device.endpoint = "urn:uuid:1";
    device.ip = "10.0.0.9";
    list.AddOnvifDevice(device);
    ASSERT_EQ(list.RowCount(), 2);
    const qdipc::RowMenuFacts both = qdipc::RowMenuFactsOf(list, {0, 1}, true);
    EXPECT_EQ(both.selectedRows, 2);
    EXPECT_EQ(both.oneRowSeenVia, 0u);
    EXPECT_FALSE(both.onvifOnly);
    EXPECT_TRUE(both.watching);
    const qdipc::RowMenuFacts second = qdipc::RowMenuFactsOf(list, {1}, false);
    EXPECT_EQ(second.oneRowSeenVia, std::uint32_t{qdipc::SeenOnvif});
    EXPECT_TRUE(second.onvifOnly);
    EXPECT_TRUE(qdipc::GoneRows(list).empty());
}

TEST(SnapshotFileNameTest, HostAndLocalTimeElsePlainSnapshot) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 9;
    local.tm_hour = 7;
    local.tm_min = 5;
    local.tm_sec = 3;
    EXPECT_EQ(qdipc::SnapshotFileName("rtsp://10.0.0.5/channel1/1", local),
              "10.0.0.5-20260109-070503.png");
    EXPECT_EQ(qdipc::SnapshotFileName("rtsp://10.0.0.5:8554/x", local),
              "10.0.0.5-20260109-070503.png");
    // No plain dotted quad (a name, a path in the host part, nothing playing).
    EXPECT_EQ(qdipc::SnapshotFileName("rtsp://cam..\\x/y", local), "snapshot-20260109-070503.png");
    EXPECT_EQ(qdipc::SnapshotFileName("", local), "snapshot-20260109-070503.png");
}

TEST(RowMenuTest, WebPageAddressTakesPlainAddressesAndRealPorts) {
    struct Case {
        const char* ip;
        const char* port;
        const char* url;
    };
    const Case cases[] = {
        {"10.0.0.5", "80", "http://10.0.0.5/"},
        {"10.0.0.5", "8080", "http://10.0.0.5:8080/"},
        {"10.0.0.5", "65535", "http://10.0.0.5:65535/"},
        {"10.0.0.5", "65536", "http://10.0.0.5/"},  // not a port
        {"10.0.0.5", "0", "http://10.0.0.5/"},
        {"10.0.0.5", "", "http://10.0.0.5/"},
        {"10.0.0.5", "81x", "http://10.0.0.5/"},
        {"10.0.0.5:1@10.0.0.6", "80", ""},  // not a plain dotted quad: nothing
        {"<h1>x", "80", ""},
        {"", "80", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qdipc::WebPageAddress(c.ip, c.port), c.url) << c.ip << " " << c.port;
    }
}

TEST(RowMenuTest, ClipboardTextsInDisplayOrderAndFormulaSafe) {
    qdipc::DeviceList list;
    for (std::uint32_t n : {1u, 2u, 3u}) {
        qdipc::test::CameraReply camera = qdipc::test::Camera(n);
        camera.name = n == 2 ? "=1+1" : "cam" + std::to_string(n);
        const qdipc::DeviceInfoReply reply = camera.Reply();
        list.AddReply(&reply);
    }
    EXPECT_EQ(qdipc::ColumnClipboardText(list, {2, 0}, qdipc::kColIp), "10.0.0.1\n10.0.0.3\n");
    EXPECT_EQ(qdipc::ColumnClipboardText(list, {1}, qdipc::kColName), "'=1+1\n");
    EXPECT_EQ(qdipc::ColumnClipboardText(list, {}, qdipc::kColName), "");
    const std::string rows = qdipc::RowsClipboardText(list, {1, 0});
    EXPECT_EQ(rows.substr(0, rows.find('\n')),
              "NO.\tDev ID\tName\tIP\tPort\tMAC\tApp Ver\tHardware Ver\tKernel Ver\tMask\tWeb "
              "Port\tGateway");
    EXPECT_NE(rows.find("\n0\t0011aabb-00000001\tcam1\t"), std::string::npos);
    EXPECT_LT(rows.find("\tcam1\t"), rows.find("\t'=1+1\t"));
    EXPECT_EQ(qdipc::RowsClipboardText(list, {}), "");
}

TEST(RowMenuTest, SaveListWritesCsvWithItsAboutOrJson) {
    qdipc::test::TempDir dir;
    qdipc::DeviceList list;
    const qdipc::DeviceInfoReply reply = qdipc::test::Camera(7).Reply();
    list.AddReply(&reply);
    EXPECT_EQ(qdipc::SaveDeviceList(list, dir.Path() / "site.csv", {}), "");
    std::ifstream csv(dir.Path() / "site.csv", std::ios::binary);
    std::string header;
    std::getline(csv, header);
    EXPECT_EQ(header,
              "NO.,Dev ID,Name,IP,Port,MAC,App Ver,Hardware Ver,Kernel Ver,Mask,Web "
              "Port,Gateway,Seen Via\r");
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "site.csv.about.json"));
    EXPECT_EQ(qdipc::SaveDeviceList(list, dir.Path() / "site.JSON", {}), "");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "site.JSON.about.json"));
    const std::string error = qdipc::SaveDeviceList(list, dir.Path() / "no" / "such.csv", {});
    EXPECT_EQ(error.rfind("Save List As: ", 0), 0u) << error;
}

TEST_F(WindowModelSearchTest, KeepWatchingSearchesFirstThenOneRequestPerCycle) {
    qdipc::SearchWindowConfig config = Config();
    config.watch.interval = 5000ms;
    SearchWindowModel model(config, [] {});
    const auto t0 = SearchWindowModel::Clock::now();
    EXPECT_EQ(model.SetWatching(true, t0), "");  // no search yet: it searches
    EXPECT_TRUE(model.Watching());
    const std::vector<std::uint8_t> first = camera_.Next(5s);
    ASSERT_EQ(first.size(), qdipc::kDiscoveryRequestSize);
    EXPECT_EQ(model.BarText(0), "Searching…");
    model.Tick(t0 + 300ms);
    EXPECT_EQ(camera_.Next(5s), first);
    model.Tick(t0 + 1000ms);
    EXPECT_EQ(camera_.Next(5s), first);
    qdipc::test::CameraReply camera = qdipc::test::Camera(1);
    camera.searchId = model.SearchId();
    qdipc::test::SendDatagram(camera.Bytes(), model.Worker()->BoundPort());
    ASSERT_TRUE(qdipc::test::WaitUntil([&] { return model.PendingReplies() == 1; }, 10s));
    model.Tick(t0 +
               2000ms);  // the search's end takes the reply (not on loopback's network: flagged)
    EXPECT_EQ(model.BarText(0),
              "Watching · every 5 s · 1 camera · 1 flagged · 0 selected · 0 gone");
    model.Tick(t0 + 5000ms);  // the cycle's own request
    EXPECT_EQ(camera_.Next(5s), first);
    // A new search ends watching.
    ASSERT_EQ(model.Search(t0 + 6000ms), "");
    EXPECT_FALSE(model.Watching());
}

// An ONVIF device that answers each probe of the search's discovery: its row
// joins the list once the discovery is done and the window takes it; a new
// search drops a discovery still running.
TEST_F(WindowModelSearchTest, OnvifDevicesOfTheSearchJoinTheList) {
    qdipc::UdpSocket device;
    ASSERT_TRUE(device.Open() && device.Bind({"127.0.0.1", 0}));
    std::atomic<int> probes{0};
    std::thread answering([&] {
        for (int i = 0; i < 64; ++i) {  // ends when interrupted
            std::vector<std::uint8_t> buffer(8192);
            qdipc::DatagramSlot slot{buffer.data(), buffer.size(), 0};
            if (device.ReceiveBatch(std::span<qdipc::DatagramSlot>(&slot, 1)) != 1) {
                return;
            }
            const auto probe = qdipc::ReadWsdMessage(
                std::string_view(reinterpret_cast<const char*>(buffer.data()), slot.length));
            if (!probe) {
                continue;
            }
            ++probes;
            const std::string match =
                "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' "
                "xmlns:w='http://schemas.xmlsoap.org/ws/2004/08/addressing' "
                "xmlns:d='http://schemas.xmlsoap.org/ws/2005/04/"
                "discovery'><e:Header><w:RelatesTo>" +
                probe->messageId +
                "</w:RelatesTo></e:Header><e:Body><d:ProbeMatches><d:ProbeMatch>"
                "<w:EndpointReference><w:Address>urn:uuid:onvif-1</w:Address>"
                "</w:EndpointReference>"
                // A name with an escape sequence and markup in it.
                "<d:Scopes>onvif://www.onvif.org/name/cam%1B%5D0%3Bx%3Cb%3E</d:Scopes>"
                "<d:XAddrs>http://10.0.0.99/onvif/device_service</d:XAddrs>"
                "</d:ProbeMatch></d:ProbeMatches></e:Body></e:Envelope>";
            device.SendTo(reinterpret_cast<const std::uint8_t*>(match.data()), match.size(),
                          {"127.0.0.1", slot.sourcePort});
        }
    });
    qdipc::SearchWindowConfig config = Config();
    config.onvifDestination = {"127.0.0.1", device.LocalPort()};
    std::atomic<int> wakes{0};
    {
        SearchWindowModel model(config, [&] { ++wakes; });
        ASSERT_EQ(model.Search(SearchWindowModel::Clock::now()), "");
        EXPECT_FALSE(model.TakeOnvif());  // still listening
        EXPECT_EQ(model.List().RowCount(), 0);
        ASSERT_TRUE(qdipc::test::WaitUntil([&] { return wakes.load() >= 1; }, 10s));
        EXPECT_TRUE(model.TakeOnvif());
        ASSERT_EQ(model.List().RowCount(), 1);
        EXPECT_EQ(model.DisplayCell(0, qdipc::kColIp), "10.0.0.99");
        EXPECT_EQ(model.DisplayCell(0, qdipc::kColName), "cam\\x1b]0;x<b>");  // plain, escaped
        EXPECT_FALSE(model.TakeOnvif());                                      // taken once
        EXPECT_GE(probes.load(), 2);

        // A search replaced while its discovery listens: nothing of it comes.
        ASSERT_EQ(model.Search(SearchWindowModel::Clock::now()), "");
        ASSERT_EQ(model.Search(SearchWindowModel::Clock::now()), "");
        wakes = 0;
        ASSERT_TRUE(qdipc::test::WaitUntil([&] { return wakes.load() >= 1; }, 10s));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(wakes.load(), 1);  // the replaced discovery woke nobody
        EXPECT_TRUE(model.TakeOnvif());
        EXPECT_EQ(model.List().RowCount(), 1);
    }
    device.Interrupt();
    answering.join();
}

}  // namespace

namespace {

// One Modify through ChangeRuns, the camera answering from its new address
// with what it was sent: under the ID of a search the window sent (not a
// probe of the runs), the answer counts only when the search was noted.
std::string ConfirmedThroughASearch(bool noteTheSearch) {
    using namespace std::chrono_literals;
    qdipc::DeviceList list;
    const qdipc::test::CameraReply before = qdipc::test::Camera(5);
    const qdipc::DeviceInfoReply listed = before.Reply();
    list.AddReply(&listed);
    qdipc::ConfirmationOptions confirmation;
    confirmation.timeout = 1000ms;
    confirmation.firstProbe = 400ms;
    confirmation.probeInterval = 200ms;
    qdipc::ChangeRuns runs(
        list, {confirmation, {}, [] { return qdipc::AssignSurroundings{}; }},
        [](const qdipc::NetSettingsRecord&, std::uint32_t, std::string&) { return true; },
        [] { return std::optional<std::uint32_t>(7); });
    std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
    std::copy(before.devId.begin(), before.devId.end(), block.begin());
    const qdipc::NetSettingsRecord stamped = qdipc::StampSettingsRecord(
        qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, "10.0.9.77", "255.255.255.0",
                                 "10.0.9.1", "00:1a:2b:3c:4d:5e"),
        0x01020304);
    const auto t0 = qdipc::ChangeRuns::Clock::now();
    EXPECT_EQ(runs.Start(stamped, runs.OrderOf(stamped, 0), false, t0).outcome, "Setting OK!");
    EXPECT_EQ(runs.Waiting(), 1);
    EXPECT_EQ(runs.ProgressPermille(), 0);  // none of one change has ended
    if (noteTheSearch) {
        runs.SearchSent(42, t0 + 50ms);
    }
    qdipc::test::CameraReply after = before;
    after.ip = "10.0.9.77";
    after.gateway = "10.0.9.1";
    after.searchId = 42;
    runs.OnReplies({qdipc::AcceptedReply{after.Reply(), 42, 0, 0x0A00094D}}, t0 + 60ms);
    for (auto at = t0 + 100ms; at <= t0 + 1500ms && runs.Waiting() > 0; at += 50ms) {
        runs.Tick(at);
    }
    return runs.BarText() + " / " + std::to_string(runs.ProgressPermille());
}

TEST(ChangeRunsTest, ASearchsRequestCountsLikeAProbe) {
    EXPECT_EQ(ConfirmedThroughASearch(true), "Confirmed: 0011aabb-00000005 at 10.0.9.77 / 1000");
    const std::string unnoted = ConfirmedThroughASearch(false);
    EXPECT_EQ(unnoted.rfind("Not confirmed: 0011aabb-00000005 ", 0), 0u) << unnoted;
    EXPECT_EQ(unnoted.substr(unnoted.size() - 4), " / 0");
}

}  // namespace
