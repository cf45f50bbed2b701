#pragma once
// The device list's look and its sort: report view with grid lines, full-row
// selection of several rows, clickable headers, the twelve columns with their
// pixel widths, rows striped 250/200 grey by display position with dark text
// on any theme, and sorting by a clicked column. Home and End choose the
// first and the last row. Ctrl+C (the platform's Copy keys) on the list
// copies the selected rows as tab-separated text, the column titles first, in
// display order.
//
// The sort state (ListSortState) belongs to this object (one per list), not
// to the process.

#include <QObject>
#include <array>

#include "discovery/ReplyCells.h"
#include "ui/ListLook.h"

class QMenu;
class QWidget;
class QTableView;

namespace qdipc {

class DeviceTable;

// Fitted columns grow no wider than this (pixels).
inline constexpr int kMaxFittedColumnWidth = 260;

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

    int SortColumn() const { return m_sort.Column(); }
    bool SortAscending() const { return m_sort.Ascending(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetUpList();

    QTableView* m_list;
    DeviceTable* m_table;
    ListSortState m_sort;
};

}  // namespace qdipc
