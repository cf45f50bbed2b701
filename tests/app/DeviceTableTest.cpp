// The device table as the list's model: numbering, duplicates, clearing,
// replies of replaced searches, batches, the cells' bytes and their display,
// replies that arrive from another thread through the reply pump, the pump's
// time-boxed slices and cap, and clearing a large table.

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "TestPrinting.h"
#include "TestReplies.h"
#include "app/ReplyPump.h"
#include "discovery/DeviceIdSet.h"
#include "discovery/DeviceTable.h"

using qdipc::DeviceTable;
using qdipc::test::Camera;
using qdipc::test::CameraReply;

namespace {

void Add(DeviceTable& table, const CameraReply& camera) {
    const auto reply = camera.Reply();
    table.AddReply(&reply);
}

using Texts = std::vector<std::string>;

Texts NumberColumn(const DeviceTable& table) {
    Texts numbers;
    for (int row = 0; row < table.RowCount(); ++row) {
        numbers.push_back(table.CellText(row, 0));
    }
    return numbers;
}

}  // namespace

class DeviceTableTest : public QObject {
    Q_OBJECT
private slots:
    void rowsAreNumberedInArrivalOrderAndDuplicatesUseNoNumber();
    void duplicateDeviceIdLeavesTheListedRowUnchanged();
    void deviceIdsDifferingInOneByteGiveTwoRows();
    void clearEmptiesTheTableAndResetsBothCounters();
    void batchDropsRepliesOfAReplacedSearchAndInsertsOnce();
    void containsDeviceIdMatchesOnlyTheExactText();
    void cellsHoldTheReplyBytes();
    void displayedTextIsDecodedUtf8ThenGbThenLatin1();
    void modelStaysConsistentUnderTheTester();
    void repliesFromAnotherThreadReachTheTableOnTheUiThread();
    void pumpDrainsInTimeBoxedSlicesWithTheLoopRunningBetween();
    void clearingALargeTableLeavesItEmptyAndUsable();
    void deviceIdSetKeepsEveryKeyOnceThroughGrowth();
};

void DeviceTableTest::rowsAreNumberedInArrivalOrderAndDuplicatesUseNoNumber() {
    DeviceTable table;
    Add(table, Camera(1));
    Add(table, Camera(1));  // a duplicate
    Add(table, Camera(2));
    Add(table, Camera(3));
    table.AddReply(nullptr);  // ignored
    QCOMPARE(NumberColumn(table), (Texts{"0", "1", "2"}));
    QCOMPARE(table.RowCount(), 3);
    QCOMPARE(table.DeviceCount(), 3);
    QCOMPARE(table.CellText(1, 1), std::string("0011aabb-00000002"));

    // Twelve rows count on past 9 with plain decimal numbers.
    for (std::uint32_t n = 4; n <= 12; ++n) {
        Add(table, Camera(n));
    }
    QCOMPARE(table.CellText(11, 0), std::string("11"));
}

void DeviceTableTest::duplicateDeviceIdLeavesTheListedRowUnchanged() {
    DeviceTable table;
    Add(table, Camera(7));
    CameraReply changed = Camera(7);
    changed.ip = "172.16.0.99";
    changed.name = "renamed";
    Add(table, changed);
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(table.DeviceCount(), 1);
    QCOMPARE(table.CellText(0, 3), std::string("10.0.0.7"));
    QCOMPARE(table.CellText(0, 2), std::string("cam7"));
}

void DeviceTableTest::deviceIdsDifferingInOneByteGiveTwoRows() {
    DeviceTable table;
    CameraReply first = Camera(0);
    CameraReply lastByte = Camera(0);
    lastByte.devId[7] = 0x01;
    CameraReply firstByte = Camera(0);
    firstByte.devId[0] = 0x80;
    Add(table, first);
    Add(table, lastByte);
    Add(table, firstByte);
    QCOMPARE(table.RowCount(), 3);
    QCOMPARE(table.CellText(0, 1), std::string("0011aabb-00000000"));
    QCOMPARE(table.CellText(1, 1), std::string("0011aabb-00000001"));
    QCOMPARE(table.CellText(2, 1), std::string("8011aabb-00000000"));
}

void DeviceTableTest::clearEmptiesTheTableAndResetsBothCounters() {
    DeviceTable table;
    for (std::uint32_t n = 1; n <= 3; ++n) {
        Add(table, Camera(n));
    }
    table.SetSelectedRow(2);
    table.Clear();
    QCOMPARE(table.RowCount(), 0);
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(table.DeviceCount(), 0);
    QCOMPARE(table.SelectedRow(), 0);
    QVERIFY(!table.ContainsDeviceId("0011aabb-00000002"));

    // A device listed before the clear comes back, numbered from 0 again.
    Add(table, Camera(2));
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(table.CellText(0, 0), std::string("0"));
    QCOMPARE(table.CellText(0, 1), std::string("0011aabb-00000002"));
}

void DeviceTableTest::batchDropsRepliesOfAReplacedSearchAndInsertsOnce() {
    DeviceTable table;
    Add(table, Camera(1));
    QSignalSpy inserted(&table, &QAbstractItemModel::rowsInserted);

    std::vector<qdipc::AcceptedReply> batch;
    batch.push_back(Camera(10).Accepted(41));  // accepted under the replaced search
    batch.push_back(Camera(2).Accepted(42));
    batch.push_back(Camera(1).Accepted(42));  // listed already
    batch.push_back(Camera(3).Accepted(42));
    batch.push_back(Camera(3).Accepted(42));  // twice in the same batch
    batch.push_back(Camera(11).Accepted(41));
    batch.push_back(Camera(4).Accepted(42));

    QCOMPARE(table.AddReplies(batch, 42), 3);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    QCOMPARE(NumberColumn(table), (Texts{"0", "1", "2", "3"}));
    QCOMPARE(table.CellText(1, 2), std::string("cam2"));
    QCOMPARE(table.CellText(2, 2), std::string("cam3"));
    QCOMPARE(table.CellText(3, 2), std::string("cam4"));
    QVERIFY(!table.ContainsDeviceId("0011aabb-0000000a"));

    // A batch with nothing new inserts nothing.
    QCOMPARE(table.AddReplies(batch, 41 + 100), 0);
    QCOMPARE(inserted.count(), 1);

    // Each row keeps the interface its first reply came in on, also when the
    // rows are sorted; a row added without one, or none at all, gives 0.
    std::vector<qdipc::AcceptedReply> found{Camera(6).Accepted(42), Camera(5).Accepted(42),
                                            Camera(5).Accepted(42)};
    found[0].arrivalInterface = 7;
    found[1].arrivalInterface = 3;
    found[2].arrivalInterface = 9;  // a duplicate: its interface is not taken
    QCOMPARE(table.AddReplies(found, 42), 2);
    table.SortByColumn(2, false);  // by name, descending: cam6, cam5, cam4, ...
    QCOMPARE(table.CellText(0, 2), std::string("cam6"));
    QCOMPARE(table.ArrivalInterface(0), std::uint32_t(7));
    QCOMPARE(table.ArrivalInterface(1), std::uint32_t(3));
    QCOMPARE(table.ArrivalInterface(2), std::uint32_t(0));
    QCOMPARE(table.ArrivalInterface(table.RowCount()), std::uint32_t(0));
}

void DeviceTableTest::containsDeviceIdMatchesOnlyTheExactText() {
    DeviceTable table;
    CameraReply camera;
    camera.devId = {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04};
    Add(table, camera);
    QVERIFY(table.ContainsDeviceId("0a00ff10-01020304"));
    QVERIFY(!table.ContainsDeviceId("0A00FF10-01020304"));  // not the cell's text
    QVERIFY(!table.ContainsDeviceId("0a00ff10:01020304"));
    QVERIFY(!table.ContainsDeviceId("0a00ff10-0102030"));
    QVERIFY(!table.ContainsDeviceId("0a00ff10-010203040"));
    QVERIFY(!table.ContainsDeviceId("0a00ff10-01020305"));
    QVERIFY(!table.ContainsDeviceId(""));
}

void DeviceTableTest::cellsHoldTheReplyBytes() {
    DeviceTable table;
    CameraReply camera;
    camera.devId = {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04};
    camera.port = 5050;
    camera.webPort = 65535;
    camera.hardwareVer = {0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0xFF};
    camera.name = "";
    camera.gateway = "192.168.100.254x";  // 16 characters, no terminator
    Add(table, camera);

    const std::vector<std::string> expected = {
        "0",   "0a00ff10-01020304",       "",       "192.168.1.10",  "5050",  "00:1a:2b:3c:4d:5e",
        "app", "01:02:03:04:0a:0b:0c:ff", "kernel", "255.255.255.0", "65535", "192.168.100.254x"};
    for (int column = 0; column < qdipc::kColumnCount; ++column) {
        QCOMPARE(table.CellText(0, column), expected[static_cast<std::size_t>(column)]);
    }
    QCOMPARE(table.CellText(1, 0), std::string());
    QCOMPARE(table.CellText(0, 12), std::string());
    QCOMPARE(table.CellText(-1, 0), std::string());

    const std::vector<const char*> titles = {"NO.",        "Dev ID", "Name",     "IP",
                                             "Port",       "MAC",    "App Ver",  "Hardware Ver",
                                             "Kernel Ver", "Mask",   "Web Port", "Gateway"};
    for (int column = 0; column < qdipc::kColumnCount; ++column) {
        QCOMPARE(table.headerData(column, Qt::Horizontal).toString(),
                 QString::fromLatin1(titles[static_cast<std::size_t>(column)]));
    }
    QCOMPARE(table.data(table.index(0, 3)).toString(), QStringLiteral("192.168.1.10"));
}

void DeviceTableTest::displayedTextIsDecodedUtf8ThenGbThenLatin1() {
    DeviceTable table;
    CameraReply utf8 = Camera(1);
    utf8.name = "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA";  // 摄像机 in UTF-8
    CameraReply gbk = Camera(2);
    gbk.name = "\xC9\xE3\xCF\xF1\xBB\xFA";  // 摄像机 in GBK
    CameraReply latin1 = Camera(3);
    latin1.name = "caf\xE9";  // a lone lead byte at the end is no GB text
    Add(table, utf8);
    Add(table, gbk);
    Add(table, latin1);

    QCOMPARE(table.DisplayText(0, 2), QStringLiteral("摄像机"));
    QCOMPARE(table.DisplayText(1, 2), QStringLiteral("摄像机"));
    QCOMPARE(table.DisplayText(2, 2), QStringLiteral("café"));
    // The cells keep the bytes as they came.
    QCOMPARE(table.CellText(1, 2), gbk.name);
    QCOMPARE(table.CellText(2, 2), latin1.name);
}

void DeviceTableTest::modelStaysConsistentUnderTheTester() {
    DeviceTable table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Add(table, Camera(5));
    std::vector<qdipc::AcceptedReply> batch;
    for (std::uint32_t n = 20; n > 10; --n) {
        batch.push_back(Camera(n).Accepted(9));
    }
    table.AddReplies(batch, 9);
    QPersistentModelIndex followed = table.index(3, 2);  // "cam18"
    table.SortByColumn(2, true);
    QVERIFY(followed.isValid());
    QCOMPARE(followed.data().toString(), QStringLiteral("cam18"));
    table.SortByColumn(2, false);
    QCOMPARE(followed.data().toString(), QStringLiteral("cam18"));
    table.Clear();
    QVERIFY(!followed.isValid());
    Add(table, Camera(5));
    QCOMPARE(table.rowCount(), 1);
}

void DeviceTableTest::repliesFromAnotherThreadReachTheTableOnTheUiThread() {
    DeviceTable table;
    std::atomic<std::uint32_t> currentSearch{1};
    qdipc::ReplyPump pump(
        [&](std::vector<qdipc::AcceptedReply>& batch) {
            QCOMPARE(QThread::currentThread(), table.thread());
            table.AddReplies(batch, currentSearch.load());
        },
        std::chrono::milliseconds(20));

    constexpr std::uint32_t kBatches = 50;
    constexpr std::uint32_t kPerBatch = 20;
    auto pushSearch = [&](std::uint32_t searchId, std::uint32_t firstCamera) {
        for (std::uint32_t b = 0; b < kBatches; ++b) {
            std::vector<qdipc::AcceptedReply> batch;
            for (std::uint32_t i = 0; i < kPerBatch; ++i) {
                batch.push_back(Camera(firstCamera + b * kPerBatch + i).Accepted(searchId));
                batch.push_back(Camera(firstCamera + b * kPerBatch + i).Accepted(searchId));
            }
            pump.Queue().Push(batch);
        }
    };

    std::thread worker(pushSearch, 1, 0);
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(table.RowCount(), int(kBatches * kPerBatch), 10000);
    for (int row = 0; row < table.RowCount(); ++row) {
        QCOMPARE(table.CellText(row, 0), std::to_string(row));
    }

    // A new search replaces the old one: the old search's late replies, still
    // queued or pushed afterwards, never show in the new table.
    table.Clear();
    currentSearch = 2;
    std::thread late(pushSearch, 1, 100000);
    std::thread fresh(pushSearch, 2, 200000);
    late.join();
    fresh.join();
    QTRY_COMPARE_WITH_TIMEOUT(table.RowCount(), int(kBatches * kPerBatch), 10000);
    pump.DrainNow();
    QCOMPARE(table.RowCount(), int(kBatches * kPerBatch));
    for (int row = 0; row < table.RowCount(); ++row) {
        QVERIFY(table.CellText(row, 2).rfind("cam2", 0) == 0);
    }
}

void DeviceTableTest::pumpDrainsInTimeBoxedSlicesWithTheLoopRunningBetween() {
    // Positive entries: the size of a chunk handed over; -1: a timer event.
    std::vector<int> sequence;
    qdipc::ReplyPumpOptions options;
    options.minInterval = std::chrono::milliseconds(0);
    options.sliceBudget = std::chrono::milliseconds(0);  // one chunk per slice
    options.chunk = 100;
    options.maxPending = 1000;
    qdipc::ReplyPump pump(
        [&](std::vector<qdipc::AcceptedReply>& chunk) {
            sequence.push_back(static_cast<int>(chunk.size()));
        },
        options);
    std::vector<qdipc::AcceptedReply> batch;
    for (std::uint32_t n = 0; n < 1200; ++n) {
        batch.push_back(Camera(n).Accepted(1));
    }
    pump.Queue().Push(batch);
    QCOMPARE(pump.Queue().Pending(), std::size_t(1000));
    QCOMPARE(pump.Queue().Dropped(), std::uint64_t(200));

    pump.DrainSlice();
    QCOMPARE(sequence, std::vector<int>{100});
    QCOMPARE(pump.Queue().Pending(), std::size_t(900));
    QTimer::singleShot(0, [&] { sequence.push_back(-1); });
    QTRY_COMPARE_WITH_TIMEOUT(pump.Queue().Pending(), std::size_t(0), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sequence.size(), std::size_t(11), 20000);
    // The timer event ran between two slices, not after the whole backlog.
    const auto marker = std::find(sequence.begin(), sequence.end(), -1);
    QVERIFY(marker != sequence.end());
    QVERIFY(marker - sequence.begin() < 10);
    QCOMPARE(std::count(sequence.begin(), sequence.end(), 100), 10);

    // A real budget: a backlog that needs far more than it is not taken in
    // one slice.
    std::vector<int> chunks;
    options.sliceBudget = std::chrono::milliseconds(20);
    options.chunk = 10;
    qdipc::ReplyPump slow(
        [&](std::vector<qdipc::AcceptedReply>& chunk) {
            chunks.push_back(static_cast<int>(chunk.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        },
        options);
    std::vector<qdipc::AcceptedReply> backlog;
    for (std::uint32_t n = 0; n < 200; ++n) {
        backlog.push_back(Camera(n).Accepted(1));
    }
    slow.Queue().Push(backlog);
    slow.DrainSlice();
    QVERIFY(!chunks.empty());
    QVERIFY2(chunks.size() < 20, std::to_string(chunks.size()).c_str());
    QTRY_COMPARE_WITH_TIMEOUT(chunks.size(), std::size_t(20), 20000);
}

void DeviceTableTest::clearingALargeTableLeavesItEmptyAndUsable() {
    DeviceTable table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<qdipc::AcceptedReply> batch;
    for (std::uint32_t n = 0; n < 30000; ++n) {
        batch.push_back(Camera(n).Accepted(3));
    }
    QCOMPARE(table.AddReplies(batch, 3), 30000);
    table.SetSelectedRow(29999);
    table.Clear();
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(table.DeviceCount(), 0);
    QCOMPARE(table.SelectedRow(), 0);
    QVERIFY(!table.ContainsDeviceId("0011aabb-00000005"));
    // Rows arriving while the old ones are being freed are numbered afresh.
    Add(table, Camera(5));
    QCOMPARE(table.CellText(0, 0), std::string("0"));
    QCOMPARE(table.CellText(0, 1), std::string("0011aabb-00000005"));
    QVERIFY(table.WaitForRelease(std::chrono::seconds(20)));
    QCOMPARE(table.RowCount(), 1);

    // A full table lists no new device, counts it, and is usable after a clear.
    DeviceTable small(nullptr, 3);
    for (std::uint32_t n = 1; n <= 5; ++n) {
        Add(small, Camera(n));
    }
    Add(small, Camera(2));  // listed already: not refused
    QCOMPARE(small.RowCount(), 3);
    QCOMPARE(small.DeviceCount(), 3);
    QCOMPARE(small.RefusedRows(), std::uint64_t(2));
    QVERIFY(!small.ContainsDeviceId("0011aabb-00000004"));
    small.Clear();
    Add(small, Camera(4));
    QCOMPARE(small.CellText(0, 1), std::string("0011aabb-00000004"));
}

void DeviceTableTest::deviceIdSetKeepsEveryKeyOnceThroughGrowth() {
    qdipc::DeviceIdSet set;
    QVERIFY(!set.Contains(0));
    QVERIFY(set.Insert(0));  // the empty-slot marker is a key like any other
    QVERIFY(!set.Insert(0));
    // Keys that differ in their high or their low bytes only, as device IDs do.
    constexpr std::uint64_t kKeys = 200000;
    for (std::uint64_t n = 1; n <= kKeys; ++n) {
        QVERIFY(set.Insert(n << 32 | 0x6d736471u));
        QVERIFY(set.Insert(0xbbaa110000000000ull | n));
    }
    QCOMPARE(set.Size(), std::size_t(2 * kKeys + 1));
    for (std::uint64_t n = 1; n <= kKeys; n += 997) {
        QVERIFY(!set.Insert(n << 32 | 0x6d736471u));
        QVERIFY(set.Contains(0xbbaa110000000000ull | n));
        QVERIFY(!set.Contains((n << 32) | 0x6d736472u));
    }
    QVERIFY(!set.Contains(0xbbaa110000000000ull | (kKeys + 1)));
    QVERIFY(set.Contains(0));
    QCOMPARE(set.Size(), std::size_t(2 * kKeys + 1));
}

QTEST_MAIN(DeviceTableTest)
#include "DeviceTableTest.moc"
