// The device list: numbering, duplicates, clearing, replies of replaced
// searches, batches, the cells' bytes, lookups by device ID through sorts,
// in-place updates, the row cap and clearing a large list; watching a site
// (cycles, gone and back) on an injected clock.

#include "discovery/DeviceList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/DeviceIdMap.h"
#include "discovery/ListBar.h"
#include "discovery/SiteWatch.h"
#include "tests/discovery/TestReplies.h"

namespace qdipc {
namespace {

using test::Camera;
using test::CameraReply;
using Texts = std::vector<std::string>;

void Add(DeviceList& list, const CameraReply& camera, std::uint32_t arrivalInterface = 0) {
    const auto reply = camera.Reply();
    list.AddReply(&reply, arrivalInterface);
}

Texts Column(const DeviceList& list, int column) {
    Texts texts;
    for (int row = 0; row < list.RowCount(); ++row) {
        texts.push_back(list.CellText(row, column));
    }
    return texts;
}

// Counts the observer's calls and checks they come in before/after pairs.
struct RecordingObserver : DeviceListObserver {
    std::vector<std::string> calls;
    void RowsAboutToBeAppended(int first, int last) override {
        calls.push_back("append " + std::to_string(first) + ".." + std::to_string(last));
    }
    void RowsAppended() override { calls.push_back("appended"); }
    void AboutToClear() override { calls.push_back("clear"); }
    void Cleared() override { calls.push_back("cleared"); }
    void AboutToReorder() override { calls.push_back("reorder"); }
    void Reordered(const std::vector<int>& newPosition) override {
        std::string text = "reordered";
        for (int p : newPosition) {
            text += " " + std::to_string(p);
        }
        calls.push_back(text);
    }
    void RowsChanged(int first, int last) override {
        calls.push_back("changed " + std::to_string(first) + ".." + std::to_string(last));
    }
};

TEST(DeviceListTest, RowsAreNumberedInArrivalOrderAndDuplicatesUseNoNumber) {
    DeviceList list;
    Add(list, Camera(1));
    Add(list, Camera(1));  // a duplicate
    Add(list, Camera(2));
    Add(list, Camera(3));
    list.AddReply(nullptr);  // ignored
    EXPECT_EQ(Column(list, 0), (Texts{"0", "1", "2"}));
    EXPECT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.DeviceCount(), 3);
    EXPECT_EQ(list.CellText(1, 1), "0011aabb-00000002");

    // Twelve rows count on past 9 with plain decimal numbers.
    for (std::uint32_t n = 4; n <= 12; ++n) {
        Add(list, Camera(n));
    }
    EXPECT_EQ(list.CellText(11, 0), "11");
}

TEST(DeviceListTest, DuplicateDeviceIdLeavesTheListedRowUnchanged) {
    DeviceList list;
    Add(list, Camera(7));
    CameraReply changed = Camera(7);
    changed.ip = "172.16.0.99";
    changed.name = "renamed";
    Add(list, changed);
    EXPECT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.DeviceCount(), 1);
    EXPECT_EQ(list.CellText(0, 3), "10.0.0.7");
    EXPECT_EQ(list.CellText(0, 2), "cam7");
    // The same MAC again is the same device: no other MAC.
    EXPECT_TRUE(list.OtherMacs(0).empty());

    // Another MAC with the listed device ID is remembered (once), without a
    // row of its own; a row without a clash and a row that does not exist
    // have none.
    CameraReply other = Camera(7);
    other.mac = {0x02, 0, 0, 0, 0, 0x02};
    Add(list, other);
    Add(list, other);
    Add(list, Camera(8));
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.OtherMacs(0), (Texts{"02:00:00:00:00:02"}));
    EXPECT_TRUE(list.OtherMacs(1).empty());
    EXPECT_TRUE(list.OtherMacs(2).empty());

    // Within one batch, before the row is appended, too; at most four are
    // kept, whatever answers.
    std::vector<AcceptedReply> batch;
    for (std::uint8_t n = 0; n < 7; ++n) {
        CameraReply twin = Camera(9);
        twin.mac = {0x02, 0, 0, 0, 0x09, n};
        batch.push_back(twin.Accepted(5));
    }
    EXPECT_EQ(list.AddReplies(batch, 5), 1);
    EXPECT_EQ(list.CellText(2, kColMac), "02:00:00:00:09:00");
    EXPECT_EQ(list.OtherMacs(2), (Texts{"02:00:00:00:09:01", "02:00:00:00:09:02",
                                        "02:00:00:00:09:03", "02:00:00:00:09:04"}));
    static_assert(DeviceList::kMaxOtherMacs == 4);
}

TEST(DeviceListTest, DeviceIdsDifferingInOneByteGiveTwoRows) {
    DeviceList list;
    CameraReply first = Camera(0);
    CameraReply lastByte = Camera(0);
    lastByte.devId[7] = 0x01;
    CameraReply firstByte = Camera(0);
    firstByte.devId[0] = 0x80;
    Add(list, first);
    Add(list, lastByte);
    Add(list, firstByte);
    EXPECT_EQ(Column(list, 1),
              (Texts{"0011aabb-00000000", "0011aabb-00000001", "8011aabb-00000000"}));
}

TEST(DeviceListTest, ClearEmptiesTheListAndResetsBothCounters) {
    DeviceList list;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        Add(list, Camera(n));
    }
    list.SetSelectedRow(2);
    list.Clear();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.DeviceCount(), 0);
    EXPECT_EQ(list.SelectedRow(), 0);
    EXPECT_FALSE(list.ContainsDeviceId("0011aabb-00000002"));
    EXPECT_EQ(list.FindRow("0011aabb-00000002"), -1);

    // A device listed before the clear comes back, numbered from 0 again.
    Add(list, Camera(2));
    EXPECT_EQ(list.RowCount(), 1);
    EXPECT_EQ(list.CellText(0, 0), "0");
    EXPECT_EQ(list.CellText(0, 1), "0011aabb-00000002");
    EXPECT_EQ(list.FindRow("0011aabb-00000002"), 0);
}

TEST(DeviceListTest, BatchDropsRepliesOfAReplacedSearchAndAppendsOnce) {
    DeviceList list;
    RecordingObserver observer;
    Add(list, Camera(1));
    list.SetObserver(&observer);

    std::vector<AcceptedReply> batch;
    batch.push_back(Camera(10).Accepted(41));  // accepted under the replaced search
    batch.push_back(Camera(2).Accepted(42));
    batch.push_back(Camera(1).Accepted(42));  // listed already
    batch.push_back(Camera(3).Accepted(42));
    batch.push_back(Camera(3).Accepted(42));  // twice in the same batch
    batch.push_back(Camera(11).Accepted(41));
    batch.push_back(Camera(4).Accepted(42));

    EXPECT_EQ(list.AddReplies(batch, 42), 3);
    EXPECT_EQ(observer.calls, (Texts{"append 1..3", "appended"}));
    EXPECT_EQ(Column(list, 0), (Texts{"0", "1", "2", "3"}));
    EXPECT_EQ(Column(list, 2), (Texts{"cam1", "cam2", "cam3", "cam4"}));
    EXPECT_FALSE(list.ContainsDeviceId("0011aabb-0000000a"));

    // A batch with nothing new appends nothing and tells nothing.
    EXPECT_EQ(list.AddReplies(batch, 41 + 100), 0);
    EXPECT_EQ(observer.calls.size(), 2u);

    // Each row keeps the interface its first reply came in on, also when the
    // rows are sorted; a row added without one, or none at all, gives 0.
    std::vector<AcceptedReply> found{Camera(6).Accepted(42), Camera(5).Accepted(42),
                                     Camera(5).Accepted(42)};
    found[0].arrivalInterface = 7;
    found[1].arrivalInterface = 3;
    found[2].arrivalInterface = 9;  // a duplicate: its interface is not taken
    EXPECT_EQ(list.AddReplies(found, 42), 2);
    list.SortByColumn(2, false);  // by name, descending: cam6, cam5, cam4, ...
    EXPECT_EQ(list.CellText(0, 2), "cam6");
    EXPECT_EQ(list.ArrivalInterface(0), 7u);
    EXPECT_EQ(list.ArrivalInterface(1), 3u);
    EXPECT_EQ(list.ArrivalInterface(2), 0u);
    EXPECT_EQ(list.ArrivalInterface(list.RowCount()), 0u);
    // Rows were cam1..cam4, cam6, cam5; now cam6, cam5, cam4, cam3, cam2, cam1.
    EXPECT_EQ(observer.calls.back(), "reordered 5 4 3 2 0 1");
}

// One column's cells in arrival order; the rows' arrival numbers ("NO.")
// after an ascending and after a descending sort by that column.
struct SortCase {
    const char* what;
    int column;
    std::vector<std::string> cells;
    Texts ascending;
    Texts descending;
};

TEST(DeviceListTest, SortsNumbersAndAddressesByValueAndTheOtherColumnsByBytes) {
    const std::vector<SortCase> cases = {
        // A malformed address (out of range, too short, empty, a word) sorts
        // after every address, by bytes; equal addresses keep arrival order
        // both ways ("010.0.0.9" is 10.0.0.9).
        {"IP",
         kColIp,
         {"10.0.0.100", "10.0.0.9", "bad", "10.0.0.10", "9.255.255.255", "", "010.0.0.9",
          "256.0.0.1", "1.2.3"},
         {"4", "1", "6", "3", "0", "5", "8", "7", "2"},
         {"2", "7", "8", "5", "0", "3", "1", "6", "4"}},
        {"Mask",
         kColMask,
         {"255.255.255.0", "255.0.0.0", "255.255.0.0", "255.255.255.128"},
         {"1", "2", "0", "3"},
         {"3", "0", "2", "1"}},
        {"Gateway",
         kColGateway,
         {"192.168.1.1", "192.168.10.1", "192.168.2.1"},
         {"0", "2", "1"},
         {"1", "2", "0"}},
        {"Port",
         kColPort,
         {"80", "554", "8080", "65535", "5050"},
         {"0", "1", "4", "2", "3"},
         {"3", "2", "4", "1", "0"}},
        {"Web Port, equal keys stable",
         kColWebPort,
         {"80", "80", "8"},
         {"2", "0", "1"},
         {"0", "1", "2"}},
        // Text: unsigned bytes, uppercase before lowercase, equal texts stable.
        {"Name",
         kColName,
         {"b", "B", "a", "b", "\xC9\xE3"},
         {"1", "2", "0", "3", "4"},
         {"4", "0", "3", "2", "1"}},
    };
    for (const SortCase& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceList list;
        for (std::size_t n = 0; n < c.cells.size(); ++n) {
            CameraReply camera = Camera(static_cast<std::uint32_t>(n));
            const std::string& cell = c.cells[n];
            switch (c.column) {
                case kColIp:
                    camera.ip = cell;
                    break;
                case kColMask:
                    camera.mask = cell;
                    break;
                case kColGateway:
                    camera.gateway = cell;
                    break;
                case kColPort:
                    camera.port = static_cast<std::uint16_t>(std::stoul(cell));
                    break;
                case kColWebPort:
                    camera.webPort = static_cast<std::uint16_t>(std::stoul(cell));
                    break;
                default:
                    camera.name = cell;
                    break;
            }
            Add(list, camera);
        }
        ASSERT_EQ(Column(list, c.column), c.cells);
        list.SortByColumn(c.column, true);
        EXPECT_EQ(Column(list, kColNumber), c.ascending);
        list.SortByColumn(c.column, false);
        EXPECT_EQ(Column(list, kColNumber), c.descending);
    }

    // "NO." by value: 2 before 10, 10 before 11, both ways.
    DeviceList list;
    for (std::uint32_t n = 0; n < 12; ++n) {
        Add(list, Camera(n));
    }
    list.SortByColumn(kColNumber, false);
    EXPECT_EQ(Column(list, kColNumber),
              (Texts{"11", "10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "0"}));
    list.SortByColumn(kColNumber, true);
    EXPECT_EQ(Column(list, kColNumber),
              (Texts{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
}

TEST(DeviceListTest, DeviceIdLookupsMatchOnlyTheExactTextAndFollowSorts) {
    DeviceList list;
    CameraReply camera;
    camera.devId = {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04};
    camera.name = "m";
    Add(list, camera);
    for (const char* text : {"0A00FF10-01020304", "0a00ff10:01020304", "0a00ff10-0102030",
                             "0a00ff10-010203040", "0a00ff10-01020305", ""}) {
        EXPECT_FALSE(list.ContainsDeviceId(text)) << text;
        EXPECT_EQ(list.FindRow(text), -1) << text;
    }
    EXPECT_TRUE(list.ContainsDeviceId("0a00ff10-01020304"));

    // FindRow answers the display position, through sorts and later arrivals.
    for (std::uint32_t n : {30u, 10u, 20u}) {
        Add(list, Camera(n));
    }
    list.SortByColumn(2, true);  // cam10, cam20, cam30, m
    EXPECT_EQ(list.FindRow("0a00ff10-01020304"), 3);
    EXPECT_EQ(list.FindRow("0011aabb-0000000a"), 0);
    EXPECT_EQ(list.FindRow("0011aabb-0000001e"), 2);
    Add(list, Camera(5));
    EXPECT_EQ(list.FindRow("0011aabb-00000005"), 4);
    list.SortByColumn(0, false);  // "NO." descending: 4, 3, 2, 1, 0
    for (int row = 0; row < list.RowCount(); ++row) {
        EXPECT_EQ(list.FindRow(list.CellText(row, 1)), row);
    }
}

TEST(DeviceListTest, UpdateRowTakesTheNewCellsInPlace) {
    DeviceList list;
    RecordingObserver observer;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        Add(list, Camera(n), 4);
    }
    list.SortByColumn(2, false);  // cam3, cam2, cam1
    list.SetObserver(&observer);

    CameraReply moved = Camera(2);
    moved.ip = "10.77.1.9";
    moved.mask = "255.255.0.0";
    moved.gateway = "10.77.0.1";
    moved.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
    const int row = list.FindRow("0011aabb-00000002");
    ASSERT_EQ(row, 1);
    EXPECT_TRUE(list.UpdateRow(row, moved.Reply(), 6));
    EXPECT_EQ(observer.calls, (Texts{"changed 1..1"}));
    const Texts expected = {"1",      "0011aabb-00000002", "cam2", "10.77.1.9",
                            "5050",   "02:00:00:00:00:09", "app",  "00:00:00:00:00:00:00:00",
                            "kernel", "255.255.0.0",       "80",   "10.77.0.1"};
    for (int c = 0; c < kColumnCount; ++c) {
        EXPECT_EQ(list.CellText(1, c), expected[static_cast<std::size_t>(c)]) << c;
    }
    EXPECT_EQ(list.ArrivalInterface(1), 6u);
    EXPECT_EQ(Column(list, 2), (Texts{"cam3", "cam2", "cam1"}));  // the others stay
    EXPECT_EQ(list.FindRow("0011aabb-00000002"), 1);
    EXPECT_EQ(list.DeviceCount(), 3);

    // The same values again change nothing; another camera's reply, or a row
    // that does not exist, is refused.
    EXPECT_FALSE(list.UpdateRow(1, moved.Reply(), 6));
    EXPECT_FALSE(list.UpdateRow(0, moved.Reply(), 6));
    EXPECT_FALSE(list.UpdateRow(3, moved.Reply(), 6));
    EXPECT_FALSE(list.UpdateRow(-1, moved.Reply(), 6));
    EXPECT_EQ(list.CellText(0, 3), "10.0.0.3");
    EXPECT_EQ(observer.calls.size(), 1u);
    // A later duplicate is still dropped: only UpdateRow rewrites a row.
    Add(list, Camera(2));
    EXPECT_EQ(list.CellText(1, 3), "10.77.1.9");
    EXPECT_TRUE(list.UpdateRow(1, moved.Reply(), 0));  // only the interface differs
}

TEST(DeviceListTest, FlagsComeFromTheOtherRowsAndTheHostsInterfaces) {
    DeviceList list;
    list.SetHostInterfaces({{"eth0", 2, "10.77.0.5", "255.255.0.0", "10.77.255.255"},
                            {"eth1", 3, "192.168.5.2", "255.255.255.0", "192.168.5.255"}});
    struct Case {
        const char* ip;
        std::uint32_t arrival;  // 2: eth0, 3: eth1, 0: unknown, 9: no host interface
        std::uint32_t flags;
    };
    const std::vector<Case> cases = {
        {"10.77.1.9", 2, 0},
        {"192.168.1.64", 2, IpConflict | OtherSubnet},  // two factory-default cameras
        {"192.168.1.64", 2, IpConflict | OtherSubnet},
        {"10.77.0.5", 2, HostAddress},
        {"192.168.5.2", 2, HostAddress | OtherSubnet},  // eth1's address, heard on eth0
        {"192.168.5.77", 3, 0},
        {"10.77.1.10", 3, OtherSubnet},
        {"172.16.0.1", 0, 0},
        {"172.16.0.2", 9, 0},
        {"999.1.2.300", 2, 0},  // no address: nothing to compare
        {"", 2, 0},             // two empty IPs share no address
        {"", 3, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        CameraReply camera = Camera(static_cast<std::uint32_t>(i));
        camera.ip = cases[i].ip;
        Add(list, camera, cases[i].arrival);
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(list.Flags(static_cast<int>(i)), cases[i].flags) << cases[i].ip;
    }
    EXPECT_EQ(list.Flags(-1), 0u);
    EXPECT_EQ(list.ArrivalInterfaceName(0), "eth0");
    EXPECT_EQ(list.ArrivalInterfaceName(5), "eth1");
    EXPECT_EQ(list.ArrivalInterfaceName(7), "");
    EXPECT_EQ(list.ArrivalInterfaceName(8), "");
    EXPECT_EQ(DeviceFlagNames(IpConflict | HostAddress | OtherSubnet),
              (std::vector<std::string_view>{"ip_conflict", "host_address", "other_subnet"}));
    EXPECT_EQ(DeviceFlagNames(OtherSubnet), (std::vector<std::string_view>{"other_subnet"}));
    EXPECT_TRUE(DeviceFlagNames(0).empty());

    // A conflict ends when one camera takes another address, and starts when
    // a new camera reports a listed one; the rows already listed are redrawn.
    RecordingObserver observer;
    list.SetObserver(&observer);
    CameraReply moved = Camera(2);
    moved.ip = "10.77.1.11";
    EXPECT_TRUE(list.UpdateRow(2, moved.Reply(), 2));
    EXPECT_EQ(list.Flags(1), OtherSubnet);
    EXPECT_EQ(list.Flags(2), 0u);
    CameraReply twin = Camera(100);
    twin.ip = "10.77.1.9";
    Add(list, twin, 2);
    EXPECT_EQ(list.Flags(0), IpConflict);
    EXPECT_EQ(list.Flags(12), IpConflict);
    EXPECT_EQ(observer.calls,
              (Texts{"changed 0..11", "append 12..12", "appended", "changed 0..11"}));
    // Sorting keeps every row's flags; a clear forgets the IPs.
    list.SortByColumn(3, true);
    EXPECT_EQ(list.Flags(list.FindRow("0011aabb-00000064")), IpConflict);
    list.Clear();
    Add(list, twin, 2);
    EXPECT_EQ(list.Flags(0), 0u);
}

TEST(DeviceListTest, CellsHoldTheReplyBytes) {
    DeviceList list;
    CameraReply camera;
    camera.devId = {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04};
    camera.port = 5050;
    camera.webPort = 65535;
    camera.hardwareVer = {0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0xFF};
    camera.name = "";
    camera.gateway = "192.168.100.254x";  // 16 characters, no terminator
    Add(list, camera);

    const Texts expected = {"0",      "0a00ff10-01020304", "",      "192.168.1.10",
                            "5050",   "00:1a:2b:3c:4d:5e", "app",   "01:02:03:04:0a:0b:0c:ff",
                            "kernel", "255.255.255.0",     "65535", "192.168.100.254x"};
    for (int column = 0; column < kColumnCount; ++column) {
        EXPECT_EQ(list.CellText(0, column), expected[static_cast<std::size_t>(column)]);
    }
    EXPECT_EQ(list.CellText(1, 0), "");
    EXPECT_EQ(list.CellText(0, 12), "");
    EXPECT_EQ(list.CellText(-1, 0), "");
}

TEST(DeviceListTest, ClearingALargeListLeavesItEmptyAndUsable) {
    DeviceList list;
    RecordingObserver observer;
    list.SetObserver(&observer);
    std::vector<AcceptedReply> batch;
    for (std::uint32_t n = 0; n < 30000; ++n) {
        batch.push_back(Camera(n).Accepted(3));
    }
    EXPECT_EQ(list.AddReplies(batch, 3), 30000);
    list.SetSelectedRow(29999);
    list.Clear();
    EXPECT_EQ(observer.calls, (Texts{"append 0..29999", "appended", "clear", "cleared"}));
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.DeviceCount(), 0);
    EXPECT_EQ(list.SelectedRow(), 0);
    EXPECT_FALSE(list.ContainsDeviceId("0011aabb-00000005"));
    // Rows arriving while the old ones are being freed are numbered afresh.
    Add(list, Camera(5));
    EXPECT_EQ(list.CellText(0, 0), "0");
    EXPECT_EQ(list.CellText(0, 1), "0011aabb-00000005");
    EXPECT_TRUE(list.WaitForRelease(std::chrono::seconds(20)));
    EXPECT_EQ(list.RowCount(), 1);

    // A full list lists no new device, counts it, and is usable after a clear.
    DeviceList small(3);
    for (std::uint32_t n = 1; n <= 5; ++n) {
        Add(small, Camera(n));
    }
    Add(small, Camera(2));  // listed already: not refused
    EXPECT_EQ(small.RowCount(), 3);
    EXPECT_EQ(small.DeviceCount(), 3);
    EXPECT_EQ(small.RefusedRows(), 2u);
    EXPECT_FALSE(small.ContainsDeviceId("0011aabb-00000004"));
    small.Clear();
    Add(small, Camera(4));
    EXPECT_EQ(small.CellText(0, 1), "0011aabb-00000004");
}

TEST(DeviceListTest, DeviceIdMapKeepsEveryKeyOnceThroughGrowth) {
    DeviceIdMap map;
    EXPECT_FALSE(map.Contains(0));
    EXPECT_TRUE(map.Insert(0, 5));  // the empty-slot marker is a key like any other
    EXPECT_FALSE(map.Insert(0, 6));
    // Keys that differ in their high or their low bytes only, as device IDs do.
    constexpr std::uint64_t kKeys = 200000;
    for (std::uint64_t n = 1; n <= kKeys; ++n) {
        ASSERT_TRUE(map.Insert(n << 32 | 0x6d736471u, static_cast<std::uint32_t>(n)));
        ASSERT_TRUE(map.Insert(0xbbaa110000000000ull | n, static_cast<std::uint32_t>(n + kKeys)));
    }
    EXPECT_EQ(map.Size(), std::size_t(2 * kKeys + 1));
    for (std::uint64_t n = 1; n <= kKeys; n += 997) {
        EXPECT_FALSE(map.Insert(n << 32 | 0x6d736471u, 0));
        EXPECT_EQ(map.Find(n << 32 | 0x6d736471u), std::optional<std::uint32_t>(n));
        EXPECT_EQ(map.Find(0xbbaa110000000000ull | n), std::optional<std::uint32_t>(n + kKeys));
        EXPECT_FALSE(map.Contains((n << 32) | 0x6d736472u));
    }
    EXPECT_FALSE(map.Contains(0xbbaa110000000000ull | (kKeys + 1)));
    EXPECT_EQ(map.Find(0), std::optional<std::uint32_t>(5));
    EXPECT_EQ(map.Size(), std::size_t(2 * kKeys + 1));
}

// Watching on an injected clock: one cycle a second, gone after 3 missed
// cycles. Each step shows the watch the replies of the cameras that answer
// just before the step's time, then ticks at that time; the events of both
// are compared as "kind row".
TEST(SiteWatchTest, CyclesMarkAddedChangedGoneAndBack) {
    constexpr std::uint32_t kSearch = 77;
    DeviceList list;
    std::chrono::milliseconds wall{0};
    const auto epoch = std::chrono::system_clock::time_point(std::chrono::hours(500000));
    list.SetClock([&] { return epoch + wall; });
    WatchOptions options;
    options.interval = std::chrono::milliseconds(1000);
    options.goneAfterCycles = 3;
    SiteWatch watch(list, options);
    const SiteWatch::Clock::time_point t0{};
    watch.Start(t0);

    CameraReply moved = Camera(2);
    moved.ip = "10.0.9.9";
    CameraReply movedAgain = Camera(2);
    movedAgain.ip = "10.0.9.10";
    struct Step {
        int atMs;
        std::vector<CameraReply> answering;
        Texts events;
        int goneCount;
    };
    const std::vector<Step> steps = {
        {100, {Camera(1), Camera(2), Camera(1)}, {"added 0", "added 1"}, 0},
        {1000, {Camera(1)}, {}, 0},          // camera 2 answered in this cycle
        {2000, {Camera(1)}, {}, 0},          // camera 2 misses one
        {3000, {Camera(1)}, {}, 0},          // two
        {3999, {}, {}, 0},                   // the cycle is not over yet
        {4000, {Camera(1)}, {"gone 1"}, 1},  // three: gone, its row stays
        {5000, {Camera(1)}, {}, 1},          // gone is reported once
        {5500, {Camera(2)}, {"back 1"}, 0},
        {6000, {Camera(1), moved, Camera(3)}, {"changed 1", "added 2"}, 0},
        {7000, {Camera(1), moved, Camera(3)}, {}, 0},  // the same values: no change
        {8000, {Camera(1), Camera(3)}, {}, 0},
        {9000, {Camera(1), Camera(3)}, {}, 0},
        {10000, {Camera(1), Camera(3)}, {"gone 1"}, 1},
        // Back with new values: one event, the row updated before it.
        {10500, {movedAgain}, {"back 1"}, 0},
    };
    for (const Step& step : steps) {
        wall = std::chrono::milliseconds(step.atMs);
        std::vector<AcceptedReply> batch;
        for (const CameraReply& camera : step.answering) {
            batch.push_back(camera.Accepted(kSearch));
        }
        // A reply of an earlier search is no answer.
        batch.push_back(Camera(4).Accepted(kSearch - 1));
        std::vector<WatchEvent> events;
        watch.Observe(batch, kSearch, events);
        watch.Tick(t0 + std::chrono::milliseconds(step.atMs), events);
        Texts texts;
        for (const WatchEvent& event : events) {
            texts.push_back(std::string(WatchEventName(event.kind)) + " " +
                            std::to_string(event.row));
            EXPECT_EQ(event.time, epoch + wall) << "at " << step.atMs << " ms";
        }
        EXPECT_EQ(texts, step.events) << "at " << step.atMs << " ms";
        EXPECT_EQ(list.GoneCount(), step.goneCount) << "at " << step.atMs << " ms";
    }
    EXPECT_EQ(list.RowCount(), 3);
    EXPECT_EQ(watch.Cycles(), 10);
    // Camera 2: listed at 100 ms, last heard at 10.5 s, with the new IP in place.
    const RowPresence presence = list.Presence(1);
    EXPECT_EQ(presence.firstSeen, epoch + std::chrono::milliseconds(100));
    EXPECT_EQ(presence.lastSeen, epoch + std::chrono::milliseconds(10500));
    EXPECT_FALSE(presence.gone);
    EXPECT_TRUE(presence.changed);
    EXPECT_FALSE(list.Presence(0).changed);
    EXPECT_EQ(list.CellText(1, kColIp), "10.0.9.10");
    EXPECT_EQ(list.CellText(1, kColNumber), "1");
}

// A tick that comes late does not send the missed requests in a burst, and
// a stopped watch asks for none.
TEST(SiteWatchTest, LateTicksKeepOneRequestPerCycle) {
    DeviceList list;
    SiteWatch watch(list, WatchOptions{std::chrono::milliseconds(1000), 3});
    const SiteWatch::Clock::time_point t0{};
    watch.Start(t0);
    std::vector<WatchEvent> events;
    EXPECT_FALSE(watch.Tick(t0 + std::chrono::milliseconds(999), events));
    EXPECT_TRUE(watch.Tick(t0 + std::chrono::milliseconds(3500), events));
    EXPECT_FALSE(watch.Tick(t0 + std::chrono::milliseconds(4000), events));
    EXPECT_EQ(watch.NextDue(), t0 + std::chrono::milliseconds(4500));
    watch.Stop();
    EXPECT_FALSE(watch.Tick(t0 + std::chrono::milliseconds(9000), events));
    EXPECT_TRUE(events.empty());
}

// What the window's bar says: searching, the counts, watching; and its
// format's '%' codes kept from substituting a text.
TEST(ListBarTest, SaysSearchingThenTheCountsAndWhileWatchingSaysSo) {
    ListBar bar;
    const ListCounts one{1, 0, 0, 0};
    const ListCounts site{29, 2, 1, 1};
    EXPECT_EQ(bar.Text(site), "29 cameras \u00B7 2 flagged \u00B7 1 selected");
    EXPECT_EQ(bar.Text(one), "1 camera \u00B7 0 flagged \u00B7 0 selected");
    bar.SearchStarted();
    EXPECT_EQ(bar.Text({}), "Searching\u2026");
    EXPECT_EQ(bar.Text(site), "Searching\u2026 \u00B7 29 cameras");
    bar.SearchEnded();
    bar.SetWatching(true, 5000);
    EXPECT_EQ(bar.Text(site),
              "Watching \u00B7 every 5 s \u00B7 29 cameras \u00B7 2 flagged \u00B7 1 selected "
              "\u00B7 1 gone");
    bar.SetWatching(true, 250);
    EXPECT_EQ(bar.Text({}).substr(0, 24), "Watching \u00B7 every 0.25 s");
    bar.SetWatching(false, 0);
    EXPECT_EQ(bar.Text(site), "29 cameras \u00B7 2 flagged \u00B7 1 selected");
    EXPECT_EQ(SecondsText(200), "0.2 s");
    EXPECT_EQ(SecondsText(3600000), "3600 s");
    EXPECT_EQ(SecondsText(2505), "2.505 s");

    // "%p", "%v" and "%m" get a word joiner after the '%'; other '%' stay.
    EXPECT_EQ(ProgressFormatText("50%p 1%v %m %% 5%"), "50%\u2060p 1%\u2060v %\u2060m %% 5%");
    EXPECT_EQ(ProgressFormatText("%"), "%");
}

// ONVIF devices in the same list: one row per device, joined with the camera
// that is the same device, flagged with the others that share its address.
OnvifDevice Onvif(std::string endpoint, std::string ip, std::string mac = "",
                  std::string name = "onvif") {
    OnvifDevice device;
    device.endpoint = std::move(endpoint);
    device.ip = std::move(ip);
    device.mac = std::move(mac);
    device.scopeValues.name = std::move(name);
    device.scopeValues.hardware = "HW-1";
    device.xaddrs = {"http://" + device.ip + "/onvif/device_service"};
    return device;
}

TEST(DeviceListOnvif, OwnRowsCarryNameIpMacHardwareAndNothingElse) {
    DeviceList list;
    Add(list, Camera(1));  // 10.0.0.1, 00:1a:2b:3c:4d:5e
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:a", "10.0.0.7", "02:00:00:00:00:07", "Gate")), 1);
    const std::vector<std::string> expected = {
        "1", "", "Gate", "10.0.0.7", "", "02:00:00:00:00:07", "", "HW-1", "", "", "", ""};
    for (int c = 0; c < kColumnCount; ++c) {
        EXPECT_EQ(list.CellText(1, c), expected[static_cast<std::size_t>(c)]) << "column " << c;
    }
    EXPECT_EQ(list.SeenViaOf(0), SeenNative);
    EXPECT_EQ(list.SeenViaOf(1), SeenOnvif);
    EXPECT_EQ(SeenViaName(list.SeenViaOf(1)), "onvif");
    ASSERT_NE(list.OnvifInfo(1), nullptr);
    EXPECT_EQ(list.OnvifInfo(1)->endpoint, "urn:uuid:a");
    EXPECT_EQ(list.OnvifInfo(0), nullptr);
    // Its row has no device ID: no device-ID lookup finds it.
    EXPECT_EQ(list.FindRow(std::string_view("")), -1);
    // Heard again with a new name: the same row, updated.
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:a", "10.0.0.7", "02:00:00:00:00:07", "Gate 2")),
              1);
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.CellText(1, kColName), "Gate 2");
    // A name far too long is cut, never inside a UTF-8 character.
    std::string longName(254, 'x');
    longName += "\xe4\xb8\xad";
    EXPECT_EQ(list.CellText(list.AddOnvifDevice(Onvif("urn:uuid:b", "", "", longName)), 2),
              std::string(254, 'x'));
}

TEST(DeviceListOnvif, ADeviceOnBothProtocolsIsOneRow) {
    DeviceList list;
    test::CameraReply camera = Camera(1);
    Add(list, camera);
    // The same MAC (in other case): the camera's row, seen both ways; its
    // cells stay the camera's own.
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:a", "10.9.9.9", "00:1A:2B:3C:4D:5E")), 0);
    EXPECT_EQ(list.RowCount(), 1);
    EXPECT_EQ(SeenViaName(list.SeenViaOf(0)), "native+onvif");
    EXPECT_EQ(list.CellText(0, kColIp), "10.0.0.1");
    EXPECT_EQ(list.FindOnvifRow("urn:uuid:a"), 0);
    // No MAC from the device: the same IP is the same device.
    test::CameraReply second = Camera(2);
    second.ip = "192.168.1.20";
    second.mac[5] = 0x77;
    Add(list, second);
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:b", "192.168.1.20")), 1);
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.Flags(1) & IpConflict, 0u);
    // The camera's reply comes after the device: it joins the device's row.
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:c", "192.168.1.30", "00:1a:2b:3c:4d:30", "o")),
              2);
    test::CameraReply third = Camera(3);
    third.ip = "192.168.1.30";
    third.mac[5] = 0x30;
    third.name = "native-name";
    Add(list, third);
    EXPECT_EQ(list.RowCount(), 3);
    EXPECT_EQ(SeenViaName(list.SeenViaOf(2)), "native+onvif");
    EXPECT_EQ(list.CellText(2, kColName), "native-name");
    EXPECT_EQ(list.CellText(2, kColNumber), "2");
    EXPECT_EQ(list.FindRow(third.Reply()), 2);
    EXPECT_EQ(list.Flags(2) & IpConflict, 0u);  // counted once
}

TEST(DeviceListOnvif, AddressClashesAcrossProtocolsAreFlagged) {
    DeviceList list;
    Add(list, Camera(1));  // 10.0.0.1, 00:1a:2b:3c:4d:5e
    // The same IP, another MAC: two devices on one address.
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:x", "10.0.0.1", "02:00:00:00:00:99")), 1);
    EXPECT_NE(list.Flags(0) & IpConflict, 0u);
    EXPECT_NE(list.Flags(1) & IpConflict, 0u);
    // Two ONVIF devices on one address.
    list.AddOnvifDevice(Onvif("urn:uuid:y", "10.0.0.5"));
    EXPECT_EQ(list.Flags(2) & IpConflict, 0u);
    list.AddOnvifDevice(Onvif("urn:uuid:z", "10.0.0.5"));
    EXPECT_NE(list.Flags(2) & IpConflict, 0u);
    EXPECT_NE(list.Flags(3) & IpConflict, 0u);
    // One moves away: the clash ends for both.
    list.AddOnvifDevice(Onvif("urn:uuid:z", "10.0.0.6"));
    EXPECT_EQ(list.Flags(2) & IpConflict, 0u);
    EXPECT_EQ(list.Flags(3) & IpConflict, 0u);
    list.Clear();
    EXPECT_EQ(list.FindOnvifRow("urn:uuid:x"), -1);
    EXPECT_EQ(list.AddOnvifDevice(Onvif("urn:uuid:x", "10.0.0.1")), 0);
    EXPECT_EQ(list.Flags(0) & IpConflict, 0u);
}
// Watching ONVIF devices: a Hello lists or returns a device at once, a Bye
// makes it gone at once, and the rows of ONVIF devices alone are judged by
// the rounds of probes, never by the native cycles (their answers take
// longer than a short cycle). Events compared as "kind row", as above.
TEST(SiteWatchTest, OnvifHelloAndByeCountAtOnceAndRoundsJudgeOnvifRows) {
    constexpr std::uint32_t kSearch = 5;
    DeviceList list;
    SiteWatch watch(list, WatchOptions{std::chrono::milliseconds(1000), 3});
    const SiteWatch::Clock::time_point t0{};
    watch.Start(t0);
    using K = OnvifSightingKind;
    const auto a = Onvif("urn:uuid:a", "10.0.0.7", "", "Gate");
    auto renamed = a;
    renamed.scopeValues.name = "Gate 2";
    const auto b = Onvif("urn:uuid:b", "10.0.0.8");
    // Camera 1 answering as an ONVIF device too (the same MAC).
    const auto c = Onvif("urn:uuid:c", "10.0.0.1", "00:1a:2b:3c:4d:5e");
    OnvifDevice byeA;
    byeA.endpoint = "urn:uuid:a";
    OnvifDevice byeOther;
    byeOther.endpoint = "urn:uuid:printer";
    struct Step {
        int atMs;
        bool cameraAnswers;
        std::vector<OnvifSighting> heard;
        Texts events;
        int goneCount;
    };
    const std::vector<Step> steps = {
        {100, true, {{K::Hello, a}}, {"added 0", "added 1"}, 0},
        {150, false, {{K::Hello, c}}, {}, 0},  // joins the camera's row
        {200, false, {{K::Hello, a}}, {}, 0},  // heard again, nothing new
        {300, false, {{K::ProbeMatch, a}, {K::ProbeMatch, b}, {K::RoundEnd, {}}}, {"added 2"}, 0},
        {1000, true, {}, {}, 0},
        {1100, false, {{K::Bye, byeA}}, {"gone 1"}, 1},  // at once, not after three cycles
        {1200, false, {{K::Bye, byeA}, {K::Bye, byeOther}}, {}, 1},
        {1300, false, {{K::RoundEnd, {}}}, {}, 1},      // b misses one round
        {1400, false, {{K::Hello, a}}, {"back 1"}, 0},  // as it was: back, not changed
        {1500, false, {{K::Hello, renamed}}, {"changed 1"}, 0},
        {2000, true, {}, {}, 0},
        {3000, true, {}, {}, 0},
        {4000, true, {}, {}, 0},  // three cycles: b is no camera, not gone by them
        {4100, false, {{K::RoundEnd, {}}}, {}, 0},
        {4200, false, {{K::RoundEnd, {}}}, {"gone 2"}, 1},  // b: three rounds
        {4300, false, {{K::ProbeMatch, b}, {K::RoundEnd, {}}}, {"back 2"}, 0},
    };
    for (const Step& step : steps) {
        std::vector<WatchEvent> events;
        if (step.cameraAnswers) {
            watch.Observe({Camera(1).Accepted(kSearch)}, kSearch, events);
        }
        watch.ObserveOnvif(step.heard, events);
        watch.Tick(t0 + std::chrono::milliseconds(step.atMs), events);
        Texts texts;
        for (const WatchEvent& event : events) {
            texts.push_back(std::string(WatchEventName(event.kind)) + " " +
                            std::to_string(event.row));
        }
        EXPECT_EQ(texts, step.events) << "at " << step.atMs << " ms";
        EXPECT_EQ(list.GoneCount(), step.goneCount) << "at " << step.atMs << " ms";
    }
    ASSERT_EQ(list.RowCount(), 3);
    EXPECT_EQ(list.SeenViaOf(0), SeenNative | SeenOnvif);
    EXPECT_EQ(list.CellText(1, kColName), "Gate 2");
    EXPECT_TRUE(list.Presence(1).changed);
    EXPECT_FALSE(list.Presence(2).changed);
}

}  // namespace
}  // namespace qdipc
