// The settings window on its own: the form, showing a record, Modify and the
// handoff block it delivers, and the keys that hide the window. A small
// receiver widget stands in for the main window and records every handoff.
//
// Expected bytes are written here from the record layout: magic 0..3,
// reserved 4..11, mode 12, devId 13..20, devIdTail 21..28, ip 29..44,
// mask 45..60, gateway 61..76, mac 77..82, reserved 83, stamp 84..87; the
// handoff is 'V' '9' 0x83, one free byte, then the record.

#include <QButtonGroup>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ui/qt/ApplySettingsEvent.h"
#include "ui/qt/CSettingDlg.h"
#include "ui/qt/DialogFont.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRecordSize = 88;
constexpr std::size_t kHandoffSize = 92;

// Offsets of the record, from the layout.
constexpr std::size_t kModeAt = 12;
constexpr std::size_t kDevIdAt = 13;
constexpr std::size_t kDevIdTailAt = 21;
constexpr std::size_t kIpAt = 29;
constexpr std::size_t kMaskAt = 45;
constexpr std::size_t kGatewayAt = 61;
constexpr std::size_t kMacAt = 77;

void PutBytes(Bytes& buffer, std::size_t offset, const Bytes& bytes) {
    QVERIFY(offset + bytes.size() <= buffer.size());
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutText(Bytes& buffer, std::size_t offset, const std::string& text) {
    PutBytes(buffer, offset, Bytes(text.begin(), text.end()));
}

qdipc::NetSettingsRecord RecordOf(const Bytes& bytes) {
    qdipc::NetSettingsRecord record;
    std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
    return record;
}

// A record as the main window builds it for a row.
Bytes SampleRecordBytes() {
    Bytes bytes(kRecordSize, 0);
    PutBytes(bytes, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
    PutText(bytes, kIpAt, "192.168.1.64");
    PutText(bytes, kMaskAt, "255.255.255.0");
    PutText(bytes, kGatewayAt, "192.168.1.1");
    PutBytes(bytes, kMacAt, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    return bytes;
}

// Stands in for the main window: keeps a copy of every handoff block.
class HandoffRecorder : public QWidget {
public:
    std::vector<Bytes> blocks;

protected:
    bool event(QEvent* event) override {
        if (event->type() == static_cast<QEvent::Type>(0x603)) {
            const auto* handoff = static_cast<ApplySettingsEvent*>(event)->Handoff();
            blocks.emplace_back(handoff->bytes.begin(), handoff->bytes.end());
            return true;
        }
        return QWidget::event(event);
    }
};

// The record inside a handoff block, after checking the marker.
Bytes RecordInBlock(const Bytes& block) {
    if (block.size() != kHandoffSize || block[0] != 0x56 || block[1] != 0x39 || block[2] != 0x83) {
        return {};
    }
    return Bytes(block.begin() + 4, block.end());
}

template <typename T>
T* Child(QWidget& parent, const char* name) {
    return parent.findChild<T*>(QLatin1String(name));
}

QString FullWidthColon() {
    return QString::fromUtf8("\xEF\xBC\x9A");
}

}  // namespace

class SettingDlgTest : public QObject {
    Q_OBJECT

private slots:
    void formFollowsTheTemplate();
    void loadRecordShowsTheRecord_data();
    void loadRecordShowsTheRecord();
    void untouchedModifySendsTheLoadedRecord();
    void modeFollowsTheRadioButtons_data();
    void modeFollowsTheRadioButtons();
    void editedValuesAreSentAndTheTitleStays();
    void overLongTextsStayInTheirFields();
    void invalidFieldKeepsTheWindowAndSendsNothing_data();
    void invalidFieldKeepsTheWindowAndSendsNothing();
    void endingTheWindowHidesItWithoutSending_data();
    void endingTheWindowHidesItWithoutSending();
    void enterOnModifyPressesIt();
    void twoWindowsSendTheirOwnDevices();
    void recordFromRowFollowsTheCells();
};

void SettingDlgTest::formFollowsTheTemplate() {
    HandoffRecorder main;
    CSettingDlg dialog(&main);

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Setting"));
    QVERIFY(dialog.isWindow());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.parentWidget(), &main);
    QCOMPARE(dialog.size(), QSize(231, 281));
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));

    // Labels carry the full-width colon.
    const std::map<QString, QString> labels = {
        {QStringLiteral("labelIp"), QStringLiteral("IP") + FullWidthColon()},
        {QStringLiteral("labelMask"), QStringLiteral("Mask") + FullWidthColon()},
        {QStringLiteral("labelGateway"), QStringLiteral("GateWay") + FullWidthColon()},
        {QStringLiteral("labelMac"), QStringLiteral("MAC") + FullWidthColon()},
    };
    for (const auto& [name, text] : labels) {
        auto* label = dialog.findChild<QLabel*>(name);
        QVERIFY2(label != nullptr, qPrintable(name));
        QCOMPARE(label->text(), text);
    }

    // Dialog units times 1.5: IP edit (54, 29, 70 x 14), Modify (46, 132, 50 x 14).
    auto* editIp = Child<QLineEdit>(dialog, "editIp");
    auto* editMask = Child<QLineEdit>(dialog, "editMask");
    auto* editGateway = Child<QLineEdit>(dialog, "editGateway");
    auto* editMac = Child<QLineEdit>(dialog, "editMac");
    auto* modify = Child<QPushButton>(dialog, "buttonModify");
    QVERIFY(editIp && editMask && editGateway && editMac && modify);
    QCOMPARE(editIp->geometry(), QRect(81, 44, 105, 21));
    QCOMPARE(modify->geometry(), QRect(69, 198, 75, 21));
    QCOMPARE(modify->text(), QStringLiteral("Modify"));
    QVERIFY(!modify->isDefault());
    QVERIFY(!modify->autoDefault());
    // The address edits hold what fits a 16-byte field with its terminator.
    QCOMPARE(editIp->maxLength(), 15);
    QCOMPARE(editMask->maxLength(), 15);
    QCOMPARE(editGateway->maxLength(), 15);
    for (QLineEdit* edit : {editIp, editMask, editGateway, editMac}) {
        QVERIFY(edit->text().isEmpty());
    }

    // The three radio buttons are one exclusive group without a tab stop.
    auto* radioStatic = Child<QRadioButton>(dialog, "radioStatic");
    auto* radioDhcp = Child<QRadioButton>(dialog, "radioDhcp");
    auto* radioAdsl = Child<QRadioButton>(dialog, "radioAdsl");
    QVERIFY(radioStatic && radioDhcp && radioAdsl);
    QCOMPARE(radioStatic->text(), QStringLiteral("Static IP"));
    QCOMPARE(radioDhcp->text(), QStringLiteral("DHCP"));
    QCOMPARE(radioAdsl->text(), QStringLiteral("ADSL"));
    QVERIFY(radioStatic->group() != nullptr);
    QCOMPARE(radioDhcp->group(), radioStatic->group());
    QCOMPARE(radioAdsl->group(), radioStatic->group());
    QVERIFY(radioStatic->group()->exclusive());
    for (QRadioButton* radio : {radioStatic, radioDhcp, radioAdsl}) {
        QVERIFY(!radio->isChecked());
        QVERIFY(!(radio->focusPolicy() & Qt::TabFocus));
    }

    // Tab order: IP, Mask, Gateway, MAC, Modify.
    QList<QWidget*> tabOrder;
    QWidget* next = editIp;
    do {
        if (next->focusPolicy() & Qt::TabFocus) {
            tabOrder.append(next);
        }
        next = next->nextInFocusChain();
    } while (next != editIp && tabOrder.size() < 10);
    QCOMPARE(tabOrder, (QList<QWidget*>{editIp, editMask, editGateway, editMac, modify}));

    // 9-point 宋体, or a Song face with its metrics where it is missing; the
    // face the window is really drawn in, not the one asked for first.
    QCOMPARE(dialog.font().pointSize(), 9);
    const QString family = QFontInfo(dialog.font()).family();
    QVERIFY2(qdipc::SongFaceFamilies().contains(family), qPrintable(family));
    QVERIFY(QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese));
}

void SettingDlgTest::loadRecordShowsTheRecord_data() {
    QTest::addColumn<int>("modeByte");
    QTest::addColumn<QString>("checkedRadio");
    QTest::newRow("static") << 0 << QStringLiteral("radioStatic");
    QTest::newRow("dhcp") << 1 << QStringLiteral("radioDhcp");
    QTest::newRow("adsl") << 2 << QStringLiteral("radioAdsl");
    QTest::newRow("unknown mode reads as static") << 7 << QStringLiteral("radioStatic");
}

void SettingDlgTest::loadRecordShowsTheRecord() {
    QFETCH(int, modeByte);
    QFETCH(QString, checkedRadio);

    HandoffRecorder main;
    CSettingDlg dialog(&main);
    Bytes bytes = SampleRecordBytes();
    bytes[kModeAt] = static_cast<std::uint8_t>(modeByte);
    // A record that had another mode before leaves no radio button behind.
    Child<QRadioButton>(dialog, "radioDhcp")->setChecked(true);
    dialog.LoadRecord(RecordOf(bytes));

    QCOMPARE(Child<QLineEdit>(dialog, "editIp")->text(), QStringLiteral("192.168.1.64"));
    QCOMPARE(Child<QLineEdit>(dialog, "editMask")->text(), QStringLiteral("255.255.255.0"));
    QCOMPARE(Child<QLineEdit>(dialog, "editGateway")->text(), QStringLiteral("192.168.1.1"));
    QCOMPARE(Child<QLineEdit>(dialog, "editMac")->text(), QStringLiteral("00:1a:2b:3c:4d:5e"));
    for (const char* edit : {"editIp", "editMask", "editGateway", "editMac"}) {
        QVERIFY2(Child<QLineEdit>(dialog, edit)->cursorPosition() == 0, edit);  // start shown
    }
    // The whole MAC is shown: its text fits inside the edit's frame and
    // margins, and the edit stays inside the dialog.
    auto* mac = Child<QLineEdit>(dialog, "editMac");
    QStyleOptionFrame frame;
    frame.initFrom(mac);
    const QRect inside = mac->style()->subElementRect(QStyle::SE_LineEditContents, &frame, mac);
    QVERIFY2(mac->fontMetrics().horizontalAdvance(mac->text()) + 4 <= inside.width(),
             qPrintable(QStringLiteral("%1 px of text in %2 px")
                            .arg(mac->fontMetrics().horizontalAdvance(mac->text()))
                            .arg(inside.width())));
    QVERIFY(mac->geometry().right() < dialog.width());
    QCOMPARE(dialog.windowTitle(),
             QStringLiteral("Set") + FullWidthColon() + QStringLiteral("192.168.1.64"));
    const QList<QRadioButton*> radios = dialog.findChildren<QRadioButton*>();
    QCOMPARE(radios.size(), 3);
    for (QRadioButton* radio : radios) {
        QCOMPARE(radio->isChecked(), radio->objectName() == checkedRadio);
    }
    QVERIFY(main.blocks.empty());
}

void SettingDlgTest::untouchedModifySendsTheLoadedRecord() {
    HandoffRecorder main;
    CSettingDlg dialog(&main);
    Bytes loaded = SampleRecordBytes();
    // Bytes the window must not carry over: magic, reserved, stamp.
    PutBytes(loaded, 0, {0xD3, 0xED, 0xCB, 0xFF});
    loaded[4] = 0x44;
    loaded[83] = 0x55;
    PutBytes(loaded, 84, {0x12, 0x34, 0x00, 0x00});
    // The device-ID block travels whole, tail included.
    PutBytes(loaded, kDevIdTailAt, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
    // Bytes after a text's terminator are not part of the text.
    PutText(loaded, kIpAt + 13, "zz");
    dialog.LoadRecord(RecordOf(loaded));
    dialog.show();

    QTest::mouseClick(Child<QPushButton>(dialog, "buttonModify"), Qt::LeftButton);

    Bytes expected(kRecordSize, 0);
    PutBytes(expected, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
    PutBytes(expected, kDevIdTailAt, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
    PutText(expected, kIpAt, "192.168.1.64");
    PutText(expected, kMaskAt, "255.255.255.0");
    PutText(expected, kGatewayAt, "192.168.1.1");
    PutBytes(expected, kMacAt, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});

    QCOMPARE(main.blocks.size(), std::size_t{1});
    QCOMPARE(main.blocks[0].size(), kHandoffSize);
    QCOMPARE(RecordInBlock(main.blocks[0]), expected);
    // The window stays open after Modify.
    QVERIFY(dialog.isVisible());
}

void SettingDlgTest::modeFollowsTheRadioButtons_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("modeByte");
    QTest::newRow("none checked") << QString() << 0;
    QTest::newRow("static") << QStringLiteral("radioStatic") << 0;
    QTest::newRow("dhcp") << QStringLiteral("radioDhcp") << 1;
    QTest::newRow("adsl") << QStringLiteral("radioAdsl") << 2;
}

void SettingDlgTest::modeFollowsTheRadioButtons() {
    QFETCH(QString, radio);
    QFETCH(int, modeByte);

    HandoffRecorder main;
    CSettingDlg dialog(&main);
    dialog.show();
    dialog.LoadRecord(RecordOf(SampleRecordBytes()));
    if (radio.isEmpty()) {
        QButtonGroup* group = Child<QRadioButton>(dialog, "radioStatic")->group();
        group->setExclusive(false);
        group->checkedButton()->setChecked(false);
        group->setExclusive(true);
        QVERIFY(group->checkedButton() == nullptr);
    } else {
        auto* button = dialog.findChild<QRadioButton*>(radio);
        QVERIFY(button != nullptr);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
        QVERIFY(button->isChecked());
    }
    QTest::mouseClick(Child<QPushButton>(dialog, "buttonModify"), Qt::LeftButton);

    QCOMPARE(main.blocks.size(), std::size_t{1});
    const Bytes record = RecordInBlock(main.blocks[0]);
    QCOMPARE(record.size(), kRecordSize);
    QCOMPARE(int(record[kModeAt]), modeByte);
}

void SettingDlgTest::editedValuesAreSentAndTheTitleStays() {
    HandoffRecorder main;
    CSettingDlg dialog(&main);
    dialog.LoadRecord(RecordOf(SampleRecordBytes()));
    dialog.show();
    const QString title = dialog.windowTitle();

    auto* editIp = Child<QLineEdit>(dialog, "editIp");
    auto* editMac = Child<QLineEdit>(dialog, "editMac");
    auto* editMask = Child<QLineEdit>(dialog, "editMask");
    auto* modify = Child<QPushButton>(dialog, "buttonModify");
    editIp->clear();
    QTest::keyClicks(editIp, QStringLiteral("192.168.7.7"));
    editMask->setText(QStringLiteral("255.255.0.0"));
    editMac->setText(QStringLiteral("02-0A-0b-1C-2d-3E"));
    QTest::mouseClick(modify, Qt::LeftButton);

    editMac->setText(QStringLiteral("a0:b1:c2:d3:e4:f5"));
    QTest::mouseClick(modify, Qt::LeftButton);

    QCOMPARE(main.blocks.size(), std::size_t{2});
    Bytes first(kRecordSize, 0);
    PutBytes(first, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
    PutText(first, kIpAt, "192.168.7.7");
    PutText(first, kMaskAt, "255.255.0.0");
    PutText(first, kGatewayAt, "192.168.1.1");
    PutBytes(first, kMacAt, {0x02, 0x0A, 0x0B, 0x1C, 0x2D, 0x3E});
    QCOMPARE(RecordInBlock(main.blocks[0]), first);

    Bytes second = first;
    PutBytes(second, kMacAt, {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5});
    QCOMPARE(RecordInBlock(main.blocks[1]), second);

    // The title keeps the IP the window was loaded with.
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(title, QStringLiteral("Set") + FullWidthColon() + QStringLiteral("192.168.1.64"));
}

void SettingDlgTest::overLongTextsStayInTheirFields() {
    HandoffRecorder main;
    CSettingDlg dialog(&main);
    QStringList boxes;
    dialog.SetWarning([&](QWidget*, const QString& text) { boxes.append(text); });
    // A loaded field of 16 characters has no terminator in the record.
    Bytes loaded = SampleRecordBytes();
    PutText(loaded, kIpAt, "192.168.100.2011");
    PutText(loaded, kMaskAt, "255.255.255.2480");
    PutText(loaded, kGatewayAt, "192.168.100.2066");
    dialog.LoadRecord(RecordOf(loaded));
    dialog.show();

    // Shown within the 16 bytes: the title has the whole field, the edits
    // what they can hold.
    QCOMPARE(dialog.windowTitle(),
             QStringLiteral("Set") + FullWidthColon() + QStringLiteral("192.168.100.2011"));
    auto* editMask = Child<QLineEdit>(dialog, "editMask");
    auto* editGateway = Child<QLineEdit>(dialog, "editGateway");
    QCOMPARE(Child<QLineEdit>(dialog, "editIp")->text(), QStringLiteral("192.168.100.201"));
    auto* modify = Child<QPushButton>(dialog, "buttonModify");
    QTest::mouseClick(modify, Qt::LeftButton);

    // Typed text beyond 15 characters is refused by the edit.
    editMask->clear();
    QTest::keyClicks(editMask, QStringLiteral("255.255.255.248.255.255"));
    QCOMPARE(editMask->text(), QStringLiteral("255.255.255.248"));
    // Characters that need more than 15 bytes are no address: refused whole.
    editGateway->setText(QString::fromUtf8("网关网关网关"));
    QTest::mouseClick(modify, Qt::LeftButton);
    QCOMPARE(boxes,
             QStringList{QString::fromUtf8("Gateway: 网关网关网关 is not an IPv4 address (four "
                                           "numbers from 0 to 255 separated by dots, e.g. "
                                           "192.168.1.1)")});

    QCOMPARE(main.blocks.size(), std::size_t{1});
    Bytes first(kRecordSize, 0);
    PutBytes(first, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
    PutText(first, kIpAt, "192.168.100.201");
    PutText(first, kMaskAt, "255.255.255.248");
    PutText(first, kGatewayAt, "192.168.100.206");
    PutBytes(first, kMacAt, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    QCOMPARE(RecordInBlock(main.blocks[0]), first);
}

void SettingDlgTest::invalidFieldKeepsTheWindowAndSendsNothing_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("box");
    const QString radioStatic = QStringLiteral("radioStatic");
    const auto q = [](const char* text) { return QString::fromUtf8(text); };
    QTest::newRow("ip") << radioStatic << q("editIp") << q("999.1.2.300")
                        << q("IP: 999.1.2.300 is not an IPv4 address");
    QTest::newRow("mask") << radioStatic << q("editMask") << q("255.0.255.0")
                          << q("Mask: 255.0.255.0 is not a valid netmask (its ones must be "
                               "contiguous)");
    QTest::newRow("gateway") << radioStatic << q("editGateway") << q("10.0.0.1")
                             << q("Gateway: 10.0.0.1 is outside the IP's subnet 192.168.1.0/24");
    QTest::newRow("mac") << radioStatic << q("editMac") << q("zz:yy")
                         << q("MAC: zz:yy is not a MAC address");
    QTest::newRow("dhcp still checks the mac")
        << QStringLiteral("radioDhcp") << q("editMac") << q("") << q("MAC: empty");
}

void SettingDlgTest::invalidFieldKeepsTheWindowAndSendsNothing() {
    QFETCH(QString, radio);
    QFETCH(QString, edit);
    QFETCH(QString, text);
    QFETCH(QString, box);

    HandoffRecorder main;
    CSettingDlg dialog(&main);
    QStringList boxes;
    QWidget* boxParent = nullptr;
    dialog.SetWarning([&](QWidget* parent, const QString& boxText) {
        boxes.append(boxText);
        boxParent = parent;
    });
    dialog.LoadRecord(RecordOf(SampleRecordBytes()));
    dialog.show();
    Child<QRadioButton>(dialog, qPrintable(radio))->setChecked(true);
    auto* wrong = Child<QLineEdit>(dialog, qPrintable(edit));
    QVERIFY(wrong != nullptr);
    wrong->setText(text);
    Child<QPushButton>(dialog, "buttonModify")->setFocus();

    QTest::mouseClick(Child<QPushButton>(dialog, "buttonModify"), Qt::LeftButton);

    QVERIFY(main.blocks.empty());
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].startsWith(box), qPrintable(boxes[0]));
    QCOMPARE(boxParent, &dialog);
    // Open, the operator's text as it was, the wrong field ready to retype.
    QVERIFY(dialog.isVisible());
    QCOMPARE(wrong->text(), text);
    QCOMPARE(dialog.focusWidget(), wrong);
    QCOMPARE(wrong->selectedText(), text);
    QCOMPARE(dialog.windowTitle(),
             QStringLiteral("Set") + FullWidthColon() + QStringLiteral("192.168.1.64"));
}

void SettingDlgTest::endingTheWindowHidesItWithoutSending_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("enter in the IP edit") << QStringLiteral("enterIp");
    QTest::newRow("enter in the MAC edit") << QStringLiteral("enterMac");
    QTest::newRow("escape") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
}

void SettingDlgTest::endingTheWindowHidesItWithoutSending() {
    QFETCH(QString, how);

    HandoffRecorder main;
    QPointer<CSettingDlg> dialog = new CSettingDlg(&main);
    dialog->LoadRecord(RecordOf(SampleRecordBytes()));
    dialog->show();
    QVERIFY(dialog->isVisible());

    if (how == QStringLiteral("enterIp")) {
        auto* edit = Child<QLineEdit>(*dialog, "editIp");
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
    } else if (how == QStringLiteral("enterMac")) {
        auto* edit = Child<QLineEdit>(*dialog, "editMac");
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    } else if (how == QStringLiteral("escape")) {
        QTest::keyClick(Child<QLineEdit>(*dialog, "editGateway"), Qt::Key_Escape);
    } else {
        QVERIFY(dialog->close());
    }
    QCoreApplication::processEvents();

    QVERIFY(!dialog.isNull());
    QVERIFY(!dialog->isVisible());
    QVERIFY(main.blocks.empty());
}

void SettingDlgTest::enterOnModifyPressesIt() {
    HandoffRecorder main;
    CSettingDlg dialog(&main);
    dialog.LoadRecord(RecordOf(SampleRecordBytes()));
    dialog.show();
    auto* modify = Child<QPushButton>(dialog, "buttonModify");
    modify->setFocus();
    QCOMPARE(dialog.focusWidget(), modify);

    QTest::keyClick(modify, Qt::Key_Return);

    QCOMPARE(main.blocks.size(), std::size_t{1});
    QCOMPARE(RecordInBlock(main.blocks[0]).size(), kRecordSize);
    QVERIFY(dialog.isVisible());
}

void SettingDlgTest::twoWindowsSendTheirOwnDevices() {
    HandoffRecorder main;
    CSettingDlg first(&main);
    CSettingDlg second(&main);
    Bytes otherDevice = SampleRecordBytes();
    PutBytes(otherDevice, kDevIdAt, {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04});
    first.LoadRecord(RecordOf(SampleRecordBytes()));
    second.LoadRecord(RecordOf(otherDevice));
    first.show();
    second.show();

    QTest::mouseClick(Child<QPushButton>(second, "buttonModify"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(first, "buttonModify"), Qt::LeftButton);

    QCOMPARE(main.blocks.size(), std::size_t{2});
    const Bytes fromSecond = RecordInBlock(main.blocks[0]);
    const Bytes fromFirst = RecordInBlock(main.blocks[1]);
    QCOMPARE(fromSecond.size(), kRecordSize);
    QCOMPARE(fromFirst.size(), kRecordSize);
    QCOMPARE(Bytes(fromSecond.begin() + kDevIdAt, fromSecond.begin() + kDevIdAt + 8),
             (Bytes{0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04}));
    QCOMPARE(Bytes(fromFirst.begin() + kDevIdAt, fromFirst.begin() + kDevIdAt + 8),
             (Bytes{0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01}));
}

void SettingDlgTest::recordFromRowFollowsTheCells() {
    struct Case {
        const char* name;
        std::map<int, std::string> cells;
        Bytes expected;
    };
    std::vector<Case> cases;

    {
        Case c{"a full row", {}, Bytes(kRecordSize, 0)};
        c.cells = {
            {0, "3"},    {1, "0011aabb-0000ff01"}, {2, "cam"},           {3, "192.168.1.64"},
            {4, "5050"}, {5, "00:1a:2b:3c:4d:5e"}, {9, "255.255.255.0"}, {11, "192.168.1.1"}};
        PutBytes(c.expected, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01});
        PutText(c.expected, kIpAt, "192.168.1.64");
        PutText(c.expected, kMaskAt, "255.255.255.0");
        PutText(c.expected, kGatewayAt, "192.168.1.1");
        PutBytes(c.expected, kMacAt, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
        cases.push_back(c);
    }
    {
        // A short device ID reads as zero digits at the end; an empty MAC as zeros.
        Case c{"short and empty cells", {}, Bytes(kRecordSize, 0)};
        c.cells = {{1, "0011aabb"}, {3, "10.0.0.2"}};
        PutBytes(c.expected, kDevIdAt, {0x00, 0x11, 0xAA, 0xBB});
        PutText(c.expected, kIpAt, "10.0.0.2");
        cases.push_back(c);
    }
    {
        // Cells of 16 or more characters fill their fields without a
        // terminator and stop there.
        Case c{"over-long cells", {}, Bytes(kRecordSize, 0)};
        c.cells = {{1, "0a00ff10-01020304-and-more-text-beyond-32"},
                   {3, "192.168.100.200-extra"},
                   {5, "01:02:03:04:05:06:07:08"},
                   {9, std::string(40, 'm')},
                   {11, "1234567890abcdefXYZ"}};
        PutBytes(c.expected, kDevIdAt, {0x0A, 0x00, 0xFF, 0x10, 0x01, 0x02, 0x03, 0x04});
        PutText(c.expected, kIpAt, "192.168.100.200-");
        PutText(c.expected, kMaskAt, std::string(16, 'm'));
        PutText(c.expected, kGatewayAt, "1234567890abcdef");
        PutBytes(c.expected, kMacAt, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
        cases.push_back(c);
    }

    for (const Case& c : cases) {
        const qdipc::NetSettingsRecord record = BuildSettingsRecordFromRow([&](int column) {
            const auto cell = c.cells.find(column);
            return cell == c.cells.end() ? std::string() : cell->second;
        });
        QVERIFY2(Bytes(record.bytes.begin(), record.bytes.end()) == c.expected, c.name);
    }
}

QTEST_MAIN(SettingDlgTest)
#include "SettingDlgTest.moc"
