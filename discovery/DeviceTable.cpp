#include "discovery/DeviceTable.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "discovery/DeviceCodecs.h"

namespace qdipc {
namespace {

constexpr std::size_t kDeviceIdTextLength = 17;
// Cleared tables from this many rows on are freed off the UI thread.
constexpr std::size_t kReleaseInBackgroundFrom = 10000;

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Decodes with a stateless decoder; an empty optional when the bytes are not
// valid in its encoding (an incomplete sequence at the end counts as invalid).
std::optional<QString> DecodeStrictly(QStringDecoder& decoder, std::string_view bytes) {
    if (!decoder.isValid()) {
        return std::nullopt;
    }
    decoder.resetState();
    QString text = decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

DeviceTable::DeviceTable(QObject* parent, std::size_t maxRows)
    : QAbstractTableModel(parent),
      m_maxRows(maxRows),
      m_utf8Decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless),
      m_gbDecoder("GB18030", QStringDecoder::Flag::Stateless) {}

DeviceTable::~DeviceTable() = default;

void DeviceTable::Clear() {
    m_deviceCount = 0;
    m_selectedRow = 0;
    beginResetModel();
    std::deque<Row> rows;
    rows.swap(m_rows);
    DeviceIdSet deviceIds;
    std::swap(deviceIds, m_deviceIds);
    endResetModel();
    // A million rows take tens of milliseconds to free: more than the window
    // may stall. A small table goes here and now. Rows and IDs go in one
    // hand-over, so that the freed memory is handed back once.
    if (rows.size() >= kReleaseInBackgroundFrom) {
        m_release.Release(std::make_pair(std::move(rows), std::move(deviceIds)));
    }
}

void DeviceTable::AddReply(const DeviceInfoReply* reply) {
    if (reply == nullptr) {
        return;
    }
    AppendNewDevices({std::make_pair(reply, std::uint32_t{0})});
}

int DeviceTable::AddReplies(const std::vector<AcceptedReply>& batch,
                            std::uint32_t currentSearchId) {
    std::vector<std::pair<const DeviceInfoReply*, std::uint32_t>> current;
    current.reserve(batch.size());
    for (const auto& accepted : batch) {
        if (accepted.searchId == currentSearchId) {
            current.emplace_back(&accepted.reply, accepted.arrivalInterface);
        }
    }
    return AppendNewDevices(current);
}

int DeviceTable::AppendNewDevices(
    const std::vector<std::pair<const DeviceInfoReply*, std::uint32_t>>& replies) {
    std::vector<Row> fresh;
    fresh.reserve(replies.size());
    for (const auto& [reply, arrivalInterface] : replies) {
        // The key set also catches a device that answers twice within the batch.
        const std::uint64_t key = DeviceKey(*reply);
        if (m_rows.size() + fresh.size() >= m_maxRows) {
            if (!m_deviceIds.Contains(key)) {
                ++m_refusedRows;  // full: a new device is not listed
            }
            continue;
        }
        // One probe of the set: the insertion itself tells a listed device.
        if (!m_deviceIds.Insert(key)) {
            continue;
        }
        fresh.push_back(MakeRow(*reply, m_deviceCount + static_cast<int>(fresh.size())));
        fresh.back().arrivalInterface = arrivalInterface;
    }
    if (fresh.empty()) {
        return 0;
    }
    const int first = RowCount();
    const int added = static_cast<int>(fresh.size());
    beginInsertRows({}, first, first + added - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(fresh.begin()),
                  std::make_move_iterator(fresh.end()));
    m_deviceCount += added;
    endInsertRows();
    return added;
}

bool DeviceTable::ContainsDeviceId(std::string_view deviceIdText) const {
    // Every cell 1 is FormatDeviceId of its row's eight bytes, so a text
    // matches a row exactly when it is the canonical form of bytes in the set.
    if (deviceIdText.size() != kDeviceIdTextLength) {
        return false;
    }
    const std::string text(deviceIdText);
    std::uint8_t bytes[8] = {};
    ParseDeviceId(text.c_str(), bytes);
    if (FormatDeviceId(bytes) != text) {
        return false;
    }
    std::uint64_t key = 0;
    std::memcpy(&key, bytes, sizeof key);
    return m_deviceIds.Contains(key);
}

std::string DeviceTable::CellText(int row, int column) const {
    return std::string(CellBytes(row, column));
}

std::string_view DeviceTable::CellBytes(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= kColumnCount) {
        return {};
    }
    return Cell(m_rows[static_cast<std::size_t>(row)], column);
}

std::uint32_t DeviceTable::ArrivalInterface(int row) const {
    if (row < 0 || row >= RowCount()) {
        return 0;
    }
    return m_rows[static_cast<std::size_t>(row)].arrivalInterface;
}

QString DeviceTable::DisplayText(int row, int column) const {
    const std::string_view bytes = CellBytes(row, column);
    if (IsAscii(bytes)) {
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    }
    if (auto text = DecodeStrictly(m_utf8Decoder, bytes)) {
        return *text;
    }
    if (auto text = DecodeStrictly(m_gbDecoder, bytes)) {
        return *text;
    }
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

void DeviceTable::SortByColumn(int column, bool ascending) {
    if (column < 0 || column >= kColumnCount || m_rows.size() < 2) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    std::vector<std::pair<std::string_view, int>> keys;
    keys.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        keys.emplace_back(Cell(m_rows[i], column), static_cast<int>(i));
    }
    // std::string_view compares through char_traits<char>, which orders bytes
    // as unsigned values.
    if (ascending) {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    } else {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return b.first < a.first; });
    }

    // keys[i].second is the old row that now stands at position i.
    std::deque<Row> sorted;
    std::vector<int> newPosition(m_rows.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto oldRow = static_cast<std::size_t>(keys[i].second);
        newPosition[oldRow] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[oldRow]));
    }
    m_rows = std::move(sorted);

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

std::uint64_t DeviceTable::DeviceKey(const DeviceInfoReply& reply) {
    std::uint64_t key = 0;
    std::memcpy(&key, reply.Raw(reply::kDevId), sizeof key);
    return key;
}

DeviceTable::Row DeviceTable::MakeRow(const DeviceInfoReply& reply, int number) const {
    const auto cells = ReplyCellTexts(reply, number);
    Row row;
    std::size_t total = 0;
    for (const auto& cell : cells) {
        total += cell.size();
    }
    row.bytes.reserve(total);
    for (std::size_t c = 0; c < cells.size(); ++c) {
        row.bytes += cells[c];
        // A reply buffer is 384 bytes, so no row comes near the 16-bit limit.
        row.cellEnd[c] = static_cast<std::uint16_t>(
            std::min<std::size_t>(row.bytes.size(), std::numeric_limits<std::uint16_t>::max()));
    }
    return row;
}

std::string_view DeviceTable::Cell(const Row& row, int column) const {
    const std::size_t c = static_cast<std::size_t>(column);
    const std::size_t begin = c == 0 ? 0 : row.cellEnd[c - 1];
    return std::string_view(row.bytes).substr(begin, row.cellEnd[c] - begin);
}

}  // namespace qdipc
