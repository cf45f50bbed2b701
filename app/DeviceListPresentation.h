#pragma once
// The device list's look and its sort: report view with grid lines, full-row
// selection of several rows, clickable headers, the twelve columns with their
// pixel widths, rows striped 250/200 grey by display position with dark text
// on any theme, and sorting by a clicked column. Home and End choose the
// first and the last row. Ctrl+C (the platform's Copy keys) on the list
// copies the selected rows as tab-separated text, the column titles first, in
// display order.
//
// The sort state belongs to this object (one per list), not to the process:
// g_sortColumn is the column of the last sort, g_sortAscending its direction.
// A click on the column of the last sort reverses the direction; a click on
// another column sorts it ascending. The state starts at column 0,
// descending, so the first click on any column sorts ascending.

#include <QObject>
#include <array>

#include "discovery/ReplyCells.h"

class QMenu;
class QTableView;

namespace qdipc {

class DeviceTable;

inline constexpr std::array<int, kColumnCount> kColumnWidths = {40,  120, 50,  100, 50, 100,
                                                                100, 100, 100, 80,  50, 80};
inline constexpr int kMaxFittedColumnWidth = 260;
inline constexpr int kEvenRowGrey = 250;  // rows 0, 2, 4, ...
inline constexpr int kOddRowGrey = 200;   // rows 1, 3, 5, ...

class DeviceListPresentation : public QObject {
    Q_OBJECT
public:
    // Sets the list up (view settings, columns, stripes) and connects its
    // header clicks to OnColumnClick.
    DeviceListPresentation(QTableView* list, DeviceTable* table, QObject* parent = nullptr);

    // Applies the toggle rule, then sorts the table's rows by that column
    // (numbers and addresses by value, see SortKindOf) and shows the arrow
    // on its header.
    void OnColumnClick(int column);

    // The selected rows in display order, as ClipboardRows gives them, onto
    // the clipboard; nothing happens when no row is selected.
    void CopySelectedRows();

    // Each column as wide as its header and the cells in view need, never
    // narrower than its default width nor wider than kMaxFittedColumnWidth;
    // the window does it after each search.
    void FitColumns();
    // The header's context menu: one checkable entry per column, which hides
    // or shows it (the last column shown cannot be hidden). The caller shows
    // and deletes it.
    QMenu* BuildHeaderMenu(QWidget* parent);

    int SortColumn() const { return g_sortColumn; }
    bool SortAscending() const { return g_sortAscending; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetUpList();

    QTableView* m_list;
    DeviceTable* m_table;
    int g_sortColumn = 0;
    bool g_sortAscending = false;
};

}  // namespace qdipc
