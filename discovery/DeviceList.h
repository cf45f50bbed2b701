#pragma once
// The list of found cameras: one row per distinct device ID, twelve cells per
// row in the fixed column order, numbered in arrival order. A row index is
// always the row's display position, so a sort reorders the rows themselves.
// The window's table model and the command line both work on this list.
//
// Cells hold the raw 8-bit bytes the reply carried; sorting, lookups and the
// settings window work on those bytes.
//
// Not thread-safe: one thread owns a list (the window's UI thread; the
// receive worker hands its replies over through a queue).

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "discovery/BackgroundRelease.h"
#include "discovery/DeviceIdMap.h"
#include "discovery/OnvifDevices.h"
#include "discovery/ReplyCells.h"
#include "discovery/ReplyQueue.h"
#include "platform/NetworkInterfaces.h"

namespace qdipc {

// What a listed camera's addresses say about it; a row can carry several.
enum DeviceFlag : std::uint32_t {
    IpConflict = 1,   // another listed camera reports the same IP
    HostAddress = 2,  // its IP is an address of this host
    OtherSubnet = 4,  // its IP is outside the subnet of the interface its reply came in on
};

// The names of the flags set in flags, in bit order: "ip_conflict",
// "host_address", "other_subnet". Inline, so that the list writers need only
// this header, not the list.
inline std::vector<std::string_view> DeviceFlagNames(std::uint32_t flags) {
    std::vector<std::string_view> names;
    if ((flags & IpConflict) != 0) {
        names.emplace_back("ip_conflict");
    }
    if ((flags & HostAddress) != 0) {
        names.emplace_back("host_address");
    }
    if ((flags & OtherSubnet) != 0) {
        names.emplace_back("other_subnet");
    }
    return names;
}

// How a row's device was found; a row can carry both.
enum SeenVia : std::uint32_t {
    SeenNative = 1,  // it answered this tool's own discovery request
    SeenOnvif = 2,   // it answered a WS-Discovery probe as an ONVIF device
};

// "native", "onvif" or "native+onvif"; "" for none.
inline std::string_view SeenViaName(std::uint32_t via) {
    switch (via & (SeenNative | SeenOnvif)) {
        case SeenNative:
            return "native";
        case SeenOnvif:
            return "onvif";
        case SeenNative | SeenOnvif:
            return "native+onvif";
        default:
            return "";
    }
}

// How a row's device was found, in words for the window's tooltip and menu.
inline std::string_view SeenViaWords(std::uint32_t via) {
    switch (via & (SeenNative | SeenOnvif)) {
        case SeenNative:
            return "Found by this tool's search";
        case SeenOnvif:
            return "Found as an ONVIF device (WS-Discovery)";
        case SeenNative | SeenOnvif:
            return "Found by this tool's search and as an ONVIF device (WS-Discovery)";
        default:
            return "";
    }
}

// What the list keeps of a row's ONVIF device beyond its cells: where to ask
// it more.
struct OnvifRowInfo {
    std::string endpoint;             // the EndpointReference address
    std::vector<std::string> xaddrs;  // its service addresses
};

// Told about every change to a list's rows, before and after, so that a view
// can follow. Every call comes from the list's owning thread, inside the
// operation that makes the change.
class DeviceListObserver {
public:
    // Rows first..last (display positions) are about to be appended / have been.
    virtual void RowsAboutToBeAppended(int first, int last) = 0;
    virtual void RowsAppended() = 0;
    // Every row is about to go / has gone.
    virtual void AboutToClear() = 0;
    virtual void Cleared() = 0;
    // The rows are about to be reordered / have been: newPosition[old] is the
    // position now of the row that stood at old.
    virtual void AboutToReorder() = 0;
    virtual void Reordered(const std::vector<int>& newPosition) = 0;
    // What rows first..last show has changed (their cells, interface or flags).
    virtual void RowsChanged(int first, int last) = 0;

protected:
    ~DeviceListObserver() = default;
};

// How a column's cells compare when the list is sorted by it.
enum class SortKind {
    Number,   // "NO.", Port, Web Port: decimal values
    Address,  // IP, Mask, Gateway: dotted quads by value
    Text,     // the others: unsigned byte order
};
SortKind SortKindOf(int column);

// A cell's sort key. A number or an address that the cell does not hold is
// text, which sorts after every value (ascending), by unsigned byte order.
struct SortKey {
    std::uint64_t value = 0;
    std::string_view text;
    bool hasValue = false;
};
SortKey SortKeyOf(std::string_view cell, SortKind kind);
// The ascending order of keys of one column.
bool SortsBefore(const SortKey& a, const SortKey& b);

// When a row's camera was heard and how it stands while the site is watched.
struct RowPresence {
    std::chrono::system_clock::time_point firstSeen{};  // the reply that made the row
    std::chrono::system_clock::time_point lastSeen{};   // its latest reply
    int missedCycles = 0;                               // watch cycles in a row without an answer
    bool gone = false;                                  // missed enough cycles to count as gone
    bool changed = false;                               // reported new values since it was listed
};

class DeviceList {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    // A million rows at most (some 350 MB): a flood of made-up device IDs
    // must not take all memory.
    static constexpr std::size_t kDefaultMaxRows = 1'000'000;

    explicit DeviceList(std::size_t maxRows = kDefaultMaxRows);
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // One observer at most; null: none. It must outlive its registration.
    void SetObserver(DeviceListObserver* observer) { m_observer = observer; }

    // Device count and selected row := 0, then every row goes. A large list's
    // storage is freed, and its memory handed back, on a thread of its own.
    void Clear();
    // One reply: dropped when its device ID is listed already (its row's
    // last-seen time moves on), else appended with the next "NO." number,
    // first and last seen now. A null reply is ignored.
    void AddReply(const DeviceInfoReply* reply, std::uint32_t arrivalInterface = 0);
    // A batch drained from the worker, appended with one notification. Replies
    // accepted under a search ID other than currentSearchId belong to a search
    // that has been replaced and are dropped. Returns the number of rows added.
    int AddReplies(const std::vector<AcceptedReply>& batch, std::uint32_t currentSearchId);
    // Replaces cells 1 to 11 and the arrival interface of a row by those of a
    // newer reply of the same camera; the row keeps its "NO." cell and its
    // position. Answers whether anything changed; a row that does not exist,
    // or a reply with another device ID, changes nothing.
    bool UpdateRow(int row, const DeviceInfoReply& reply, std::uint32_t arrivalInterface);

    // An ONVIF device (OnvifDevices): one row per device. It joins the row
    // of a listed camera that is the same device (the same MAC where the
    // device gives one, else the same IP), or updates its own row (the same
    // endpoint), or is appended with Name, IP, MAC and Hardware Ver from it
    // (each at most 255 bytes) and the other cells empty. A camera's reply
    // that comes after it joins its row the same way. First and last seen as
    // for a reply. Returns the row, or -1 when the list is full.
    int AddOnvifDevice(const OnvifDevice& device);
    // The row of the ONVIF device with this endpoint address, or -1.
    int FindOnvifRow(std::string_view endpoint) const;
    // How the row's device was found (SeenVia bits); 0 for a row that does not exist.
    std::uint32_t SeenViaOf(int row) const;
    // The row's ONVIF device, or nullptr when it has none.
    const OnvifRowInfo* OnvifInfo(int row) const;

    // True when cell 1 of some row equals deviceIdText exactly.
    bool ContainsDeviceId(std::string_view deviceIdText) const;
    // The row whose cell 1 equals deviceIdText exactly, or -1. Constant time.
    int FindRow(std::string_view deviceIdText) const;

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // New devices not listed because the list was full, since construction.
    std::uint64_t RefusedRows() const { return m_refusedRows; }
    // At most this many other MACs are kept per row: enough to name the
    // clash, bounded whatever a network sends.
    static constexpr std::size_t kMaxOtherMacs = 4;
    // The other MACs the row's device ID was answered with, in arrival order
    // (as the MAC cell shows one): another device uses the same ID, so a
    // record for it would reach both. Empty for a row that does not exist.
    std::vector<std::string> OtherMacs(int row) const;
    // The whole raw text of a cell; empty for a row or column that does not exist.
    std::string CellText(int row, int column) const;
    std::string_view CellBytes(int row, int column) const;
    // The index of the interface the row's reply came in on (it moves with
    // the row when sorting); 0 when unknown or for a row that does not exist.
    std::uint32_t ArrivalInterface(int row) const;
    // The host's interfaces (address, netmask, index, name), by which
    // host_address and other_subnet are judged; the window sets them on every
    // search. Until they are set neither flag is given.
    void SetHostInterfaces(std::vector<Ipv4Interface> interfaces);
    // The row's DeviceFlag bits, worked out from its cells, its arrival
    // interface, the host's interfaces and the other rows' IPs; 0 for a row
    // that does not exist.
    std::uint32_t Flags(int row) const;
    // The system name of the host interface the row's reply came in on; ""
    // when unknown.
    std::string ArrivalInterfaceName(int row) const;

    // The clock that stamps first and last seen; the system's by default.
    void SetClock(WallClock clock) { m_clock = std::move(clock); }
    std::chrono::system_clock::time_point Now() const { return m_clock(); }
    // The row's times and watch state; all zero for a row that does not exist.
    RowPresence Presence(int row) const;
    // The row of the camera that sent reply, or -1. Constant time.
    int FindRow(const DeviceInfoReply& reply) const;
    // A listed camera answered: last seen := now, no missed cycles, not gone.
    // True when the row was gone (it is back).
    bool MarkSeen(int row);
    // Whether reply, come in on arrivalInterface, is byte for byte the one
    // the row's cells were last made from: then UpdateRow would change
    // nothing, and need not decode it. Compares digests, so a false "same"
    // is as likely as a 64-bit hash collision.
    bool SameReply(int row, const DeviceInfoReply& reply, std::uint32_t arrivalInterface) const;
    // The row reported new values.
    void MarkChanged(int row);
    // Ends a watch cycle: every row that has not answered since the last call
    // misses one more cycle, and a row reaching goneAfter missed cycles is
    // gone; the positions of the rows that went gone now are appended to
    // newlyGone. Rows that answered start the next cycle afresh. Rows of an
    // ONVIF device alone are left to CloseOnvifRound: they answer probes
    // that take longer than a short cycle.
    void CloseCycle(int goneAfter, std::vector<int>& newlyGone);
    // The same for the rows of an ONVIF device alone, at the end of a round
    // of ONVIF probes: those that neither answered nor announced themselves
    // since the last round miss one more.
    void CloseOnvifRound(int goneAfter, std::vector<int>& newlyGone);
    // The row's device said it leaves (an ONVIF Bye): gone now, and nothing
    // it said before counts for the current cycle. True when it was not gone.
    bool MarkGone(int row);
    // Every row starts a watch afresh: nothing missed, nothing answered yet
    // in the coming cycle (gone rows stay gone until they answer).
    void ResetCycles();
    // Rows that are gone now.
    int GoneCount() const { return m_goneCount; }

    // Waits until the storage of cleared rows has been freed (measurements).
    bool WaitForRelease(std::chrono::milliseconds limit) { return m_release.WaitIdle(limit); }

    // Rows added since the last Clear; the "NO." number of the next row.
    int DeviceCount() const { return m_deviceCount; }
    // The row the operator chose last (an index, not a row identity).
    int SelectedRow() const { return m_selectedRow; }
    void SetSelectedRow(int row) { m_selectedRow = row; }

    // Reorders the rows by one column's cells, compared as SortKindOf tells.
    // Stable: rows with equal keys keep their relative order (descending as
    // well). Neither the "NO." cells nor the counters change.
    void SortByColumn(int column, bool ascending);

private:
    // One row: the twelve cells back to back in one buffer, and where each ends.
    struct Row {
        std::string bytes;
        std::array<std::uint16_t, kColumnCount> cellEnd{};
        std::uint32_t arrivalInterface = 0;
        std::uint32_t serial = 0;  // its number in arrival order since the last clear
        RowPresence presence;
        bool answered = false;          // since the current watch cycle began
        bool onvifAnswered = false;     // since the last round of ONVIF probes ended
        std::uint64_t replyDigest = 0;  // of the reply the cells were made from
        std::uint32_t seenVia = SeenNative;
        // MACs other than the MAC cell's that answered with this device ID.
        std::vector<std::string> otherMacs{};
    };
    using ReplyAndInterface = std::pair<const DeviceInfoReply*, std::uint32_t>;
    // A host interface's network, parsed once.
    struct HostNetwork {
        std::uint32_t address = 0;  // host order
        std::uint32_t netmask = 0;
        std::uint32_t index = 0;
        std::string name;
    };

    static std::uint64_t DeviceKey(const DeviceInfoReply& reply);
    static std::uint64_t ReplyDigest(const DeviceInfoReply& reply);
    static void FillCells(Row& row, const DeviceInfoReply& reply, int number);
    static std::string_view Cell(const Row& row, int column);
    // Keeps the reply's MAC when it is not the row's (at most kMaxOtherMacs).
    static void NoteOtherMac(Row& row, const DeviceInfoReply& reply);
    // Appends rows for the replies whose device IDs are new, with one notification.
    int AppendNewDevices(const std::vector<ReplyAndInterface>& replies);
    // The row of a camera, not yet joined by an ONVIF device, that is this
    // device; -1 when none.
    int NativeRowOf(const OnvifDevice& device) const;
    // The row of an ONVIF device alone that is the camera of reply; -1 when none.
    int OnvifOnlyRowOf(const DeviceInfoReply& reply) const;
    // Makes the cells of an ONVIF-only row; true when its IP's conflict changed.
    bool SetOnvifCells(Row& row, const OnvifDevice& device);
    // Counts an IP text in or out; true when that makes or ends a conflict.
    bool CountIp(std::string_view ip);
    bool UncountIp(std::string_view ip);
    void TellRowsChanged(int first, int last);
    // CloseCycle (the other rows) or CloseOnvifRound (the rows of an ONVIF device alone).
    void CloseRows(int goneAfter, std::vector<int>& newlyGone, bool onvifOnly);
    // The row of a listed device with this key, or nullptr; stamps it seen.
    Row* SeenAgain(std::uint64_t key, std::chrono::system_clock::time_point now);

    // A deque: growing never moves the rows already there.
    std::deque<Row> m_rows;
    // Device ID -> serial of its row: the duplicate check and FindRow.
    DeviceIdMap m_deviceIds;
    // Serial -> current position, kept in step by every sort.
    std::vector<int> m_positionOfSerial;
    // IP text -> how many rows report it: ip_conflict without a scan.
    std::unordered_map<std::string, std::uint32_t> m_ipCounts;
    // ONVIF endpoint address -> serial of its row, and serial -> what the row
    // keeps of it.
    std::unordered_map<std::string, std::uint32_t> m_onvifSerials;
    std::unordered_map<std::uint32_t, OnvifRowInfo> m_onvifInfo;
    int m_onvifOnlyRows = 0;
    std::vector<HostNetwork> m_hostNetworks;
    int m_deviceCount = 0;
    int m_selectedRow = 0;
    std::size_t m_maxRows;
    std::uint64_t m_refusedRows = 0;
    DeviceListObserver* m_observer = nullptr;
    WallClock m_clock = [] { return std::chrono::system_clock::now(); };
    int m_goneCount = 0;
    BackgroundRelease m_release;
};

}  // namespace qdipc
