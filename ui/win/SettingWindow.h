#pragma once
// A settings window "Set：IP" (dialog template 129), modeless, owned by the
// main window, opened for one row. Modify checks the four fields by the
// core's rules (a box names the field and the reason, the window stays open
// with the text selected), builds the record and hands it to the main window,
// which sends it through the engine.

#include <windows.h>

#include <array>
#include <cstdint>

#include "settings/NetSettingsRecord.h"

namespace qdipc {
class DeviceList;
}

namespace qdipc::win {

class SearchWindow;

class SettingWindow {
public:
    SettingWindow(SearchWindow& main, const DeviceList& list, int row);
    ~SettingWindow();
    SettingWindow(const SettingWindow&) = delete;
    SettingWindow& operator=(const SettingWindow&) = delete;

    // Creates the window (owner: the main window), shows it, fills it.
    bool Create(HWND owner);
    HWND Handle() const { return m_hwnd; }
    const NetSettingsRecord& Loaded() const { return m_loaded; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void LoadRecord(const NetSettingsRecord& record);
    void OnModify();

    SearchWindow& m_main;
    NetSettingsRecord m_loaded;
    std::array<std::uint8_t, record::kDevIdBlockSize> m_devIdBlock{};
    HWND m_hwnd = nullptr;
};

}  // namespace qdipc::win
