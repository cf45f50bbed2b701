// The settings exchange through the main window: a settings window opened for
// a row of the device table, its Modify handed to the main window, the stamped
// modify request on the wire and the box that reports it. Every request goes
// to a loopback socket of the test; boxes go to a recorder.
//
// Expected datagrams are written here from the record layout: D3 ED CB FF at
// 0..3, reserved 4..11, mode 12, devId 13..20, devIdTail 21..28, ip 29..44,
// mask 45..60, gateway 61..76, mac 77..82, reserved 83, stamp (LE) 84..87.

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QUdpSocket>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ui/qt/ApplySettingsEvent.h"
#include "ui/qt/CSettingDlg.h"
#include "tests/app/WindowTestSupport.h"
#include "tests/discovery/TestReplies.h"

using qdipc::test::CameraReply;
using qdipc::test::LoopbackWindowConfig;
using qdipc::test::WhileModal;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kDatagramSize = 88;

void Put(Bytes& buffer, std::size_t offset, const Bytes& bytes) {
    QVERIFY(offset + bytes.size() <= buffer.size());
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutText(Bytes& buffer, std::size_t offset, const std::string& text) {
    Put(buffer, offset, Bytes(text.begin(), text.end()));
}

// The runtime's generator seeded with the time in seconds, first value.
std::uint32_t DrawFor(std::int64_t seconds) {
    std::uint32_t state = static_cast<std::uint32_t>(seconds);
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
}

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Receives the modify requests on 127.0.0.1.
class Capture {
public:
    Capture() { bound_ = socket_.bind(QHostAddress::LocalHost, 0); }
    bool Bound() const { return bound_; }
    std::uint16_t Port() const { return socket_.localPort(); }

    // Every datagram that has arrived by now. A send to loopback is queued on
    // the receiving socket before the send call returns, and the window sends
    // before its handler returns, so nothing is still on its way.
    std::vector<Bytes> Take() {
        std::vector<Bytes> datagrams;
        while (socket_.hasPendingDatagrams()) {
            Bytes bytes(
                static_cast<std::size_t>(std::max<qint64>(socket_.pendingDatagramSize(), 0)));
            const qint64 length =
                socket_.readDatagram(reinterpret_cast<char*>(bytes.data()), qint64(bytes.size()));
            bytes.resize(static_cast<std::size_t>(std::max<qint64>(length, 0)));
            datagrams.push_back(bytes);
        }
        return datagrams;
    }

private:
    QUdpSocket socket_;
    bool bound_ = false;
};

CameraReply FirstCamera() {
    CameraReply camera;
    camera.devId = {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01};
    camera.ip = "192.168.1.64";
    camera.mask = "255.255.255.0";
    camera.gateway = "192.168.1.1";
    camera.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    return camera;
}

CameraReply SecondCamera() {
    CameraReply camera;
    camera.devId = {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04};
    camera.ip = "10.0.0.20";
    camera.mask = "255.0.0.0";
    camera.gateway = "10.0.0.1";
    camera.mac = {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5};
    return camera;
}

// The request expected for a camera's row sent untouched, without its stamp.
Bytes ExpectedFor(const CameraReply& camera) {
    Bytes bytes(kDatagramSize, 0);
    Put(bytes, 0, {0xD3, 0xED, 0xCB, 0xFF});
    Put(bytes, 13, Bytes(camera.devId.begin(), camera.devId.end()));
    PutText(bytes, 29, camera.ip);
    PutText(bytes, 45, camera.mask);
    PutText(bytes, 61, camera.gateway);
    Put(bytes, 77, Bytes(camera.mac.begin(), camera.mac.end()));
    return bytes;
}

// The datagram without its stamp bytes, and the stamp.
Bytes Unstamped(const Bytes& datagram) {
    Bytes bytes = datagram;
    if (bytes.size() == kDatagramSize) {
        std::fill(bytes.begin() + 84, bytes.end(), std::uint8_t{0});
    }
    return bytes;
}

std::uint32_t StampOf(const Bytes& datagram) {
    if (datagram.size() != kDatagramSize) {
        return 0xFFFFFFFF;
    }
    return std::uint32_t(datagram[84]) | std::uint32_t(datagram[85]) << 8 |
           std::uint32_t(datagram[86]) << 16 | std::uint32_t(datagram[87]) << 24;
}

template <typename T>
T* Child(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

// A main window on loopback with the given cameras listed.
struct Fixture {
    Capture capture;
    LoopbackWindowConfig setup;
    std::unique_ptr<CSearchDlg> dlg;

    // realBoxes: the program's own message boxes instead of the recorder.
    explicit Fixture(const std::vector<CameraReply>& cameras,
                     std::optional<qdipc::Ipv4Endpoint> settingsDestination = std::nullopt,
                     bool realBoxes = false) {
        qdipc::SearchDlgConfig config = setup.Make(capture.Port());
        if (realBoxes) {
            config.messages = nullptr;
        }
        config.settingsDestination =
            settingsDestination.value_or(qdipc::Ipv4Endpoint{"127.0.0.1", capture.Port()});
        dlg = std::make_unique<CSearchDlg>(std::move(config));
        for (const CameraReply& camera : cameras) {
            const qdipc::DeviceInfoReply reply = camera.Reply();
            dlg->Table().AddReply(&reply);
        }
        dlg->show();
    }

    ~Fixture() { dlg->Shutdown(); }
};

}  // namespace

class SettingsExchangeTest : public QObject {
    Q_OBJECT

private slots:
    void openSettingsOpensAFilledWindowPerCall();
    void untouchedModifySendsTheRowStamped();
    void editedControlsAreSent_data();
    void editedControlsAreSent();
    void aDeviceIdAnsweredByTwoMacsIsRefused();
    void enterInAnEditSendsNothing();
    void twoWindowsForTwoRowsSendTheirOwnDevices();
    void handoffMarkerIsChecked_data();
    void handoffMarkerIsChecked();
    void failedSendShowsSettingError();
    void vanishedNetworkShowsSettingErrorAndSendsNothing();
    void outcomeBoxHoldsOnlyTheMainWindow();
    void overLongCellsStayInTheirFields();
    void aListedCamerasAddressIsSentOnlyWhenTheOperatorSaysSo_data();
    void aListedCamerasAddressIsSentOnlyWhenTheOperatorSaysSo();
};

void SettingsExchangeTest::openSettingsOpensAFilledWindowPerCall() {
    Fixture f({FirstCamera(), SecondCamera()});
    QVERIFY(f.capture.Bound());
    QVERIFY(f.dlg->LastSettingDlg() == nullptr);

    f.dlg->OnDblClickList(1);
    CSettingDlg* first = f.dlg->LastSettingDlg();
    QVERIFY(first != nullptr);
    QVERIFY(first->isVisible());
    QVERIFY(first->isWindow());
    QCOMPARE(first->parentWidget(), f.dlg.get());
    QCOMPARE(first->pos(), f.dlg->mapToGlobal(QPoint(0, 0)));
    QCOMPARE(first->windowTitle(), QString::fromUtf8("Set：10.0.0.20"));
    QCOMPARE(Child<QLineEdit>(first, "editIp")->text(), QStringLiteral("10.0.0.20"));
    QCOMPARE(Child<QLineEdit>(first, "editMask")->text(), QStringLiteral("255.0.0.0"));
    QCOMPARE(Child<QLineEdit>(first, "editGateway")->text(), QStringLiteral("10.0.0.1"));
    QCOMPARE(Child<QLineEdit>(first, "editMac")->text(), QStringLiteral("a0:b1:c2:d3:e4:f5"));
    // The table holds no addressing mode: every window opens on "Static IP".
    QVERIFY(Child<QRadioButton>(first, "radioStatic")->isChecked());

    // The Setting button opens another window for the current row (the one
    // double-clicked); the first stays open underneath at the same place.
    QTest::mouseClick(Child<QPushButton>(f.dlg.get(), "settingButton"), Qt::LeftButton);
    CSettingDlg* second = f.dlg->LastSettingDlg();
    QVERIFY(second != nullptr && second != first);
    QVERIFY(first->isVisible());
    QVERIFY(second->isVisible());
    QCOMPARE(second->pos(), first->pos());
    QCOMPARE(second->windowTitle(), first->windowTitle());

    f.dlg->OnDblClickList(0);
    QCOMPARE(f.dlg->LastSettingDlg()->windowTitle(), QString::fromUtf8("Set：192.168.1.64"));
    QCOMPARE(f.dlg->findChildren<CSettingDlg*>().size(), 3);

    // Opening sends nothing and shows nothing.
    QVERIFY(f.capture.Take().empty());
    QVERIFY(f.setup.messages->texts.isEmpty());
}

void SettingsExchangeTest::untouchedModifySendsTheRowStamped() {
    Fixture f({FirstCamera(), SecondCamera()});
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);

    const std::int64_t before = NowSeconds();
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);
    const std::int64_t after = NowSeconds();

    // The outcome was shown before the handoff returned.
    QCOMPARE(f.setup.messages->texts, QStringList{QStringLiteral("Setting OK!")});
    const std::vector<Bytes> sent = f.capture.Take();
    QCOMPARE(sent.size(), std::size_t{1});
    QCOMPARE(sent[0].size(), kDatagramSize);
    QCOMPARE(Unstamped(sent[0]), ExpectedFor(FirstCamera()));
    std::set<std::uint32_t> stamps;
    for (std::int64_t second = before; second <= after; ++second) {
        stamps.insert(DrawFor(second));
    }
    QVERIFY2(stamps.count(StampOf(sent[0])) == 1, qPrintable(QString::number(StampOf(sent[0]))));
    QVERIFY(window->isVisible());
}

void SettingsExchangeTest::editedControlsAreSent_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("modeByte");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QByteArray>("macBytes");
    QTest::newRow("dhcp") << QStringLiteral("radioDhcp") << 1 << QStringLiteral("00:1a:2b:3c:4d:5e")
                          << QByteArray("\x00\x1A\x2B\x3C\x4D\x5E", 6);
    QTest::newRow("adsl") << QStringLiteral("radioAdsl") << 2 << QStringLiteral("02-0A-0B-0C-0D-0E")
                          << QByteArray("\x02\x0A\x0B\x0C\x0D\x0E", 6);
    // Refused before the handoff: the main window's presenter shows why.
    QTest::newRow("empty mac") << QStringLiteral("radioStatic") << 0 << QString() << QByteArray();
}

void SettingsExchangeTest::editedControlsAreSent() {
    QFETCH(QString, radio);
    QFETCH(int, modeByte);
    QFETCH(QString, mac);
    QFETCH(QByteArray, macBytes);

    Fixture f({FirstCamera()});
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    auto* button = window->findChild<QRadioButton*>(radio);
    QVERIFY(button != nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
    QVERIFY(button->isChecked());
    Child<QLineEdit>(window, "editMac")->setText(mac);
    auto* editIp = Child<QLineEdit>(window, "editIp");
    editIp->clear();
    QTest::keyClicks(editIp, QStringLiteral("192.168.1.99"));

    // Two presses, two requests.
    auto* modify = Child<QPushButton>(window, "buttonModify");
    QTest::mouseClick(modify, Qt::LeftButton);
    QTest::mouseClick(modify, Qt::LeftButton);

    const std::vector<Bytes> sent = f.capture.Take();
    if (macBytes.isEmpty()) {
        QVERIFY(sent.empty());
        const QString box = QStringLiteral(
            "MAC: empty; it needs a MAC address such as "
            "00:1a:2b:3c:4d:5e");
        QCOMPARE(f.setup.messages->texts, (QStringList{box, box}));
        QVERIFY(window->isVisible());
        return;
    }
    Bytes expected = ExpectedFor(FirstCamera());
    expected[12] = static_cast<std::uint8_t>(modeByte);
    PutText(expected, 29, "192.168.1.99");
    Put(expected, 77, Bytes(macBytes.begin(), macBytes.end()));
    QCOMPARE(sent.size(), std::size_t{2});
    for (const Bytes& datagram : sent) {
        QCOMPARE(Unstamped(datagram), expected);
        QVERIFY(StampOf(datagram) <= 32767);
    }
    QCOMPARE(f.setup.messages->texts,
             (QStringList{QStringLiteral("Setting OK!"), QStringLiteral("Setting OK!")}));
    // The title keeps the row's IP.
    QCOMPARE(window->windowTitle(), QString::fromUtf8("Set：192.168.1.64"));
}

void SettingsExchangeTest::aListedCamerasAddressIsSentOnlyWhenTheOperatorSaysSo_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("no") << false;
    QTest::newRow("send anyway") << true;
}

// A Modify onto another listed camera's address is checked like a batch: the
// holder is named and nothing goes out unless the operator says so.
void SettingsExchangeTest::aListedCamerasAddressIsSentOnlyWhenTheOperatorSaysSo() {
    QFETCH(bool, answer);
    Fixture f({FirstCamera(), SecondCamera()});
    f.setup.messages->answer = answer;
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    Child<QLineEdit>(window, "editIp")->setText(QStringLiteral("10.0.0.20"));
    Child<QLineEdit>(window, "editMask")->setText(QStringLiteral("255.0.0.0"));
    Child<QLineEdit>(window, "editGateway")->setText(QStringLiteral("10.0.0.1"));
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);

    QCOMPARE(f.setup.messages->questions,
             QStringList{QString::fromUtf8("10.0.0.20 is used by a listed camera "
                                           "(0a00ff10-01020304) \u2014 send anyway?")});
    QCOMPARE(f.capture.Take().size(), std::size_t{answer ? 1u : 0u});
    QCOMPARE(f.setup.messages->texts,
             answer ? QStringList{QStringLiteral("Setting OK!")} : QStringList{});
}

// Two devices answering with one device ID keep one row, which remembers the
// second MAC: a Modify of it would reach both, so nothing goes out and the
// box names both MACs.
void SettingsExchangeTest::aDeviceIdAnsweredByTwoMacsIsRefused() {
    CameraReply twin = FirstCamera();
    twin.mac = {0x02, 0, 0, 0, 0, 0x02};
    twin.ip = "192.168.1.65";
    Fixture f({FirstCamera(), twin});
    QCOMPARE(f.dlg->Table().RowCount(), 1);
    f.setup.messages->answer = true;
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    Child<QLineEdit>(window, "editIp")->setText(QStringLiteral("192.168.1.99"));
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);

    QVERIFY(f.capture.Take().empty());
    QVERIFY(f.setup.messages->questions.isEmpty());
    QCOMPARE(f.setup.messages->texts,
             QStringList{QStringLiteral(
                 "Nothing was sent: the device ID 0011aabb-0000ff01 is answered by more than one "
                 "MAC (00:1a:2b:3c:4d:5e, 02:00:00:00:00:02); a record would reach every device "
                 "using it.")});
}

void SettingsExchangeTest::enterInAnEditSendsNothing() {
    Fixture f({FirstCamera()});
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    auto* editMask = Child<QLineEdit>(window, "editMask");
    editMask->setFocus();
    QTest::keyClick(editMask, Qt::Key_Return);

    QVERIFY(!window->isVisible());
    QVERIFY(f.capture.Take().empty());
    QVERIFY(f.setup.messages->texts.isEmpty());
    // Hidden, not gone: the main window still owns it.
    QVERIFY(f.dlg->findChildren<CSettingDlg*>().contains(window));
}

void SettingsExchangeTest::twoWindowsForTwoRowsSendTheirOwnDevices() {
    Fixture f({FirstCamera(), SecondCamera()});
    f.dlg->OnDblClickList(0);
    CSettingDlg* first = f.dlg->LastSettingDlg();
    f.dlg->OnDblClickList(1);
    CSettingDlg* second = f.dlg->LastSettingDlg();
    QVERIFY(first != nullptr && second != nullptr && first != second);

    // The earlier window still sends its own device after a new search has
    // emptied the table.
    f.dlg->Table().Clear();
    QTest::mouseClick(Child<QPushButton>(first, "buttonModify"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(second, "buttonModify"), Qt::LeftButton);

    const std::vector<Bytes> sent = f.capture.Take();
    QCOMPARE(sent.size(), std::size_t{2});
    QCOMPARE(Unstamped(sent[0]), ExpectedFor(FirstCamera()));
    QCOMPARE(Unstamped(sent[1]), ExpectedFor(SecondCamera()));
}

void SettingsExchangeTest::handoffMarkerIsChecked_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("sends");
    QTest::newRow("marker") << QByteArray("\x56\x39\x83\x00", 4) << true;
    QTest::newRow("marker, byte 3 set") << QByteArray("\x56\x39\x83\xAB", 4) << true;
    QTest::newRow("first byte differs") << QByteArray("\x57\x39\x83\x00", 4) << false;
    QTest::newRow("second byte differs") << QByteArray("\x56\x38\x83\x00", 4) << false;
    QTest::newRow("third byte differs") << QByteArray("\x56\x39\x84\x00", 4) << false;
    QTest::newRow("all zero") << QByteArray(4, '\0') << false;
}

void SettingsExchangeTest::handoffMarkerIsChecked() {
    QFETCH(QByteArray, head);
    QFETCH(bool, sends);

    Fixture f(std::vector<CameraReply>{});
    // A record with every byte set, the ones the stamp replaces included.
    Bytes record(kDatagramSize);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    // Settings a camera can live on (the window refuses others); every other
    // byte, also after each text's end, stays as it is.
    PutText(record, 29, std::string("10.1.2.3", 9));  // with its ending zero
    PutText(record, 45, std::string("255.255.0.0", 12));
    PutText(record, 61, std::string("10.1.0.1", 9));
    Put(record, 77, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55});
    qdipc::SettingsHandoff handoff;
    std::copy(head.begin(), head.end(), handoff.bytes.begin());
    std::copy(record.begin(), record.end(), handoff.bytes.begin() + 4);

    // Once as the event a settings window delivers, once as a direct call.
    ApplySettingsEvent event(&handoff);
    QCoreApplication::sendEvent(f.dlg.get(), &event);
    QCOMPARE(f.dlg->OnApplySettings(&handoff), 0);
    QCOMPARE(f.dlg->OnApplySettings(nullptr), 0);

    const std::vector<Bytes> sent = f.capture.Take();
    if (!sends) {
        QVERIFY(sent.empty());
        QVERIFY(f.setup.messages->texts.isEmpty());
        return;
    }
    Bytes expected = record;
    Put(expected, 0, {0xD3, 0xED, 0xCB, 0xFF});
    std::fill(expected.begin() + 84, expected.end(), std::uint8_t{0});
    QCOMPARE(sent.size(), std::size_t{2});
    for (const Bytes& datagram : sent) {
        QCOMPARE(Unstamped(datagram), expected);
        QCOMPARE(datagram[86], std::uint8_t{0});
        QCOMPARE(datagram[87], std::uint8_t{0});
    }
    QCOMPARE(f.setup.messages->texts,
             (QStringList{QStringLiteral("Setting OK!"), QStringLiteral("Setting OK!")}));
}

void SettingsExchangeTest::failedSendShowsSettingError() {
    // Port 0 cannot be sent to: the send fails.
    Fixture f({FirstCamera()}, qdipc::Ipv4Endpoint{"127.0.0.1", 0});
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);

    QCOMPARE(f.setup.messages->texts, QStringList{QStringLiteral("Setting error!")});
    QVERIFY(f.capture.Take().empty());
}

void SettingsExchangeTest::vanishedNetworkShowsSettingErrorAndSendsNothing() {
    // The camera answered on an interface the host no longer has: no other
    // network holds it, so nothing goes out and the box says so.
    Fixture f(std::vector<CameraReply>{});
    qdipc::AcceptedReply accepted;
    accepted.reply = FirstCamera().Reply();
    accepted.arrivalInterface = 0x7FFFFFF0;
    f.dlg->Table().AddReplies({accepted}, 0);
    QCOMPARE(f.dlg->Table().ArrivalInterface(0), std::uint32_t{0x7FFFFFF0});
    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);

    QCOMPARE(f.setup.messages->texts, QStringList{QStringLiteral("Setting error!")});
    QVERIFY(f.capture.Take().empty());
}

void SettingsExchangeTest::outcomeBoxHoldsOnlyTheMainWindow() {
    Fixture f({FirstCamera(), SecondCamera()}, std::nullopt, /*realBoxes=*/true);
    CSearchDlg* main = f.dlg.get();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    main->OnDblClickList(0);
    CSettingDlg* sender = main->LastSettingDlg();
    main->OnDblClickList(1);
    CSettingDlg* other = main->LastSettingDlg();
    QVERIFY(QTest::qWaitForWindowExposed(other));
    auto* otherIp = Child<QLineEdit>(other, "editIp");
    otherIp->setFocus();
    otherIp->end(false);
    main->OnClickList(0);
    const std::string currentIp = main->CurrentIp();
    QVERIFY(!currentIp.empty());

    // Input goes through each window as the window system delivers it, so
    // that modality applies. A click on row 1's IP cell would make it current.
    auto* list = Child<QTableView>(main, "deviceList");
    const QPoint rowOne =
        list->viewport()->mapTo(main, list->visualRect(list->model()->index(1, 3)).center());
    QString text;
    QWidget* owner = nullptr;
    const bool seen = WhileModal(
        [&] { QTest::mouseClick(Child<QPushButton>(sender, "buttonModify"), Qt::LeftButton); },
        [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            text = box->text();
            owner = box->parentWidget();
            // The main window takes no click, no key and no close.
            QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {}, rowOne);
            QTest::keyClick(main->windowHandle(), Qt::Key_Escape);
            main->windowHandle()->close();
            // Another settings window takes keys and clicks.
            QTest::keyClick(other->windowHandle(), Qt::Key_9);
            auto* dhcp = Child<QRadioButton>(other, "radioDhcp");
            QTest::mouseClick(other->windowHandle(), Qt::LeftButton, {},
                              dhcp->mapTo(other, dhcp->rect().center()));
            box->button(QMessageBox::Ok)->click();
        });
    QVERIFY(seen);
    QCOMPARE(text, QStringLiteral("Setting OK!"));
    QCOMPARE(owner, main);
    QVERIFY(main->isVisible());
    QCOMPARE(main->CurrentIp(), currentIp);
    QCOMPARE(otherIp->text(), QStringLiteral("10.0.0.209"));
    QVERIFY(Child<QRadioButton>(other, "radioDhcp")->isChecked());
    QCOMPARE(f.capture.Take().size(), std::size_t{1});

    // Once the box is closed the main window takes input again.
    QTest::mouseClick(main->windowHandle(), Qt::LeftButton, {}, rowOne);
    QCOMPARE(main->CurrentIp(), std::string("10.0.0.20"));
}

void SettingsExchangeTest::overLongCellsStayInTheirFields() {
    // Reply texts of 20 characters give cells that do not fit a 16-byte field.
    CameraReply camera = FirstCamera();
    camera.ip = "192.168.100.200:8080";
    camera.mask = "255.255.255.128/25-m";
    camera.gateway = "192.168.100.129";
    Fixture f({camera});
    QCOMPARE(f.dlg->Table().CellText(0, 3), camera.ip);

    f.dlg->OnDblClickList(0);
    CSettingDlg* window = f.dlg->LastSettingDlg();
    QVERIFY(window != nullptr);
    // The record holds the first 16 bytes of the IP cell: the title shows
    // them, the edit the 15 it can hold.
    QCOMPARE(window->windowTitle(), QString::fromUtf8("Set：192.168.100.200:"));
    QCOMPARE(Child<QLineEdit>(window, "editIp")->text(), QStringLiteral("192.168.100.200"));
    QCOMPARE(Child<QLineEdit>(window, "editMask")->text(), QStringLiteral("255.255.255.128"));
    QTest::mouseClick(Child<QPushButton>(window, "buttonModify"), Qt::LeftButton);

    // Each text ends inside its field; the gateway after them is the cell's.
    Bytes expected(kDatagramSize, 0);
    Put(expected, 0, {0xD3, 0xED, 0xCB, 0xFF});
    Put(expected, 13, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
    PutText(expected, 29, "192.168.100.200");
    PutText(expected, 45, "255.255.255.128");
    PutText(expected, 61, "192.168.100.129");
    Put(expected, 77, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    const std::vector<Bytes> sent = f.capture.Take();
    QCOMPARE(sent.size(), std::size_t{1});
    QCOMPARE(Unstamped(sent[0]), expected);
}

QTEST_MAIN(SettingsExchangeTest)
#include "SettingsExchangeTest.moc"
