// The Windows window with many cameras: the replies are handed to the
// window's queue as the receive worker hands them, and the clock runs until
// the virtual list shows them all and has painted; then a header click sorts
// by IP (the core's sort) and the list repaints. Prints the times and the
// process's memory. Nothing goes on the network.

#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ui/win/SearchWindow.h"
#include "ui/win/WinResources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double PrivateMiB() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    // Wine fills the working set, not the private usage.
    const SIZE_T bytes =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.WorkingSetSize;
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// A reply of camera n: D4 ED CB B3, device ID, IP, MAC, name, mask, gateway.
qdipc::AcceptedReply Reply(std::uint32_t n) {
    std::uint8_t bytes[380] = {0xD4, 0xED, 0xCB, 0xB3};
    const std::uint8_t id[8] = {0x00,
                                0x11,
                                0xaa,
                                0xbb,
                                static_cast<std::uint8_t>(n >> 24),
                                static_cast<std::uint8_t>(n >> 16),
                                static_cast<std::uint8_t>(n >> 8),
                                static_cast<std::uint8_t>(n)};
    std::memcpy(bytes + 23, id, 8);
    const std::string ip = "10." + std::to_string((n >> 16) & 0xFF) + "." +
                           std::to_string((n >> 8) & 0xFF) + "." + std::to_string(n & 0xFF);
    std::memcpy(bytes + 39, ip.data(), ip.size());
    std::memcpy(bytes + 69, id + 2, 6);
    std::memcpy(bytes + 76, "255.0.0.0", 9);
    const std::string name = "cam" + std::to_string(n);
    std::memcpy(bytes + 106, name.data(), name.size());
    std::memcpy(bytes + 364, "10.0.0.254", 10);
    qdipc::AcceptedReply reply;
    reply.reply = qdipc::DeviceInfoReply(bytes, sizeof(bytes));
    return reply;
}

void Run(int rows) {
    qdipc::win::WinWindowOptions options;
    options.config.interfaces = [] { return std::vector<qdipc::Ipv4Interface>{}; };
    qdipc::win::SearchWindow window(options);
    if (!window.Create()) {
        std::printf("the window could not be created\n");
        return;
    }
    HWND list = GetDlgItem(window.Handle(), IDC_DEVICE_LIST);
    Pump();
    const double before = PrivateMiB();
    std::vector<qdipc::AcceptedReply> batch;
    batch.reserve(static_cast<std::size_t>(rows));
    for (int n = 0; n < rows; ++n) {
        // Arriving in an order that is not the IP order.
        batch.push_back(Reply(static_cast<std::uint32_t>((n * 7919) % rows)));
    }
    const auto start = Clock::now();
    window.Model().Queue().Push(batch);
    while (ListView_GetItemCount(list) < rows) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        Pump();
    }
    UpdateWindow(list);
    const auto shown = Clock::now();

    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    NMHEADERW click{};
    click.hdr.hwndFrom = header;
    click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(header));
    click.hdr.code = HDN_ITEMCLICKW;
    click.iItem = 3;  // "IP"
    const auto sortStart = Clock::now();
    SendMessageW(list, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
    UpdateWindow(list);
    const auto sorted = Clock::now();
    wchar_t first[32] = {};
    ListView_GetItemText(list, 0, 3, first, 32);

    std::printf(
        "%7d rows: replies to rows shown %8.1f ms, sort by IP %7.1f ms (first %ls), "
        "memory +%.1f MiB (%.1f MiB in all)\n",
        rows, Ms(shown - start), Ms(sorted - sortStart), first, PrivateMiB() - before,
        PrivateMiB());
}

}  // namespace

int main() {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    for (int rows : {10'000, 100'000}) {
        Run(rows);
    }
    return 0;
}
