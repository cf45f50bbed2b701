// The Windows window with the player the program gives it (libvlc loaded as
// the program loads it): one camera row, Preview pressed, the pane's line
// once the stream's events came (a login asked for answered), the facts read
// for a second and a half, then Stream Info and Save Snapshot… from the row
// menu, and the window closed. Prints what the window showed, one
// "key: value" a line (newlines in a box as " | "), for vlc_runtime_wine.py.
// Nothing is sent: the row is put into the list directly.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "platform/VlcRuntime.h"
#include "tests/discovery/TestReplies.h"
#include "ui/win/SearchWindow.h"
#include "ui/win/VlcPreviewPlayer.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace {

std::string OneLine(const std::wstring& text) {
    std::string line;
    for (const char c : qdipc::win::Utf8(text)) {
        if (c != '\r') {
            line += c == '\n' ? std::string(" | ") : std::string(1, c);
        }
    }
    return line;
}

void Pump(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void RowCommand(HWND main, qdipc::RowCommand command) {
    SendMessageW(main, WM_COMMAND,
                 MAKEWPARAM(qdipc::win::kRowCommandBase + static_cast<UINT>(command), 0), 0);
}

}  // namespace

int main(int argc, char** argv) {
    // argv[1]: where the snapshot is asked to go.
    const std::wstring snapshot = argc > 1 ? qdipc::win::Wide(argv[1]) : L"";
    qdipc::win::WinWindowOptions options;
    // Nothing is connected to: a failed stream's cause is "refused".
    options.player = qdipc::win::MakePreviewPlayer(
        qdipc::LoadVlcRuntime(), [](std::uint32_t address, std::uint16_t port) {
            std::printf("reach: %08x %u\n", address, static_cast<unsigned>(port));
            return qdipc::TcpReach::Refused;
        });
    options.messageBox = [](HWND, const std::wstring& text, UINT) {
        std::printf("box: %s\n", OneLine(text).c_str());
        return IDOK;
    };
    // A camera that asks for a login gets "admin" and "pw".
    options.askLogin = [](HWND, const std::string& address, const std::string& known) {
        std::printf("login: %s [%s]\n", address.c_str(), known.c_str());
        return std::optional<qdipc::OnvifLogin>(qdipc::OnvifLogin{"admin", "pw"});
    };
    options.chooseSnapshotFile = [&](HWND, const std::wstring& proposed) {
        std::printf("proposed: %s\n", OneLine(proposed).c_str());
        return snapshot;
    };
    auto window = std::make_unique<qdipc::win::SearchWindow>(options);
    if (!window->Create()) {
        std::printf("window: not created (error %lu)\n", GetLastError());
        return 1;
    }
    HWND main = window->Handle();
    HWND list = GetDlgItem(main, IDC_DEVICE_LIST);
    qdipc::test::CameraReply camera = qdipc::test::Camera(21);
    camera.ip = "10.77.0.21";
    const qdipc::DeviceInfoReply reply = camera.Reply();
    window->Model().List().AddReply(&reply);
    ListView_SetItemCountEx(list, 1, 0);
    ListView_SetItemState(list, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);

    SendMessageW(GetDlgItem(main, IDC_PREVIEW), BM_CLICK, 0, 0);
    std::printf("pane: %s\n", OneLine(window->PaneReason()).c_str());
    // The stream's events come from the library's threads.
    Pump(std::chrono::milliseconds(400));
    std::printf("pane-after: %s\n", OneLine(window->PaneReason()).c_str());
    Pump(std::chrono::milliseconds(1100));  // the facts timer reads once a second
    RowCommand(main, qdipc::RowCommand::StreamInfo);
    std::printf("info: %s\n", OneLine(qdipc::win::Wide(window->StreamInfoShown())).c_str());
    std::printf("tip: %s\n", OneLine(window->PaneToolTip()).c_str());
    RowCommand(main, qdipc::RowCommand::SaveSnapshot);
    Pump(std::chrono::milliseconds(200));  // the snapshot's answer is posted

    // Hidden first (Stream Info too): Wine's own wait for a window to leave
    // the screen is not the window's closing.
    if (HWND info = window->StreamInfoWindow()) {
        SendMessageW(info, WM_COMMAND, IDCANCEL, 0);
    }
    ShowWindow(main, SW_HIDE);
    Pump(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    window.reset();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("close-ms: %lld\n", static_cast<long long>(took.count()));
    return 0;
}
