#pragma once
// The model behind the main window's device list: a thin Qt table model over
// the DeviceList, which holds the rows (the model keeps no copy of them). A
// row index is always the row's display position (the view shows the rows in
// model order, without a proxy), so a sort reorders the rows themselves.
//
// Only the displayed text is decoded here, by the rule every output uses
// (DisplayCellText: UTF-8 when valid, else GB18030, else \xNN escapes, and
// control characters as \xNN); the list keeps the bytes as they came. A
// flagged row (DeviceFlag) is tinted a light orange and names its flags in
// words in its tooltip. A gone row (the site is watched and the camera has
// stopped answering) is greyed and in italics, a changed one in bold; every
// tooltip says when the camera was first and last heard.
//
// Everything here runs on the UI thread: the receive worker hands its replies
// over through a queue, and the window drains it into AddReplies.

#include <QAbstractTableModel>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/DeviceList.h"

namespace qdipc {

// The background of a flagged row (red, green, blue): a light warm tint,
// apart from both grey stripes.
inline constexpr int kFlaggedRowTint[3] = {255, 222, 173};
// The text of every row: the rows' backgrounds are light whatever the
// desktop's theme, so their text is dark whatever the theme's text colour.
inline constexpr int kRowText[3] = {0, 0, 0};
// The text of a gone row: greyed, yet readable on every row background
// (above 4.5:1 on the darker stripe), and in italics.
inline constexpr int kGoneRowText[3] = {80, 80, 80};

// "17 s ago", "4 min ago", "2 h ago", "3 d ago".
QString AgoText(std::chrono::system_clock::duration age);

// A tooltip that shows text as it is: Qt reads a tooltip that looks like
// markup as rich text, so such a text is escaped and wrapped.
QString PlainToolTip(const QString& text);

class DeviceTable : public QAbstractTableModel, private DeviceListObserver {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultMaxRows = DeviceList::kDefaultMaxRows;

    explicit DeviceTable(QObject* parent = nullptr, std::size_t maxRows = kDefaultMaxRows);
    // A view of a list that another owns (the window model's); the list
    // outlives the table.
    explicit DeviceTable(DeviceList& list, QObject* parent = nullptr);
    ~DeviceTable() override;

    // The rows themselves; changes made through it reach the view as well.
    DeviceList& List() { return m_list; }
    const DeviceList& List() const { return m_list; }

    // The list's operations, for the window and its tests.
    void Clear() { m_list.Clear(); }
    void AddReply(const DeviceInfoReply* reply) { m_list.AddReply(reply); }
    int AddReplies(const std::vector<AcceptedReply>& batch, std::uint32_t currentSearchId) {
        return m_list.AddReplies(batch, currentSearchId);
    }
    bool ContainsDeviceId(std::string_view deviceIdText) const {
        return m_list.ContainsDeviceId(deviceIdText);
    }
    int RowCount() const { return m_list.RowCount(); }
    std::uint64_t RefusedRows() const { return m_list.RefusedRows(); }
    std::string CellText(int row, int column) const { return m_list.CellText(row, column); }
    std::string_view CellBytes(int row, int column) const { return m_list.CellBytes(row, column); }
    std::uint32_t ArrivalInterface(int row) const { return m_list.ArrivalInterface(row); }
    bool WaitForRelease(std::chrono::milliseconds limit) { return m_list.WaitForRelease(limit); }
    int DeviceCount() const { return m_list.DeviceCount(); }
    int SelectedRow() const { return m_list.SelectedRow(); }
    void SetSelectedRow(int row) { m_list.SetSelectedRow(row); }
    void SortByColumn(int column, bool ascending) { m_list.SortByColumn(column, ascending); }

    // The cell as shown (plain text: the view never reads it as markup).
    QString DisplayText(int row, int column) const;

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    // DeviceListObserver: the list's changes as model signals.
    void RowsAboutToBeAppended(int first, int last) override;
    void RowsAppended() override;
    void AboutToClear() override;
    void Cleared() override;
    void AboutToReorder() override;
    void Reordered(const std::vector<int>& newPosition) override;
    void RowsChanged(int first, int last) override;

    std::unique_ptr<DeviceList> m_own;
    DeviceList& m_list;
};

}  // namespace qdipc
