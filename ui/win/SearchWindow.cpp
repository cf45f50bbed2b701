#include "ui/win/SearchWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <windowsx.h>

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <utility>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/ReplyCells.h"
#include "settings/AssignMemory.h"
#include "ui/WindowLayout.h"
#include "ui/WindowTexts.h"
#include "ui/win/AssignWindow.h"
#include "ui/win/DiagnoseWindow.h"
#include "ui/win/DialogSupport.h"
#include "ui/win/SettingWindow.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {

namespace {

constexpr UINT kRepliesWaiting = WM_APP + 1;  // posted by the model's wake call
constexpr UINT_PTR kTickTimer = 1;
// Stream Info's readings while the pane plays, and the wait for a snapshot.
constexpr UINT_PTR kFactsTimer = 2;
constexpr UINT_PTR kSnapshotTimer = 3;
// Stream Info's window reads the pane's text again while it is shown.
constexpr UINT_PTR kInfoTimer = 4;
constexpr UINT kFactsIntervalMs = 1000;
constexpr UINT kSnapshotLimitMs = 5000;
// Posted by the player's snapshot answer: wParam the request, lParam a
// std::string* with the file written (the window deletes it).
constexpr UINT kSnapshotAnswer = WM_APP + 2;
// Posted by the player's event sink: wParam the player's number, lParam the
// StreamEvent.
constexpr UINT kStreamEvent = WM_APP + 3;
constexpr UINT kAboutCommandId = 0x10;
constexpr UINT kDiagnoseCommandId = 0x20;
constexpr UINT kKeepWatchingCommandId = 0x30;
// The IP cell is read into a 20-byte buffer: at most 19 characters.
constexpr std::size_t kCurrentIpMaxLength = 19;
// Rows moved into the list per slice of the UI thread, and the slice's budget.
constexpr std::size_t kRepliesPerChunk = 4096;
constexpr auto kSliceBudget = std::chrono::milliseconds(10);

// Stream Info: Close and Esc hide it; the main window reads it again.
INT_PTR CALLBACK StreamInfoProc(HWND info, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    return HidesOnClose(info, message, wParam) ? TRUE : FALSE;
}

// The About box: its OK button (or Esc) ends it.
INT_PTR CALLBACK AboutProc(HWND about, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(about, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

SearchWindow::SearchWindow(WinWindowOptions options)
    : m_options(std::move(options)), m_model(m_options.config, [this] {
          // The worker's or an ONVIF thread: ask the window's thread to take.
          if (HWND target = m_wakeTarget.load()) {
              PostMessageW(target, kRepliesWaiting, 0, 0);
          }
      }) {
    if (!m_options.player) {
        m_options.player = std::make_shared<MissingVlcPlayer>();
    }
}

SearchWindow::~SearchWindow() {
    m_wakeTarget.store(nullptr);
    m_options.player->Stop();
    // The dialogs hold reservations in the model's runs: they go first.
    m_assignWindows.clear();
    m_diagnoseWindows.clear();
    m_detailsWindows.clear();
    if (m_infoWindow != nullptr) {
        DestroyWindow(m_infoWindow);
    }
    for (SettingWindow* window : m_settingWindows) {
        delete window;
    }
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
    if (m_icon != nullptr) {
        DestroyIcon(m_icon);
    }
    if (m_smallIcon != nullptr) {
        DestroyIcon(m_smallIcon);
    }
}

bool SearchWindow::Create() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    m_hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SEARCH), nullptr,
                                &SearchWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    return m_hwnd != nullptr;
}

bool SearchWindow::PreTranslate(const MSG& message) {
    if (message.hwnd != m_list || m_list == nullptr) {
        return false;
    }
    const bool down = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
    const bool up = message.message == WM_KEYUP || message.message == WM_SYSKEYUP;
    const bool menuKey = message.wParam == VK_APPS;
    const bool shiftF10 = message.wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if ((!down && !up) || (!menuKey && !shiftF10)) {
        return false;
    }
    if (up) {
        // Its release is taken too: F10's would enter the menu bar.
        return true;
    }
    ShowRowMenu({-1, -1});
    m_menuFromKey = true;
    return true;
}

int SearchWindow::RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (PreTranslate(message)) {
            continue;
        }
        // The dialog keys go to the dialog the message is for (the main
        // window or a settings window).
        HWND root = GetAncestor(message.hwnd, GA_ROOT);
        if (root != nullptr && IsDialogMessageW(root, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

const std::vector<SettingWindow*>& SearchWindow::SettingWindows() const {
    return m_settingWindows;
}

std::wstring SearchWindow::PaneReason() const {
    wchar_t text[512] = {};
    GetDlgItemTextW(m_hwnd, IDC_PANE_REASON, text, 512);
    return text;
}

void SearchWindow::ShowMessage(const std::wstring& text, UINT flags, const std::wstring& caption) {
    if (m_options.messageBox) {
        m_options.messageBox(m_hwnd, text, flags);
        return;
    }
    MessageBoxW(m_hwnd, text.c_str(), caption.empty() ? ProgramName().c_str() : caption.c_str(),
                flags);
}

INT_PTR CALLBACK SearchWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<SearchWindow*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        self->m_hwnd = hwnd;
        self->OnInitDialog();
        return TRUE;  // the focus goes to the first tab stop, the list
    }
    auto* self = reinterpret_cast<SearchWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR SearchWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            bool handled = false;
            const LRESULT result = OnNotify(reinterpret_cast<const NMHDR*>(lParam), handled);
            if (handled) {
                SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
            }
            return handled ? TRUE : FALSE;
        }
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case kAboutCommandId:
                    if (m_options.runModal) {
                        m_options.runModal(m_hwnd, IDD_ABOUT);
                    } else {
                        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT),
                                        m_hwnd, &AboutProc, 0);
                    }
                    return TRUE;
                case kDiagnoseCommandId:
                    OpenDiagnosis();
                    return TRUE;
                case kKeepWatchingCommandId:
                    ToggleWatching();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == m_list) {
                ShowRowMenu({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_icon);
        case WM_TIMER:
            if (wParam == kTickTimer) {
                KillTimer(m_hwnd, kTickTimer);
                m_model.Tick(SearchWindowModel::Clock::now());
                RefreshList();
                ScheduleTick();
                ShowBarText();
            } else if (wParam == kFactsTimer) {
                m_options.player->Sample();
                // The pane's tooltip tells the facts while it plays.
                SetPaneToolTip(m_options.player->StreamInfoText());
            } else if (wParam == kInfoTimer) {
                RefreshStreamInfo();
            } else if (wParam == kSnapshotTimer) {
                FinishSnapshot(L"Snapshot not saved: no picture was written within " +
                               std::to_wstring(kSnapshotLimitMs / 1000) + L" s");
            }
            return TRUE;
        case kRepliesWaiting:
            TakeReplies();
            return TRUE;
        case kStreamEvent:
            OnStreamEvent(static_cast<unsigned>(wParam), static_cast<StreamEvent>(lParam));
            return TRUE;
        case kSnapshotAnswer: {
            const std::unique_ptr<std::string> file(reinterpret_cast<std::string*>(lParam));
            OnSnapshotAnswer(static_cast<unsigned>(wParam), *file);
            return TRUE;
        }
        case WM_CLOSE:
            if (MayClose()) {
                DestroyWindow(m_hwnd);
            }
            return TRUE;
        case WM_DESTROY:
            m_wakeTarget.store(nullptr);
            KillTimer(m_hwnd, kTickTimer);
            KillTimer(m_hwnd, kFactsTimer);
            KillTimer(m_hwnd, kSnapshotTimer);
            KillTimer(m_hwnd, kInfoTimer);
            if (m_infoWindow != nullptr) {
                DestroyWindow(m_infoWindow);
                m_infoWindow = nullptr;
            }
            m_options.player->SetEventSink(nullptr);
            m_options.player->Stop();
            PostQuitMessage(0);
            return TRUE;
        case WM_NCDESTROY:
            m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

int SearchWindow::Scaled(int pixels) const {
    // Per-monitor DPI awareness: pixel widths of the layout are for 96 DPI.
    const UINT dpi = GetDpiForWindow(m_hwnd);
    return dpi == 0 ? pixels : MulDiv(pixels, static_cast<int>(dpi), 96);
}

void SearchWindow::OnInitDialog() {
    m_list = GetDlgItem(m_hwnd, IDC_DEVICE_LIST);
    m_progress = GetDlgItem(m_hwnd, IDC_PROGRESS);

    // System menu: a separator and string 101 ("关于 qd_ip_search(&A)...").
    if (HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
        const wchar_t* about = nullptr;
        const int length = LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUT_MENU,
                                       reinterpret_cast<LPWSTR>(&about), 0);
        if (length > 0) {
            const std::wstring text(about, static_cast<std::size_t>(length));
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, kAboutCommandId, text.c_str());
        }
        // Keep Watching and Diagnose Network beside it, as in the Qt window.
        AppendMenuW(menu, MF_STRING, kKeepWatchingCommandId, L"Keep Watching");
        AppendMenuW(menu, MF_STRING, kDiagnoseCommandId, L"Diagnose Network\u2026");
    }

    // Icon 128, big and small.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    m_icon =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));

    // The list: report view, grid lines, full-row selection, twelve columns.
    ListView_SetExtendedListViewStyleEx(m_list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (int column = 0; column < kColumnCount; ++column) {
        std::wstring title = Wide(kColumnTitles[static_cast<std::size_t>(column)]);
        LVCOLUMNW info{};
        info.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        info.fmt = LVCFMT_LEFT;
        info.cx = Scaled(kColumnWidths[static_cast<std::size_t>(column)]);
        info.pszText = title.data();
        info.iSubItem = column;
        ListView_InsertColumn(m_list, column, &info);
    }

    // Range 1 to 100, step 1; nothing advances the bar. Its text is drawn
    // over it and is its window text (what screen readers read).
    SendMessageW(m_progress, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
    SendMessageW(m_progress, PBM_SETSTEP, 1, 0);
    SetWindowTextW(m_progress, L"");
    SetWindowSubclass(m_progress, &SearchWindow::BarProc, 1, 0);

    if (m_options.openFirewall) {
        m_options.openFirewall();
    }
    m_wakeTarget.store(m_hwnd);
    // The stream's events come on libvlc's threads: they are posted here.
    m_options.player->SetEventSink([target = m_hwnd](unsigned player, StreamEvent event) {
        PostMessageW(target, kStreamEvent, player, static_cast<LPARAM>(event));
    });

    // The pane's tooltip: a tool over the pane's rectangle of the main
    // window (a group box lets the mouse through to it).
    m_tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    if (m_tip != nullptr) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = m_hwnd;
        tool.uId = IDC_VIDEO_PANE;
        tool.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(m_tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        // Several lines.
        SendMessageW(m_tip, TTM_SETMAXTIPWIDTH, 0, Scaled(400));
    }

    RECT client{};
    GetClientRect(m_hwnd, &client);
    OnSize(client.right, client.bottom);
}

void SearchWindow::SetPaneToolTip(const std::string& text) {
    if (m_tip == nullptr) {
        return;
    }
    // Plain text: a camera's address may be in it; no '&' prefixes.
    std::wstring wide = WideLines(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_hwnd;
    tool.uId = IDC_VIDEO_PANE;
    tool.lpszText = wide.data();
    SendMessageW(m_tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::wstring SearchWindow::PaneToolTip() const {
    if (m_tip == nullptr) {
        return {};
    }
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_hwnd;
    tool.uId = IDC_VIDEO_PANE;
    tool.lpszText = text;
    SendMessageW(m_tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    return text;
}

void SearchWindow::PlacePaneToolTip() {
    if (m_tip == nullptr) {
        return;
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_hwnd;
    tool.uId = IDC_VIDEO_PANE;
    HWND pane = GetDlgItem(m_hwnd, IDC_VIDEO_PANE);
    GetWindowRect(pane, &tool.rect);
    MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&tool.rect), 2);
    SendMessageW(m_tip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK SearchWindow::BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR) {
    if (message == WM_PAINT) {
        // The bar as it draws itself, then its text centred over it.
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        const int length = GetWindowTextLengthW(hwnd);
        if (length > 0) {
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            GetWindowTextW(hwnd, text.data(), length + 1);
            text.resize(static_cast<std::size_t>(length));
            HDC dc = GetDC(hwnd);
            RECT box{};
            GetClientRect(hwnd, &box);
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd), WM_GETFONT, 0, 0));
            HGDIOBJ old = SelectObject(dc, font);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            DrawTextW(dc, text.c_str(), length, &box,
                      DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            SelectObject(dc, old);
            ReleaseDC(hwnd, dc);
        }
        return result;
    }
    if (message == WM_LBUTTONUP) {
        // "No camera answered — click here to diagnose the network".
        PostMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(IDC_PROGRESS, 0),
                     reinterpret_cast<LPARAM>(hwnd));
    }
    if (message == WM_SETTEXT) {
        const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return result;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &SearchWindow::BarProc, 1);
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void SearchWindow::OnCommand(int id, int code) {
    if (code != BN_CLICKED && code != 0 && code != 1) {
        return;
    }
    switch (id) {
        case IDOK:      // Enter, the focus not on a push button
        case IDCANCEL:  // Esc
            if (MayClose()) {
                DestroyWindow(m_hwnd);
            }
            break;
        case IDC_SEARCH:
            OnSearch();
            break;
        case IDC_PREVIEW:
            OnPreview();
            break;
        case IDC_SETTING:
            OnSetting();
            break;
        case IDC_PROGRESS:  // a click on the bar
            if (m_model.NoCameraShown()) {
                OpenDiagnosis();
            }
            break;
        default:  // Test (disabled) and every other command: nothing
            // A row command (RunRowCommand ignores a number it does not know).
            if (id > static_cast<int>(kRowCommandBase) &&
                id < static_cast<int>(kRowCommandBase + kRowCommandRange)) {
                RunRowCommand(static_cast<RowCommand>(id - static_cast<int>(kRowCommandBase)));
            }
            break;
    }
}

LRESULT SearchWindow::OnNotify(const NMHDR* header, bool& handled) {
    if (header->idFrom != IDC_DEVICE_LIST) {
        return 0;
    }
    handled = true;
    switch (header->code) {
        case LVN_GETDISPINFOW:
            OnDispInfo(reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header)));
            return 0;
        case NM_CLICK: {
            const auto* item = reinterpret_cast<const NMITEMACTIVATE*>(header);
            if (item->iItem >= 0) {
                MakeRowCurrent(item->iItem);
            }
            return 0;
        }
        case NM_DBLCLK: {
            const auto* item = reinterpret_cast<const NMITEMACTIVATE*>(header);
            if (item->iItem >= 0) {
                MakeRowCurrent(item->iItem);
                OpenSettings(item->iItem);
            }
            return 0;
        }
        case LVN_ITEMCHANGED: {
            // The buttons act on the list's focused row, however it was chosen
            // (click, arrow keys, Home/End).
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
            if (change->iItem >= 0 && (change->uNewState & LVIS_FOCUSED) != 0 &&
                (change->uOldState & LVIS_FOCUSED) == 0) {
                MakeRowCurrent(change->iItem);
            }
            if ((change->uChanged & LVIF_STATE) != 0) {
                // A new selection is the operator's action: a change's
                // outcome on the bar gives way to the counts.
                if (((change->uOldState ^ change->uNewState) & LVIS_SELECTED) != 0) {
                    m_model.OperatorActed();
                }
                ShowBarText();
            }
            return 0;
        }
        case LVN_KEYDOWN: {
            // Ctrl+C copies the selected rows, as the menu's Copy.
            const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
            if (key->wVKey == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) != 0) {
                RunRowCommand(RowCommand::Copy);
            }
            return 0;
        }
        case LVN_COLUMNCLICK:
            OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
            return 0;
        case NM_CUSTOMDRAW: {
            auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(header));
            if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
                return CDRF_NOTIFYITEMDRAW;
            }
            if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                const int grey = (draw->nmcd.dwItemSpec % 2) != 0 ? kOddRowGrey : kEvenRowGrey;
                draw->clrTextBk = RGB(grey, grey, grey);
                draw->clrText = RGB(0, 0, 0);
            }
            return CDRF_DODEFAULT;
        }
        default:
            handled = false;
            return 0;
    }
}

void SearchWindow::OnDispInfo(NMLVDISPINFOW* info) {
    if ((info->item.mask & LVIF_TEXT) == 0 || info->item.pszText == nullptr ||
        info->item.cchTextMax <= 0) {
        return;
    }
    m_cellBuffer = Wide(m_model.DisplayCell(info->item.iItem, info->item.iSubItem));
    const std::size_t room = static_cast<std::size_t>(info->item.cchTextMax) - 1;
    const std::size_t length = std::min(room, m_cellBuffer.size());
    std::copy_n(m_cellBuffer.data(), length, info->item.pszText);
    info->item.pszText[length] = L'\0';
}

void SearchWindow::OnSize(int cx, int cy) {
    // The layout is in 96-DPI pixels: computed for the client's size at 96
    // DPI, then every rectangle scaled to the window's DPI (at 200 % the
    // buttons are twice as large, so their captions fit).
    const UINT dpi = GetDpiForWindow(m_hwnd);
    const int scale = dpi == 0 ? 96 : static_cast<int>(dpi);
    const MainWindowLayout layout =
        ComputeMainWindowLayout(MulDiv(cx, 96, scale), MulDiv(cy, 96, scale));
    const auto place = [this, scale](int id, const ControlRect& rect) {
        if (HWND control = GetDlgItem(m_hwnd, id)) {
            MoveWindow(control, MulDiv(rect.x, scale, 96), MulDiv(rect.y, scale, 96),
                       std::max(0, MulDiv(rect.width, scale, 96)),
                       std::max(0, MulDiv(rect.height, scale, 96)), TRUE);
        }
    };
    place(IDC_PREVIEW, layout.previewButton);
    place(IDC_SETTING, layout.settingButton);
    place(IDC_TEST, layout.testButton);
    place(IDC_SEARCH, layout.searchButton);
    place(IDC_VIDEO_PANE, layout.videoPane);
    place(IDC_DEVICE_LIST, layout.deviceList);
    place(IDC_PROGRESS, layout.progressBar);
    // The reason line: across the middle of the pane.
    const int lineHeight = 32;
    ControlRect reason = layout.videoPane;
    reason.x += 4;
    reason.width -= 8;
    reason.y += (reason.height - lineHeight) / 2;
    reason.height = lineHeight;
    place(IDC_PANE_REASON, reason);
    PlacePaneToolTip();
}

void SearchWindow::OnSearch() {
    const std::string failure = m_model.Search(SearchWindowModel::Clock::now());
    RefreshList();
    ScheduleTick();
    ShowBarText();
    if (!failure.empty()) {
        ShowMessage(Wide(failure), MB_OK | MB_ICONWARNING);
    }
}

void SearchWindow::OnPreview() {
    const int row = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
    if (row < 0 || row >= m_model.List().RowCount()) {
        return;  // no current row: nothing
    }
    MakeRowCurrent(row);
    PlayPane(m_currentIp);
}

void SearchWindow::PlayPane(const std::string& ip) {
    std::string reason;
    m_playingHost.clear();
    if (!ParseIpv4Strict(ip)) {
        reason = "No picture: the camera reports no valid IP address";
    } else {
        // A login entered for this address goes to it, and to it only.
        const auto login = m_logins.find(ip);
        const std::string location = StreamLocationFor(ip);
        reason = m_options.player->Play(GetDlgItem(m_hwnd, IDC_VIDEO_PANE), location,
                                        login != m_logins.end() ? &login->second : nullptr);
        m_playingLocation = reason.empty() ? location : std::string();
        m_playingHost = reason.empty() ? ip : std::string();
    }
    // Stream Info reads the counters once a second while something plays;
    // the tooltip follows them from the first reading.
    SetPaneToolTip({});
    if (m_playingLocation.empty()) {
        KillTimer(m_hwnd, kFactsTimer);
    } else {
        SetTimer(m_hwnd, kFactsTimer, kFactsIntervalMs, nullptr);
    }
    ShowPaneReason(reason);
}

void SearchWindow::ShowPaneReason(const std::string& reason) {
    SetDlgItemTextW(m_hwnd, IDC_PANE_REASON, Wide(EscapeControls(reason)).c_str());
}

void SearchWindow::OnStreamEvent(unsigned player, StreamEvent event) {
    const std::optional<std::string> line = m_options.player->TakeEvent(player, event);
    if (!line) {
        return;  // a player replaced since, or nothing new
    }
    ShowPaneReason(*line);
    if (event == StreamEvent::Unauthorized) {
        AskPaneLogin();
    }
}

void SearchWindow::AskPaneLogin() {
    // One prompt at a time; the host is the dotted quad the player
    // connected to, and what is entered goes to it only.
    if (m_paneLoginOpen || m_playingHost.empty()) {
        return;
    }
    const std::string host = m_playingHost;
    const auto known = m_logins.find(host);
    m_paneLoginOpen = true;
    const DetailsWindow::AskLogin ask = m_options.askLogin ? m_options.askLogin : AskLoginDialog;
    const std::optional<OnvifLogin> login =
        ask(m_hwnd, host, known != m_logins.end() ? known->second.user : "");
    m_paneLoginOpen = false;
    if (!login) {
        return;  // cancelled: the reason stays
    }
    m_logins[host] = *login;
    // Open the camera again with it, unless another one plays now.
    if (m_playingHost == host) {
        PlayPane(host);
    }
}

void SearchWindow::ApplySettings(const NetSettingsRecord& record) {
    // A change of one camera, through the engine: the checks of a batch (an
    // address in use is named, the operator decides), the rollback plan, the
    // record, its confirmation.
    const PreparedChange change = m_model.PrepareChange(record);
    if (!change.refusal.empty()) {
        ShowMessage(Wide(change.refusal), MB_OK | MB_ICONWARNING);
        return;
    }
    if (!change.question.empty() && Ask(Wide(change.question)) != IDYES) {
        return;
    }
    ChangeRuns::Started started = m_model.SendChange(change, true, SearchWindowModel::Clock::now());
    if (!started.failure.empty()) {
        // No way back could be written: nothing went out. The operator
        // decides whether to send without one.
        if (Ask(L"Nothing was sent: " + Wide(EscapeControls(started.failure)) +
                L".\n\nSend anyway, without a rollback plan?") != IDYES) {
            ShowBarText();
            return;
        }
        started = m_model.SendChange(change, false, SearchWindowModel::Clock::now());
    }
    ScheduleTick();
    ShowBarText();
    ShowMessage(Wide(started.outcome), MB_OK | MB_ICONINFORMATION);
}

int SearchWindow::Ask(const std::wstring& question) {
    if (m_options.messageBox) {
        return m_options.messageBox(m_hwnd, question, MB_YESNO | MB_ICONQUESTION);
    }
    return MessageBoxW(m_hwnd, question.c_str(), ProgramName().c_str(), MB_YESNO | MB_ICONQUESTION);
}

void SearchWindow::OnSetting() {
    if (m_model.List().DeviceCount() != 0) {
        OpenSettings(m_model.List().SelectedRow());
    }
}

void SearchWindow::MakeRowCurrent(int row) {
    if (row < 0 || row >= m_model.List().RowCount()) {
        return;
    }
    std::string ip = m_model.List().CellText(row, kColIp);
    if (ip.size() > kCurrentIpMaxLength) {
        ip.resize(kCurrentIpMaxLength);
    }
    m_currentIp = std::move(ip);
    m_model.List().SetSelectedRow(row);
}

void SearchWindow::OpenSettings(int row) {
    if (row < 0 || row >= m_model.List().RowCount()) {
        return;
    }
    auto* window = new SettingWindow(*this, m_model.List(), row);
    m_settingWindows.push_back(window);
    window->Create(m_hwnd);
}

void SearchWindow::OnColumnClick(int column) {
    // The selected rows and the focused one stay selected where they move to.
    std::vector<std::string> selected;
    for (int row = ListView_GetNextItem(m_list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(m_list, row, LVNI_SELECTED)) {
        selected.push_back(m_model.List().CellText(row, kColDevId));
    }
    const int focused = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
    const std::string focusedId =
        focused >= 0 ? m_model.List().CellText(focused, kColDevId) : std::string();

    m_model.ClickColumn(column);

    ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (const std::string& id : selected) {
        const int row = m_model.List().FindRow(id);
        if (row >= 0) {
            ListView_SetItemState(m_list, row, LVIS_SELECTED, LVIS_SELECTED);
        }
    }
    if (!focusedId.empty()) {
        const int row = m_model.List().FindRow(focusedId);
        if (row >= 0) {
            ListView_SetItemState(m_list, row, LVIS_FOCUSED, LVIS_FOCUSED);
        }
    }
    InvalidateRect(m_list, nullptr, FALSE);
}

void SearchWindow::TakeReplies() {
    // A time-boxed slice: a flood of replies does not stall the window; what
    // is left waits for the next slice.
    const auto start = std::chrono::steady_clock::now();
    m_model.TakeOnvif();
    while (m_model.PendingReplies() > 0 &&
           std::chrono::steady_clock::now() - start < kSliceBudget) {
        m_model.TakeReplies(kRepliesPerChunk);
    }
    RefreshList();
    ShowBarText();
    if (m_model.PendingReplies() > 0) {
        PostMessageW(m_hwnd, kRepliesWaiting, 0, 0);
    }
}

void SearchWindow::RefreshList() {
    const int rows = m_model.List().RowCount();
    if (ListView_GetItemCount(m_list) != rows) {
        ListView_SetItemCountEx(m_list, rows, LVSICF_NOSCROLL);
    }
    InvalidateRect(m_list, nullptr, FALSE);
}

void SearchWindow::ScheduleTick() {
    const auto due = m_model.NextDue();
    if (!due) {
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*due - SearchWindowModel::Clock::now());
    SetTimer(m_hwnd, kTickTimer,
             static_cast<UINT>(std::max<long long>(USER_TIMER_MINIMUM, wait.count())), nullptr);
}

int SearchWindow::SelectedCount() const {
    return static_cast<int>(ListView_GetSelectedCount(m_list));
}

void SearchWindow::ShowBarText() {
    const std::wstring text = Wide(m_model.BarText(SelectedCount()));
    if (text != m_barText) {
        m_barText = text;
        SetWindowTextW(m_progress, m_barText.c_str());
    }
}

std::vector<int> SearchWindow::SelectedRows() const {
    std::vector<int> rows;
    for (int row = ListView_GetNextItem(m_list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(m_list, row, LVNI_SELECTED)) {
        rows.push_back(row);
    }
    return rows;
}

void SearchWindow::ShowRowMenu(POINT at) {
    if (at.x == -1 && at.y == -1) {
        // The Menu key or Shift+F10: at the focused row, else the list's corner.
        RECT place{};
        const int row = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED);
        if (row < 0 || !ListView_GetItemRect(m_list, row, &place, LVIR_LABEL)) {
            GetClientRect(m_list, &place);
        }
        at = {place.left + 4, place.bottom};
        ClientToScreen(m_list, &at);
    }
    HMENU menu = CreatePopupMenu();
    const auto items =
        RowMenuItems(RowMenuFactsOf(m_model.List(), SelectedRows(), m_model.Watching()),
                     [](RowCommand) { return true; });
    for (const RowMenuItem& item : items) {
        if (item.separatorBefore) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        }
        UINT flags = MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED);
        flags |= item.checked ? MF_CHECKED : MF_UNCHECKED;
        AppendMenuW(menu, flags, kRowCommandBase + static_cast<UINT>(item.command),
                    Wide(item.text).c_str());
    }
    const UINT chosen =
        m_options.trackMenu
            ? m_options.trackMenu(menu, at)
            : static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y,
                                                 m_hwnd, nullptr));
    DestroyMenu(menu);
    if (chosen != 0) {
        SendMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    }
}

void SearchWindow::RunRowCommand(RowCommand command) {
    const std::vector<int> rows = SelectedRows();
    switch (command) {
        case RowCommand::Settings:
            if (!rows.empty()) {
                // The focused row when it is selected, else the first selected.
                const int focused = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED | LVNI_SELECTED);
                OpenSettings(focused >= 0 ? focused : rows.front());
            }
            break;
        case RowCommand::Preview:
            OnPreview();
            break;
        case RowCommand::StreamInfo:
            ShowStreamInfo();
            break;
        case RowCommand::SaveSnapshot:
            SaveSnapshot();
            break;
        case RowCommand::OpenWebPage:
            OpenWebPages();
            break;
        case RowCommand::DeviceDetails:
            OpenDetails();
            break;
        case RowCommand::Copy:
            CopyText(RowsClipboardText(m_model.List(), rows));
            break;
        case RowCommand::CopyIp:
            CopyText(ColumnClipboardText(m_model.List(), rows, kColIp));
            break;
        case RowCommand::CopyMac:
            CopyText(ColumnClipboardText(m_model.List(), rows, kColMac));
            break;
        case RowCommand::KeepWatching:
            ToggleWatching();
            break;
        case RowCommand::SaveList:
            SaveList();
            break;
        case RowCommand::Diagnose:
            OpenDiagnosis();
            break;
        case RowCommand::AssignAddresses:
            OpenAssign();
            break;
        case RowCommand::ApplyPlan:
            ApplyPlan();
            break;
        case RowCommand::ShowGone:
            ShowGoneRows();
            break;
        case RowCommand::FoundVia:
            break;
    }
}

void SearchWindow::ShowGoneRows() {
    const std::vector<int> gone = GoneRows(m_model.List());
    if (gone.empty()) {
        return;
    }
    ListView_SetItemState(m_list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    for (const int row : gone) {
        ListView_SetItemState(m_list, row, LVIS_SELECTED, LVIS_SELECTED);
    }
    ListView_SetItemState(m_list, gone.front(), LVIS_FOCUSED, LVIS_FOCUSED);
    ListView_EnsureVisible(m_list, gone.front(), FALSE);
}

void SearchWindow::CopyText(const std::string& text) {
    if (text.empty() || !OpenClipboard(m_hwnd)) {
        return;
    }
    EmptyClipboard();
    // Line ends as Windows programs paste them.
    std::wstring wide;
    for (wchar_t c : Wide(text)) {
        if (c == L'\n') {
            wide += L'\r';
        }
        wide += c;
    }
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        std::copy_n(wide.c_str(), wide.size() + 1, static_cast<wchar_t*>(GlobalLock(memory)));
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

void SearchWindow::OpenWebPages() {
    int opened = 0;
    for (int row : SelectedRows()) {
        if (opened == kMaxWebPages) {
            break;
        }
        const std::string url = WebPageAddress(m_model.List().CellText(row, kColIp),
                                               m_model.List().CellText(row, kColWebPort));
        if (url.empty()) {
            continue;
        }
        ++opened;
        const std::wstring wide = Wide(url);
        const bool started =
            m_options.openUrl
                ? m_options.openUrl(wide)
                : reinterpret_cast<INT_PTR>(ShellExecuteW(m_hwnd, L"open", wide.c_str(), nullptr,
                                                          nullptr, SW_SHOWNORMAL)) > 32;
        // Without a browser nothing opens: the operator is told once.
        if (!started) {
            ShowMessage(L"Open Web Page: no web browser could be started for " + wide +
                            L". Open it in a browser by hand, or set one as the desktop's default.",
                        MB_OK | MB_ICONWARNING);
            return;
        }
    }
}

void SearchWindow::SaveList() {
    std::wstring path;
    if (m_options.chooseSaveFile) {
        path = m_options.chooseSaveFile(m_hwnd);
    } else {
        path = AskFileName(m_hwnd, {L"Save List As", L"CSV (*.csv)\0*.csv\0JSON (*.json)\0*.json\0",
                                    L"cameras.csv", L"csv"});
    }
    if (path.empty()) {
        return;
    }
    const std::string error =
        SaveDeviceList(m_model.List(), std::filesystem::path(path), m_model.HostInterfaces());
    if (!error.empty()) {
        ShowMessage(Wide(error), MB_OK | MB_ICONWARNING);
    }
}

void SearchWindow::ToggleWatching() {
    const std::string failure =
        m_model.SetWatching(!m_model.Watching(), SearchWindowModel::Clock::now());
    if (HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
        CheckMenuItem(menu, kKeepWatchingCommandId,
                      MF_BYCOMMAND | (m_model.Watching() ? MF_CHECKED : MF_UNCHECKED));
    }
    RefreshList();
    ScheduleTick();
    ShowBarText();
    if (!failure.empty()) {
        ShowMessage(Wide(failure), MB_OK | MB_ICONWARNING);
    }
}

void SearchWindow::OpenDiagnosis() {
    auto window = std::make_unique<DiagnoseWindow>(
        m_model.DiagnosisLines(), [this](const std::string& text) { CopyText(text); });
    if (window->Create(m_hwnd)) {
        m_diagnoseWindows.push_back(std::move(window));
    }
}

void SearchWindow::OpenAssign() {
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    auto window = std::make_unique<AssignWindow>(
        m_model.AssignCameras(rows), m_model.Surroundings(rows), &m_model.Changes().Reservations(),
        [this](std::vector<AssignOrder> orders, ChangeRuns::BatchSinks sinks) {
            StartBatch(std::move(orders), std::move(sinks));
        },
        m_options.chooseExportFile);
    if (window->Create(m_hwnd)) {
        window->RememberFieldsIn(AssignMemoryFile(m_model.StateDirectory()));
        m_assignWindows.push_back(std::move(window));
    }
}

void SearchWindow::StartBatch(std::vector<AssignOrder> orders, ChangeRuns::BatchSinks sinks) {
    m_model.SendBatch(std::move(orders), SearchWindowModel::Clock::now(), std::move(sinks));
    RefreshList();
    ScheduleTick();
    ShowBarText();
}

void SearchWindow::ApplyPlan() {
    std::wstring path;
    if (m_options.choosePlanFile) {
        path = m_options.choosePlanFile(m_hwnd);
    } else {
        path = AskFileName(m_hwnd, {L"Apply Plan", L"CSV (*.csv)\0*.csv\0All files (*.*)\0*.*\0",
                                    L"", nullptr, false});
    }
    if (path.empty()) {
        return;
    }
    const std::filesystem::path file(path);
    SearchWindowModel::OpenedPlan opened = m_model.OpenPlan(file);
    if (!opened.error.empty()) {
        ShowMessage(Wide(opened.error), MB_OK | MB_ICONWARNING);
        return;
    }
    auto window = std::make_unique<AssignWindow>(
        std::move(opened.plan), Utf8(file.filename().wstring()), std::move(opened.surroundings),
        &m_model.Changes().Reservations(),
        [this](std::vector<AssignOrder> orders, ChangeRuns::BatchSinks sinks) {
            StartBatch(std::move(orders), std::move(sinks));
        },
        m_options.chooseExportFile);
    if (window->Create(m_hwnd)) {
        m_assignWindows.push_back(std::move(window));
    }
}

bool SearchWindow::MayClose() {
    ChangeRuns& changes = m_model.Changes();
    const std::string question = CloseWithRunsQuestion(changes.Unsent(), changes.Waiting());
    if (question.empty()) {
        return true;
    }
    if (Ask(Wide(question)) != IDYES) {
        return false;
    }
    changes.StopSending(SearchWindowModel::Clock::now());
    return true;
}

void SearchWindow::OpenDetails() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    // The focused row when it is selected, else the first selected.
    const int focused = ListView_GetNextItem(m_list, -1, LVNI_FOCUSED | LVNI_SELECTED);
    MakeRowCurrent(focused >= 0 ? focused : rows.front());
    auto window = std::make_unique<DetailsWindow>(m_currentIp, m_logins, m_options.queryDetails,
                                                  m_options.askLogin);
    if (window->Create(m_hwnd)) {
        m_detailsWindows.push_back(std::move(window));
    }
}

void SearchWindow::ShowStreamInfo() {
    // Not modal, as on Linux: one window, read again every second while
    // it is shown.
    if (m_infoWindow == nullptr) {
        m_infoWindow = CreateModeless(IDD_STREAM_INFO, m_hwnd, &StreamInfoProc, nullptr);
        if (m_infoWindow == nullptr) {
            return;
        }
    }
    m_options.player->Sample();  // the figures as of now
    m_infoText.clear();
    ShowWindow(m_infoWindow, SW_SHOW);
    RefreshStreamInfo();
    SetForegroundWindow(m_infoWindow);
    SetTimer(m_hwnd, kInfoTimer, kFactsIntervalMs, nullptr);
}

void SearchWindow::RefreshStreamInfo() {
    if (m_infoWindow == nullptr || !IsWindowVisible(m_infoWindow)) {
        KillTimer(m_hwnd, kInfoTimer);
        return;
    }
    // Set only when it changed, so that a selection in it stays.
    std::string text = m_options.player->StreamInfoText();
    if (text != m_infoText) {
        m_infoText = std::move(text);
        SetDlgItemTextW(m_infoWindow, IDC_INFO_TEXT, WideLines(m_infoText).c_str());
    }
}

std::string SearchWindow::StreamInfoShown() const {
    if (m_infoWindow == nullptr || !IsWindowVisible(m_infoWindow)) {
        return {};
    }
    const int length = GetWindowTextLengthW(GetDlgItem(m_infoWindow, IDC_INFO_TEXT));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetDlgItemTextW(m_infoWindow, IDC_INFO_TEXT, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    std::string plain;
    for (const char c : Utf8(text)) {
        if (c != '\r') {
            plain += c;
        }
    }
    return plain;
}

void SearchWindow::SaveSnapshot() {
    if (!m_snapshotPath.empty()) {
        ShowMessage(L"A snapshot is still being taken; try again in a moment",
                    MB_OK | MB_ICONWARNING);
        return;
    }
    // HOST-YYYYMMDD-HHMMSS.png in the Pictures folder, else the working one.
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::tm local{};
    local.tm_year = now.wYear - 1900;
    local.tm_mon = now.wMonth - 1;
    local.tm_mday = now.wDay;
    local.tm_hour = now.wHour;
    local.tm_min = now.wMinute;
    local.tm_sec = now.wSecond;
    std::filesystem::path proposed = Wide(SnapshotFileName(m_playingLocation, local));
    PWSTR pictures = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &pictures) == S_OK) {
        proposed = std::filesystem::path(pictures) / proposed;
    }
    CoTaskMemFree(pictures);
    std::wstring path;
    if (m_options.chooseSnapshotFile) {
        path = m_options.chooseSnapshotFile(m_hwnd, proposed.wstring());
    } else {
        path = AskFileName(m_hwnd,
                           {L"Save Snapshot", L"PNG (*.png)\0*.png\0", proposed.wstring(), L"png"});
    }
    if (path.empty()) {
        return;  // cancelled
    }
    if (!std::filesystem::path(path).has_extension()) {
        path += L".png";
    }
    const unsigned request = ++m_snapshotRequest;
    const std::string reason = m_options.player->SaveSnapshot(
        Utf8(path), [target = m_hwnd, request](const std::string& file) {
            // libvlc's thread: the answer goes to the window's.
            auto* copy = new std::string(file);
            if (!PostMessageW(target, kSnapshotAnswer, request, reinterpret_cast<LPARAM>(copy))) {
                delete copy;
            }
        });
    if (!reason.empty()) {
        ShowMessage(Wide(EscapeControls(reason)), MB_OK | MB_ICONWARNING);
        return;
    }
    m_snapshotPath = path;
    SetTimer(m_hwnd, kSnapshotTimer, kSnapshotLimitMs, nullptr);
}

void SearchWindow::OnSnapshotAnswer(unsigned request, const std::string& file) {
    if (request != m_snapshotRequest || m_snapshotPath.empty()) {
        return;  // one given up on
    }
    // The library names the path it was given, or nothing when the player
    // had no picture to write.
    FinishSnapshot(file.empty()
                       ? Wide(NoPictureYetText("the stream has no picture to keep at the moment"))
                       : std::wstring());
}

void SearchWindow::FinishSnapshot(const std::wstring& failure) {
    KillTimer(m_hwnd, kSnapshotTimer);
    const std::wstring path = std::exchange(m_snapshotPath, std::wstring());
    if (path.empty()) {
        return;
    }
    if (failure.empty()) {
        ShowMessage(L"Snapshot saved: " + std::filesystem::path(path).make_preferred().wstring(),
                    MB_OK | MB_ICONINFORMATION, L"Save Snapshot");
    } else {
        ShowMessage(failure, MB_OK | MB_ICONWARNING);
    }
}

}  // namespace qdipc::win
