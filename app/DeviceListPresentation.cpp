#include "app/DeviceListPresentation.h"

#include <QHeaderView>
#include <QPalette>
#include <QTableView>

#include "discovery/DeviceTable.h"

namespace qdipc {

DeviceListPresentation::DeviceListPresentation(QTableView* list, DeviceTable* table,
                                               QObject* parent)
    : QObject(parent), m_list(list), m_table(table) {
    SetUpList();
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &DeviceListPresentation::OnColumnClick);
}

void DeviceListPresentation::SetUpList() {
    m_list->setModel(m_table);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setSortingEnabled(false);  // the header click runs our own sort rule
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    // Report view: no row header, one line per row of a fixed height, so the
    // view never measures rows (it stays fast with many thousands of them).
    QHeaderView* rows = m_list->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_list->fontMetrics().height() + 4);

    QHeaderView* columns = m_list->horizontalHeader();
    columns->setSectionsClickable(true);
    columns->setSortIndicatorShown(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < kColumnCount; ++c) {
        columns->resizeSection(c, kColumnWidths[static_cast<std::size_t>(c)]);
    }

    // Stripes by display position: the view paints odd visual rows with the
    // alternate base colour. Selected rows keep the default highlight.
    m_list->setAlternatingRowColors(true);
    QPalette palette = m_list->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, QColor(kEvenRowGrey, kEvenRowGrey, kEvenRowGrey));
        palette.setColor(group, QPalette::AlternateBase,
                         QColor(kOddRowGrey, kOddRowGrey, kOddRowGrey));
    }
    m_list->setPalette(palette);
}

void DeviceListPresentation::OnColumnClick(int column) {
    if (column == g_sortColumn) {
        g_sortAscending = !g_sortAscending;
    } else {
        g_sortAscending = true;
        g_sortColumn = column;
    }
    m_table->SortByColumn(g_sortColumn, g_sortAscending);
}

}  // namespace qdipc
