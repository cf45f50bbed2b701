#include "app/DeviceListPresentation.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QTableView>
#include <algorithm>

#include "discovery/CellText.h"
#include "discovery/DeviceTable.h"
#include "discovery/ListOutput.h"

namespace qdipc {

DeviceListPresentation::DeviceListPresentation(QTableView* list, DeviceTable* table,
                                               QObject* parent)
    : QObject(parent), m_list(list), m_table(table) {
    SetUpList();
    m_list->installEventFilter(this);
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
        // The stripes are light on every theme; so is their text dark (a
        // dark theme's light text would vanish on them).
        palette.setColor(group, QPalette::Text, QColor(kRowText[0], kRowText[1], kRowText[2]));
    }
    m_list->setPalette(palette);
}

void DeviceListPresentation::OnColumnClick(int column) {
    m_sort.Click(column);
    m_table->SortByColumn(m_sort.Column(), m_sort.Ascending());
}

bool DeviceListPresentation::eventFilter(QObject* watched, QEvent* event) {
    // Home and End go to the first and the last row, as in a list; the
    // table's own go to the first and the last column of the row.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        const bool home = keyEvent->key() == Qt::Key_Home;
        if ((home || keyEvent->key() == Qt::Key_End) && keyEvent->modifiers() == Qt::NoModifier &&
            m_table->RowCount() > 0) {
            const int column = std::max(0, m_list->currentIndex().column());
            m_list->setCurrentIndex(m_table->index(home ? 0 : m_table->RowCount() - 1, column));
            return true;
        }
    }
    // The view's own Copy takes the current cell only. The shortcut override
    // is claimed too, so that no window shortcut takes the keys first.
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched == m_list && key && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        if (event->type() == QEvent::KeyPress) {
            CopySelectedRows();
        }
        event->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void DeviceListPresentation::CopySelectedRows() {
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(selected.size()));
    for (const QModelIndex& index : selected) {
        rows.push_back(index.row());
    }
    // Row indexes are display positions: sorting them gives the order shown.
    std::sort(rows.begin(), rows.end());
    std::vector<ListRecord> records;
    records.reserve(rows.size());
    for (int row : rows) {
        ListRecord& record = records.emplace_back();
        for (int c = 0; c < kColumnCount; ++c) {
            // Decoded only: ClipboardRows escapes each cell once.
            record[static_cast<std::size_t>(c)] = DecodeCellText(m_table->CellBytes(row, c));
        }
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(ClipboardRows(records)));
}

}  // namespace qdipc
