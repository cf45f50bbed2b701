#include "ui/qt/DeviceListMenu.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QItemSelection>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QTableView>
#include <algorithm>

#include "discovery/CellText.h"
#include "discovery/ListOutput.h"
#include "settings/AddressPlanner.h"
#include "ui/RowMenu.h"
#include "ui/qt/DeviceTable.h"

namespace qdipc {

QUrl WebPageUrl(const std::string& ipCell, const std::string& webPortCell) {
    const std::string address = WebPageAddress(ipCell, webPortCell);
    return address.empty() ? QUrl() : QUrl(QString::fromStdString(address));
}

QString NoBrowserText(const QUrl& url) {
    return QStringLiteral(
               "Open Web Page: no web browser could be started for %1. Open it in a browser "
               "by hand, or set one as the desktop's default.")
        .arg(url.toString());
}

DeviceListMenu::DeviceListMenu(QTableView* list, DeviceTable* table, DeviceListMenuActions actions,
                               UrlOpener openUrl, QObject* parent)
    : QObject(parent),
      m_list(list),
      m_table(table),
      m_actions(std::move(actions)),
      m_openUrl(openUrl ? std::move(openUrl) : UrlOpener([](const QUrl& url) {
          return QDesktopServices::openUrl(url);
      })) {
    // The view asks for a menu on a right-click and on the Menu key
    // (Shift+F10 too).
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &DeviceListMenu::ShowMenu);
    // Qt turns the Menu key into a menu request, but Shift+F10 only where
    // the platform does (Windows): the filter catches it everywhere.
    m_list->installEventFilter(this);
}

bool DeviceListMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            // Outside the viewport: ShowMenu puts the menu at the current row.
            ShowMenu(QPoint(-1, -1));
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

int DeviceListMenu::ShowGoneRows() {
    const std::vector<int> rows = GoneRows(m_table->List());
    if (rows.empty()) {
        return 0;
    }
    QItemSelection gone;
    for (const int row : rows) {
        gone.select(m_table->index(row, 0), m_table->index(row, kColumnCount - 1));
    }
    m_list->selectionModel()->select(gone, QItemSelectionModel::ClearAndSelect);
    m_list->selectionModel()->setCurrentIndex(m_table->index(rows.front(), 0),
                                              QItemSelectionModel::NoUpdate);
    m_list->scrollTo(m_table->index(rows.front(), 0));
    return static_cast<int>(m_list->selectionModel()->selectedRows().size());
}

std::vector<int> DeviceListMenu::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QMenu* DeviceListMenu::BuildMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const std::vector<int> rows = SelectedRows();
    const bool watching = m_actions.watching && m_actions.watching();
    // What each command does here; an empty one is not offered.
    const auto actionOf = [this](RowCommand command) -> std::function<void()> {
        switch (command) {
            case RowCommand::AssignAddresses:
                return m_actions.assignAddresses;
            case RowCommand::Settings:
                return m_actions.settings;
            case RowCommand::Preview:
                return m_actions.preview;
            case RowCommand::StreamInfo:
                return m_actions.streamInfo;
            case RowCommand::SaveSnapshot:
                return m_actions.saveSnapshot;
            case RowCommand::OpenWebPage:
                return [this] { OpenWebPages(); };
            case RowCommand::DeviceDetails:
                return m_actions.deviceDetails;
            case RowCommand::Copy:
                return m_actions.copy;
            case RowCommand::CopyIp:
                return [this] { CopyColumn(kColIp); };
            case RowCommand::CopyMac:
                return [this] { CopyColumn(kColMac); };
            case RowCommand::KeepWatching:
                return m_actions.keepWatching ? [] {} : std::function<void()>();
            case RowCommand::ShowGone:
                return [this] { ShowGoneRows(); };
            case RowCommand::SaveList:
                return m_actions.saveList;
            case RowCommand::ApplyPlan:
                return m_actions.applyPlan;
            case RowCommand::Diagnose:
                return m_actions.diagnose;
            case RowCommand::FoundVia:
                break;
        }
        return {};
    };
    const auto items = RowMenuItems(
        RowMenuFactsOf(m_table->List(), rows, watching),
        [&actionOf](RowCommand command) { return static_cast<bool>(actionOf(command)); });
    for (const RowMenuItem& item : items) {
        if (item.separatorBefore) {
            menu->addSeparator();
        }
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setEnabled(item.enabled);
        if (item.command == RowCommand::KeepWatching) {
            action->setCheckable(true);
            action->setChecked(item.checked);
            if (m_actions.keepWatching) {
                connect(action, &QAction::toggled, this,
                        [toggle = m_actions.keepWatching](bool on) { toggle(on); });
            }
            continue;
        }
        if (item.command == RowCommand::Copy) {
            action->setShortcut(QKeySequence::Copy);
        }
        if (const std::function<void()> run = actionOf(item.command)) {
            connect(action, &QAction::triggered, this, [run] { run(); });
        }
    }
    return menu;
}

void DeviceListMenu::ShowMenu(const QPoint& position) {
    QMenu* menu = BuildMenu(m_list);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The Menu key reports the view's centre, Shift+F10 no place at all; the
    // current row is a better place.
    QPoint at = position;
    const QModelIndex current = m_list->currentIndex();
    if (current.isValid() && !m_list->viewport()->rect().contains(at)) {
        at = m_list->visualRect(current).center();
    }
    menu->popup(m_list->viewport()->mapToGlobal(at));
}

void DeviceListMenu::OpenWebPages() {
    int opened = 0;
    for (int row : SelectedRows()) {
        if (opened == kMaxWebPages) {
            break;
        }
        const QUrl url =
            WebPageUrl(m_table->CellText(row, kColIp), m_table->CellText(row, kColWebPort));
        if (url.isValid() && !url.isEmpty()) {
            ++opened;
            // Without a browser nothing opens: the operator is told once,
            // not once per page.
            if (!m_openUrl(url)) {
                if (m_actions.warn) {
                    m_actions.warn(NoBrowserText(url));
                }
                return;
            }
        }
    }
}

void DeviceListMenu::CopyColumn(int column) {
    const std::string text = ColumnClipboardText(m_table->List(), SelectedRows(), column);
    if (!text.empty()) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    }
}

}  // namespace qdipc
