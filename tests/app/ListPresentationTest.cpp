// The device list's presentation: the sort toggle rule, the byte order of
// cell texts, stripes by display position, the view's set-up, and the main
// window's layout formulas.

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>
#include <QTest>
#include <cmath>
#include <map>
#include <memory>

#include "TestPrinting.h"
#include "ui/qt/DeviceListPresentation.h"
#include "ui/qt/DeviceTable.h"
#include "discovery/SiteWatch.h"
#include "tests/discovery/TestReplies.h"
#include "ui/WindowLayout.h"

using qdipc::ControlRect;
using qdipc::DeviceListPresentation;
using qdipc::DeviceTable;
using qdipc::MainWindowLayout;
using qdipc::test::Camera;
using qdipc::test::CameraReply;

Q_DECLARE_METATYPE(MainWindowLayout)
using Texts = std::vector<std::string>;
Q_DECLARE_METATYPE(Texts)

namespace qdipc {
QDebug operator<<(QDebug debug, const ControlRect& rect) {
    QDebugStateSaver saver(debug);
    debug.nospace() << "(" << rect.x << ", " << rect.y << ") " << rect.width << " x "
                    << rect.height;
    return debug;
}
}  // namespace qdipc

namespace {

void Add(DeviceTable& table, const CameraReply& camera) {
    const auto reply = camera.Reply();
    table.AddReply(&reply);
}

Texts Column(const DeviceTable& table, int column) {
    Texts texts;
    for (int row = 0; row < table.RowCount(); ++row) {
        texts.push_back(table.CellText(row, column));
    }
    return texts;
}

// A list with its presentation, as the main window sets it up.
struct List {
    DeviceTable table;
    QTableView view;
    DeviceListPresentation presentation{&view, &table};

    void ClickHeader(int column) {
        QHeaderView* header = view.horizontalHeader();
        const QPoint centre(
            header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    }
};

}  // namespace

class ListPresentationTest : public QObject {
    Q_OBJECT
private slots:
    void listIsSetUpWithTheTwelveColumns();
    void headerClicksFollowTheToggleRule();
    void cellsSortByValueOrBytes_data();
    void cellsSortByValueOrBytes();
    void headerClickOnAnEmptyListChangesOnlyTheState();
    void rowsAfterASortAreAppendedAndTheStateSurvivesASearch();
    void stripesFollowDisplayPositionsAfterASort();
    void ctrlCCopiesTheSelectedRowsInDisplayOrder();
    void rowsReadOnAnyTheme_data();
    void rowsReadOnAnyTheme();
    void layoutFormulas_data();
    void layoutFormulas();
    void columnsFitTheirContentsAndTheHeaderMenuHidesThem();
};

void ListPresentationTest::listIsSetUpWithTheTwelveColumns() {
    List list;
    const std::vector<int> widths = {40, 120, 50, 100, 50, 100, 100, 100, 100, 80, 50, 80};
    QCOMPARE(list.view.model()->columnCount(), 12);
    int total = 0;
    for (int c = 0; c < 12; ++c) {
        QCOMPARE(list.view.columnWidth(c), widths[static_cast<std::size_t>(c)]);
        total += list.view.columnWidth(c);
    }
    QCOMPARE(total, 970);
    QVERIFY(list.view.showGrid());
    QCOMPARE(list.view.selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list.view.selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(list.view.horizontalHeader()->sectionsClickable());
    QVERIFY(!list.view.isSortingEnabled());
    QCOMPARE(list.view.editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(!list.view.verticalHeader()->isVisible() || list.view.verticalHeader()->isHidden());
}

void ListPresentationTest::headerClicksFollowTheToggleRule() {
    List list;
    list.view.resize(1000, 300);
    list.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list.view));
    // Arrival order 0..3 with IPs that sort differently from the numbers.
    const std::vector<std::string> ips = {"10.0.0.3", "10.0.0.1", "10.0.0.4", "10.0.0.2"};
    for (std::uint32_t n = 0; n < ips.size(); ++n) {
        CameraReply camera = Camera(n);
        camera.ip = ips[n];
        Add(list.table, camera);
    }
    QCOMPARE(list.presentation.SortColumn(), 0);
    QCOMPARE(list.presentation.SortAscending(), false);

    list.ClickHeader(0);  // the first click on "NO." inverts false: ascending
    QCOMPARE(list.presentation.SortAscending(), true);
    QCOMPARE(Column(list.table, 0), (Texts{"0", "1", "2", "3"}));

    list.ClickHeader(0);  // the same column again: descending
    QCOMPARE(list.presentation.SortAscending(), false);
    QCOMPARE(Column(list.table, 0), (Texts{"3", "2", "1", "0"}));

    QHeaderView* header = list.view.horizontalHeader();
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), 0);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

    list.ClickHeader(3);  // another column: ascending by IP
    QCOMPARE(list.presentation.SortColumn(), 3);
    QCOMPARE(list.presentation.SortAscending(), true);
    QCOMPARE(header->sortIndicatorSection(), 3);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(Column(list.table, 3), (Texts{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}));
    QCOMPARE(Column(list.table, 0), (Texts{"1", "3", "0", "2"}));

    list.ClickHeader(0);  // back to "NO.": ascending again
    QCOMPARE(list.presentation.SortColumn(), 0);
    QCOMPARE(list.presentation.SortAscending(), true);
    QCOMPARE(Column(list.table, 0), (Texts{"0", "1", "2", "3"}));
}

void ListPresentationTest::cellsSortByValueOrBytes_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<Texts>("arrival");
    QTest::addColumn<Texts>("ascending");

    Texts numbers;
    for (int n = 0; n < 12; ++n) {
        numbers.push_back(std::to_string(n));
    }
    // Numbers and addresses compare by value, the other columns by bytes.
    QTest::newRow("NO. by value") << 0 << numbers << numbers;
    QTest::newRow("IP by value") << 3 << Texts{"192.168.1.9", "192.168.1.10"}
                                 << Texts{"192.168.1.9", "192.168.1.10"};
    QTest::newRow("Port by value") << 4 << Texts{"554", "80"} << Texts{"80", "554"};
    QTest::newRow("Web Port by value")
        << 10 << Texts{"8080", "65535", "80"} << Texts{"80", "8080", "65535"};
    // Bytes from 0x80 up come after ASCII (unsigned), and a prefix comes first.
    QTest::newRow("Name bytes unsigned")
        << 2 << Texts{"\xC9\xE3\xCF\xF1", "zz", "Z", "z", "\xE6\x91\x84", ""}
        << Texts{"", "Z", "z", "zz", "\xC9\xE3\xCF\xF1", "\xE6\x91\x84"};
}

void ListPresentationTest::cellsSortByValueOrBytes() {
    QFETCH(int, column);
    QFETCH(Texts, arrival);
    QFETCH(Texts, ascending);

    List list;
    for (std::uint32_t n = 0; n < arrival.size(); ++n) {
        CameraReply camera = Camera(n);
        const std::string& text = arrival[n];
        switch (column) {
            case 0:
                break;  // the table numbers the rows itself
            case 2:
                camera.name = text;
                break;
            case 3:
                camera.ip = text;
                break;
            case 4:
                camera.port = static_cast<std::uint16_t>(std::stoul(text));
                break;
            case 10:
                camera.webPort = static_cast<std::uint16_t>(std::stoul(text));
                break;
        }
        Add(list.table, camera);
    }
    QCOMPARE(Column(list.table, column), arrival);

    list.presentation.OnColumnClick(column);
    if (column == 0) {
        QCOMPARE(list.presentation.SortAscending(), true);
    }
    QCOMPARE(Column(list.table, column), ascending);

    list.presentation.OnColumnClick(column);
    QCOMPARE(list.presentation.SortAscending(), false);
    const Texts descending(ascending.rbegin(), ascending.rend());
    QCOMPARE(Column(list.table, column), descending);
}

void ListPresentationTest::headerClickOnAnEmptyListChangesOnlyTheState() {
    List list;
    QSignalSpy layoutChanges(&list.table, &QAbstractItemModel::layoutChanged);
    QSignalSpy resets(&list.table, &QAbstractItemModel::modelReset);
    list.presentation.OnColumnClick(5);
    QCOMPARE(list.presentation.SortColumn(), 5);
    QCOMPARE(list.presentation.SortAscending(), true);
    QCOMPARE(list.table.RowCount(), 0);
    QCOMPARE(layoutChanges.count(), 0);
    QCOMPARE(resets.count(), 0);
}

void ListPresentationTest::rowsAfterASortAreAppendedAndTheStateSurvivesASearch() {
    List list;
    for (std::uint32_t n = 0; n < 3; ++n) {
        Add(list.table, Camera(n));
    }
    list.table.SetSelectedRow(0);
    list.presentation.OnColumnClick(0);
    list.presentation.OnColumnClick(0);  // descending: 2, 1, 0
    QCOMPARE(Column(list.table, 0), (Texts{"2", "1", "0"}));
    QCOMPARE(list.table.SelectedRow(), 0);  // an index: now the row "2"

    Add(list.table, Camera(9));  // arrives after the sort: last, next number
    QCOMPARE(Column(list.table, 0), (Texts{"2", "1", "0", "3"}));
    QCOMPARE(list.table.CellText(3, 2), std::string("cam9"));

    list.table.Clear();  // a new search keeps the sort state
    QCOMPARE(list.presentation.SortColumn(), 0);
    QCOMPARE(list.presentation.SortAscending(), false);
    for (std::uint32_t n = 0; n < 3; ++n) {
        Add(list.table, Camera(n));
    }
    list.presentation.OnColumnClick(0);  // same column: reverses to ascending
    QCOMPARE(list.presentation.SortAscending(), true);
    QCOMPARE(Column(list.table, 0), (Texts{"0", "1", "2"}));
}

void ListPresentationTest::stripesFollowDisplayPositionsAfterASort() {
    List list;
    for (std::uint32_t n = 0; n < 4; ++n) {
        CameraReply camera = Camera(n);
        camera.name = "";  // column 2 stays blank: nothing but background there
        Add(list.table, camera);
    }
    list.view.resize(1000, 300);
    list.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list.view));

    auto backgroundOfRow = [&](int row) {
        const QImage image = list.view.viewport()->grab().toImage();
        const int x = list.view.columnViewportPosition(2) + list.view.columnWidth(2) / 2;
        const int y = list.view.rowViewportPosition(row) + list.view.rowHeight(row) / 2;
        return image.pixelColor(x * image.width() / list.view.viewport()->width(),
                                y * image.height() / list.view.viewport()->height());
    };
    const QColor even(250, 250, 250);
    const QColor odd(200, 200, 200);
    QCOMPARE(backgroundOfRow(0), even);
    QCOMPARE(backgroundOfRow(1), odd);
    QCOMPARE(backgroundOfRow(2), even);
    QCOMPARE(backgroundOfRow(3), odd);

    list.presentation.OnColumnClick(0);
    list.presentation.OnColumnClick(0);  // descending: the rows move
    QCOMPARE(list.table.CellText(0, 0), std::string("3"));
    QCOMPARE(backgroundOfRow(0), even);
    QCOMPARE(backgroundOfRow(1), odd);
    QCOMPARE(backgroundOfRow(2), even);
    QCOMPARE(backgroundOfRow(3), odd);
}

// The contrast ratio of two colours by their relative luminance (sRGB).
double ContrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What a cell shows, read from the rendered pixels: its background (the
// most frequent colour) and its text (the pixel that stands out most).
struct CellColours {
    QColor background;
    QColor text;
};

CellColours ColoursIn(const QImage& image, const QRect& cell) {
    std::map<QRgb, int> counts;
    for (int y = cell.top() + 1; y < cell.bottom(); ++y) {
        for (int x = cell.left() + 1; x < cell.right(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    CellColours colours;
    int most = 0;
    for (const auto& [rgb, count] : counts) {
        if (count > most) {
            most = count;
            colours.background = QColor(rgb);
        }
    }
    double best = 1.0;
    for (const auto& [rgb, count] : counts) {
        const double ratio = ContrastRatio(QColor(rgb), colours.background);
        if (ratio > best) {
            best = ratio;
            colours.text = QColor(rgb);
        }
    }
    return colours;
}

void ListPresentationTest::rowsReadOnAnyTheme_data() {
    QTest::addColumn<bool>("dark");
    QTest::addColumn<qreal>("scale");
    QTest::newRow("light") << false << qreal(1);
    QTest::newRow("dark") << true << qreal(1);
    QTest::newRow("dark at 200 %") << true << qreal(2);
    QTest::newRow("light at 200 %") << false << qreal(2);
}

// Plain, flagged and gone rows on a light and on a dark desktop palette
// (Fusion, white text on dark grey), at 100 % and 200 %: the text stands
// out from its row at 4.5:1 or more, measured on the rendered pixels, and
// flagged and gone rows look apart from the plain ones.
void ListPresentationTest::rowsReadOnAnyTheme() {
    QFETCH(bool, dark);
    QFETCH(qreal, scale);
    const QPalette saved = QApplication::palette();
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = fusion->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(53, 53, 53));
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Base, QColor(42, 42, 42));
        palette.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::Button, QColor(53, 53, 53));
        palette.setColor(QPalette::ButtonText, Qt::white);
    }
    QApplication::setPalette(palette);
    {
        List list;
        list.view.setStyle(fusion.get());
        // Rows 0 and 1 plain, 2 and 3 flagged (one IP), 4 and 5 gone.
        std::vector<qdipc::AcceptedReply> answering;
        for (std::uint32_t n = 0; n < 6; ++n) {
            CameraReply camera = Camera(n);
            if (n == 3) {
                camera.ip = Camera(2).ip;
            }
            Add(list.table, camera);
            if (n < 4) {
                answering.push_back(camera.Accepted(0));
            }
        }
        qdipc::SiteWatch watch(list.table.List(),
                               qdipc::WatchOptions{std::chrono::milliseconds(1000), 3});
        const qdipc::SiteWatch::Clock::time_point t0{};
        watch.Start(t0);
        std::vector<qdipc::WatchEvent> events;
        for (int cycle = 1; cycle <= 3; ++cycle) {
            watch.Observe(answering, 0, events);
            watch.Tick(t0 + std::chrono::seconds(cycle), events);
        }
        QCOMPARE(list.table.List().GoneCount(), 2);
        list.view.resize(1000, 300);
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));

        QWidget* viewport = list.view.viewport();
        QImage image(viewport->size() * scale, QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::magenta);
        viewport->render(&image);
        std::vector<CellColours> rows;
        for (int row = 0; row < 6; ++row) {
            const QRect cell = list.view.visualRect(list.table.index(row, qdipc::kColIp));
            rows.push_back(ColoursIn(image, QRect(cell.topLeft() * scale, cell.size() * scale)));
            const double ratio = ContrastRatio(rows.back().text, rows.back().background);
            QVERIFY2(ratio >= 4.5,
                     qPrintable(QStringLiteral("row %1: text %2 on %3 is %4:1")
                                    .arg(row)
                                    .arg(rows.back().text.name(), rows.back().background.name())
                                    .arg(ratio, 0, 'f', 2)));
        }
        // Flagged rows have their own background, gone rows their own text.
        for (int plain : {0, 1}) {
            QVERIFY(rows[2].background != rows[plain].background);
            QVERIFY(rows[3].background != rows[plain].background);
            QVERIFY(rows[4].text != rows[plain].text);
            QVERIFY(rows[5].text != rows[plain].text);
        }
    }
    QApplication::setPalette(saved);
}

void ListPresentationTest::ctrlCCopiesTheSelectedRowsInDisplayOrder() {
    List list;
    const char* names[] = {"c-gate", "\xC9\xE3\xCF\xF1\tb", "a-door", "d-yard"};  // GBK "摄像"
    for (std::uint32_t n = 0; n < 4; ++n) {
        CameraReply camera = Camera(n);
        camera.name = names[n];
        Add(list.table, camera);
    }
    list.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list.view));
    list.presentation.OnColumnClick(2);  // by name: a-door, c-gate, d-yard, 摄像
    QCOMPARE(list.table.CellText(0, 2), std::string("a-door"));

    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    list.view.setFocus();
    QTest::keyClick(&list.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));  // no selection

    // Selected bottom first, with a gap: display positions 3 and 0 and 1.
    QItemSelectionModel* selection = list.view.selectionModel();
    for (int row : {3, 0, 1}) {
        selection->select(list.table.index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QTest::keyClick(&list.view, Qt::Key_C, Qt::ControlModifier);
    const QString row = QStringLiteral(
        "\t0011aabb-0000000%1\t%2\t10.0.0.%1\t5050\t00:1a:2b:3c:4d:5e\tapp\t"
        "00:00:00:00:00:00:00:00\tkernel\t255.255.255.0\t80\t192.168.1.1\n");
    const QString expected =
        QStringLiteral(
            "NO.\tDev ID\tName\tIP\tPort\tMAC\tApp Ver\tHardware Ver\tKernel Ver\t"
            "Mask\tWeb Port\tGateway\n") +
        QStringLiteral("2") + row.arg(2).arg(QStringLiteral("a-door")) + QStringLiteral("0") +
        row.arg(0).arg(QStringLiteral("c-gate")) + QStringLiteral("1") +
        row.arg(1).arg(QStringLiteral("\u6444\u50CF\\x09b"));  // the tab inside the name: \x09
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
}

void ListPresentationTest::layoutFormulas_data() {
    QTest::addColumn<int>("cx");
    QTest::addColumn<int>("cy");
    QTest::addColumn<MainWindowLayout>("expected");

    // preview, setting, test, search, video pane, device list, progress bar
    // Up to the form's size everything scales; beyond it the upper half keeps
    // its form-size layout and the list takes the rest.
    QTest::newRow("504 x 470, the form's size")
        << 504 << 470
        << MainWindowLayout{{414, 10, 80, 43},  {414, 63, 80, 43},  {414, 116, 80, 43},
                            {414, 169, 80, 43}, {10, 10, 394, 205}, {10, 235, 484, 210},
                            {10, 445, 484, 20}};
    QTest::newRow("640 x 480") << 640 << 480
                               << MainWindowLayout{{414, 10, 80, 43},  {414, 63, 80, 43},
                                                   {414, 116, 80, 43}, {414, 169, 80, 43},
                                                   {10, 10, 394, 205}, {10, 235, 620, 220},
                                                   {10, 455, 620, 20}};
    QTest::newRow("800 x 501") << 800 << 501
                               << MainWindowLayout{{414, 10, 80, 43},  {414, 63, 80, 43},
                                                   {414, 116, 80, 43}, {414, 169, 80, 43},
                                                   {10, 10, 394, 205}, {10, 235, 780, 241},
                                                   {10, 476, 780, 20}};
    QTest::newRow("400 x 300, smaller: all scales")
        << 400 << 300
        << MainWindowLayout{{310, 10, 80, 22},  {310, 42, 80, 22},  {310, 74, 80, 22},
                            {310, 106, 80, 22}, {10, 10, 290, 120}, {10, 150, 380, 125},
                            {10, 275, 380, 20}};
    QTest::newRow("0 x 0, minimised")
        << 0 << 0 << MainWindowLayout{{-90, 10, 80, -15}, {-90, 5, 80, -15},   {-90, 0, 80, -15},
                                      {-90, -5, 80, -15}, {10, 10, -110, -30}, {10, 0, -20, -25},
                                      {10, -25, -20, 20}};
    QTest::newRow("640 x 1") << 640 << 1 << MainWindowLayout{{414, 10, 80, -14}, {414, 6, 80, -14},
                                                             {414, 2, 80, -14},  {414, -2, 80, -14},
                                                             {10, 10, 394, -29}, {10, 1, 620, -25},
                                                             {10, -24, 620, 20}};
}

void ListPresentationTest::layoutFormulas() {
    QFETCH(int, cx);
    QFETCH(int, cy);
    QFETCH(MainWindowLayout, expected);
    const MainWindowLayout actual = qdipc::ComputeMainWindowLayout(cx, cy);
    QCOMPARE(actual.previewButton, expected.previewButton);
    QCOMPARE(actual.settingButton, expected.settingButton);
    QCOMPARE(actual.testButton, expected.testButton);
    QCOMPARE(actual.searchButton, expected.searchButton);
    QCOMPARE(actual.videoPane, expected.videoPane);
    QCOMPARE(actual.deviceList, expected.deviceList);
    QCOMPARE(actual.progressBar, expected.progressBar);
}

void ListPresentationTest::columnsFitTheirContentsAndTheHeaderMenuHidesThem() {
    List list;
    list.view.resize(900, 300);
    list.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list.view));
    CameraReply camera = Camera(1);
    camera.name = "a camera name far wider than fifty pixels";
    Add(list.table, camera);
    camera = Camera(2);
    camera.name = std::string(29, 'W');  // wider than the maximum
    Add(list.table, camera);
    list.presentation.FitColumns();
    // Wide enough for the long name, capped; never narrower than the default.
    QCOMPARE(list.view.columnWidth(2), qdipc::kMaxFittedColumnWidth);
    QCOMPARE(list.view.columnWidth(0), 40);
    list.table.Clear();
    Add(list.table, Camera(3));
    list.presentation.FitColumns();
    QVERIFY(list.view.columnWidth(2) >= 50);
    QVERIFY(list.view.columnWidth(2) <
            list.view.fontMetrics().horizontalAdvance(QStringLiteral("a camera name far")));

    // One checked entry per column; unchecking hides it, checking shows it.
    std::unique_ptr<QMenu> menu(list.presentation.BuildHeaderMenu(&list.view));
    QCOMPARE(menu->actions().size(), 12);
    QCOMPARE(menu->actions()[5]->text(), QStringLiteral("MAC"));
    for (QAction* action : menu->actions()) {
        QVERIFY(action->isChecked());
    }
    menu->actions()[5]->setChecked(false);
    QVERIFY(list.view.isColumnHidden(5));
    menu->actions()[5]->setChecked(true);
    QVERIFY(!list.view.isColumnHidden(5));
    // The last column shown cannot be hidden.
    for (int c = 1; c < 12; ++c) {
        list.view.setColumnHidden(c, true);
    }
    menu.reset(list.presentation.BuildHeaderMenu(&list.view));
    QVERIFY(!menu->actions()[0]->isEnabled());
    QVERIFY(menu->actions()[1]->isEnabled());
}

QTEST_MAIN(ListPresentationTest)
#include "ListPresentationTest.moc"
