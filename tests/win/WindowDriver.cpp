// Drives the Windows window "Search Tool" from another process, as a person
// and a screen reader reach it: the rows read with LVM_GETITEMTEXTW through a
// buffer allocated in the window's process, the IP header and a row clicked
// with real mouse input (SendInput), Esc typed with real keyboard input, the
// buttons pressed with BM_CLICK and the settings window's IP set with
// WM_SETTEXT. One command a run; what it read is printed as one JSON object
// on standard output; every wait is bounded. Used by the e2e scenario
// wine-window (tests/e2e/e2e_test.py).
//
//     win_window_driver dpi N            the prefix's DPI for programs started next
//     win_window_driver search COUNT     presses Search, waits for COUNT rows
//     win_window_driver rows             the rows as shown
//     win_window_driver click-header COLUMN
//     win_window_driver modify ROW IP    double-clicks ROW, sets IP, presses Modify
//     win_window_driver bar PREFIX       waits for the progress bar's text
//     win_window_driver measure          sizes, row height, captions' extents
//     win_window_driver esc              activates the window, types Esc

#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/win/WinResources.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr UINT kSendTimeoutMs = 5000;

const Clock::time_point g_started = Clock::now();

// A step done, on standard error with the time since the start (the test
// shows it when a step fails or runs long).
void Note(const std::string& step) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_started).count();
    std::fprintf(stderr, "[%lld ms] %s\n", static_cast<long long>(ms), step.c_str());
    std::fflush(stderr);
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "win_window_driver: %s\n", message.c_str());
    std::fflush(stderr);
    std::exit(1);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string Json(const std::wstring& wide) {
    std::string out = "\"";
    for (const char c : Utf8(wide)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Polls until pred holds; false when the limit passed first.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() >= deadline) {
            return pred();
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
        Fail("the window did not answer message " + std::to_string(message) + " within 5 s");
    }
    return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    Send(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Memory in the window's process, for the messages whose pointers the list
// and the header read or write there.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, std::size_t size) : m_size(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_process =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process == nullptr) {
            Fail("OpenProcess failed for the window's process");
        }
        m_base = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (m_base == nullptr) {
            Fail("VirtualAllocEx failed in the window's process");
        }
    }
    ~RemoteBuffer() {
        VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE);
        CloseHandle(m_process);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    char* At(std::size_t offset) const { return static_cast<char*>(m_base) + offset; }
    void Write(std::size_t offset, const void* data, std::size_t size) const {
        SIZE_T done = 0;
        if (offset + size > m_size ||
            !WriteProcessMemory(m_process, At(offset), data, size, &done) || done != size) {
            Fail("WriteProcessMemory failed");
        }
    }
    void Read(std::size_t offset, void* data, std::size_t size) const {
        SIZE_T done = 0;
        if (offset + size > m_size ||
            !ReadProcessMemory(m_process, At(offset), data, size, &done) || done != size) {
            Fail("ReadProcessMemory failed");
        }
    }

private:
    std::size_t m_size;
    HANDLE m_process = nullptr;
    void* m_base = nullptr;
};

HWND MainWindow(std::chrono::milliseconds limit = 60s) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = FindWindowW(L"#32770", L"Search Tool");
            return found != nullptr && IsWindowVisible(found);
        },
        limit);
    if (found == nullptr) {
        Fail("no window \"Search Tool\" appeared within " + std::to_string(limit.count()) + " ms");
    }
    return found;
}

HWND Control(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        Fail("control " + std::to_string(id) + " is missing");
    }
    return control;
}

// Every cell through one buffer in the window's process: the items written
// at once, one LVM_GETITEMTEXTW per cell, the texts read back at once.
std::vector<std::vector<std::wstring>> ReadRows(HWND list) {
    const int rows = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0));
    std::vector<std::vector<std::wstring>> out;
    if (rows <= 0 || columns <= 0) {
        return out;
    }
    constexpr std::size_t kChars = 256;
    const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    const std::size_t textsAt = cells * sizeof(LVITEMW);
    RemoteBuffer remote(list, textsAt + cells * kChars * sizeof(wchar_t));
    std::vector<LVITEMW> items(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        items[i].mask = LVIF_TEXT;
        items[i].iItem = static_cast<int>(i) / columns;
        items[i].iSubItem = static_cast<int>(i) % columns;
        items[i].pszText =
            reinterpret_cast<LPWSTR>(remote.At(textsAt + i * kChars * sizeof(wchar_t)));
        items[i].cchTextMax = static_cast<int>(kChars);
    }
    remote.Write(0, items.data(), textsAt);
    std::vector<std::size_t> lengths(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        lengths[i] = static_cast<std::size_t>(
            Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(items[i].iItem),
                 reinterpret_cast<LPARAM>(remote.At(i * sizeof(LVITEMW)))));
    }
    std::vector<wchar_t> texts(cells * kChars);
    remote.Read(textsAt, texts.data(), texts.size() * sizeof(wchar_t));
    out.assign(static_cast<std::size_t>(rows), {});
    for (std::size_t i = 0; i < cells; ++i) {
        out[i / static_cast<std::size_t>(columns)].emplace_back(texts.data() + i * kChars,
                                                                std::min(lengths[i], kChars - 1));
    }
    return out;
}

std::string RowsJson(const std::vector<std::vector<std::wstring>>& rows) {
    std::string out = "[";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        out += r == 0 ? "[" : ",\n [";
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            out += (c == 0 ? "" : ",") + Json(rows[r][c]);
        }
        out += "]";
    }
    return out + "]";
}

// A rectangle a list or header message writes in the window's process; in
// holds what the message reads from it (the part, the subitem).
RECT RemoteRect(HWND control, UINT message, WPARAM wParam, RECT in) {
    RemoteBuffer remote(control, sizeof(RECT));
    remote.Write(0, &in, sizeof(in));
    if (Send(control, message, wParam, reinterpret_cast<LPARAM>(remote.At(0))) == 0) {
        Fail("message " + std::to_string(message) + " found no rectangle");
    }
    RECT out{};
    remote.Read(0, &out, sizeof(out));
    return out;
}

// Real mouse input: the pointer moved to a point of a control (client
// coordinates), then `clicks` left clicks there.
void MouseClick(HWND control, POINT at, int clicks) {
    ClientToScreen(control, &at);
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<INPUT> inputs;
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(at.x, 65535, width - 1);
    move.mi.dy = MulDiv(at.y, 65535, height - 1);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs.push_back(move);
    for (int i = 0; i < clicks; ++i) {
        INPUT press = move;
        press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
        INPUT release = move;
        release.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
        inputs.push_back(press);
        inputs.push_back(release);
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) !=
        inputs.size()) {
        Fail("SendInput did not take the mouse input");
    }
    POINT cursor{};
    WaitFor([&] { return GetCursorPos(&cursor) && cursor.x == at.x && cursor.y == at.y; }, 2s);
}

void Key(WORD key) {
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = key;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (SendInput(2, inputs, sizeof(INPUT)) != 2) {
        Fail("SendInput did not take the key");
    }
}

// The list's rows once two readings 300 ms apart agree (the window handles
// the input it was given in between).
std::vector<std::vector<std::wstring>> SettledRows(HWND list) {
    auto rows = ReadRows(list);
    Note("rows read");
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(300ms);
        auto again = ReadRows(list);
        if (again == rows) {
            break;
        }
        rows = std::move(again);
    }
    return rows;
}

POINT CenterOf(const RECT& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

RECT SubItemRect(HWND list, int row, int column) {
    RECT in{};
    in.top = column;
    in.left = LVIR_BOUNDS;
    return RemoteRect(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), in);
}

// Visible dialogs of the process that owns `main`, other than `main`.
std::vector<HWND> OtherDialogs(HWND main) {
    struct Search {
        HWND main;
        DWORD pid;
        std::vector<HWND> found;
    } search{main, 0, {}};
    GetWindowThreadProcessId(main, &search.pid);
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (window != s->main && pid == s->pid && IsWindowVisible(window) &&
                ClassOf(window) == L"#32770") {
                s->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitDialog(HWND main, const std::function<bool(HWND)>& which, const std::string& what) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND dialog : OtherDialogs(main)) {
                if (which(dialog)) {
                    found = dialog;
                    return true;
                }
            }
            return false;
        },
        10s);
    if (found == nullptr) {
        Fail(what + " did not appear within 10 s");
    }
    return found;
}

int CommandDpi(int dpi) {
    for (const wchar_t* key : {L"Control Panel\\Desktop", L"Software\\Wine\\Fonts"}) {
        const DWORD value = static_cast<DWORD>(dpi);
        if (RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels", REG_DWORD, &value,
                            sizeof(value)) != ERROR_SUCCESS) {
            Fail("could not set LogPixels");
        }
    }
    std::printf("{\"dpi\": %d}\n", dpi);
    return 0;
}

int CommandSearch(int count) {
    HWND main = MainWindow();
    HWND list = Control(main, IDC_DEVICE_LIST);
    Note("window found");
    PostMessageW(Control(main, IDC_SEARCH), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return Send(list, LVM_GETITEMCOUNT, 0, 0) >= count; }, 10s)) {
        Fail("the list has " + std::to_string(Send(list, LVM_GETITEMCOUNT, 0, 0)) +
             " rows 10 s after Search, expected " + std::to_string(count));
    }
    Note("rows listed");
    std::printf("{\"rows\": %s}\n", RowsJson(SettledRows(list)).c_str());
    return 0;
}

int CommandRows() {
    HWND main = MainWindow(5s);
    std::printf("{\"rows\": %s}\n", RowsJson(ReadRows(Control(main, IDC_DEVICE_LIST))).c_str());
    return 0;
}

int CommandClickHeader(int column) {
    HWND main = MainWindow(5s);
    HWND list = Control(main, IDC_DEVICE_LIST);
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    const auto before = ReadRows(list);
    MouseClick(header, CenterOf(RemoteRect(header, HDM_GETITEMRECT, column, {})), 1);
    // The window takes the click in its own time: the order is read once it
    // changed, or after 3 s when the click leaves it as it was.
    WaitFor([&] { return ReadRows(list) != before; }, 3s);
    std::printf("{\"rows\": %s}\n", RowsJson(SettledRows(list)).c_str());
    return 0;
}

int CommandModify(int row, const std::wstring& ip) {
    HWND main = MainWindow(5s);
    HWND list = Control(main, IDC_DEVICE_LIST);
    const std::wstring shownIp = ReadRows(list).at(static_cast<std::size_t>(row)).at(3);
    MouseClick(list, CenterOf(SubItemRect(list, row, 3)), 2);
    const std::wstring title = std::wstring(L"Set\uFF1A") + shownIp;
    Note("row double-clicked");
    HWND settings = WaitDialog(
        main, [&](HWND dialog) { return TextOf(dialog) == title; },
        "the settings window \"" + Utf8(title) + "\"");
    Send(Control(settings, IDC_SET_IP), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(ip.c_str()));
    std::string fields;
    for (const auto& [name, id] : {std::pair{"ip", IDC_SET_IP},
                                   {"mask", IDC_SET_MASK},
                                   {"gateway", IDC_SET_GATEWAY},
                                   {"mac", IDC_SET_MAC}}) {
        fields += std::string(", \"") + name + "\": " + Json(TextOf(Control(settings, id)));
    }
    std::wstring mode;
    for (const auto& [name, id] :
         {std::pair{L"static", IDC_SET_STATIC}, {L"dhcp", IDC_SET_DHCP}, {L"adsl", IDC_SET_ADSL}}) {
        if (Send(Control(settings, id), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            mode = name;
        }
    }
    // Posted: the click shows a message box, whose loop would hold a sent one.
    PostMessageW(Control(settings, IDC_SET_MODIFY), BM_CLICK, 0, 0);
    Note("Modify pressed");
    HWND box = WaitDialog(
        main, [&](HWND dialog) { return dialog != settings && GetDlgItem(dialog, 0xFFFF); },
        "the box after Modify");
    const std::wstring said = TextOf(GetDlgItem(box, 0xFFFF));
    const std::wstring caption = TextOf(box);
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageW(ok != nullptr ? ok : box, ok != nullptr ? BM_CLICK : WM_CLOSE, 0, 0);
    if (!WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5s)) {
        Fail("the box after Modify did not close");
    }
    std::printf("{\"title\": %s, \"mode\": %s%s, \"box\": %s, \"box_caption\": %s}\n",
                Json(title).c_str(), Json(mode).c_str(), fields.c_str(), Json(said).c_str(),
                Json(caption).c_str());
    return 0;
}

int CommandBar(const std::wstring& prefix) {
    HWND main = MainWindow(5s);
    HWND bar = Control(main, IDC_PROGRESS);
    std::wstring text;
    if (!WaitFor(
            [&] {
                text = TextOf(bar);
                return text.rfind(prefix, 0) == 0;
            },
            15s)) {
        Fail("the progress bar says \"" + Utf8(text) + "\" after 15 s, expected \"" + Utf8(prefix) +
             "…\"");
    }
    std::printf("{\"bar\": %s}\n", Json(text).c_str());
    return 0;
}

// What the DPI made of the window: its client size, the IP column's width,
// the list's row and header heights, and for each button its client size and
// the extent of its caption in the dialog's font, made here as the template
// names it (9-point SimSun) at the system DPI this process was given, the
// window's own: WM_GETFONT sent from another process gets no answer under
// Wine 8 (SendMessageTimeoutW fails), so the window's font handle is not read.
int CommandMeasure() {
    HWND main = MainWindow(5s);
    HWND list = Control(main, IDC_DEVICE_LIST);
    const UINT dpi = GetDpiForSystem();
    RECT client{};
    GetClientRect(main, &client);
    int rowHeight = 0;
    if (Send(list, LVM_GETITEMCOUNT, 0, 0) > 0) {
        RECT in{};
        in.left = LVIR_BOUNDS;
        const RECT row = RemoteRect(list, LVM_GETITEMRECT, 0, in);
        rowHeight = row.bottom - row.top;
    }
    HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
    RECT headerRect{};
    GetClientRect(header, &headerRect);
    const auto ipColumnWidth = static_cast<int>(Send(list, LVM_GETCOLUMNWIDTH, 3, 0));

    LOGFONTW face{};
    face.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    face.lfCharSet = GB2312_CHARSET;
    wcscpy_s(face.lfFaceName, L"\u5B8B\u4F53");
    HFONT font = CreateFontIndirectW(&face);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    std::string buttons;
    for (const int id : {IDC_SEARCH, IDC_PREVIEW, IDC_SETTING, IDC_TEST}) {
        HWND button = Control(main, id);
        const std::wstring caption = TextOf(button);
        RECT box{};
        GetClientRect(button, &box);
        SIZE extent{};
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
        char line[256];
        std::snprintf(line, sizeof(line),
                      "%s{\"caption\": %s, \"client\": [%ld, %ld], \"extent\": [%ld, %ld]}",
                      buttons.empty() ? "" : ", ", Json(caption).c_str(), box.right, box.bottom,
                      extent.cx, extent.cy);
        buttons += line;
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    std::printf(
        "{\"dpi\": %u, \"client\": [%ld, %ld], \"ip_column\": %d, \"row_height\": %d, "
        "\"header_height\": %ld, \"text_height\": %ld, \"buttons\": [%s]}\n",
        dpi, client.right, client.bottom, ipColumnWidth, rowHeight, headerRect.bottom,
        metrics.tmHeight, buttons.c_str());
    return 0;
}

int CommandEsc() {
    HWND main = MainWindow(5s);
    HWND list = Control(main, IDC_DEVICE_LIST);
    // A click on the first row makes the window the active one and gives the
    // list the focus; Esc then goes to it as a person's key would.
    if (Send(list, LVM_GETITEMCOUNT, 0, 0) > 0) {
        MouseClick(list, CenterOf(SubItemRect(list, 0, 3)), 1);
    } else {
        SetForegroundWindow(main);
    }
    if (!WaitFor([&] { return GetForegroundWindow() == main; }, 5s)) {
        Fail("the window did not become the active one");
    }
    Key(VK_ESCAPE);
    std::printf("{\"esc\": true}\n");
    return 0;
}

}  // namespace

int main() {
    // Screen coordinates as the window's own (it is per-monitor aware).
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const auto number = [&](int index) {
        if (argc <= index) {
            Fail("missing argument");
        }
        return _wtoi(argv[index]);
    };
    int code = 2;
    if (command == L"dpi") {
        code = CommandDpi(number(2));
    } else if (command == L"search") {
        code = CommandSearch(number(2));
    } else if (command == L"rows") {
        code = CommandRows();
    } else if (command == L"click-header") {
        code = CommandClickHeader(number(2));
    } else if (command == L"modify" && argc > 3) {
        code = CommandModify(number(2), argv[3]);
    } else if (command == L"bar" && argc > 2) {
        code = CommandBar(argv[2]);
    } else if (command == L"measure") {
        code = CommandMeasure();
    } else if (command == L"esc") {
        code = CommandEsc();
    } else {
        std::fprintf(stderr, "win_window_driver: unknown command\n");
    }
    std::fflush(stdout);
    return code;
}
