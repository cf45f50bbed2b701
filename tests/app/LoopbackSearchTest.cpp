// A real search from the main window over loopback against the camera
// simulator running in-process: the request goes out, the receive worker
// accepts the replies, and the cameras show up as rows of the list.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "LoopbackCameras.h"
#include "TestPrinting.h"
#include "WindowTestSupport.h"
#include "cli/CommandLineRun.h"
#include "cli/WatchCommand.h"
#include "discovery/DeviceCodecs.h"
#include "platform/Console.h"
#include "platform/UdpSocket.h"
#include "settings/PlanFile.h"
#include "tools/camsim/CamSimThread.h"
#include "ui/qt/CAssignDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

using qdipc::test::LoopbackCameraOptions;
using qdipc::test::LoopbackWindowConfig;
using qdipc::test::ReservedLoopbackPort;
using qdipc::test::SearchOnceListening;

class LoopbackSearchTest : public QObject {
    Q_OBJECT
private slots:
    void searchListsTheSimulatedCameras();
    void commandLineListsWithoutAWindow();
    void commandLineOutputThatCannotBeWrittenExitsOne();
    void takenPortIsShownEachSearchAndSearchWorksOnceFreed();
    void assignedCamerasReachTheListAfterTheDialogCloses();
    void settingsChangesAreConfirmedAndTheRowUpdatedInPlace();
    void watchingKeepsTheRowsCountsThemAndSavesThem();
    void commandLineWatchPrintsEachEventUntilStopped();
};

void LoopbackSearchTest::searchListsTheSimulatedCameras() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);

    // Eight cameras answering in turn normally, twice under one device ID,
    // with the alternative signature, and under a wrong search ID.
    camsim::CamSimThread cameras(
        8, 500,
        LoopbackCameraOptions(receivePort, 20,
                              {camsim::ReplyKind::Normal, camsim::ReplyKind::DuplicateId,
                               camsim::ReplyKind::AltSignature, camsim::ReplyKind::WrongSearchId}));
    std::string error;
    QVERIFY2(cameras.Start(error), error.c_str());

    LoopbackWindowConfig setup;
    CSearchDlg dlg(setup.Make(cameras.Port(), receivePort));
    auto* search = dlg.findChild<QPushButton*>(QStringLiteral("searchButton"));

    // One search: the cameras answer at once, and all are listed.
    SearchOnceListening(dlg, search, receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QVERIFY(setup.messages->texts.isEmpty());

    // Cameras 0, 1, 2, 4, 5, 6 answer with the right ID; 3 and 7 do not.
    std::set<std::string> expectedIds;
    std::map<std::string, std::string> expectedIp;
    for (std::size_t i = 0; i < cameras.Cameras().Size(); ++i) {
        if (i % 4 == 3) {
            continue;
        }
        const camsim::CameraFields& camera = cameras.Cameras().At(i);
        expectedIds.insert(camsim::FormatDevId(camera.devId));
        expectedIp[camsim::FormatDevId(camera.devId)] = camera.ip;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), int(expectedIds.size()), 10000);
    QTest::qWait(150);  // a late duplicate or stray row would show up by now
    QCOMPARE(dlg.Table().RowCount(), int(expectedIds.size()));

    std::set<std::string> listedIds;
    for (int row = 0; row < dlg.Table().RowCount(); ++row) {
        const std::string id = dlg.Table().CellText(row, 1);
        listedIds.insert(id);
        QCOMPARE(dlg.Table().CellText(row, 0), std::to_string(row));
        // The duplicate's other fields never replace the first reply's.
        QCOMPARE(dlg.Table().CellText(row, 3), expectedIp[id]);
    }
    QCOMPARE(std::vector<std::string>(listedIds.begin(), listedIds.end()),
             std::vector<std::string>(expectedIds.begin(), expectedIds.end()));

    // A click on a listed camera picks its IP for the preview.
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* list = dlg.findChild<QTableView*>(QStringLiteral("deviceList"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(1, 3)).center());
    QCOMPARE(dlg.CurrentIp(), dlg.Table().CellText(1, 3));

    // Nothing the cameras sent was worth a log entry (the wrong IDs are
    // another search's replies).
    std::ifstream log(setup.logDirectory.filePath(QStringLiteral("QDIPC_Error.log")).toStdString());
    QVERIFY(!log.is_open() || log.peek() == std::ifstream::traits_type::eof());

    dlg.close();
    QCOMPARE(dlg.Worker()->GetState(), qdipc::RecvSearchThread::State::Ended);
    cameras.Stop();
}

void LoopbackSearchTest::commandLineListsWithoutAWindow() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    camsim::CamSimThread cameras(
        6, 700,
        LoopbackCameraOptions(receivePort, 10,
                              {camsim::ReplyKind::Normal, camsim::ReplyKind::DuplicateId,
                               camsim::ReplyKind::WrongSearchId}));
    std::string error;
    QVERIFY2(cameras.Start(error), error.c_str());
    LoopbackWindowConfig setup;
    const qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);

    // The worker listens before the request leaves, so one search sees every
    // camera: 0, 1, 3 and 4 answer with the right ID (1 and 4 twice).
    std::ostringstream out;
    std::ostringstream err;
    QCOMPARE(qdipc::RunCommandLine(
                 qdipc::ParseCommandLine({"--list", "--wait", "300", "--format", "json"}), out, err,
                 config),
             0);
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()));
    QVERIFY(json.isArray());
    QCOMPARE(err.str(), std::string("4 cameras found\n"));
    std::map<std::string, QJsonObject> byId;
    for (const QJsonValue& value : json.array()) {
        const QJsonObject object = value.toObject();
        QCOMPARE(object.keys().size(), 15);
        QCOMPARE(object.value(QStringLiteral("seen_via")).toString(), QStringLiteral("native"));
        byId[object.value(QStringLiteral("dev_id")).toString().toStdString()] = object;
    }
    QCOMPARE(byId.size(), std::size_t(4));
    for (std::size_t i : {0, 1, 3, 4}) {
        const camsim::CameraFields& camera = cameras.Cameras().At(i);
        const QJsonObject object = byId[camsim::FormatDevId(camera.devId)];
        QCOMPARE(object.value(QStringLiteral("ip")).toString().toStdString(), camera.ip);
        QCOMPARE(object.value(QStringLiteral("name")).toString().toStdString(), camera.name);
        QCOMPARE(object.value(QStringLiteral("port")).toInt(-1), int(camera.port));
        QCOMPARE(object.value(QStringLiteral("web_port")).toInt(-1), int(camera.webPort));
        // The replies came in on loopback, named as the system names it.
        QCOMPARE(object.value(QStringLiteral("interface")).toString().toStdString(),
                 qdipc::LoopbackInterface()->name);
        QVERIFY(object.value(QStringLiteral("flags")).isArray());
    }

    cameras.Stop();
}

void LoopbackSearchTest::commandLineOutputThatCannotBeWrittenExitsOne() {
    // --modify finds its camera first: one simulated camera answers.
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    camsim::CamSimThread cameras(1, 900, LoopbackCameraOptions(receivePort, 40));
    std::string error;
    QVERIFY2(cameras.Start(error), error.c_str());
    LoopbackWindowConfig setup;
    qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);
    config.settingsDestination = {"127.0.0.1", cameras.Port()};
    config.stateDirectory = std::filesystem::temp_directory_path() / "qdipc-loopback-state";
    const std::string id = camsim::FormatDevId(camsim::MakeCamera(900).devId);

    // The record goes out, but "Setting OK!" cannot be written: exit 1, said.
    std::ofstream full("/dev/full");
    QVERIFY(full.is_open());
    std::ostringstream err;
    const qdipc::CommandLine modify = qdipc::ParseCommandLine(
        {"--modify", id, "--ip", "10.0.0.2", "--mask", "255.0.0.0", "--gateway", "10.0.0.1",
         "--mac", "00:1a:2b:3c:4d:5e", "--verify-wait", "300"});
    QCOMPARE(qdipc::RunCommandLine(modify, full, err, config), 1);
    QVERIFY2(err.str().find("could not be written") != std::string::npos, err.str().c_str());
    QCOMPARE(cameras.Stop().modifyApplied, std::size_t{1});
    std::filesystem::remove_all(config.stateDirectory);

    // Nothing to search on: nothing is sent, and the reason on standard error.
    qdipc::SearchDlgConfig noNetwork = config;
    noNetwork.interfaces = [] { return std::vector<qdipc::Ipv4Interface>{}; };
    std::ostringstream said;
    std::ostringstream reason;
    QCOMPARE(qdipc::RunCommandLine(modify, said, reason, noNetwork), 1);
    QCOMPARE(said.str(), std::string());
    QVERIFY2(reason.str().find("gethostbyname error") != std::string::npos, reason.str().c_str());

    // A reader that has gone (| head, | true): exit 1, and no word about it.
    qdipc::IgnoreClosedPipeSignal();
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    std::ofstream gone("/proc/self/fd/" + std::to_string(ends[1]));
    ::close(ends[1]);
    ::close(ends[0]);
    QVERIFY(gone.is_open());
    std::ostringstream quiet;
    QCOMPARE(qdipc::RunCommandLine(qdipc::ParseCommandLine({"-V"}), gone, quiet, config), 1);
    QCOMPARE(quiet.str(), std::string());
}

void LoopbackSearchTest::takenPortIsShownEachSearchAndSearchWorksOnceFreed() {
    // Another program holds the receive port.
    auto holder = std::make_unique<qdipc::UdpSocket>();
    QVERIFY(holder->Open() && holder->Bind({"127.0.0.1", 0}));
    const std::uint16_t receivePort = holder->LocalPort();

    camsim::CamSimThread cameras(3, 700, LoopbackCameraOptions(receivePort, 10));
    std::string error;
    QVERIFY2(cameras.Start(error), error.c_str());

    LoopbackWindowConfig setup;
    qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);
    // Who holds the port, as the system would tell (a name with a control
    // character: shown as plain text).
    config.portOwners = [receivePort](std::uint16_t port) {
        qdipc::PortOwnerLookup lookup;
        lookup.checked = true;
        if (port == receivePort) {
            lookup.owners.push_back({"srv\x07", 4711});
        }
        return lookup;
    };
    CSearchDlg dlg(std::move(config));
    auto* search = dlg.findChild<QPushButton*>(QStringLiteral("searchButton"));
    const std::string logPath =
        setup.logDirectory.filePath(QStringLiteral("QDIPC_Error.log")).toStdString();
    auto logLines = [&] {
        // Once the log's writer has written what was queued.
        dlg.Log().WaitIdle(std::chrono::seconds(20));  // the counts below tell
        std::ifstream log(logPath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    };

    // Every failed attempt: the box with the log entry's words, entry 525,
    // nothing sent, no worker running.
    const QString bindFailed = QStringLiteral("Bind socket 8089 failed");
    QTest::mouseClick(search, Qt::LeftButton);
    QTest::mouseClick(search, Qt::LeftButton);
    QCOMPARE(setup.messages->texts, (QStringList{bindFailed, bindFailed}));
    QCOMPARE(dlg.ProgressText(), QStringLiteral("UDP port %1 is held by srv\\x07 (PID 4711) — end "
                                                "it and press Search again")
                                     .arg(receivePort));
    const auto lines = logLines();
    QCOMPARE(lines.size(), std::size_t(2));
    for (const std::string& line : lines) {
        QVERIFY2(line.find(",line:525,[Bind socket 8089 failed][11111]") != std::string::npos,
                 line.c_str());
    }
    QVERIFY(dlg.Worker() == nullptr);

    // The port is freed: the next search binds it and lists every camera.
    holder.reset();
    SearchOnceListening(dlg, search, receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 3, 10000);
    QCOMPARE(setup.messages->texts.size(), 2);
    QCOMPARE(logLines().size(), std::size_t(2));
    // The cameras heard one search, its request and its repeats: the failed
    // searches sent none.
    QTest::qWait(1300);
    QCOMPARE(cameras.Lines().size(), 1 + qdipc::kSearchRepeatOffsets.size());
    dlg.close();
    cameras.Stop();
}

void LoopbackSearchTest::settingsChangesAreConfirmedAndTheRowUpdatedInPlace() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    // Cameras that are silent for 300 ms after taking a record.
    camsim::ServerOptions options = LoopbackCameraOptions(receivePort, 100);
    options.restartTime = std::chrono::milliseconds(300);
    // As real cameras, each answers from its own address: a change is
    // confirmed only by an answer from the new one.
    options.ownAddressDevice = "lo";
    camsim::CamSimThread cameras(3, 900, options);
    std::string error;
    if (!cameras.Start(error)) {
        QSKIP(qPrintable(QStringLiteral("the cameras cannot answer from their own addresses "
                                        "here: ") +
                         QString::fromStdString(error)));
    }
    LoopbackWindowConfig setup;
    qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);
    config.settingsDestination = {"127.0.0.1", cameras.Port()};
    config.confirmation.timeout = std::chrono::milliseconds(2500);
    CSearchDlg dlg(std::move(config));
    auto* search = dlg.findChild<QPushButton*>(QStringLiteral("searchButton"));
    auto* progress = dlg.findChild<QProgressBar*>(QStringLiteral("progressBar"));

    // A second search at once ends the first one's repeats: the cameras hear
    // two requests and the second search's two repeats.
    SearchOnceListening(dlg, search, receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 3, 10000);
    QTest::qWait(1300);
    QCOMPARE(cameras.Lines().size(), std::size_t(4));
    std::vector<std::vector<std::string>> before(3);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < qdipc::kColumnCount; ++column) {
            before[row].push_back(dlg.Table().CellText(row, column));
        }
    }

    const auto send = [&](const std::string& deviceId, const std::string& ip) {
        std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
        qdipc::ParseDeviceId(deviceId.c_str(), block.data());
        dlg.SendSettingsRecord(qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, ip,
                                                        "255.255.0.0", "10.77.0.1",
                                                        "02:00:00:0d:bb:01"));
    };
    const int target = 1;
    const std::string id = before[target][qdipc::kColDevId];
    send(id, "10.77.0.9");
    QCOMPARE(setup.messages->texts.last(), QStringLiteral("Setting OK!"));
    QCOMPARE(progress->format(), QString::fromStdString("Confirming " + id + "\u2026"));
    QTRY_COMPARE_WITH_TIMEOUT(progress->format(),
                              QString::fromStdString("Confirmed: " + id + " at 10.77.0.9"), 5000);
    QCOMPARE(progress->value(), progress->maximum());
    // The row shows what the camera now reports, under its own number; the
    // other rows stay as they were.
    std::vector<std::vector<std::string>> expected = before;
    expected[target][qdipc::kColIp] = "10.77.0.9";
    expected[target][qdipc::kColMask] = "255.255.0.0";
    expected[target][qdipc::kColGateway] = "10.77.0.1";
    expected[target][qdipc::kColMac] = "02:00:00:0d:bb:01";
    QCOMPARE(dlg.Table().RowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < qdipc::kColumnCount; ++column) {
            QCOMPARE(dlg.Table().CellText(row, column), expected[row][column]);
        }
    }

    // Nobody has this device ID: the wait ends as not confirmed.
    send("0011aabb-0000ff01", "10.77.0.10");
    QTRY_COMPARE_WITH_TIMEOUT(
        progress->format(),
        QStringLiteral("Not confirmed: 0011aabb-0000ff01 did not answer in 2.5 s"), 5000);
    QCOMPARE(progress->value(), progress->minimum());
    dlg.close();
    cameras.Stop();
}

void LoopbackSearchTest::assignedCamerasReachTheListAfterTheDialogCloses() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    camsim::ServerOptions options = LoopbackCameraOptions(receivePort, 80);
    options.ownAddressDevice = "lo";  // a change is confirmed from the new address only
    camsim::CamSimThread cameras(6, 900, options);
    std::string error;
    if (!cameras.Start(error)) {
        QSKIP(qPrintable(QStringLiteral("the cameras cannot answer from their own addresses "
                                        "here: ") +
                         QString::fromStdString(error)));
    }

    LoopbackWindowConfig setup;
    qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);
    config.settingsDestination = {"127.0.0.1", cameras.Port()};
    config.neighbours = [] { return std::vector<qdipc::NeighbourEntry>{}; };
    CSearchDlg dlg(std::move(config));
    SearchOnceListening(dlg, dlg.findChild<QPushButton*>(QStringLiteral("searchButton")),
                        receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 6, 10000);
    auto* list = dlg.findChild<QTableView*>(QStringLiteral("deviceList"));
    list->selectAll();
    dlg.OnAssignAddresses();
    QPointer<CAssignDlg> assign = dlg.findChild<CAssignDlg*>();
    QVERIFY(assign);
    assign->StartEdit()->setText(QStringLiteral("10.50.0.10"));
    assign->MaskEdit()->setText(QStringLiteral("255.255.0.0"));
    assign->GatewayEdit()->setText(QStringLiteral("10.50.0.1"));
    // The plan is there at once; its addresses' check comes back from its thread.
    QVERIFY(!assign->Model().PlanChecked());
    QTRY_VERIFY_WITH_TIMEOUT(assign->Model().PlanChecked(), 2000);
    QVERIFY2(assign->ApplyButton()->isEnabled(), qPrintable(assign->MessageLabel()->text()));
    QTest::mouseClick(assign->ApplyButton(), Qt::LeftButton);
    // The first record goes once the probe of the plan has answered.
    QTRY_COMPARE_WITH_TIMEOUT(assign->PlanTable()->item(0, CAssignDlg::kColResult)->text(),
                              QStringLiteral("sent"), 2000);

    // Closed while records are still going out: they all go, and the list
    // shows every camera at its new address once it confirms.
    assign->close();
    QTRY_VERIFY_WITH_TIMEOUT(assign.isNull(), 2000);
    const auto assigned = [&] {
        std::set<std::string> ips;
        for (int row = 0; row < dlg.Table().RowCount(); ++row) {
            ips.insert(dlg.Table().CellText(row, 3));
        }
        return ips;
    };
    const std::set<std::string> expected = {"10.50.0.10", "10.50.0.11", "10.50.0.12",
                                            "10.50.0.13", "10.50.0.14", "10.50.0.15"};
    QTRY_VERIFY_WITH_TIMEOUT(assigned() == expected, 10000);
    QCOMPARE(dlg.Table().CellText(0, 9), std::string("255.255.0.0"));
    QCOMPARE(dlg.Table().CellText(0, 11), std::string("10.50.0.1"));
    dlg.close();
    QCOMPARE(cameras.Stop().modifyApplied, std::size_t{6});
}

QTEST_MAIN(LoopbackSearchTest)
#include "LoopbackSearchTest.moc"

// Keep Watching: the bar counts the rows after the search and each cycle;
// cameras that fall silent are counted gone after three cycles and keep their
// rows; the list saves as CSV (with its metadata beside it) and as JSON; a
// new Search ends watching and clears an earlier confirmation's text.
void LoopbackSearchTest::watchingKeepsTheRowsCountsThemAndSavesThem() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    auto cameras =
        std::make_unique<camsim::CamSimThread>(3, 900, LoopbackCameraOptions(receivePort, 60));
    std::string error;
    QVERIFY2(cameras->Start(error), error.c_str());
    LoopbackWindowConfig setup;
    QTemporaryDir files;
    qdipc::SearchDlgConfig config = setup.Make(cameras->Port(), receivePort);
    config.watch.interval = std::chrono::milliseconds(250);
    const std::uint16_t announcements = ReservedLoopbackPort();
    QVERIFY(announcements != 0);
    config.onvifAnnouncements = {"127.0.0.1", announcements};
    config.settingsDestination = {"127.0.0.1", cameras->Port()};
    config.confirmation.timeout = std::chrono::milliseconds(300);
    QString saveAs;
    config.chooseSaveFile = [&](QWidget*) { return saveAs; };
    CSearchDlg dlg(std::move(config));
    auto* search = dlg.findChild<QPushButton*>(QStringLiteral("searchButton"));
    SearchOnceListening(dlg, search, receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 3, 5000);
    int flagged = 0;
    for (int row = 0; row < 3; ++row) {
        flagged += dlg.Table().List().Flags(row) != 0 ? 1 : 0;
    }
    // The bar's visible text: the search, then the counts.
    QCOMPARE(dlg.ProgressText(), QStringLiteral("Searching… · 3 cameras"));
    const QString counts = QStringLiteral("3 cameras · %1 flagged · 0 selected").arg(flagged);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.ProgressText(), counts, 3000);

    dlg.SetWatching(true);
    QVERIFY(dlg.Watching());
    const QString watching = QStringLiteral("Watching · every 0.25 s · ") + counts;
    QCOMPARE(dlg.ProgressText(), watching + QStringLiteral(" · 0 gone"));
    QTest::qWait(700);  // two cycles with every camera answering
    QVERIFY(dlg.Watch().Cycles() >= 2);
    QCOMPARE(dlg.ProgressText(), watching + QStringLiteral(" · 0 gone"));
    const auto firstSeen = dlg.Table().List().Presence(0).firstSeen;
    QVERIFY(dlg.Table().List().Presence(0).lastSeen > firstSeen);

    // Saved while watching: CSV as --list writes it, the metadata beside it.
    saveAs = files.filePath(QStringLiteral("site.csv"));
    dlg.OnSaveList();
    QFile csv(saveAs);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> csvLines = csv.readAll().split('\n');
    QCOMPARE(csvLines.size(), 5);  // header, three rows, the empty rest
    QCOMPARE(csvLines[0], QByteArray("NO.,Dev ID,Name,IP,Port,MAC,App Ver,Hardware Ver,Kernel "
                                     "Ver,Mask,Web Port,Gateway,Seen Via\r"));
    QVERIFY(csvLines[1].startsWith(QByteArray(
        QByteArray("0,") + QByteArray::fromStdString(dlg.Table().CellText(0, 1)) + ",")));
    // ... which --plan reads as it is: each camera back to what it reports.
    QVERIFY(csv.seek(0));
    const qdipc::PlanFile plan = qdipc::ReadPlanFile(csv.readAll().toStdString());
    QVERIFY2(plan.Ok(), plan.error.c_str());
    QCOMPARE(int(plan.lines.size()), 3);
    QCOMPARE(plan.lines[0].deviceId, dlg.Table().CellText(0, 1));
    QCOMPARE(plan.lines[0].ip, dlg.Table().CellText(0, 3));
    QCOMPARE(plan.lines[0].gateway, dlg.Table().CellText(0, 11));
    QFile about(saveAs + QStringLiteral(".about.json"));
    QVERIFY(about.open(QIODevice::ReadOnly));
    const QJsonObject meta = QJsonDocument::fromJson(about.readAll()).object();
    QCOMPARE(meta.value(QStringLiteral("version")).toString(), QStringLiteral("1.0.0.1"));
    QCOMPARE(meta.value(QStringLiteral("interfaces")).toArray().size(), 1);
    QVERIFY(meta.value(QStringLiteral("saved_at")).toString().endsWith(QLatin1Char('Z')));
    QVERIFY(!meta.contains(QStringLiteral("cameras")));
    // JSON: one object around the --list objects with their times.
    saveAs = files.filePath(QStringLiteral("site.json"));
    dlg.OnSaveList();
    QFile json(saveAs);
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject saved = QJsonDocument::fromJson(json.readAll()).object();
    QCOMPARE(saved.value(QStringLiteral("tool")).toString(), QStringLiteral("qd_ip_search"));
    const QJsonArray listed = saved.value(QStringLiteral("cameras")).toArray();
    QCOMPARE(listed.size(), 3);
    QCOMPARE(listed[2].toObject().value(QStringLiteral("dev_id")).toString(),
             QString::fromStdString(dlg.Table().CellText(2, 1)));
    QVERIFY(listed[2].toObject().contains(QStringLiteral("first_seen")));
    QVERIFY(listed[2].toObject().contains(QStringLiteral("last_seen")));
    // A name without an extension gets the chosen format's (CSV here), and
    // the metadata follows it.
    saveAs = files.filePath(QStringLiteral("site-list"));
    dlg.OnSaveList();
    QVERIFY(QFile::exists(saveAs + QStringLiteral(".csv")));
    QVERIFY(QFile::exists(saveAs + QStringLiteral(".csv.about.json")));
    QVERIFY(!QFile::exists(saveAs));
    // A file that cannot be written is named in a box.
    saveAs = files.filePath(QStringLiteral("no/such/folder/site.csv"));
    dlg.OnSaveList();
    QVERIFY2(setup.messages->texts.last().startsWith(QStringLiteral("Save List As: ")),
             qPrintable(setup.messages->texts.last()));

    // The cameras fall silent: gone after three cycles, the rows stay.
    cameras->Stop();
    cameras.reset();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().List().GoneCount(), 3, 3000);
    QCOMPARE(dlg.Table().RowCount(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.ProgressText(), watching + QStringLiteral(" · 3 gone"), 1000);
    // The row menu's Show Gone Cameras selects them.
    QCOMPARE(dlg.ListMenu().ShowGoneRows(), 3);

    // An ONVIF device announces itself: its row at once; its Bye makes it
    // gone at once (three rounds of ONVIF probes would take 7.5 s).
    qdipc::UdpSocket device;
    QVERIFY(device.Open());
    const auto announce = [&](const char* kind, const char* body) {
        const std::string text =
            std::string(
                "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' "
                "xmlns:w='http://schemas.xmlsoap.org/ws/2004/08/addressing' "
                "xmlns:q='http://schemas.xmlsoap.org/ws/2005/04/discovery'><e:Body><q:") +
            kind +
            "><w:EndpointReference><w:Address>urn:uuid:gate</w:Address>"
            "</w:EndpointReference>" +
            body + "</q:" + kind + "></e:Body></e:Envelope>";
        device.SendTo(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                      {"127.0.0.1", announcements});
    };
    announce("Hello",
             "<q:Scopes>onvif://www.onvif.org/name/gate</q:Scopes>"
             "<q:XAddrs>http://10.9.0.7/onvif/device_service</q:XAddrs>");
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 4, 1000);
    QCOMPARE(dlg.Table().CellText(3, qdipc::kColName), std::string("gate"));
    QCOMPARE(dlg.Table().CellText(3, qdipc::kColIp), std::string("10.9.0.7"));
    QCOMPARE(dlg.Table().List().GoneCount(), 3);
    announce("Bye", "");
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().List().GoneCount(), 4, 1000);
    QVERIFY(dlg.Table().List().Presence(3).gone);

    // A confirmation's outcome stays on the bar across watch cycles, until
    // the operator's next action.
    std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
    qdipc::ParseDeviceId("0011aabb-0000ff01", block.data());
    dlg.SendSettingsRecord(qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Dhcp, "", "", "",
                                                    "02:00:00:0d:bb:01"));
    QTRY_VERIFY_WITH_TIMEOUT(dlg.ProgressText().startsWith(QStringLiteral("Not confirmed: ")),
                             3000);
    const QString outcome = dlg.ProgressText();
    const int cycles = dlg.Watch().Cycles();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.Watch().Cycles() >= cycles + 3, 3000);
    QCOMPARE(dlg.ProgressText(), outcome);
    auto* list = dlg.findChild<QTableView*>(QStringLiteral("deviceList"));
    list->selectRow(1);  // the operator acts: the counts are back
    QCOMPARE(dlg.ProgressText(), QStringLiteral("Watching · every 0.25 s · 4 cameras · %1 "
                                                "flagged · 1 selected · 4 gone")
                                     .arg(flagged + 1));  // the device at 10.9.0.7: off-subnet
    // A new Search ends watching; the bar says it searches.
    QTest::mouseClick(search, Qt::LeftButton);
    QVERIFY(!dlg.Watching());
    QCOMPARE(dlg.ProgressText(), QStringLiteral("Searching…"));
    dlg.close();
}

// --watch without a window: one JSON line per event, written as it happens
// (the cameras are seen while the watch still runs), "gone" for cameras that
// fall silent for three cycles, exit 0 once stopped.
void LoopbackSearchTest::commandLineWatchPrintsEachEventUntilStopped() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);
    auto cameras =
        std::make_unique<camsim::CamSimThread>(2, 700, LoopbackCameraOptions(receivePort, 100));
    std::string error;
    QVERIFY2(cameras->Start(error), error.c_str());
    LoopbackWindowConfig setup;
    const qdipc::SearchDlgConfig config = setup.Make(cameras->Port(), receivePort);
    const qdipc::CommandLine commandLine =
        qdipc::ParseCommandLine({"--watch", "--interval", "0.2", "--format", "jsonl"});
    QCOMPARE(commandLine.mode, qdipc::CommandMode::Watch);

    // A stream whose text the test may read while the watch writes it.
    struct SharedBuffer : std::stringbuf {
        std::mutex mutex;
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            std::lock_guard<std::mutex> lock(mutex);
            return std::stringbuf::xsputn(s, n);
        }
        std::string Text() {
            std::lock_guard<std::mutex> lock(mutex);
            return str();
        }
    } buffer;
    std::ostream out(&buffer);
    std::ostringstream err;
    std::atomic<bool> stop{false};
    int code = -1;
    std::thread watching(
        [&] { code = qdipc::RunWatch(commandLine.watch, config, out, err, stop); });
    const auto lines = [&] {
        QList<QJsonObject> objects;
        for (const QByteArray& line : QByteArray::fromStdString(buffer.Text()).split('\n')) {
            if (!line.isEmpty()) {
                objects << QJsonDocument::fromJson(line).object();
            }
        }
        return objects;
    };
    QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 2, 3000);  // while it still runs
    cameras->Stop();
    cameras.reset();
    QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 4, 3000);
    stop = true;
    watching.join();
    QCOMPARE(code, 0);
    const QList<QJsonObject> events = lines();
    QCOMPARE(events.size(), 4);
    std::set<QString> added;
    std::set<QString> gone;
    for (const QJsonObject& event : events) {
        // The 14 of --list, seen_via, the event, its time and the camera's
        // two times.
        QCOMPARE(event.keys().size(), 19);
        const QString id = event.value(QStringLiteral("dev_id")).toString();
        // The event's time: UTC to the millisecond, not before the camera was seen.
        const QString time = event.value(QStringLiteral("time")).toString();
        QCOMPARE(time.size(), 24);
        QVERIFY2(time.endsWith(QLatin1Char('Z')) && time[19] == QLatin1Char('.'), qPrintable(time));
        QVERIFY(time.left(19) >= event.value(QStringLiteral("first_seen")).toString().left(19));
        (event.value(QStringLiteral("event")).toString() == QStringLiteral("added") ? added : gone)
            .insert(id);
        QVERIFY(event.value(QStringLiteral("first_seen")).toString().endsWith(QLatin1Char('Z')));
    }
    QCOMPARE(added.size(), std::size_t(2));
    QCOMPARE(gone, added);
    QCOMPARE(events[3].value(QStringLiteral("event")).toString(), QStringLiteral("gone"));
    QCOMPARE(err.str(), std::string());
}
