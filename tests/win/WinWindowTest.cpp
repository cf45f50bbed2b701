// The Windows window in-process under Wine: its controls driven with
// SendMessage as a user's clicks reach them, its list read back with
// LVM_GETITEMTEXTW, message boxes answered through the window's seam, and
// cameras played by a socket of the test on loopback (nothing is broadcast).

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/OnvifDetailsText.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TempDir.h"
#include "tests/discovery/TestReplies.h"
#include "ui/WindowTexts.h"
#include "ui/win/AssignWindow.h"
#include "ui/win/DiagnoseWindow.h"
#include "ui/win/SearchWindow.h"
#include "ui/win/SettingWindow.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace {

using namespace std::chrono_literals;
using qdipc::test::CameraReply;

// Set when the pump met the loop's end (WM_QUIT).
bool g_quitSeen = false;
// The window whose keys the pump gives it first, as the program's loop does.
qdipc::win::SearchWindow* g_window = nullptr;

// Runs the window's messages (dialog keys included) until pred holds or the
// limit passes; answers pred's last value.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return pred();
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                g_quitSeen = true;
                continue;
            }
            if (g_window != nullptr && g_window->PreTranslate(message)) {
                continue;
            }
            HWND root = GetAncestor(message.hwnd, GA_ROOT);
            if (root != nullptr && IsDialogMessageW(root, &message)) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

// Cameras on loopback: answers every discovery request with its replies
// (under the request's search ID) and keeps every datagram it got. Bounded:
// at most 200 datagrams, and it ends with the test.
class LoopbackCameras {
public:
    LoopbackCameras(std::vector<CameraReply> cameras, std::uint16_t replyPort)
        : cameras_(std::move(cameras)), replyPort_(replyPort) {
        socket_.Open();
        socket_.Bind({"127.0.0.1", 0});
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackCameras() {
        socket_.Interrupt();
        thread_.join();
    }
    std::uint16_t Port() const { return socket_.LocalPort(); }
    std::vector<std::vector<std::uint8_t>> Received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    std::size_t Count(std::size_t size) const {
        std::size_t n = 0;
        for (const auto& datagram : Received()) {
            n += datagram.size() == size ? 1 : 0;
        }
        return n;
    }

private:
    void Run() {
        for (int i = 0; i < 200; ++i) {
            std::vector<std::uint8_t> buffer(1024);
            qdipc::DatagramSlot slot{buffer.data(), buffer.size(), 0};
            if (socket_.ReceiveBatch(std::span<qdipc::DatagramSlot>(&slot, 1)) != 1) {
                return;  // interrupted
            }
            buffer.resize(slot.length);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(buffer);
            }
            if (buffer.size() != qdipc::kDiscoveryRequestSize) {
                continue;
            }
            const std::uint32_t searchId = buffer[48] | (buffer[49] << 8) | (buffer[50] << 16) |
                                           (static_cast<std::uint32_t>(buffer[51]) << 24);
            for (CameraReply camera : cameras_) {
                camera.searchId = searchId;
                const auto bytes = camera.Bytes();
                socket_.SendTo(bytes.data(), bytes.size(), {"127.0.0.1", replyPort_});
            }
        }
    }

    std::vector<CameraReply> cameras_;
    std::uint16_t replyPort_;
    qdipc::UdpSocket socket_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> received_;
    std::thread thread_;
};

class RecordingPlayer final : public qdipc::win::PreviewPlayer {
public:
    std::string Play(HWND, const std::string& location, const qdipc::OnvifLogin* login) override {
        locations.push_back(location);
        logins.push_back(login != nullptr ? login->user + ":" + login->password : "-");
        ++number;
        return reason;
    }
    void SetEventSink(EventSink sink) override {
        const std::lock_guard<std::mutex> lock(mutex);
        this->sink = std::move(sink);
    }
    // As libvlc's threads tell it.
    void Tell(unsigned player, qdipc::StreamEvent event) {
        std::thread([this, player, event] {
            const std::lock_guard<std::mutex> lock(mutex);
            if (sink) {
                sink(player, event);
            }
        }).join();
    }
    // The current player's events in the pane's words; which thread took them.
    std::optional<std::string> TakeEvent(unsigned player, qdipc::StreamEvent event) override {
        takenOn.push_back(std::this_thread::get_id());
        if (player != number) {
            return std::nullopt;
        }
        const std::string host = locations.back().substr(7, locations.back().find('/', 7) - 7);
        return qdipc::NoPictureReason(event, host, 554);
    }
    void Stop() override {}
    void Sample() override { ++samples; }
    std::string StreamInfoText() override {
        return "rtsp://10.0.0.1/channel1/1\nCodec: H264\nReadings: " + std::to_string(samples);
    }
    // Answers from a thread of its own, as libvlc does, unless silent.
    std::string SaveSnapshot(const std::string& path, SnapshotDone done) override {
        snapshots.push_back(path);
        if (!silent) {
            std::thread([done, path] { done(path); }).detach();
        }
        return {};
    }
    std::vector<std::string> locations;
    std::vector<std::string> logins;  // "user:password" given with each, "-" none
    unsigned number = 0;              // of the player playing
    std::mutex mutex;
    EventSink sink;
    std::vector<std::thread::id> takenOn;
    std::vector<std::string> snapshots;
    std::string reason = "No picture: no answer from the test";
    int samples = 0;
    bool silent = false;
};

std::wstring Text(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// A cell as another program reads it: LVM_GETITEMTEXTW.
std::string Cell(HWND list, int row, int column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return qdipc::win::Utf8(text);
}

std::vector<std::string> ColumnOf(HWND list, int column) {
    std::vector<std::string> cells;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        cells.push_back(Cell(list, row, column));
    }
    return cells;
}

// A click on a column header as the header control reports it to the list.
void ClickHeader(HWND list, int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    NMHEADERW click{};
    click.hdr.hwndFrom = header;
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(header));
    click.hdr.code = HDN_ITEMCLICKW;
    click.iItem = column;
    click.iButton = 0;
    SendMessageW(list, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

// A list notification about a row (click, double-click), as the list sends it.
void NotifyRow(HWND main, HWND list, UINT code, int row) {
    NMITEMACTIVATE item{};
    item.hdr.hwndFrom = list;
    item.hdr.idFrom = IDC_DEVICE_LIST;
    item.hdr.code = code;
    item.iItem = row;
    SendMessageW(main, WM_NOTIFY, IDC_DEVICE_LIST, reinterpret_cast<LPARAM>(&item));
}

void Click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            text = static_cast<const wchar_t*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

struct Box {
    std::wstring text;
    UINT flags = 0;
};

class WinWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        receivePort_ = qdipc::test::ReservedLoopbackPort();
        ASSERT_NE(receivePort_, 0);
    }

    // The window with the given cameras answering on loopback.
    void Open(std::vector<CameraReply> cameras,
              std::function<qdipc::PortOwnerLookup(std::uint16_t)> portOwners = {}) {
        cameras_ = std::make_unique<LoopbackCameras>(std::move(cameras), receivePort_);
        qdipc::win::WinWindowOptions options = options_;
        options.config.searchDestination = {"127.0.0.1", cameras_->Port()};
        options.config.settingsDestination = {"127.0.0.1", cameras_->Port()};
        options.config.receiver.bind = {"127.0.0.1", receivePort_};
        options.config.receiver.receiveBufferBytes = 1 << 20;
        options.config.interfaces = qdipc::test::LoopbackNetworks();
        options.config.errorLogDirectory = dir_.Path();
        options.config.searchEndDelay = 1500ms;
        // ONVIF probes to a port nobody listens on; announcements on loopback.
        options.config.onvifDestination = {"127.0.0.1", 9};
        options.config.onvifAnnouncements = {"127.0.0.1", 0};
        options.config.portOwners = portOwners ? portOwners : [](std::uint16_t) {
            return qdipc::PortOwnerLookup{};  // the system does not say
        };
        options.config.stateDirectory = dir_.Path() / "state";
        options.config.hostFacts = [] { return qdipc::HostFacts{}; };
        options.config.confirmation.timeout = 1500ms;
        // The address checks see loopback only and probe nothing.
        options.config.surroundings = [] {
            qdipc::AssignSurroundings surroundings;
            surroundings.interfaces = qdipc::test::LoopbackNetworks()();
            return surroundings;
        };
        options.messageBox = [this](HWND, const std::wstring& text, UINT flags) {
            boxes_.push_back({text, flags});
            return (flags & MB_YESNO) != 0 ? answer_ : IDOK;
        };
        options.runModal = [this](HWND, int templateId) { modal_.push_back(templateId); };
        options.player = player_;
        options.trackMenu = [this](HMENU menu, POINT) {
            menus_.emplace_back();
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                wchar_t text[64] = {};
                GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
                const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
                if ((state & MF_SEPARATOR) != 0) {
                    menus_.back().push_back(L"|");
                    continue;
                }
                std::wstring item = text;
                if ((state & MF_GRAYED) != 0) {
                    item += L":off";
                }
                if ((state & MF_CHECKED) != 0) {
                    item += L":checked";
                }
                menus_.back().push_back(item);
            }
            return 0u;
        };
        options.openUrl = [this](const std::wstring& url) {
            urls_.push_back(url);
            return true;
        };
        options.chooseSaveFile = [this](HWND) { return (dir_.Path() / "list.csv").wstring(); };
        options.chooseSnapshotFile = [this](HWND, const std::wstring& proposed) {
            proposedSnapshots_.push_back(proposed);
            return (dir_.Path() / "shot").wstring();
        };
        options.choosePlanFile = [this](HWND) { return planPath_.wstring(); };
        options.chooseExportFile = [this](HWND) { return (dir_.Path() / "results.csv").wstring(); };
        if (tweak_) {
            tweak_(options);
        }
        window_ = std::make_unique<qdipc::win::SearchWindow>(std::move(options));
        ASSERT_TRUE(window_->Create());
        main_ = window_->Handle();
        g_window = window_.get();
        list_ = GetDlgItem(main_, IDC_DEVICE_LIST);
    }

    void TearDown() override { g_window = nullptr; }

    int Rows() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }

    void SearchFor(int rows) {
        Click(main_, IDC_SEARCH);
        ASSERT_TRUE(PumpUntil([&] { return Rows() == rows; }))
            << "rows: " << Rows() << ", boxes: " << boxes_.size()
            << (boxes_.empty() ? "" : " " + qdipc::win::Utf8(boxes_.back().text));
    }

    qdipc::test::TempDir dir_;
    std::uint16_t receivePort_ = 0;
    std::unique_ptr<LoopbackCameras> cameras_;
    std::shared_ptr<RecordingPlayer> player_ = std::make_shared<RecordingPlayer>();
    std::vector<Box> boxes_;
    int answer_ = IDNO;  // how questions are answered
    std::vector<std::vector<std::wstring>> menus_;
    std::vector<std::wstring> urls_;
    std::vector<std::wstring> proposedSnapshots_;
    std::vector<int> modal_;
    // Seams a test sets before Open.
    qdipc::win::WinWindowOptions options_;
    std::filesystem::path planPath_;
    // Changes the window's options before it opens.
    std::function<void(qdipc::win::WinWindowOptions&)> tweak_;
    std::unique_ptr<qdipc::win::SearchWindow> window_;
    HWND main_ = nullptr;
    HWND list_ = nullptr;
};

CameraReply NumberedCamera(std::uint32_t n) {
    CameraReply camera = qdipc::test::Camera(n);
    camera.ip = "10.0.0." + std::to_string(n);
    camera.gateway = "10.0.0.254";
    return camera;
}

TEST_F(WinWindowTest, MainDialogAsLaidOut) {
    Open({});
    EXPECT_EQ(Text(main_), L"Search Tool");
    // The template's 336 x 313 dialog units are the client area at start.
    RECT units{0, 0, 336, 313};
    MapDialogRect(main_, &units);
    RECT client{};
    GetClientRect(main_, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    const LONG style = GetWindowLongW(main_, GWL_STYLE);
    EXPECT_NE(style & WS_THICKFRAME, 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);

    struct Expected {
        int id;
        const wchar_t* text;
        bool enabled;
    };
    for (const Expected& button :
         {Expected{IDC_SEARCH, L"Search", true}, Expected{IDC_PREVIEW, L"Preview", true},
          Expected{IDC_SETTING, L"Setting", true}, Expected{IDC_TEST, L"Test", false}}) {
        HWND control = GetDlgItem(main_, button.id);
        ASSERT_NE(control, nullptr) << button.id;
        EXPECT_EQ(ClassOf(control), L"Button");
        EXPECT_EQ(Text(control), button.text);
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, button.enabled) << button.id;
        EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON) << button.id;
    }
    EXPECT_EQ(ClassOf(list_), L"SysListView32");
    EXPECT_NE(GetWindowLongW(list_, GWL_STYLE) & LVS_OWNERDATA, 0);
    EXPECT_EQ(GetWindowLongW(list_, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_EQ(ClassOf(GetDlgItem(main_, IDC_PROGRESS)), L"msctls_progress32");
    EXPECT_EQ(GetWindowLongW(GetDlgItem(main_, IDC_VIDEO_PANE), GWL_STYLE) & BS_TYPEMASK,
              BS_GROUPBOX);
    // Common controls 6, from the manifest: only its buttons answer
    // BCM_GETIDEALSIZE.
    SIZE ideal{};
    EXPECT_TRUE(SendMessageW(GetDlgItem(main_, IDC_SEARCH), BCM_GETIDEALSIZE, 0,
                             reinterpret_cast<LPARAM>(&ideal)));
    EXPECT_GT(ideal.cx, 0);

    const wchar_t* titles[] = {L"NO.",        L"Dev ID", L"Name",     L"IP",
                               L"Port",       L"MAC",    L"App Ver",  L"Hardware Ver",
                               L"Kernel Ver", L"Mask",   L"Web Port", L"Gateway"};
    HWND header = reinterpret_cast<HWND>(SendMessageW(list_, LVM_GETHEADER, 0, 0));
    ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 12);
    for (int column = 0; column < 12; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT;
        info.pszText = title;
        info.cchTextMax = 64;
        SendMessageW(list_, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
        EXPECT_STREQ(title, titles[column]) << column;
    }

    // The layout follows the window's size: at 640 x 480 the buttons keep the
    // form's places (x 414, 80 x 43) and the list takes the room: (10, 235),
    // 620 x 220.
    SendMessageW(main_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480));
    RECT search{};
    GetWindowRect(GetDlgItem(main_, IDC_SEARCH), &search);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&search), 2);
    EXPECT_EQ(search.left, 414);
    EXPECT_EQ(search.top, 169);
    EXPECT_EQ(search.right - search.left, 80);
    EXPECT_EQ(search.bottom - search.top, 43);
    RECT list{};
    GetWindowRect(list_, &list);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&list), 2);
    EXPECT_EQ(list.left, 10);
    EXPECT_EQ(list.top, 235);
    EXPECT_EQ(list.right - list.left, 620);
    EXPECT_EQ(list.bottom - list.top, 220);

    // About: string 101 after a separator in the system menu, command 0x10;
    // 0x10 to 0x1F all open template 100.
    HMENU menu = GetSystemMenu(main_, FALSE);
    wchar_t about[64] = {};
    GetMenuStringW(menu, 0x10, about, 64, MF_BYCOMMAND);
    EXPECT_STREQ(about, L"关于 qd_ip_search(&A)...");
    int aboutPosition = -1;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (GetMenuItemID(menu, i) == 0x10u) {
            aboutPosition = i;
        }
    }
    ASSERT_GE(aboutPosition, 1);
    EXPECT_EQ(
        GetMenuState(menu, static_cast<UINT>(aboutPosition - 1), MF_BYPOSITION) & MF_SEPARATOR,
        static_cast<UINT>(MF_SEPARATOR));
    SendMessageW(main_, WM_SYSCOMMAND, 0x10, 0);
    SendMessageW(main_, WM_SYSCOMMAND, 0x1F, 0);
    SendMessageW(main_, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(modal_, (std::vector<int>{IDD_ABOUT, IDD_ABOUT}));
    // Diagnose Network from the system menu: its window with the checks.
    SendMessageW(main_, WM_SYSCOMMAND, 0x20, 0);
    ASSERT_EQ(window_->DiagnoseWindows().size(), 1u);
    HWND diagnose = window_->DiagnoseWindows()[0]->Handle();
    EXPECT_EQ(Text(diagnose), L"Diagnose Network");
    HWND checks = GetDlgItem(diagnose, IDC_DIAG_LIST);
    EXPECT_EQ(SendMessageW(checks, LVM_GETITEMCOUNT, 0, 0),
              static_cast<LRESULT>(window_->Model().DiagnosisLines().size()));
    EXPECT_EQ(Cell(checks, 0, 0), window_->Model().DiagnosisLines()[0].check);
    EXPECT_EQ(qdipc::win::Utf8(Text(GetDlgItem(diagnose, IDC_DIAG_SUMMARY))),
              qdipc::DiagnosisSummary(window_->Model().DiagnosisLines()));
    Click(diagnose, IDC_DIAG_COPY);
    std::string copied = qdipc::win::Utf8(ClipboardText());
    std::erase(copied, '\r');
    EXPECT_EQ(copied, qdipc::DiagnosisText(window_->Model().DiagnosisLines()));
    EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_SMALL, 0), 0);
    // Before any search the bar says nothing.
    EXPECT_EQ(window_->BarText(), L"");
}

TEST_F(WinWindowTest, SearchListsRowsExactlyAndRepeatsTheRequest) {
    CameraReply first = NumberedCamera(1);
    first.name = "门口";  // UTF-8 text, shown as it is
    first.port = 5050;
    first.webPort = 65535;
    first.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    first.hardwareVer = {0x01, 0x02, 0x03, 0x04, 0x0a, 0x0b, 0x0c, 0xff};
    CameraReply second = NumberedCamera(2);
    second.name = "a\x1b]0;x";     // a control character is escaped
    Open({first, second, first});  // the duplicate reply is dropped
    SearchFor(2);
    const std::vector<std::string> row0 = {
        "0",   "0011aabb-00000001",       "门口",   "10.0.0.1",      "5050",  "00:1a:2b:3c:4d:5e",
        "app", "01:02:03:04:0a:0b:0c:ff", "kernel", "255.255.255.0", "65535", "10.0.0.254"};
    for (int column = 0; column < 12; ++column) {
        EXPECT_EQ(Cell(list_, 0, column), row0[static_cast<std::size_t>(column)]) << column;
    }
    EXPECT_EQ(Cell(list_, 1, 0), "1");
    EXPECT_EQ(Cell(list_, 1, 2), "a\\x1b]0;x");

    // The request went out at once and again after 0.3 s and 1 s, byte for byte.
    ASSERT_TRUE(PumpUntil([&] { return cameras_->Count(qdipc::kDiscoveryRequestSize) >= 3; }));
    PumpFor(300ms);
    const auto received = cameras_->Received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1], received[0]);
    EXPECT_EQ(received[2], received[0]);
    EXPECT_EQ(received[0][0], 0xD3);
    EXPECT_EQ(received[0][3], 0xB3);
    const std::uint32_t searchId = received[0][48] | (received[0][49] << 8) |
                                   (received[0][50] << 16) |
                                   (static_cast<std::uint32_t>(received[0][51]) << 24);
    EXPECT_EQ(searchId, window_->Model().SearchId());

    // The bar says the search runs, then counts them (loopback's subnet
    // holds neither: both flagged).
    EXPECT_EQ(window_->BarText(), L"Searching… · 2 cameras");
    EXPECT_TRUE(
        PumpUntil([&] { return window_->BarText() == L"2 cameras · 2 flagged · 0 selected"; }, 5s))
        << qdipc::win::Utf8(window_->BarText());
    EXPECT_EQ(Text(GetDlgItem(main_, IDC_PROGRESS)), window_->BarText());
    ListView_SetItemState(list_, 1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(window_->BarText(), L"2 cameras · 2 flagged · 1 selected");

    // A second search lists them afresh, numbered from 0.
    SearchFor(2);
    EXPECT_EQ(Cell(list_, 0, 0), "0");
}

TEST_F(WinWindowTest, HeaderClicksSortByTheCoresRule) {
    std::vector<CameraReply> cameras;
    for (std::uint32_t n = 0; n < 12; ++n) {
        cameras.push_back(NumberedCamera(12 - n));  // arrive 12, 11, ... 1
    }
    Open(cameras);
    SearchFor(12);
    // "NO." first click: ascending as numbers, the second descending.
    ClickHeader(list_, 0);
    EXPECT_EQ(ColumnOf(list_, 0), (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7",
                                                            "8", "9", "10", "11"}));
    ClickHeader(list_, 0);
    EXPECT_EQ(ColumnOf(list_, 0), (std::vector<std::string>{"11", "10", "9", "8", "7", "6", "5",
                                                            "4", "3", "2", "1", "0"}));
    // "IP": ascending first, as addresses: 10.0.0.9 before 10.0.0.10.
    ClickHeader(list_, 3);
    const std::vector<std::string> ips = ColumnOf(list_, 3);
    EXPECT_EQ(ips.front(), "10.0.0.1");
    EXPECT_EQ(ips[1], "10.0.0.2");
    EXPECT_EQ(ips[8], "10.0.0.9");
    EXPECT_EQ(ips.back(), "10.0.0.12");
    EXPECT_EQ(window_->Model().Sort().Column(), 3);
    EXPECT_TRUE(window_->Model().Sort().Ascending());
    // A selected row stays selected where it moved to.
    const int row = 4;
    const std::string id = Cell(list_, row, 1);
    ListView_SetItemState(list_, row, LVIS_SELECTED, LVIS_SELECTED);
    ClickHeader(list_, 3);
    const int now = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    ASSERT_GE(now, 0);
    EXPECT_EQ(Cell(list_, now, 1), id);
    EXPECT_EQ(ListView_GetNextItem(list_, now, LVNI_SELECTED), -1);
}

TEST_F(WinWindowTest, SettingsWindowChecksAndSendsTheRecord) {
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    // Setting without a click opens row 0; a double-click opens its row.
    Click(main_, IDC_SETTING);
    NotifyRow(main_, list_, NM_DBLCLK, 1);
    const auto& windows = window_->SettingWindows();
    ASSERT_EQ(windows.size(), 2u);
    HWND first = windows[0]->Handle();
    HWND second = windows[1]->Handle();
    EXPECT_EQ(Text(first), L"Set\uFF1A10.0.0.1");
    EXPECT_EQ(Text(second), L"Set\uFF1A10.0.0.2");
    EXPECT_TRUE(IsWindowVisible(first));
    EXPECT_EQ(GetWindow(second, GW_OWNER), main_);
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_IP)), L"10.0.0.2");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_MASK)), L"255.255.255.0");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_GATEWAY)), L"10.0.0.254");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_MAC)), L"00:1a:2b:3c:4d:5e");
    EXPECT_EQ(IsDlgButtonChecked(second, IDC_SET_STATIC), BST_CHECKED);
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_MODIFY)), L"Modify");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_DHCP)), L"DHCP");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_ADSL)), L"ADSL");
    EXPECT_EQ(Text(GetDlgItem(second, IDC_SET_STATIC)), L"Static IP");

    // A field the camera cannot live on: the box names it, nothing is sent,
    // the text is selected.
    SetDlgItemTextW(second, IDC_SET_IP, L"10.0.0.256");
    Click(second, IDC_SET_MODIFY);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.rfind(L"IP: ", 0), 0u) << qdipc::win::Utf8(boxes_[0].text);
    EXPECT_EQ(GetFocus(), GetDlgItem(second, IDC_SET_IP));
    PumpFor(100ms);
    EXPECT_EQ(cameras_->Count(88), 0u);

    // Onto the other listed camera's address: the box asks; "No" sends nothing.
    SetDlgItemTextW(second, IDC_SET_IP, L"10.0.0.1");
    Click(second, IDC_SET_MODIFY);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text,
              L"10.0.0.1 is used by a listed camera (0011aabb-00000001) \u2014 send anyway?");
    EXPECT_NE(boxes_[1].flags & MB_YESNO, 0u);
    PumpFor(100ms);
    EXPECT_EQ(cameras_->Count(88), 0u);
    boxes_.erase(boxes_.begin() + 1);

    // A good one: the record out through the engine, byte for byte as the
    // fields say, its rollback plan written first.
    SetDlgItemTextW(second, IDC_SET_IP, L"10.0.0.77");
    CheckRadioButton(second, IDC_SET_STATIC, IDC_SET_ADSL, IDC_SET_STATIC);
    Click(second, IDC_SET_MODIFY);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, L"Setting OK!");
    ASSERT_TRUE(PumpUntil([&] { return cameras_->Count(88) == 1; }));
    std::vector<std::uint8_t> record;
    for (const auto& datagram : cameras_->Received()) {
        if (datagram.size() == 88) {
            record = datagram;
        }
    }
    EXPECT_EQ(record[0], 0xD3);
    EXPECT_EQ(record[3], 0xFF);
    EXPECT_EQ(record[12], 0);  // static
    const std::uint8_t devId[8] = {0x00, 0x11, 0xaa, 0xbb, 0x00, 0x00, 0x00, 0x02};
    EXPECT_EQ(std::vector<std::uint8_t>(record.begin() + 13, record.begin() + 21),
              std::vector<std::uint8_t>(devId, devId + 8));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[29])), "10.0.0.77");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[45])), "255.255.255.0");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[61])), "10.0.0.254");
    const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    EXPECT_EQ(std::vector<std::uint8_t>(record.begin() + 77, record.begin() + 83),
              std::vector<std::uint8_t>(mac, mac + 6));
    EXPECT_FALSE(std::filesystem::is_empty(dir_.Path() / "state"));
    // The bar follows the confirmation: this camera never answers with the
    // new address, so it ends not confirmed.
    EXPECT_EQ(window_->BarText().rfind(L"Confirming ", 0), 0u)
        << qdipc::win::Utf8(window_->BarText());
    EXPECT_TRUE(PumpUntil([&] { return window_->BarText().rfind(L"Not confirmed", 0) == 0; }, 6s))
        << qdipc::win::Utf8(window_->BarText());
    // ... until the operator selects something: then the counts.
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list_, 0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_NE(window_->BarText().find(L" flagged · 1 selected"), std::wstring::npos)
        << qdipc::win::Utf8(window_->BarText());
    // The title keeps the IP it was opened with; Esc only hides the window.
    EXPECT_EQ(Text(second), L"Set\uFF1A10.0.0.2");
    SendMessageW(second, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindowVisible(second));
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(cameras_->Count(88), 1u);
}

TEST_F(WinWindowTest, PreviewSaysWhyThereIsNoPicture) {
    Open({NumberedCamera(3)});
    Click(main_, IDC_PREVIEW);  // no current row: nothing
    EXPECT_TRUE(player_->locations.empty());
    EXPECT_EQ(window_->PaneReason(), L"");
    SearchFor(1);
    ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    NotifyRow(main_, list_, NM_CLICK, 0);
    EXPECT_EQ(window_->CurrentIp(), "10.0.0.3");
    Click(main_, IDC_PREVIEW);
    EXPECT_EQ(player_->locations, (std::vector<std::string>{"rtsp://10.0.0.3/channel1/1"}));
    EXPECT_EQ(window_->PaneReason(), L"No picture: no answer from the test");
    // Without a player of its own the window names what is missing.
    qdipc::win::MissingVlcPlayer missing;
    EXPECT_EQ(missing.Play(nullptr, "rtsp://10.0.0.3/channel1/1", nullptr),
              "No picture: VLC 3 (64-bit) is not installed");
}

TEST_F(WinWindowTest, PaneTellsTheStreamsEventsAndAsksForALogin) {
    std::vector<std::string> prompts;  // "ADDRESS known-user"
    std::optional<qdipc::OnvifLogin> answer = qdipc::OnvifLogin{"admin", "pw"};
    options_.askLogin = [&](HWND, const std::string& address, const std::string& known) {
        prompts.push_back(address + " " + known);
        return answer;
    };
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    player_->reason.clear();  // a picture is on its way
    Click(main_, IDC_PREVIEW);
    ASSERT_EQ(player_->locations, (std::vector<std::string>{"rtsp://10.0.0.1/channel1/1"}));
    EXPECT_EQ(window_->PaneReason(), L"");
    EXPECT_EQ(window_->PaneToolTip(), L"");  // no facts read yet
    // Told on another thread, taken on the window's.
    using E = qdipc::StreamEvent;
    player_->Tell(player_->number, E::NoStream);
    ASSERT_TRUE(PumpUntil([&] { return !window_->PaneReason().empty(); }, 5s));
    EXPECT_EQ(window_->PaneReason(), L"No picture: 10.0.0.1 sent no stream");
    EXPECT_EQ(player_->takenOn, (std::vector<std::thread::id>{std::this_thread::get_id()}));
    player_->Tell(player_->number + 5, E::Picture);  // a player replaced: the line stays
    ASSERT_TRUE(PumpUntil([&] { return player_->takenOn.size() == 2; }, 5s));
    EXPECT_EQ(window_->PaneReason(), L"No picture: 10.0.0.1 sent no stream");
    player_->Tell(player_->number, E::Stopped);
    ASSERT_TRUE(PumpUntil([&] { return window_->PaneReason() == L"Stream stopped"; }, 5s));
    player_->Tell(player_->number, E::Picture);
    ASSERT_TRUE(PumpUntil([&] { return window_->PaneReason().empty(); }, 5s));

    // The camera asks for a login: the line says so, the prompt names its
    // address, and the camera is played again with what was entered.
    player_->Tell(player_->number, E::Unauthorized);
    ASSERT_TRUE(PumpUntil([&] { return prompts.size() == 1; }, 5s));
    EXPECT_EQ(prompts[0], "10.0.0.1 ");
    EXPECT_EQ(player_->logins, (std::vector<std::string>{"-", "admin:pw"}));
    EXPECT_EQ(player_->locations.back(), "rtsp://10.0.0.1/channel1/1");
    EXPECT_EQ(window_->PaneReason(), L"");  // played again: a picture on its way
    // Refused again: the user name entered is offered; cancelled, nothing
    // is played and the line stays.
    answer.reset();
    player_->reason = "";
    player_->Tell(player_->number, E::Unauthorized);
    ASSERT_TRUE(PumpUntil([&] { return prompts.size() == 2; }, 5s));
    EXPECT_EQ(prompts[1], "10.0.0.1 admin");
    EXPECT_EQ(player_->locations.size(), 2u);
    EXPECT_EQ(window_->PaneReason(), L"No picture: 10.0.0.1 asks for a user name and password");

    // Kept for that address only: the other camera gets none, this one
    // gets it again.
    ListView_SetItemState(list_, 1, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Click(main_, IDC_PREVIEW);
    ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Click(main_, IDC_PREVIEW);
    EXPECT_EQ(player_->logins, (std::vector<std::string>{"-", "admin:pw", "-", "admin:pw"}));
    EXPECT_EQ(player_->locations[2], "rtsp://10.0.0.2/channel1/1");
    // A login asked for by a camera played no more prompts nothing.
    ListView_SetItemState(list_, 1, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    player_->reason = "No picture: the test plays nothing";
    Click(main_, IDC_PREVIEW);
    player_->Tell(player_->number, E::Unauthorized);
    PumpFor(200ms);
    EXPECT_EQ(prompts.size(), 2u);
}

TEST_F(WinWindowTest, PortTakenIsToldAndLogged) {
    qdipc::UdpSocket holder;
    ASSERT_TRUE(holder.Open());
    ASSERT_TRUE(holder.Bind({"127.0.0.1", receivePort_}));
    std::vector<std::uint16_t> asked;
    Open({NumberedCamera(1)}, [&](std::uint16_t port) {
        asked.push_back(port);
        return qdipc::PortOwnerLookup{true, {{"vlc.exe", 4711}}};
    });
    Click(main_, IDC_SEARCH);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, L"Bind socket 8089 failed");
    EXPECT_EQ(asked, (std::vector<std::uint16_t>{receivePort_}));
    EXPECT_EQ(window_->BarText(), L"UDP port " + std::to_wstring(receivePort_) +
                                      L" is held by vlc.exe (PID 4711) — end it and press Search "
                                      L"again");
    PumpFor(200ms);
    EXPECT_EQ(cameras_->Count(qdipc::kDiscoveryRequestSize), 0u);  // nothing was sent
    ASSERT_TRUE(window_->Model().Log().WaitIdle(5s));
    std::ifstream log(dir_.Path() / "QDIPC_Error.log", std::ios::binary);
    std::stringstream content;
    content << log.rdbuf();
    EXPECT_NE(content.str().find("Bind socket 8089 failed"), std::string::npos) << content.str();
}

TEST_F(WinWindowTest, EmptySearchSaysNoCameraAnswered) {
    Open({});
    Click(main_, IDC_SEARCH);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(window_->BarText(), L"Searching…");
    // Once the search with its repeats is over (1.5 s here).
    EXPECT_TRUE(PumpUntil(
        [&] {
            return window_->BarText() == L"No camera answered — click here to diagnose the network";
        },
        5s))
        << qdipc::win::Utf8(window_->BarText());
    EXPECT_EQ(cameras_->Count(qdipc::kDiscoveryRequestSize), 3u);
}

void RowCommand(HWND main, qdipc::RowCommand command) {
    SendMessageW(main, WM_COMMAND,
                 MAKEWPARAM(qdipc::win::kRowCommandBase + static_cast<UINT>(command), 0), 0);
}

TEST_F(WinWindowTest, RowMenuFromTheKeyboardAndItsCommands) {
    CameraReply second = NumberedCamera(2);
    second.webPort = 8080;
    Open({NumberedCamera(1), second, NumberedCamera(3)});
    SearchFor(3);
    // The Menu key on the list, nothing selected: only the whole-list commands.
    SetFocus(list_);
    PostMessageW(list_, WM_KEYDOWN, VK_APPS, 0);
    PostMessageW(list_, WM_KEYUP, VK_APPS, 0);
    ASSERT_TRUE(PumpUntil([&] { return menus_.size() == 1; }, 5s));
    const std::vector<std::wstring> idle = {L"Assign Addresses…:off",
                                            L"Settings…:off",
                                            L"Preview:off",
                                            L"Stream Info:off",
                                            L"Save Snapshot…:off",
                                            L"Open Web Page:off",
                                            L"Device Details…:off",
                                            L"|",
                                            L"Copy:off",
                                            L"Copy IP:off",
                                            L"Copy MAC:off",
                                            L"|",
                                            L"Keep &Watching",
                                            L"Show &Gone Cameras:off",
                                            L"Save &List As…",
                                            L"Apply &Plan…",
                                            L"|",
                                            L"Diagnose Network…"};
    EXPECT_EQ(menus_[0], idle);

    ListView_SetItemState(list_, 0, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list_, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    // A right-click on the list asks for the menu too.
    SendMessageW(main_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list_), MAKELPARAM(20, 20));
    ASSERT_EQ(menus_.size(), 2u);
    EXPECT_EQ(menus_[1][1], L"Settings…");
    // Shift+F10 as well.
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(list_, WM_SYSKEYDOWN, VK_F10, 0);
    PostMessageW(list_, WM_SYSKEYUP, VK_F10, 0);
    EXPECT_TRUE(PumpUntil([&] { return menus_.size() == 3; }, 5s));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    PumpFor(100ms);
    ASSERT_EQ(menus_.size(), 3u);  // once, not again for the keyboard's own request
    EXPECT_EQ(menus_[2], menus_[1]);
    EXPECT_EQ(menus_[1][3], L"Stream Info");
    EXPECT_EQ(menus_[1][4], L"Save Snapshot…");
    EXPECT_EQ(menus_[1][6], L"Device Details…");
    EXPECT_EQ(menus_[1][8], L"Copy");

    ASSERT_EQ(ListView_GetSelectedCount(list_), 2u);
    RowCommand(main_, qdipc::RowCommand::CopyIp);
    EXPECT_EQ(ClipboardText(), L"10.0.0.1\r\n10.0.0.2\r\n");
    RowCommand(main_, qdipc::RowCommand::CopyMac);
    EXPECT_EQ(ClipboardText(), L"00:1a:2b:3c:4d:5e\r\n00:1a:2b:3c:4d:5e\r\n");
    RowCommand(main_, qdipc::RowCommand::Copy);
    EXPECT_EQ(ClipboardText().rfind(L"NO.\tDev ID\tName\t", 0), 0u);
    RowCommand(main_, qdipc::RowCommand::OpenWebPage);
    EXPECT_EQ(urls_, (std::vector<std::wstring>{L"http://10.0.0.1/", L"http://10.0.0.2:8080/"}));
    RowCommand(main_, qdipc::RowCommand::Settings);  // the focused selected row
    ASSERT_EQ(window_->SettingWindows().size(), 1u);
    EXPECT_EQ(Text(window_->SettingWindows()[0]->Handle()), L"Set\uFF1A10.0.0.2");
    RowCommand(main_, qdipc::RowCommand::SaveList);
    std::ifstream saved(dir_.Path() / "list.csv", std::ios::binary);
    std::string header;
    std::getline(saved, header);
    EXPECT_EQ(header.rfind("NO.,Dev ID,Name,IP,", 0), 0u) << header;
    EXPECT_TRUE(std::filesystem::exists(dir_.Path() / "list.csv.about.json"));

    RowCommand(main_, qdipc::RowCommand::KeepWatching);
    EXPECT_TRUE(window_->Model().Watching());
    EXPECT_TRUE(PumpUntil(
        [&] {
            return window_->BarText() ==
                   L"Watching · every 5 s · 3 cameras · 3 flagged · 2 selected · 0 gone";
        },
        5s))
        << qdipc::win::Utf8(window_->BarText());
    SendMessageW(main_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list_), MAKELPARAM(-1, -1));
    ASSERT_EQ(menus_.size(), 4u);
    EXPECT_EQ(menus_[3][12], L"Keep &Watching:checked");
    RowCommand(main_, qdipc::RowCommand::KeepWatching);
    EXPECT_FALSE(window_->Model().Watching());

    // One row: how it was found comes first, a line that does nothing.
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list_, 0, LVIS_SELECTED, LVIS_SELECTED);
    SendMessageW(main_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list_), MAKELPARAM(20, 20));
    ASSERT_EQ(menus_.size(), 5u);
    EXPECT_EQ(menus_[4][0], L"Found by this tool's search:off");
    EXPECT_EQ(menus_[4][1], L"|");
    EXPECT_EQ(menus_[4][2], L"Assign Addresses…");
}

TEST_F(WinWindowTest, StreamInfoAndSnapshotThroughThePlayer) {
    Open({NumberedCamera(1)});
    SearchFor(1);
    ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    player_->reason.clear();  // a picture is on its way
    Click(main_, IDC_PREVIEW);
    ASSERT_EQ(player_->locations.size(), 1u);
    // The counters are read once a second while the pane plays.
    ASSERT_TRUE(PumpUntil([&] { return player_->samples >= 1; }, 3s));
    const int read = player_->samples;
    // The tooltip follows the facts once they were read.
    EXPECT_EQ(window_->PaneToolTip(), L"rtsp://10.0.0.1/channel1/1\r\nCodec: H264\r\nReadings: " +
                                          std::to_wstring(player_->samples));
    // Stream Info: a window of its own, not modal, read once more as it opens
    // and again every second while it is shown, as the player words it.
    RowCommand(main_, qdipc::RowCommand::StreamInfo);
    EXPECT_TRUE(boxes_.empty());
    HWND info = window_->StreamInfoWindow();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(Text(info), L"Stream Info");
    EXPECT_TRUE(IsWindowVisible(info));
    EXPECT_TRUE(IsWindowEnabled(main_));
    EXPECT_EQ(window_->StreamInfoShown(),
              "rtsp://10.0.0.1/channel1/1\nCodec: H264\nReadings: " + std::to_string(read + 1));
    ASSERT_TRUE(PumpUntil(
        [&] {
            return window_->StreamInfoShown() ==
                   "rtsp://10.0.0.1/channel1/1\nCodec: H264\nReadings: " + std::to_string(read + 2);
        },
        3s))
        << window_->StreamInfoShown();
    // Esc hides it; asked again, the same window shows again.
    SendMessageW(info, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindowVisible(info));
    EXPECT_EQ(window_->StreamInfoShown(), "");
    RowCommand(main_, qdipc::RowCommand::StreamInfo);
    EXPECT_EQ(window_->StreamInfoWindow(), info);
    EXPECT_TRUE(IsWindowVisible(info));
    SendMessageW(info, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(info));

    // HOST-YYYYMMDD-HHMMSS.png offered; ".png" added to a name without one.
    RowCommand(main_, qdipc::RowCommand::SaveSnapshot);
    ASSERT_EQ(proposedSnapshots_.size(), 1u);
    const std::wstring name = std::filesystem::path(proposedSnapshots_[0]).filename().wstring();
    EXPECT_EQ(name.size(), std::wstring(L"10.0.0.1-20260101-000000.png").size()) << name;
    EXPECT_EQ(name.rfind(L"10.0.0.1-", 0), 0u) << name;
    const std::string shot = qdipc::win::Utf8((dir_.Path() / "shot.png").wstring());
    EXPECT_EQ(player_->snapshots, (std::vector<std::string>{shot}));
    ASSERT_TRUE(PumpUntil([&] { return boxes_.size() == 1; }, 5s));
    EXPECT_EQ(boxes_[0].text, L"Snapshot saved: " + qdipc::win::Wide(shot));

    // A player that never answers: a second request is refused while the
    // first waits, and the wait ends after 5 s.
    player_->silent = true;
    RowCommand(main_, qdipc::RowCommand::SaveSnapshot);
    RowCommand(main_, qdipc::RowCommand::SaveSnapshot);
    EXPECT_EQ(player_->snapshots.size(), 2u);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, L"A snapshot is still being taken; try again in a moment");
    ASSERT_TRUE(PumpUntil([&] { return boxes_.size() == 3; }, 8s));
    EXPECT_EQ(boxes_[2].text, L"Snapshot not saved: no picture was written within 5 s");
    // Nothing plays: the tooltip goes.
    ASSERT_FALSE(window_->PaneToolTip().empty());
    player_->reason = "No picture: no answer from the test";
    Click(main_, IDC_PREVIEW);
    EXPECT_EQ(window_->PaneToolTip(), L"");
    PumpFor(1200ms);
    EXPECT_EQ(window_->PaneToolTip(), L"");
}

TEST_F(WinWindowTest, DeviceDetailsAskTheDeviceAndForALoginOnce) {
    // The device wants a login, refuses "guest" and answers "admin".
    std::mutex mutex;
    std::vector<std::string> asked;  // "ADDRESS user", "ADDRESS -" without a login
    qdipc::OnvifDetails answer;
    answer.status = qdipc::OnvifStatus::Ok;
    answer.manufacturer = "Acme\x01";
    answer.model = "C-1";
    answer.streams.push_back({"main", "p0", "rtsp://10.0.0.2/main"});
    options_.queryDetails = [&](const qdipc::OnvifTarget& target,
                                const std::optional<qdipc::OnvifLogin>& login) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            asked.push_back(qdipc::AddressText(target) + " " + (login ? login->user : "-"));
        }
        qdipc::OnvifDetails details;
        if (!login) {
            details.status = qdipc::OnvifStatus::NeedsLogin;
            details.reason = "the device asks for a user name and password";
        } else if (login->user != "admin" || login->password != "pw") {
            details.status = qdipc::OnvifStatus::Refused;
            details.reason = "the device refused the user name and password";
        } else {
            details = answer;
        }
        return details;
    };
    std::vector<std::string> prompts;
    std::vector<qdipc::OnvifLogin> logins = {{"guest", "x"}, {"admin", "pw"}};
    options_.askLogin = [&](HWND, const std::string& address, const std::string& known) {
        prompts.push_back(address + " " + known);
        std::optional<qdipc::OnvifLogin> login;
        if (!logins.empty()) {
            login = logins.front();
            logins.erase(logins.begin());
        }
        return login;
    };
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    ListView_SetItemState(list_, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    RowCommand(main_, qdipc::RowCommand::DeviceDetails);
    ASSERT_EQ(window_->DetailsWindows().size(), 1u);
    const auto& details = *window_->DetailsWindows()[0];
    const std::string expected = qdipc::FormatDetailsText("10.0.0.2", answer);
    ASSERT_TRUE(PumpUntil([&] { return details.Text() == expected; }, 5s)) << details.Text();
    EXPECT_NE(expected.find("Acme\\x01"), std::string::npos);  // escaped, as everywhere
    {
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(asked,
                  (std::vector<std::string>{"10.0.0.2 -", "10.0.0.2 guest", "10.0.0.2 admin"}));
    }
    // Asked again after the refusal, offering the user name entered before.
    EXPECT_EQ(prompts, (std::vector<std::string>{"10.0.0.2 ", "10.0.0.2 guest"}));

    // The login is kept for this address: a second window asks with it at once.
    RowCommand(main_, qdipc::RowCommand::DeviceDetails);
    ASSERT_EQ(window_->DetailsWindows().size(), 2u);
    ASSERT_TRUE(PumpUntil([&] { return window_->DetailsWindows()[1]->Text() == expected; }, 5s));
    EXPECT_EQ(prompts.size(), 2u);
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(asked.back(), "10.0.0.2 admin");
    EXPECT_EQ(asked.size(), 4u);
}

TEST_F(WinWindowTest, AssignDialogPlansAndSendsThroughTheEngine) {
    Open({NumberedCamera(1), NumberedCamera(2), NumberedCamera(3)});
    SearchFor(3);
    ListView_SetItemState(list_, 0, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list_, 2, LVIS_SELECTED, LVIS_SELECTED);
    RowCommand(main_, qdipc::RowCommand::AssignAddresses);
    ASSERT_EQ(window_->AssignWindows().size(), 1u);
    HWND assign = window_->AssignWindows()[0]->Handle();
    EXPECT_EQ(Text(assign), L"Assign Addresses");
    HWND rows = GetDlgItem(assign, IDC_ASSIGN_LIST);
    // Every field change plans again: .2 is a listed camera's, passed over.
    SetDlgItemTextW(assign, IDC_ASSIGN_MASK, L"255.255.255.0");
    SetDlgItemTextW(assign, IDC_ASSIGN_GATEWAY, L"10.0.0.254");
    SetDlgItemTextW(assign, IDC_ASSIGN_START, L"10.0.0.2");
    ASSERT_EQ(SendMessageW(rows, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(Cell(rows, 0, 0), "0011aabb-00000001");
    EXPECT_EQ(Cell(rows, 0, 3), "10.0.0.4");  // .3 is the other camera's own: its new one
    EXPECT_EQ(Cell(rows, 1, 3), "10.0.0.5");
    EXPECT_NE(Text(GetDlgItem(assign, IDC_ASSIGN_SKIPPED)).find(L"10.0.0.2"), std::wstring::npos)
        << qdipc::win::Utf8(Text(GetDlgItem(assign, IDC_ASSIGN_SKIPPED)));
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(assign, IDC_ASSIGN_APPLY)));
    Click(assign, IDC_ASSIGN_APPLY);
    ASSERT_TRUE(PumpUntil([&] { return cameras_->Count(88) == 2; }));
    std::vector<std::string> sentIps;
    for (const auto& datagram : cameras_->Received()) {
        if (datagram.size() == 88) {
            EXPECT_EQ(datagram[0], 0xD3);
            sentIps.emplace_back(reinterpret_cast<const char*>(&datagram[29]));
        }
    }
    EXPECT_EQ(sentIps, (std::vector<std::string>{"10.0.0.4", "10.0.0.5"}));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(assign, IDC_ASSIGN_APPLY)));
    // These cameras never answer at their new addresses: not confirmed.
    EXPECT_TRUE(PumpUntil([&] { return Cell(rows, 1, 7) == "not confirmed"; }, 6s))
        << Cell(rows, 1, 7);
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_COUNTS)), L"0 of 2 confirmed");
}

// The new IPs of the settings records the cameras got, in order.
std::vector<std::string> SentIps(const LoopbackCameras& cameras) {
    std::vector<std::string> ips;
    for (const auto& datagram : cameras.Received()) {
        if (datagram.size() == 88) {
            ips.emplace_back(reinterpret_cast<const char*>(&datagram[29]));
        }
    }
    return ips;
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

// The Assign dialog of the first rows, planned from start on 10.0.0.0/24.
HWND OpenAssign(qdipc::win::SearchWindow& window, HWND main, HWND list, int rows,
                const wchar_t* start) {
    for (int row = 0; row < rows; ++row) {
        ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    RowCommand(main, qdipc::RowCommand::AssignAddresses);
    HWND assign = window.AssignWindows().back()->Handle();
    SetDlgItemTextW(assign, IDC_ASSIGN_MASK, L"255.255.255.0");
    SetDlgItemTextW(assign, IDC_ASSIGN_GATEWAY, L"10.0.0.254");
    SetDlgItemTextW(assign, IDC_ASSIGN_START, start);
    return assign;
}

TEST_F(WinWindowTest, AssignRetriesUndoesAndExportsAsTheQtDialogDoes) {
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    HWND assign = OpenAssign(*window_, main_, list_, 2, L"10.0.0.20");
    HWND rows = GetDlgItem(assign, IDC_ASSIGN_LIST);
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_RETRY)), L"Retry Unconfirmed");
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_UNDO)), L"Undo This Run");
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_EXPORT)), L"Export Results\u2026");
    // Before anything ran: nothing to retry or undo, no count, no rollback plan.
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_RETRY));
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_UNDO));
    EXPECT_TRUE(Enabled(assign, IDC_ASSIGN_EXPORT));
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_COUNTS)), L"");
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_ROLLBACK)), L"");

    Click(assign, IDC_ASSIGN_APPLY);
    ASSERT_TRUE(PumpUntil([&] { return SentIps(*cameras_).size() == 2; }));
    // These cameras never answer at their new addresses.
    ASSERT_TRUE(PumpUntil([&] { return Enabled(assign, IDC_ASSIGN_RETRY); }, 8s));
    EXPECT_EQ(ColumnOf(rows, 7), (std::vector<std::string>{"not confirmed", "not confirmed"}));
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_MESSAGE)),
              L"2 of 2 cameras did not confirm their new address.");
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_COUNTS)), L"0 of 2 confirmed");
    EXPECT_TRUE(Enabled(assign, IDC_ASSIGN_UNDO));
    const std::wstring prefix = L"Rollback plan (qd_ip_search --plan FILE puts the cameras back): ";
    const auto& paths = window_->AssignWindows()[0]->Model().RollbackPaths();
    ASSERT_EQ(paths.size(), 1u);
    const std::filesystem::path firstPlan = paths[0];
    EXPECT_EQ(firstPlan.parent_path(), dir_.Path() / "state");
    // Paths are shown as every file text is: escaped.
    EXPECT_EQ(
        Text(GetDlgItem(assign, IDC_ASSIGN_ROLLBACK)),
        prefix + qdipc::win::Wide(qdipc::EscapeControls(qdipc::win::Utf8(firstPlan.wstring()))));
    const std::string plan = FileText(firstPlan);
    EXPECT_NE(plan.find("0011aabb-00000001,00:1a:2b:3c:4d:5e,10.0.0.1,"), std::string::npos)
        << plan;
    EXPECT_NE(plan.find("0011aabb-00000002,00:1a:2b:3c:4d:5e,10.0.0.2,"), std::string::npos);

    // Export: the rows through the core's CSV writer.
    Click(assign, IDC_ASSIGN_EXPORT);
    const std::string csv = FileText(dir_.Path() / "results.csv");
    EXPECT_EQ(csv.rfind("dev_id,mac,ip,mask,gateway,mode,old_ip,result,reason\r\n"
                        "0011aabb-00000001,00:1a:2b:3c:4d:5e,10.0.0.20,255.255.255.0,10.0.0.254,"
                        "static,10.0.0.1,not_confirmed,",
                        0),
              0u)
        << csv;
    EXPECT_NE(csv.find("\r\n0011aabb-00000002,00:1a:2b:3c:4d:5e,10.0.0.21,"), std::string::npos);
    EXPECT_EQ(Text(GetDlgItem(assign, IDC_ASSIGN_MESSAGE)),
              L"Results written to " + qdipc::win::Wide(qdipc::EscapeControls(qdipc::win::Utf8(
                                           (dir_.Path() / "results.csv").wstring()))));

    // Retry sends the same records again; nothing else may start meanwhile.
    Click(assign, IDC_ASSIGN_RETRY);
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_RETRY));
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_UNDO));
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_APPLY));
    ASSERT_TRUE(PumpUntil([&] { return SentIps(*cameras_).size() == 4; }));
    ASSERT_TRUE(PumpUntil([&] { return Enabled(assign, IDC_ASSIGN_UNDO); }, 8s));
    EXPECT_EQ(SentIps(*cameras_),
              (std::vector<std::string>{"10.0.0.20", "10.0.0.21", "10.0.0.20", "10.0.0.21"}));
    // Each run wrote its own plan; Undo takes the first.
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], firstPlan);
    EXPECT_NE(Text(GetDlgItem(assign, IDC_ASSIGN_ROLLBACK)).find(L"; "), std::wstring::npos);

    Click(assign, IDC_ASSIGN_UNDO);
    ASSERT_TRUE(PumpUntil([&] { return SentIps(*cameras_).size() == 6; }));
    const std::vector<std::string> ips = SentIps(*cameras_);
    EXPECT_EQ(std::vector<std::string>(ips.begin() + 4, ips.end()),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));

    // The next dialog on this network opens with the fields applied here.
    RowCommand(main_, qdipc::RowCommand::AssignAddresses);
    ASSERT_EQ(window_->AssignWindows().size(), 2u);
    EXPECT_EQ(Text(GetDlgItem(window_->AssignWindows()[1]->Handle(), IDC_ASSIGN_START)),
              L"10.0.0.20");
}

TEST_F(WinWindowTest, AssignSendsNothingWithoutItsRollbackPlan) {
    // The state folder cannot be made: its parent is a file.
    std::ofstream(dir_.Path() / "blocked") << "a file";
    tweak_ = [this](qdipc::win::WinWindowOptions& options) {
        options.config.stateDirectory = dir_.Path() / "blocked" / "state";
    };
    Open({NumberedCamera(1)});
    SearchFor(1);
    HWND assign = OpenAssign(*window_, main_, list_, 1, L"10.0.0.20");
    Click(assign, IDC_ASSIGN_APPLY);
    PumpFor(300ms);
    EXPECT_TRUE(SentIps(*cameras_).empty());
    const std::string message = qdipc::win::Utf8(Text(GetDlgItem(assign, IDC_ASSIGN_MESSAGE)));
    EXPECT_EQ(message.rfind("Nothing was sent: ", 0), 0u) << message;
    EXPECT_NE(message.find(". Make the state folder writable and Apply again."), std::string::npos);
    // Applied again once the folder is fixed.
    EXPECT_TRUE(Enabled(assign, IDC_ASSIGN_APPLY));
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_UNDO));
    EXPECT_FALSE(Enabled(assign, IDC_ASSIGN_RETRY));
}

TEST_F(WinWindowTest, AssignProbesItsAddressesOffTheWindowThreadJustBeforeSending) {
    // The plan's check as the fields change and the probe just before
    // sending run off the window's thread. Something answers at .20, but
    // only to the latter.
    const DWORD windowThread = GetCurrentThreadId();
    auto sending = std::make_shared<std::atomic<bool>>(false);
    auto sendProbes = std::make_shared<std::atomic<int>>(0);
    auto onWindowThread = std::make_shared<std::atomic<int>>(0);
    tweak_ = [=](qdipc::win::WinWindowOptions& options) {
        options.config.surroundings = [=] {
            qdipc::AssignSurroundings surroundings;
            surroundings.interfaces = qdipc::test::LoopbackNetworks()();
            surroundings.probe = [=](const std::vector<std::uint32_t>& addresses) {
                *onWindowThread += GetCurrentThreadId() == windowThread ? 1 : 0;
                std::vector<qdipc::ProbeAnswer> answers;
                for (const std::uint32_t address : addresses) {
                    answers.push_back(*sending && address == 0x0A000014
                                          ? qdipc::ProbeAnswer::Answered
                                          : qdipc::ProbeAnswer::Silent);
                }
                if (*sending) {
                    ++*sendProbes;
                    std::this_thread::sleep_for(300ms);  // a probe takes its time
                }
                return answers;
            };
            return surroundings;
        };
    };
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    // The proposed start is probed as the dialog opens; every edit after it
    // plans again, probed off the window's thread.
    ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
    RowCommand(main_, qdipc::RowCommand::AssignAddresses);
    HWND assign = window_->AssignWindows().back()->Handle();
    *onWindowThread = 0;
    SetDlgItemTextW(assign, IDC_ASSIGN_MASK, L"255.255.255.0");
    SetDlgItemTextW(assign, IDC_ASSIGN_GATEWAY, L"10.0.0.254");
    SetDlgItemTextW(assign, IDC_ASSIGN_START, L"10.0.0.20");
    HWND rows = GetDlgItem(assign, IDC_ASSIGN_LIST);
    const qdipc::AssignModel& model = window_->AssignWindows()[0]->Model();
    ASSERT_TRUE(PumpUntil([&] { return model.PlanChecked(); }));
    ASSERT_EQ(Cell(rows, 0, 3), "10.0.0.20");
    *sending = true;
    Click(assign, IDC_ASSIGN_APPLY);
    // The click returned while the probe still runs: nothing has left yet.
    EXPECT_TRUE(SentIps(*cameras_).empty());
    ASSERT_TRUE(PumpUntil([&] { return Cell(rows, 0, 7) == "refused"; }));
    EXPECT_EQ(sendProbes->load(), 1);
    EXPECT_EQ(onWindowThread->load(), 0);
    EXPECT_EQ(Cell(rows, 0, 8).rfind("10.0.0.20 is taken: ", 0), 0u) << Cell(rows, 0, 8);
    // The reason is shown whole: its column fits it.
    EXPECT_GE(ListView_GetColumnWidth(rows, 8),
              ListView_GetStringWidth(rows, qdipc::win::Wide(Cell(rows, 0, 8)).c_str()));
    ASSERT_TRUE(PumpUntil([&] { return SentIps(*cameras_).size() == 1; }));
    EXPECT_EQ(SentIps(*cameras_), std::vector<std::string>{"10.0.0.21"});
}

TEST_F(WinWindowTest, ApplyPlanOpensTheFileSendsItsLinesAndShowsRefusals) {
    Open({NumberedCamera(1), NumberedCamera(2)});
    SearchFor(2);
    // A file that is not there: the box says so, nothing opens.
    planPath_ = dir_.Path() / "missing.csv";
    RowCommand(main_, qdipc::RowCommand::ApplyPlan);
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(qdipc::win::Utf8(boxes_.back().text).rfind("Cannot read the plan ", 0), 0u)
        << qdipc::win::Utf8(boxes_.back().text);
    EXPECT_TRUE(window_->AssignWindows().empty());

    // A line for a listed camera, one for a camera nobody listed.
    planPath_ = dir_.Path() / "plan.csv";
    std::ofstream(planPath_, std::ios::binary)
        << "dev_id,mac,ip,mask,gateway,mode\r\n"
           "0011aabb-00000002,00:1a:2b:3c:4d:5e,10.0.0.30,255.255.255.0,10.0.0.254,static\r\n"
           "0011aabb-00000009,00:1a:2b:3c:4d:09,10.0.0.31,255.255.255.0,10.0.0.254,static\r\n";
    RowCommand(main_, qdipc::RowCommand::ApplyPlan);
    ASSERT_EQ(window_->AssignWindows().size(), 1u);
    HWND assign = window_->AssignWindows()[0]->Handle();
    EXPECT_EQ(Text(assign), L"Apply Plan plan.csv");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(assign, IDC_ASSIGN_START)));
    HWND rows = GetDlgItem(assign, IDC_ASSIGN_LIST);
    ASSERT_EQ(SendMessageW(rows, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(Cell(rows, 0, 0), "0011aabb-00000002");
    EXPECT_EQ(Cell(rows, 0, 3), "10.0.0.30");
    EXPECT_EQ(Cell(rows, 0, 6), "static");
    EXPECT_EQ(Cell(rows, 1, 7), "not found");
    ASSERT_TRUE(Enabled(assign, IDC_ASSIGN_APPLY));
    Click(assign, IDC_ASSIGN_APPLY);
    ASSERT_TRUE(PumpUntil([&] { return SentIps(*cameras_).size() == 1; }));
    EXPECT_EQ(SentIps(*cameras_), std::vector<std::string>{"10.0.0.30"});

    // A plan the checks refuse as a whole: its error, nothing to apply.
    std::ofstream(planPath_, std::ios::binary | std::ios::trunc)
        << "dev_id,mac,ip,mask,gateway,mode\r\n"
           "0011aabb-00000001,00:1a:2b:3c:4d:5e,10.0.0.300,255.255.255.0,10.0.0.254,static\r\n";
    RowCommand(main_, qdipc::RowCommand::ApplyPlan);
    ASSERT_EQ(window_->AssignWindows().size(), 2u);
    HWND refused = window_->AssignWindows()[1]->Handle();
    EXPECT_NE(Text(GetDlgItem(refused, IDC_ASSIGN_MESSAGE)).find(L"10.0.0.300"), std::wstring::npos)
        << qdipc::win::Utf8(Text(GetDlgItem(refused, IDC_ASSIGN_MESSAGE)));
    EXPECT_FALSE(Enabled(refused, IDC_ASSIGN_APPLY));
}

TEST_F(WinWindowTest, ClosingWhileAChangeWaitsAsksFirst) {
    Open({NumberedCamera(1)});
    SearchFor(1);
    NotifyRow(main_, list_, NM_DBLCLK, 0);
    HWND setting = window_->SettingWindows().at(0)->Handle();
    SetDlgItemTextW(setting, IDC_SET_IP, L"10.0.0.9");
    Click(setting, IDC_SET_MODIFY);
    ASSERT_EQ(boxes_.back().text, L"Setting OK!");
    // Esc while it waits for the camera: the question; "No" keeps the window.
    answer_ = IDNO;
    SendMessageW(main_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(IsWindow(main_));
    EXPECT_EQ(boxes_.back().text,
              L"1 changes are not confirmed yet.\nClose anyway? A later search shows where the "
              L"cameras are.");
    answer_ = IDYES;
    SendMessageW(main_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(main_));
}

TEST_F(WinWindowTest, EscAndEnterEndTheWindow) {
    for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        Open({});
        g_quitSeen = false;
        SetFocus(list_);
        PostMessageW(list_, WM_KEYDOWN, key, 0);
        PostMessageW(list_, WM_KEYUP, key, 0);
        EXPECT_TRUE(PumpUntil([&] { return !IsWindow(main_); }, 5s)) << key;
        // The loop's end was asked for.
        EXPECT_TRUE(PumpUntil([] { return g_quitSeen; }, 2s)) << key;
        g_window = nullptr;
        window_.reset();
        cameras_.reset();
    }
}

}  // namespace
