// The device table as the list's model: numbering, duplicates, clearing,
// replies of replaced searches, batches, the cells' bytes and their display,
// and replies that arrive from another thread through the reply pump.

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

#include "TestPrinting.h"
#include "TestReplies.h"
#include "app/ReplyPump.h"
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

QTEST_MAIN(DeviceTableTest)
#include "DeviceTableTest.moc"
