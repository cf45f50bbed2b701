#include "ui/qt/DeviceTable.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QStringList>
#include <QTextDocument>
#include <algorithm>

#include "discovery/CellText.h"

namespace qdipc {
namespace {

// The tooltip of a flagged row: one line per flag, in words.
QString FlagsInWords(std::uint32_t flags, const std::string& interfaceName) {
    QStringList lines;
    if ((flags & IpConflict) != 0) {
        lines << QStringLiteral("Shares its IP address with another camera");
    }
    if ((flags & HostAddress) != 0) {
        lines << QStringLiteral("Uses an address of this computer");
    }
    if ((flags & OtherSubnet) != 0) {
        const QString where = interfaceName.empty() ? QStringLiteral("the interface it answered on")
                                                    : QString::fromStdString(interfaceName);
        lines << QStringLiteral(
                     "Outside the subnet of %1 (this PC cannot reach it until it is "
                     "changed)")
                     .arg(where);
    }
    return lines.join(QLatin1Char('\n'));
}

// When the camera was heard: "First seen 03:12:04, last seen 17 s ago", the
// state first for a gone or changed row.
QString PresenceInWords(const RowPresence& presence, std::chrono::system_clock::time_point now) {
    const auto local = [](std::chrono::system_clock::time_point time) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
        return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(QStringLiteral("HH:mm:ss"));
    };
    QStringList lines;
    if (presence.gone) {
        lines << QStringLiteral("Gone: no answer for %1 requests, last seen %2")
                     .arg(presence.missedCycles)
                     .arg(AgoText(now - presence.lastSeen));
    }
    if (presence.changed) {
        lines << QStringLiteral("Reported new values while watched");
    }
    lines << QStringLiteral("First seen %1, last seen %2")
                 .arg(local(presence.firstSeen), AgoText(now - presence.lastSeen));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString AgoText(std::chrono::system_clock::duration age) {
    const auto seconds =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(age).count());
    if (seconds < 60) {
        return QStringLiteral("%1 s ago").arg(seconds);
    }
    if (seconds < 3600) {
        return QStringLiteral("%1 min ago").arg(seconds / 60);
    }
    if (seconds < 86400) {
        return QStringLiteral("%1 h ago").arg(seconds / 3600);
    }
    return QStringLiteral("%1 d ago").arg(seconds / 86400);
}

DeviceTable::DeviceTable(QObject* parent, std::size_t maxRows)
    : QAbstractTableModel(parent), m_own(std::make_unique<DeviceList>(maxRows)), m_list(*m_own) {
    m_list.SetObserver(this);
}

DeviceTable::DeviceTable(DeviceList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {
    m_list.SetObserver(this);
}

DeviceTable::~DeviceTable() {
    m_list.SetObserver(nullptr);
}

QString PlainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString DeviceTable::DisplayText(int row, int column) const {
    const std::string_view bytes = CellBytes(row, column);
    // Most cells are printable ASCII, which every step leaves as it is.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    }
    const std::string text = DisplayCellText(bytes);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void DeviceTable::RowsAboutToBeAppended(int first, int last) {
    beginInsertRows({}, first, last);
}

void DeviceTable::RowsAppended() {
    endInsertRows();
}

void DeviceTable::AboutToClear() {
    beginResetModel();
}

void DeviceTable::Cleared() {
    endResetModel();
}

void DeviceTable::AboutToReorder() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DeviceTable::Reordered(const std::vector<int>& newPosition) {
    // Selections and the view's current index follow their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        after.append(
            this->index(newPosition[static_cast<std::size_t>(index.row())], index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DeviceTable::RowsChanged(int first, int last) {
    emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

int DeviceTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int DeviceTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant DeviceTable::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return DisplayText(index.row(), index.column());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        case Qt::BackgroundRole:
            // Flagged rows are tinted; the others keep the view's grey stripes.
            if (m_list.Flags(index.row()) != 0) {
                return QColor(kFlaggedRowTint[0], kFlaggedRowTint[1], kFlaggedRowTint[2]);
            }
            return {};
        case Qt::ForegroundRole:
            // Every background is light: the text is dark on any theme.
            if (m_list.Presence(index.row()).gone) {
                return QColor(kGoneRowText[0], kGoneRowText[1], kGoneRowText[2]);
            }
            return QColor(kRowText[0], kRowText[1], kRowText[2]);
        case Qt::FontRole: {
            const RowPresence presence = m_list.Presence(index.row());
            if (!presence.gone && !presence.changed) {
                return {};
            }
            QFont font;
            font.setItalic(presence.gone);
            font.setBold(presence.changed && !presence.gone);
            return font;
        }
        case Qt::ToolTipRole: {
            const std::uint32_t flags = m_list.Flags(index.row());
            // How the row was found first; an ONVIF device's endpoint with it
            // (the device's own text: plain, never markup).
            QString found = QString::fromLatin1(SeenViaWords(m_list.SeenViaOf(index.row())).data());
            if (const OnvifRowInfo* onvif = m_list.OnvifInfo(index.row())) {
                found += QStringLiteral(", endpoint ") + QString::fromStdString(onvif->endpoint);
            }
            const QString presence = PresenceInWords(m_list.Presence(index.row()), m_list.Now());
            if (flags == 0) {
                return PlainToolTip(found + QLatin1Char('\n') + presence);
            }
            return PlainToolTip(found + QLatin1Char('\n') +
                                FlagsInWords(flags, m_list.ArrivalInterfaceName(index.row())) +
                                QLatin1Char('\n') + presence);
        }
        default:
            return {};
    }
}

QVariant DeviceTable::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromLatin1(kColumnTitles[static_cast<std::size_t>(section)]);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

void DeviceTable::sort(int column, Qt::SortOrder order) {
    SortByColumn(column, order == Qt::AscendingOrder);
}

}  // namespace qdipc
