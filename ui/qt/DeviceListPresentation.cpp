#include "ui/qt/DeviceListPresentation.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPalette>
#include <QTableView>
#include <algorithm>

#include "discovery/CellText.h"
#include "discovery/ListOutput.h"
#include "ui/RowMenu.h"
#include "ui/qt/DeviceTable.h"

namespace qdipc {

DeviceListPresentation::DeviceListPresentation(QTableView* list, DeviceTable* table,
                                               QObject* parent)
    : QObject(parent), m_list(list), m_table(table) {
    SetUpList();
    m_list->installEventFilter(this);
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &DeviceListPresentation::OnColumnClick);
    QHeaderView* header = m_list->horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& at) {
        QMenu* menu = BuildHeaderMenu(header);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(header->mapToGlobal(at));
    });
}

void DeviceListPresentation::FitColumns() {
    QHeaderView* columns = m_list->horizontalHeader();
    for (int c = 0; c < kColumnCount; ++c) {
        if (columns->isSectionHidden(c)) {
            continue;
        }
        // The view measures the rows in view (and some more), not every row.
        m_list->resizeColumnToContents(c);
        columns->resizeSection(
            c, std::clamp(columns->sectionSize(c), kColumnWidths[static_cast<std::size_t>(c)],
                          kMaxFittedColumnWidth));
    }
}

QMenu* DeviceListPresentation::BuildHeaderMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QHeaderView* columns = m_list->horizontalHeader();
    const int shown = kColumnCount - columns->hiddenSectionCount();
    for (int c = 0; c < kColumnCount; ++c) {
        QAction* item =
            menu->addAction(QString::fromLatin1(kColumnTitles[static_cast<std::size_t>(c)]));
        item->setCheckable(true);
        const bool visible = !columns->isSectionHidden(c);
        item->setChecked(visible);
        item->setEnabled(!visible || shown > 1);
        connect(item, &QAction::toggled, this,
                [this, c](bool on) { m_list->horizontalHeader()->setSectionHidden(c, !on); });
    }
    return menu;
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
    // The arrow shows on the sorted column once the operator has sorted.
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
    QHeaderView* columns = m_list->horizontalHeader();
    columns->setSortIndicator(m_sort.Column(),
                              m_sort.Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    columns->setSortIndicatorShown(true);
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
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(RowsClipboardText(m_table->List(), std::move(rows))));
}

}  // namespace qdipc
