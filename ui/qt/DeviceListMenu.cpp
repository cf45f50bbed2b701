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
    QItemSelection gone;
    int first = -1;
    for (int row = 0; row < m_table->RowCount(); ++row) {
        if (m_table->List().Presence(row).gone) {
            gone.select(m_table->index(row, 0), m_table->index(row, kColumnCount - 1));
            first = first < 0 ? row : first;
        }
    }
    if (first < 0) {
        return 0;
    }
    m_list->selectionModel()->select(gone, QItemSelectionModel::ClearAndSelect);
    m_list->selectionModel()->setCurrentIndex(m_table->index(first, 0),
                                              QItemSelectionModel::NoUpdate);
    m_list->scrollTo(m_table->index(first, 0));
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
    const bool any = !SelectedRows().empty();
    const auto add = [&](const QString& text, const std::function<void()>& action) {
        QAction* item = menu->addAction(text);
        item->setEnabled(any && static_cast<bool>(action));
        if (action) {
            connect(item, &QAction::triggered, this, [action] { action(); });
        }
        return item;
    };
    // How the one row chosen was found; its device ID is what Assign and
    // Settings work on, which an ONVIF device alone does not have.
    const std::vector<int> rows = SelectedRows();
    const bool onvifOnly = !rows.empty() && std::all_of(rows.begin(), rows.end(), [this](int row) {
        return m_table->List().SeenViaOf(row) == SeenOnvif;
    });
    if (rows.size() == 1) {
        QAction* found = menu->addAction(
            QString::fromLatin1(SeenViaWords(m_table->List().SeenViaOf(rows.front())).data()));
        found->setEnabled(false);
        menu->addSeparator();
    }
    add(QStringLiteral("Assign Addresses…"), m_actions.assignAddresses)
        ->setEnabled(any && !onvifOnly && static_cast<bool>(m_actions.assignAddresses));
    add(QStringLiteral("Settings…"), m_actions.settings)
        ->setEnabled(any && !onvifOnly && static_cast<bool>(m_actions.settings));
    add(QStringLiteral("Preview"), m_actions.preview);
    add(QStringLiteral("Stream Info"), m_actions.streamInfo);
    add(QStringLiteral("Save Snapshot…"), m_actions.saveSnapshot);
    add(QStringLiteral("Open Web Page"), [this] { OpenWebPages(); });
    add(QStringLiteral("Device Details…"), m_actions.deviceDetails);
    menu->addSeparator();
    add(QStringLiteral("Copy"), m_actions.copy)->setShortcut(QKeySequence::Copy);
    add(QStringLiteral("Copy IP"), [this] { CopyColumn(kColIp); });
    add(QStringLiteral("Copy MAC"), [this] { CopyColumn(kColMac); });
    menu->addSeparator();
    // These act on the whole list, selected rows or not.
    // With access keys (W, L), so the keyboard reaches them directly.
    QAction* watch = menu->addAction(QStringLiteral("Keep &Watching"));
    watch->setCheckable(true);
    watch->setChecked(m_actions.watching && m_actions.watching());
    watch->setEnabled(static_cast<bool>(m_actions.keepWatching));
    if (m_actions.keepWatching) {
        connect(watch, &QAction::toggled, this,
                [action = m_actions.keepWatching](bool on) { action(on); });
    }
    QAction* gone = menu->addAction(QStringLiteral("Show &Gone Cameras"));
    gone->setEnabled(m_table->List().GoneCount() > 0);
    connect(gone, &QAction::triggered, this, [this] { ShowGoneRows(); });
    QAction* save = menu->addAction(QStringLiteral("Save &List As…"));
    save->setEnabled(static_cast<bool>(m_actions.saveList) && m_table->RowCount() > 0);
    if (m_actions.saveList) {
        connect(save, &QAction::triggered, this, [action = m_actions.saveList] { action(); });
    }
    if (m_actions.applyPlan) {
        QAction* plan = menu->addAction(QStringLiteral("Apply &Plan…"));
        connect(plan, &QAction::triggered, this, [action = m_actions.applyPlan] { action(); });
    }
    if (m_actions.diagnose) {
        menu->addSeparator();
        QAction* diagnose = menu->addAction(QStringLiteral("Diagnose Network…"));
        connect(diagnose, &QAction::triggered, this, [action = m_actions.diagnose] { action(); });
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
