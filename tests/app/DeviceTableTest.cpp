// The device table as the Qt model over the device list: one insertion per
// batch, the headers and the cells' display, the model's consistency through
// appends, sorts, updates and clears, replies that arrive from another thread
// through the reply pump, the pump's time-boxed slices and cap, and clearing a
// large table under the model tester. The list's own rules are tested on
// DeviceList (tests/discovery).

#include <QAbstractItemModelTester>
#include <QColor>
#include <QFont>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "TestPrinting.h"
#include "ui/qt/ReplyPump.h"
#include "ui/qt/DeviceTable.h"
#include "discovery/SiteWatch.h"
#include "tests/discovery/TestReplies.h"

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
    void batchDropsRepliesOfAReplacedSearchAndInsertsOnce();
    void cellsHoldTheReplyBytes();
    void displayedTextIsDecodedByTheOutputsRule();
    void flaggedRowsAreTintedAndSayWhyInTheirTooltip();
    void goneAndChangedRowsShowTheirState();
    void modelStaysConsistentUnderTheTester();
    void repliesFromAnotherThreadReachTheTableOnTheUiThread();
    void pumpDrainsInTimeBoxedSlicesWithTheLoopRunningBetween();
    void clearingALargeTableLeavesItEmptyAndUsable();
};

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
    QCOMPARE(table.rowCount(), 4);

    // A batch with nothing new inserts nothing.
    QCOMPARE(table.AddReplies(batch, 41 + 100), 0);
    QCOMPARE(inserted.count(), 1);
}

void DeviceTableTest::cellsHoldTheReplyBytes() {
    DeviceTable table;
    Add(table, Camera(10));
    const std::vector<const char*> titles = {"NO.",        "Dev ID", "Name",     "IP",
                                             "Port",       "MAC",    "App Ver",  "Hardware Ver",
                                             "Kernel Ver", "Mask",   "Web Port", "Gateway"};
    for (int column = 0; column < qdipc::kColumnCount; ++column) {
        QCOMPARE(table.headerData(column, Qt::Horizontal).toString(),
                 QString::fromLatin1(titles[static_cast<std::size_t>(column)]));
        QCOMPARE(table.data(table.index(0, column)).toString().toStdString(),
                 table.CellText(0, column));
    }
    QCOMPARE(table.data(table.index(0, 3)).toString(), QStringLiteral("10.0.0.10"));
}

void DeviceTableTest::displayedTextIsDecodedByTheOutputsRule() {
    DeviceTable table;
    CameraReply utf8 = Camera(1);
    utf8.name = "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA";  // 摄像机 in UTF-8
    CameraReply gbk = Camera(2);
    gbk.name = "\xC9\xE3\xCF\xF1\xBB\xFA";  // 摄像机 in GBK
    CameraReply latin1 = Camera(3);
    latin1.name = "caf\xE9";  // a lone lead byte at the end is no GB text
    CameraReply hostile = Camera(4);
    hostile.name = "cam\x1b]0;T\x07\xC2\x9B";  // a terminal title, BEL, C1 CSI
    Add(table, utf8);
    Add(table, gbk);
    Add(table, latin1);
    Add(table, hostile);

    // The rule of the command line's outputs and the clipboard.
    QCOMPARE(table.DisplayText(0, 2), QStringLiteral("摄像机"));
    QCOMPARE(table.DisplayText(1, 2), QStringLiteral("摄像机"));
    QCOMPARE(table.DisplayText(2, 2), QStringLiteral("caf\\xe9"));
    QCOMPARE(table.DisplayText(3, 2), QStringLiteral("cam\\x1b]0;T\\x07\\x9b"));
    // The cells keep the bytes as they came.
    QCOMPARE(table.CellText(1, 2), gbk.name);
    QCOMPARE(table.CellText(2, 2), latin1.name);
}

void DeviceTableTest::flaggedRowsAreTintedAndSayWhyInTheirTooltip() {
    DeviceTable table;
    table.List().SetHostInterfaces({{"eth0", 2, "10.0.0.5", "255.255.255.0", "10.0.0.255"}});
    CameraReply twin = Camera(1);
    twin.ip = "192.168.1.64";
    const auto first = twin.Reply();
    table.List().AddReply(&first, 2);
    const auto plain = Camera(2).Reply();  // 10.0.0.2 on eth0: nothing to say
    table.List().AddReply(&plain, 2);
    twin = Camera(3);
    twin.ip = "192.168.1.64";
    const auto second = twin.Reply();
    table.List().AddReply(&second, 2);
    const auto host = Camera(5).Reply();  // 10.0.0.5: the host's own address
    table.List().AddReply(&host, 2);

    const QColor tint(qdipc::kFlaggedRowTint[0], qdipc::kFlaggedRowTint[1],
                      qdipc::kFlaggedRowTint[2]);
    for (int column : {0, 5, 11}) {
        QCOMPARE(table.index(0, column).data(Qt::BackgroundRole).value<QColor>(), tint);
    }
    QVERIFY(!table.index(1, 3).data(Qt::BackgroundRole).isValid());  // the grey stripes stay
    // Every tooltip says first how the row was found and ends with when the
    // camera was heard; a flagged row's names its flags in words between.
    const auto flagLines = [&](int row) {
        const QString tip = table.index(row, 3).data(Qt::ToolTipRole).toString();
        return tip.section(QLatin1Char('\n'), 1, -2);
    };
    QCOMPARE(flagLines(1), QString());
    QVERIFY(table.index(1, 3)
                .data(Qt::ToolTipRole)
                .toString()
                .startsWith(QStringLiteral("Found by this tool's search\nFirst seen ")));
    QCOMPARE(flagLines(2),
             QStringLiteral("Shares its IP address with another camera\n"
                            "Outside the subnet of eth0 (this PC cannot reach it until it is "
                            "changed)"));
    QCOMPARE(flagLines(3), QStringLiteral("Uses an address of this computer"));

    // An ONVIF device on the twin's address: found by WS-Discovery, its
    // endpoint named as plain text, the clash flagged.
    qdipc::OnvifDevice device;
    device.endpoint = "urn:uuid:<b>x</b>";
    device.ip = table.List().CellText(0, qdipc::kColIp);
    device.mac = "02:00:00:00:00:99";
    const int onvif = table.List().AddOnvifDevice(device);
    const QString tip = table.index(onvif, 3).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral(
                 "Found as an ONVIF device (WS-Discovery), endpoint urn:uuid:&lt;b&gt;x&lt;/b&gt;\n"
                 "Shares its IP address with another camera")),
             qPrintable(tip));
}

// A watched list: a gone row is greyed and in italics, its tooltip says when
// it was last heard; a changed row is bold; every row's text has a colour of
// its own, so no theme's text colour lands on the light rows.
void DeviceTableTest::goneAndChangedRowsShowTheirState() {
    DeviceTable table;
    std::chrono::seconds wall{1000};
    const auto epoch = std::chrono::system_clock::time_point(std::chrono::hours(500000));
    table.List().SetClock([&] { return epoch + wall; });
    Add(table, Camera(1));
    Add(table, Camera(2));
    qdipc::SiteWatch watch(table.List(), qdipc::WatchOptions{std::chrono::milliseconds(1000), 3});
    const qdipc::SiteWatch::Clock::time_point t0{};
    watch.Start(t0);
    std::vector<qdipc::WatchEvent> events;
    CameraReply moved = Camera(2);
    moved.ip = "10.9.9.9";
    for (int cycle = 1; cycle <= 3; ++cycle) {
        watch.Observe({moved.Accepted(0)}, 0, events);
        watch.Tick(t0 + std::chrono::seconds(cycle), events);
    }
    wall += std::chrono::seconds(17);
    QCOMPARE(table.List().GoneCount(), 1);

    QCOMPARE(table.index(0, 3).data(Qt::ForegroundRole).value<QColor>(),
             QColor(qdipc::kGoneRowText[0], qdipc::kGoneRowText[1], qdipc::kGoneRowText[2]));
    QCOMPARE(table.index(1, 3).data(Qt::ForegroundRole).value<QColor>(),
             QColor(qdipc::kRowText[0], qdipc::kRowText[1], qdipc::kRowText[2]));
    const QFont gone = table.index(0, 3).data(Qt::FontRole).value<QFont>();
    QVERIFY(gone.italic() && !gone.bold());
    const QFont changed = table.index(1, 3).data(Qt::FontRole).value<QFont>();
    QVERIFY(changed.bold() && !changed.italic());
    const QString tip = table.index(0, 3).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith(QStringLiteral("Found by this tool's search\n"
                                           "Gone: no answer for 3 requests, last seen 17 s ago\n"
                                           "First seen ")),
             qPrintable(tip));
    QVERIFY2(tip.endsWith(QStringLiteral(", last seen 17 s ago")), qPrintable(tip));
    QCOMPARE(qdipc::AgoText(std::chrono::seconds(59)), QStringLiteral("59 s ago"));
    QCOMPARE(qdipc::AgoText(std::chrono::seconds(60)), QStringLiteral("1 min ago"));
    QCOMPARE(qdipc::AgoText(std::chrono::seconds(7200)), QStringLiteral("2 h ago"));

    // It answers again: back, plain text again.
    watch.Observe({Camera(1).Accepted(0)}, 0, events);
    QCOMPARE(table.List().GoneCount(), 0);
    QCOMPARE(table.index(0, 3).data(Qt::ForegroundRole).value<QColor>(),
             QColor(qdipc::kRowText[0], qdipc::kRowText[1], qdipc::kRowText[2]));
    QVERIFY(!table.index(0, 3).data(Qt::FontRole).isValid());
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
    // An update in place reaches the view as a change of that row only.
    QSignalSpy changed(&table, &QAbstractItemModel::dataChanged);
    qdipc::test::CameraReply moved = Camera(18);
    moved.ip = "10.77.1.9";
    QVERIFY(table.List().UpdateRow(followed.row(), moved.Reply(), 2));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), followed.row());
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), followed.row());
    QCOMPARE(table.index(followed.row(), 3).data().toString(), QStringLiteral("10.77.1.9"));
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
    table.Clear();
    QCOMPARE(table.rowCount(), 0);
    // Rows arriving while the old ones are being freed are numbered afresh.
    Add(table, Camera(5));
    QCOMPARE(table.rowCount(), 1);
    QCOMPARE(table.data(table.index(0, 0)).toString(), QStringLiteral("0"));
    QVERIFY(table.WaitForRelease(std::chrono::seconds(20)));
    QCOMPARE(table.RowCount(), 1);
}

QTEST_MAIN(DeviceTableTest)
#include "DeviceTableTest.moc"
