#pragma once
// The main window "Search Tool" on the Win32 API: dialog template 102 with
// the device list (a virtual report list view fed from the window model's
// device list), the four buttons, the video pane and the progress bar, whose
// text is the model's bar text. The window only shows and drives the model
// (ui/SearchWindowModel): the search, its repeats, the replies, the sort.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/RowMenu.h"
#include "ui/SearchWindowModel.h"
#include "ui/win/DetailsWindow.h"
#include "ui/win/PreviewSeam.h"

namespace qdipc::win {

class AssignWindow;
class DiagnoseWindow;
class SettingWindow;

struct WinWindowOptions {
    SearchWindowConfig config{};
    // Run once at start-up, hidden and detached; empty: no firewall step.
    std::function<void()> openFirewall{};
    // Shows a message box (text, MB_ flags) and answers the button pressed;
    // empty: MessageBoxW with the program's name as caption. Tests answer here.
    std::function<int(HWND owner, const std::wstring& text, UINT flags)> messageBox{};
    // Runs a modal dialog of the given template (the About box); empty:
    // DialogBoxParamW.
    std::function<void(HWND owner, int templateId)> runModal{};
    // Plays the preview; null: MissingVlcPlayer.
    std::shared_ptr<PreviewPlayer> player{};
    // Shows the row menu at a screen position and answers the command chosen
    // (0: none); empty: TrackPopupMenuEx. Tests read the menu here.
    std::function<UINT(HMENU menu, POINT at)> trackMenu{};
    // Opens a web page (UTF-16 address); false when no browser started;
    // empty: ShellExecuteW.
    std::function<bool(const std::wstring& url)> openUrl{};
    // Asks where "Save List As…" writes; an empty answer saves nothing;
    // empty: the system's save dialog.
    std::function<std::wstring(HWND owner)> chooseSaveFile{};
    // Asks where "Save Snapshot…" writes, offering proposed (a full path);
    // an empty answer saves nothing; empty: the system's save dialog.
    std::function<std::wstring(HWND owner, const std::wstring& proposed)> chooseSnapshotFile{};
    // "Device Details…": asks a device's service (on a thread of its own)
    // and asks the operator for a login; empty: the device over HTTP and the
    // "Camera login" prompt. Tests answer here.
    DetailsWindow::Query queryDetails{};
    DetailsWindow::AskLogin askLogin{};
    // Asks which plan "Apply Plan…" opens, and where the Assign dialog's
    // "Export Results…" writes; an empty answer does nothing; empty: the
    // system's open and save dialogs.
    std::function<std::wstring(HWND owner)> choosePlanFile{};
    std::function<std::wstring(HWND owner)> chooseExportFile{};
};

// The row menu's command IDs: kRowCommandBase + RowCommand.
inline constexpr UINT kRowCommandBase = 40000;
inline constexpr UINT kRowCommandRange = 1000;

class SearchWindow {
public:
    explicit SearchWindow(WinWindowOptions options);
    ~SearchWindow();  // destroys the window, stops the worker
    SearchWindow(const SearchWindow&) = delete;
    SearchWindow& operator=(const SearchWindow&) = delete;

    // Creates the dialog from template 102 (visible); false when it could not.
    bool Create();
    HWND Handle() const { return m_hwnd; }
    SearchWindowModel& Model() { return m_model; }

    // The message loop of the program: until the window is destroyed; the
    // window's own keys (PreTranslate) and the dialog keys (Tab, Enter, Esc)
    // of every dialog of this thread work.
    int RunMessageLoop();
    // The keys the window takes before the controls see them: the Menu key
    // and Shift+F10 on the list open the row menu. True when taken.
    bool PreTranslate(const MSG& message);

    // What the window holds, for tests.
    const std::string& CurrentIp() const { return m_currentIp; }
    const std::vector<SettingWindow*>& SettingWindows() const;
    // The Assign dialogs opened so far, the latest last.
    const std::vector<std::unique_ptr<AssignWindow>>& AssignWindows() const {
        return m_assignWindows;
    }
    // The diagnosis windows opened so far, the latest last.
    const std::vector<std::unique_ptr<DiagnoseWindow>>& DiagnoseWindows() const {
        return m_diagnoseWindows;
    }
    // The Device Details windows opened so far, the latest last.
    const std::vector<std::unique_ptr<DetailsWindow>>& DetailsWindows() const {
        return m_detailsWindows;
    }
    std::wstring BarText() const { return m_barText; }
    std::wstring PaneReason() const;
    // The pane's tooltip (the stream's facts while it plays; empty else).
    std::wstring PaneToolTip() const;
    // Stream Info's window: its text while it is shown (UTF-8, "\n"), else
    // empty; the window itself.
    std::string StreamInfoShown() const;
    HWND StreamInfoWindow() const { return m_infoWindow; }

    // Shows a box through the seam (settings windows use it too); caption:
    // the program's name unless given.
    void ShowMessage(const std::wstring& text, UINT flags, const std::wstring& caption = {});
    // Asks a yes/no question through the seam; IDYES or IDNO.
    int Ask(const std::wstring& question);
    // A settings window's Modify: sends the record, says how it went.
    void ApplySettings(const NetSettingsRecord& record);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK BarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR data);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    // A list notification; answers the notification result.
    LRESULT OnNotify(const NMHDR* header, bool& handled);
    void OnSize(int cx, int cy);
    void OnSearch();
    void OnPreview();
    // Plays the camera at ip in the pane (with its login when one is
    // known) and shows the reason line.
    void PlayPane(const std::string& ip);
    void ShowPaneReason(const std::string& reason);
    // An event of the player's stream, on the window's thread.
    void OnStreamEvent(unsigned player, StreamEvent event);
    // The "Camera login" prompt for the camera that plays; played again
    // with what is entered.
    void AskPaneLogin();
    void OnSetting();
    void OnColumnClick(int column);
    // The row menu at a screen position; (-1, -1): from the keyboard, at the
    // focused row.
    void ShowRowMenu(POINT at);
    void RunRowCommand(RowCommand command);
    std::vector<int> SelectedRows() const;
    void CopyText(const std::string& text);
    void OpenWebPages();
    void SaveList();
    void OpenDiagnosis();
    void OpenAssign();
    void OpenDetails();
    void ShowStreamInfo();
    void RefreshStreamInfo();
    void SetPaneToolTip(const std::string& text);
    // The tooltip's tool over the pane's rectangle, after a layout.
    void PlacePaneToolTip();
    void SaveSnapshot();
    // The answer to snapshot request (empty file: none written).
    void OnSnapshotAnswer(unsigned request, const std::string& file);
    void FinishSnapshot(const std::wstring& failure);
    // "Apply Plan…": a plan file opened in an Assign dialog of its lines.
    void ApplyPlan();
    // "Show Gone Cameras": the gone rows selected, the first in view.
    void ShowGoneRows();
    // Starts an Assign dialog's batch through the engine.
    void StartBatch(std::vector<AssignOrder> orders, ChangeRuns::BatchSinks sinks);
    // Closing with records unsent or changes unconfirmed asks; true to close.
    bool MayClose();
    void ToggleWatching();
    void OnDispInfo(NMLVDISPINFOW* info);
    void MakeRowCurrent(int row);
    void OpenSettings(int row);
    void TakeReplies();
    void ScheduleTick();
    void RefreshList();
    void ShowBarText();
    int SelectedCount() const;
    int Scaled(int pixels) const;

    WinWindowOptions m_options;
    HWND m_hwnd = nullptr;
    // Where the worker's wake call posts; set once the window exists.
    std::atomic<HWND> m_wakeTarget{nullptr};
    HWND m_list = nullptr;
    HWND m_progress = nullptr;
    HICON m_icon = nullptr;
    HICON m_smallIcon = nullptr;
    std::string m_currentIp;
    std::wstring m_barText;
    std::wstring m_cellBuffer;
    std::vector<SettingWindow*> m_settingWindows;
    std::vector<std::unique_ptr<DiagnoseWindow>> m_diagnoseWindows;
    std::vector<std::unique_ptr<AssignWindow>> m_assignWindows;
    // The logins entered for devices, by address, for this run only; the
    // details windows and the pane's prompt use it, the details windows go
    // first.
    std::map<std::string, OnvifLogin> m_logins;
    std::vector<std::unique_ptr<DetailsWindow>> m_detailsWindows;
    bool m_drainPosted = false;
    // What the pane plays (empty: nothing), and the snapshot waited for.
    std::string m_playingLocation;
    std::string m_playingHost;  // the dotted quad of m_playingLocation
    bool m_paneLoginOpen = false;
    HWND m_tip = nullptr;         // the pane's tooltip
    HWND m_infoWindow = nullptr;  // Stream Info, made at its first use
    std::string m_infoText;       // what it shows
    std::wstring m_snapshotPath;
    unsigned m_snapshotRequest = 0;
    // The row menu was opened from the keyboard: the keyboard's own
    // WM_CONTEXTMENU that may follow is not a second request.
    bool m_menuFromKey = false;
    SearchWindowModel m_model;  // last: its worker's wake call uses m_wakeTarget
};

}  // namespace qdipc::win
