// The whole settings loop over loopback against the camera simulator running
// in-process: search, open a camera's settings window, give it a new address,
// Modify, search again, and the table lists the camera at its new address.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <string>

#include "tests/app/WindowTestSupport.h"
#include "tools/camsim/CamSimThread.h"
#include "ui/qt/CSettingDlg.h"

using qdipc::test::LoopbackWindowConfig;
using qdipc::test::ReservedLoopbackPort;
using qdipc::test::SearchOnceListening;

namespace {

int RowOf(const qdipc::DeviceTable& table, const std::string& deviceId) {
    for (int row = 0; row < table.RowCount(); ++row) {
        if (table.CellText(row, 1) == deviceId) {
            return row;
        }
    }
    return -1;
}

}  // namespace

class SettingsLoopbackTest : public QObject {
    Q_OBJECT
private slots:
    void modifiedCameraShowsItsNewAddressAfterTheNextSearch();
};

void SettingsLoopbackTest::modifiedCameraShowsItsNewAddressAfterTheNextSearch() {
    const std::uint16_t receivePort = ReservedLoopbackPort();
    QVERIFY(receivePort != 0);

    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    options.replyTo = {"127.0.0.1", receivePort};
    options.maxRunTime = std::chrono::seconds(30);
    options.maxRequests = 20;
    camsim::CamSimThread cameras(3, 700, options);
    std::string error;
    QVERIFY2(cameras.Start(error), error.c_str());
    const camsim::CameraFields target = cameras.Cameras().At(1);
    const std::string targetId = camsim::FormatDevId(target.devId);
    const std::string otherId = camsim::FormatDevId(cameras.Cameras().At(0).devId);
    const std::string otherIp = cameras.Cameras().At(0).ip;
    const std::string newIp = "10.77.0.9";
    QVERIFY(target.ip != newIp);

    // Searches and modify requests both go to the simulator.
    LoopbackWindowConfig setup;
    qdipc::SearchDlgConfig config = setup.Make(cameras.Port(), receivePort);
    config.settingsDestination = {"127.0.0.1", cameras.Port()};
    CSearchDlg dlg(std::move(config));
    dlg.show();
    auto* search = dlg.findChild<QPushButton*>(QStringLiteral("searchButton"));

    // One search binds the worker's port first and lists the cameras.
    SearchOnceListening(dlg, search, receivePort);
    if (QTest::currentTestFailed()) {
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 3, 10000);

    const int row = RowOf(dlg.Table(), targetId);
    QVERIFY(row >= 0);
    QCOMPARE(dlg.Table().CellText(row, 3), target.ip);
    // The row knows where its camera answered from; the modify goes out there.
    QCOMPARE(dlg.Table().ArrivalInterface(row), qdipc::LoopbackInterface().value().index);

    dlg.OnDblClickList(row);
    CSettingDlg* window = dlg.LastSettingDlg();
    QVERIFY(window != nullptr);
    auto* editIp = window->findChild<QLineEdit*>(QStringLiteral("editIp"));
    editIp->clear();
    QTest::keyClicks(editIp, QString::fromStdString(newIp));
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("buttonModify")),
                      Qt::LeftButton);
    QCOMPARE(setup.messages->texts, QStringList{QStringLiteral("Setting OK!")});
    QVERIFY(cameras.WaitForLine("applied to camera 1", std::chrono::seconds(5)));

    QTest::mouseClick(search, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Table().RowCount(), 3, 10000);
    const int rowAfter = RowOf(dlg.Table(), targetId);
    QVERIFY(rowAfter >= 0);
    QCOMPARE(dlg.Table().CellText(rowAfter, 3), newIp);
    // The other cameras keep their addresses.
    QCOMPARE(dlg.Table().CellText(RowOf(dlg.Table(), otherId), 3), otherIp);

    dlg.close();
    const camsim::ServerCounts counts = cameras.Stop();
    QCOMPARE(counts.modifyApplied, std::size_t{1});
}

QTEST_MAIN(SettingsLoopbackTest)
#include "SettingsLoopbackTest.moc"
