#pragma once
// The table of found cameras, and the model behind the main window's device
// list: one row per distinct device ID, twelve cells per row in the fixed
// column order. A row index is always the row's display position (the view
// shows the rows in model order, without a proxy), so a sort reorders the rows
// themselves.
//
// Cells hold the raw 8-bit bytes the reply carried; sorting and the settings
// window work on those bytes. Only the displayed text is decoded: as UTF-8
// when valid, else as GB18030, else as Latin-1.
//
// Everything here runs on the UI thread: the receive worker hands its replies
// over through a queue, and the window drains it into AddReplies.

#include <QAbstractTableModel>
#include <QStringDecoder>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "discovery/BackgroundRelease.h"
#include "discovery/DeviceIdSet.h"
#include "discovery/ReplyCells.h"
#include "discovery/ReplyQueue.h"

namespace qdipc {

class DeviceTable : public QAbstractTableModel {
    Q_OBJECT
public:
    // A million rows at most (some 350 MB): a flood of made-up device IDs
    // must not take all memory.
    static constexpr std::size_t kDefaultMaxRows = 1'000'000;

    explicit DeviceTable(QObject* parent = nullptr, std::size_t maxRows = kDefaultMaxRows);
    ~DeviceTable() override;

    // Device count and selected row := 0, then every row goes. A large table's
    // storage is freed, and its memory handed back, on a thread of its own.
    void Clear();
    // One reply: dropped when its device ID is listed already, else appended
    // with the next "NO." number. A null reply is ignored.
    void AddReply(const DeviceInfoReply* reply);
    // A batch drained from the worker, inserted with one row insertion. Replies
    // accepted under a search ID other than currentSearchId belong to a search
    // that has been replaced and are dropped. Returns the number of rows added.
    int AddReplies(const std::vector<AcceptedReply>& batch, std::uint32_t currentSearchId);
    // True when cell 1 of some row equals deviceIdText exactly.
    bool ContainsDeviceId(std::string_view deviceIdText) const;
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // New devices not listed because the table was full, since construction.
    std::uint64_t RefusedRows() const { return m_refusedRows; }
    // The whole raw text of a cell; empty for a row or column that does not exist.
    std::string CellText(int row, int column) const;
    std::string_view CellBytes(int row, int column) const;
    // The cell as shown.
    QString DisplayText(int row, int column) const;
    // The index of the interface the row's reply came in on (it moves with
    // the row when sorting); 0 when unknown or for a row that does not exist.
    std::uint32_t ArrivalInterface(int row) const;
    // Waits until the storage of cleared rows has been freed (measurements).
    bool WaitForRelease(std::chrono::milliseconds limit) { return m_release.WaitIdle(limit); }

    // Rows added since the last Clear; the "NO." number of the next row.
    int DeviceCount() const { return m_deviceCount; }
    // The row the operator clicked last (an index, not a row identity).
    int SelectedRow() const { return m_selectedRow; }
    void SetSelectedRow(int row) { m_selectedRow = row; }

    // Reorders the rows by the unsigned byte order of one column's cells.
    // Stable: rows with equal cells keep their relative order. Neither the
    // "NO." cells nor the counters change.
    void SortByColumn(int column, bool ascending);

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    // One row: the twelve cells back to back in one buffer, and where each ends.
    struct Row {
        std::string bytes;
        std::array<std::uint16_t, kColumnCount> cellEnd{};
        std::uint32_t arrivalInterface = 0;
    };

    static std::uint64_t DeviceKey(const DeviceInfoReply& reply);
    Row MakeRow(const DeviceInfoReply& reply, int number) const;
    std::string_view Cell(const Row& row, int column) const;
    // Appends rows for the replies whose device IDs are new, in one insertion.
    // Each reply comes with the index of the interface it arrived on.
    int AppendNewDevices(
        const std::vector<std::pair<const DeviceInfoReply*, std::uint32_t>>& replies);

    // A deque: growing never moves the rows already there.
    std::deque<Row> m_rows;
    // The device IDs of the rows, kept in step with them: the duplicate check.
    DeviceIdSet m_deviceIds;
    int m_deviceCount = 0;
    int m_selectedRow = 0;
    std::size_t m_maxRows;
    std::uint64_t m_refusedRows = 0;
    BackgroundRelease m_release;
    mutable QStringDecoder m_utf8Decoder;
    mutable QStringDecoder m_gbDecoder;
};

}  // namespace qdipc
