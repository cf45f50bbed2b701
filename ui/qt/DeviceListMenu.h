#pragma once
// The device list's context menu, on a right-click, on the Menu key and on
// Shift+F10 (at the current row), for the selected rows: "Assign
// Addresses…", "Settings…", "Preview", "Stream Info", "Save Snapshot…" (of
// what the preview pane plays), "Open Web Page", "Device Details…" (the
// current row's device-service facts), "Copy" (as Ctrl+C), "Copy IP", "Copy
// MAC"; and for the whole list "Keep Watching" (a toggle), "Show Gone
// Cameras" (selects them and scrolls to the first), "Save List As…", "Apply
// Plan…" (a plan or rollback file) and "Diagnose Network…", which need no
// selection. The window's handlers do the
// work; this class builds the menu and the texts.

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>
#include <vector>

class QMenu;
class QPoint;
class QTableView;

namespace qdipc {

class DeviceTable;

// The camera's own web page: "http://IP:WEBPORT/", the port left out when it
// is 80 or not a port number. An IP cell that is not a dotted quad gives an
// invalid URL (nothing is opened for it).
QUrl WebPageUrl(const std::string& ipCell, const std::string& webPortCell);

// Opens a URL in the desktop's browser; QDesktopServices by default, a
// recorder in tests.
using UrlOpener = std::function<bool(const QUrl&)>;

struct DeviceListMenuActions {
    std::function<void()> assignAddresses;
    std::function<void()> settings;
    std::function<void()> preview;
    // What the preview pane plays: its facts, and its picture as a file.
    std::function<void()> streamInfo;
    std::function<void()> saveSnapshot;
    std::function<void()> deviceDetails;
    std::function<void()> copy;
    // The whole list: watching on or off, whether it is on, saving it.
    std::function<void(bool)> keepWatching;
    std::function<bool()> watching;
    std::function<void()> saveList;
    // Opens a plan or rollback file and shows what it would do.
    std::function<void()> applyPlan;
    // Tells the operator something went wrong (a message box).
    std::function<void(const QString&)> warn;
    std::function<void()> diagnose;  // also with nothing selected (an empty list)
};

// The box text when no browser could be opened for url.
QString NoBrowserText(const QUrl& url);

class DeviceListMenu : public QObject {
    Q_OBJECT
public:
    // At most this many pages open at once, so that a whole selected list
    // does not flood the browser.
    static constexpr int kMaxWebPages = 8;

    DeviceListMenu(QTableView* list, DeviceTable* table, DeviceListMenuActions actions,
                   UrlOpener openUrl = {}, QObject* parent = nullptr);

    // The menu for the current selection (empty selection: nothing enabled
    // but nothing is hidden either); the caller shows it.
    QMenu* BuildMenu(QWidget* parent);
    // Selected rows in display order.
    std::vector<int> SelectedRows() const;

    void OpenWebPages();
    void CopyColumn(int column);
    // Selects the gone rows and scrolls to the first; answers how many.
    int ShowGoneRows();

protected:
    // Shift+F10 on the list opens the menu, as the Menu key does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowMenu(const QPoint& position);

    QTableView* m_list;
    DeviceTable* m_table;
    DeviceListMenuActions m_actions;
    UrlOpener m_openUrl;
};

}  // namespace qdipc
