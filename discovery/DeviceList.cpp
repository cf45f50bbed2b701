#include "discovery/DeviceList.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include "discovery/DeviceCodecs.h"

namespace qdipc {
namespace {

// Cleared lists from this many rows on are freed off the owning thread.
constexpr std::size_t kReleaseInBackgroundFrom = 10000;

// The key of a device-ID text, when the text is exactly what FormatDeviceId
// gives for some eight bytes (lowercase); otherwise no row can match.
std::optional<std::uint64_t> KeyOfDeviceIdText(std::string_view deviceIdText) {
    const auto bytes = ParseDeviceIdStrict(deviceIdText);
    if (!bytes || FormatDeviceId(bytes->data()) != deviceIdText) {
        return std::nullopt;
    }
    std::uint64_t key = 0;
    std::memcpy(&key, bytes->data(), sizeof key);
    return key;
}

}  // namespace

DeviceList::DeviceList(std::size_t maxRows) : m_maxRows(maxRows) {}

DeviceList::~DeviceList() = default;

void DeviceList::Clear() {
    m_deviceCount = 0;
    m_goneCount = 0;
    m_selectedRow = 0;
    if (m_observer != nullptr) {
        m_observer->AboutToClear();
    }
    std::deque<Row> rows;
    rows.swap(m_rows);
    DeviceIdMap deviceIds;
    std::swap(deviceIds, m_deviceIds);
    std::vector<int> positions;
    positions.swap(m_positionOfSerial);
    std::unordered_map<std::string, std::uint32_t> ipCounts;
    ipCounts.swap(m_ipCounts);
    m_onvifSerials.clear();
    m_onvifInfo.clear();
    m_onvifOnlyRows = 0;
    if (m_observer != nullptr) {
        m_observer->Cleared();
    }
    // A million rows take tens of milliseconds to free: more than the window
    // may stall. A small list goes here and now. Everything goes in one
    // hand-over, so that the freed memory is handed back once.
    if (rows.size() >= kReleaseInBackgroundFrom) {
        m_release.Release(std::make_tuple(std::move(rows), std::move(deviceIds),
                                          std::move(positions), std::move(ipCounts)));
    }
}

void DeviceList::AddReply(const DeviceInfoReply* reply, std::uint32_t arrivalInterface) {
    if (reply == nullptr) {
        return;
    }
    AppendNewDevices({ReplyAndInterface(reply, arrivalInterface)});
}

int DeviceList::AddReplies(const std::vector<AcceptedReply>& batch, std::uint32_t currentSearchId) {
    std::vector<ReplyAndInterface> current;
    current.reserve(batch.size());
    for (const auto& accepted : batch) {
        if (accepted.searchId == currentSearchId) {
            current.emplace_back(&accepted.reply, accepted.arrivalInterface);
        }
    }
    return AppendNewDevices(current);
}

int DeviceList::AppendNewDevices(const std::vector<ReplyAndInterface>& replies) {
    std::vector<Row> fresh;
    fresh.reserve(replies.size());
    const auto now = m_clock();
    for (const auto& [reply, arrivalInterface] : replies) {
        // The key map also catches a device that answers twice within the batch.
        const std::uint64_t key = DeviceKey(*reply);
        if (m_rows.size() + fresh.size() >= m_maxRows) {
            if (!m_deviceIds.Contains(key)) {
                ++m_refusedRows;  // full: a new device is not listed
            }
            continue;
        }
        const auto serial = static_cast<std::uint32_t>(m_deviceCount + fresh.size());
        // A camera already listed as an ONVIF device alone joins that row.
        if (m_onvifOnlyRows > 0 && !m_deviceIds.Contains(key)) {
            if (const int joined = OnvifOnlyRowOf(*reply); joined >= 0) {
                Row& row = m_rows[static_cast<std::size_t>(joined)];
                m_deviceIds.Insert(key, row.serial);
                const std::string oldIp(Cell(row, kColIp));
                Row updated;
                FillCells(updated, *reply, static_cast<int>(row.serial));
                row.bytes = std::move(updated.bytes);
                row.cellEnd = updated.cellEnd;
                row.replyDigest = ReplyDigest(*reply);
                row.arrivalInterface = arrivalInterface;
                row.seenVia = SeenNative | SeenOnvif;
                row.presence.lastSeen = now;
                row.presence.missedCycles = 0;
                row.answered = true;
                --m_onvifOnlyRows;
                if (oldIp != Cell(row, kColIp)) {
                    UncountIp(oldIp);
                    CountIp(Cell(row, kColIp));
                    TellRowsChanged(0, RowCount() - 1);
                } else {
                    TellRowsChanged(joined, joined);
                }
                continue;
            }
        }
        // One probe of the map: the insertion itself tells a listed device.
        if (!m_deviceIds.Insert(key, serial)) {
            Row* listed = SeenAgain(key, now);
            if (listed == nullptr) {
                // A device of this batch, not yet appended.
                const auto earlier = m_deviceIds.Find(key);
                const auto first = static_cast<std::uint32_t>(m_deviceCount);
                if (earlier && *earlier >= first && *earlier - first < fresh.size()) {
                    listed = &fresh[*earlier - first];
                }
            }
            if (listed != nullptr) {
                NoteOtherMac(*listed, *reply);
            }
            continue;
        }
        Row& row = fresh.emplace_back();
        row.replyDigest = ReplyDigest(*reply);
        row.presence.firstSeen = now;
        row.presence.lastSeen = now;
        row.answered = true;
        FillCells(row, *reply, static_cast<int>(serial));
        row.arrivalInterface = arrivalInterface;
        row.serial = serial;
    }
    if (fresh.empty()) {
        return 0;
    }
    const int first = RowCount();
    const int added = static_cast<int>(fresh.size());
    if (m_observer != nullptr) {
        m_observer->RowsAboutToBeAppended(first, first + added - 1);
    }
    // Rows are appended at the end, after a sort as well: a new row's
    // position is the row count before it.
    for (int i = 0; i < added; ++i) {
        m_positionOfSerial.push_back(first + i);
    }
    bool conflictsChanged = false;
    for (const Row& row : fresh) {
        conflictsChanged = CountIp(Cell(row, kColIp)) || conflictsChanged;
    }
    m_rows.insert(m_rows.end(), std::make_move_iterator(fresh.begin()),
                  std::make_move_iterator(fresh.end()));
    m_deviceCount += added;
    if (m_observer != nullptr) {
        m_observer->RowsAppended();
    }
    // A listed camera that now shares its IP with a new one is flagged too.
    if (conflictsChanged && first > 0) {
        TellRowsChanged(0, first - 1);
    }
    return added;
}

bool DeviceList::UpdateRow(int row, const DeviceInfoReply& reply, std::uint32_t arrivalInterface) {
    if (row < 0 || row >= RowCount()) {
        return false;
    }
    Row& target = m_rows[static_cast<std::size_t>(row)];
    const std::string number(Cell(target, kColNumber));
    Row updated;
    FillCells(updated, reply, 0);
    if (Cell(updated, kColDevId) != Cell(target, kColDevId)) {
        return false;  // another camera's reply never overwrites this row
    }
    // The row keeps its "NO." text: rebuild the cells with it in front.
    const std::size_t numberEnd = updated.cellEnd[kColNumber];
    std::string bytes = number + updated.bytes.substr(numberEnd);
    const auto shift = static_cast<int>(number.size()) - static_cast<int>(numberEnd);
    for (auto& end : updated.cellEnd) {
        end = static_cast<std::uint16_t>(end + shift);
    }
    updated.bytes = std::move(bytes);
    if (updated.bytes == target.bytes && updated.cellEnd == target.cellEnd &&
        arrivalInterface == target.arrivalInterface) {
        return false;
    }
    const std::string oldIp(Cell(target, kColIp));
    target.replyDigest = ReplyDigest(reply);
    target.bytes = std::move(updated.bytes);
    target.cellEnd = updated.cellEnd;
    target.arrivalInterface = arrivalInterface;
    bool conflictsChanged = false;
    if (oldIp != Cell(target, kColIp)) {
        conflictsChanged = UncountIp(oldIp);
        conflictsChanged = CountIp(Cell(target, kColIp)) || conflictsChanged;
    }
    // A conflict that starts or ends changes the flags of other rows too.
    if (conflictsChanged) {
        TellRowsChanged(0, RowCount() - 1);
    } else {
        TellRowsChanged(row, row);
    }
    return true;
}

namespace {

// At most 255 bytes, cut before a UTF-8 continuation byte.
std::string_view Bounded(std::string_view text) {
    constexpr std::size_t kMaxOnvifCell = 255;
    if (text.size() <= kMaxOnvifCell) {
        return text;
    }
    std::size_t end = kMaxOnvifCell;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool DeviceList::SetOnvifCells(Row& row, const OnvifDevice& device) {
    std::array<std::string, kColumnCount> cells;
    cells[kColNumber] = std::to_string(row.serial);
    cells[kColName] = Bounded(device.scopeValues.name);
    cells[kColIp] = device.ip;
    cells[kColMac] = device.mac;
    cells[kColHardwareVer] = Bounded(device.scopeValues.hardware);
    const std::string oldIp(Cell(row, kColIp));
    const bool hadCells = !row.bytes.empty() || row.cellEnd[kColumnCount - 1] != 0;
    row.bytes.clear();
    for (std::size_t c = 0; c < cells.size(); ++c) {
        row.bytes += cells[c];
        row.cellEnd[c] = static_cast<std::uint16_t>(row.bytes.size());
    }
    if (hadCells && oldIp == device.ip) {
        return false;
    }
    bool changed = hadCells && UncountIp(oldIp);
    changed = CountIp(device.ip) || changed;
    return changed;
}

int DeviceList::NativeRowOf(const OnvifDevice& device) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        if ((row.seenVia & SeenNative) == 0 || (row.seenVia & SeenOnvif) != 0) {
            continue;
        }
        // Both give a MAC: the same MAC is the same device, another is not.
        if (!device.mac.empty() ? SameTextNoCase(Cell(row, kColMac), device.mac)
                                : (!device.ip.empty() && Cell(row, kColIp) == device.ip)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int DeviceList::OnvifOnlyRowOf(const DeviceInfoReply& reply) const {
    const auto cells = ReplyCellTexts(reply, 0);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const Row& row = m_rows[i];
        if (row.seenVia != SeenOnvif) {
            continue;
        }
        const std::string_view mac = Cell(row, kColMac);
        if (!mac.empty() ? SameTextNoCase(mac, cells[kColMac])
                         : (!cells[kColIp].empty() && Cell(row, kColIp) == cells[kColIp])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int DeviceList::AddOnvifDevice(const OnvifDevice& device) {
    const auto now = m_clock();
    int position = FindOnvifRow(device.endpoint);
    if (position < 0) {
        position = NativeRowOf(device);
    }
    if (position >= 0) {
        Row& row = m_rows[static_cast<std::size_t>(position)];
        row.presence.lastSeen = now;
        row.presence.missedCycles = 0;
        row.answered = true;
        row.onvifAnswered = true;
        row.seenVia |= SeenOnvif;
        m_onvifSerials[device.endpoint] = row.serial;
        m_onvifInfo[row.serial] = OnvifRowInfo{device.endpoint, device.xaddrs};
        bool conflictsChanged = false;
        if (row.seenVia == SeenOnvif) {
            conflictsChanged = SetOnvifCells(row, device);
            if (device.arrivalInterface != 0) {
                row.arrivalInterface = device.arrivalInterface;
            }
        }
        if (conflictsChanged) {
            TellRowsChanged(0, RowCount() - 1);
        } else {
            TellRowsChanged(position, position);
        }
        return position;
    }
    if (m_rows.size() >= m_maxRows) {
        ++m_refusedRows;
        return -1;
    }
    Row row;
    row.serial = static_cast<std::uint32_t>(m_deviceCount);
    row.seenVia = SeenOnvif;
    row.arrivalInterface = device.arrivalInterface;
    row.presence.firstSeen = now;
    row.presence.lastSeen = now;
    row.answered = true;
    row.onvifAnswered = true;
    const int first = RowCount();
    if (m_observer != nullptr) {
        m_observer->RowsAboutToBeAppended(first, first);
    }
    const bool conflictsChanged = SetOnvifCells(row, device);
    m_onvifSerials[device.endpoint] = row.serial;
    m_onvifInfo[row.serial] = OnvifRowInfo{device.endpoint, device.xaddrs};
    m_positionOfSerial.push_back(first);
    m_rows.push_back(std::move(row));
    ++m_deviceCount;
    ++m_onvifOnlyRows;
    if (m_observer != nullptr) {
        m_observer->RowsAppended();
    }
    if (conflictsChanged && first > 0) {
        TellRowsChanged(0, first - 1);
    }
    return first;
}

int DeviceList::FindOnvifRow(std::string_view endpoint) const {
    const auto found = m_onvifSerials.find(std::string(endpoint));
    if (found == m_onvifSerials.end() || found->second >= m_positionOfSerial.size()) {
        return -1;
    }
    return m_positionOfSerial[found->second];
}

std::uint32_t DeviceList::SeenViaOf(int row) const {
    if (row < 0 || row >= RowCount()) {
        return 0;
    }
    return m_rows[static_cast<std::size_t>(row)].seenVia;
}

const OnvifRowInfo* DeviceList::OnvifInfo(int row) const {
    if (row < 0 || row >= RowCount()) {
        return nullptr;
    }
    const auto found = m_onvifInfo.find(m_rows[static_cast<std::size_t>(row)].serial);
    return found == m_onvifInfo.end() ? nullptr : &found->second;
}

DeviceList::Row* DeviceList::SeenAgain(std::uint64_t key,
                                       std::chrono::system_clock::time_point now) {
    const auto serial = m_deviceIds.Find(key);
    if (!serial || *serial >= m_positionOfSerial.size()) {
        return nullptr;  // a device of this batch, not yet appended
    }
    const int position = m_positionOfSerial[*serial];
    if (position < 0 || position >= RowCount()) {
        return nullptr;
    }
    Row& row = m_rows[static_cast<std::size_t>(position)];
    row.presence.lastSeen = now;
    row.presence.missedCycles = 0;
    row.answered = true;
    return &row;
}

std::uint64_t DeviceList::ReplyDigest(const DeviceInfoReply& reply) {
    // FNV-1a over the whole reply, eight bytes at a time: cheap next to
    // decoding the twelve cells.
    std::uint64_t digest = 14695981039346656037ull;
    const std::uint8_t* bytes = reply.Data();
    for (std::size_t i = 0; i + 8 <= kDeviceInfoReplySize; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, sizeof word);
        digest = (digest ^ word) * 1099511628211ull;
    }
    for (std::size_t i = kDeviceInfoReplySize / 8 * 8; i < kDeviceInfoReplySize; ++i) {
        digest = (digest ^ bytes[i]) * 1099511628211ull;
    }
    return digest;
}

bool DeviceList::SameReply(int row, const DeviceInfoReply& reply,
                           std::uint32_t arrivalInterface) const {
    if (row < 0 || row >= RowCount()) {
        return false;
    }
    const Row& listed = m_rows[static_cast<std::size_t>(row)];
    return listed.arrivalInterface == arrivalInterface && listed.replyDigest == ReplyDigest(reply);
}

RowPresence DeviceList::Presence(int row) const {
    if (row < 0 || row >= RowCount()) {
        return {};
    }
    return m_rows[static_cast<std::size_t>(row)].presence;
}

int DeviceList::FindRow(const DeviceInfoReply& reply) const {
    const auto serial = m_deviceIds.Find(DeviceKey(reply));
    return serial ? m_positionOfSerial[*serial] : -1;
}

bool DeviceList::MarkSeen(int row) {
    if (row < 0 || row >= RowCount()) {
        return false;
    }
    Row& listed = m_rows[static_cast<std::size_t>(row)];
    listed.presence.lastSeen = m_clock();
    listed.presence.missedCycles = 0;
    listed.answered = true;
    if (!listed.presence.gone) {
        return false;  // the view shows no times: nothing to repaint
    }
    listed.presence.gone = false;
    --m_goneCount;
    TellRowsChanged(row, row);
    return true;
}

void DeviceList::MarkChanged(int row) {
    if (row >= 0 && row < RowCount() && !m_rows[static_cast<std::size_t>(row)].presence.changed) {
        m_rows[static_cast<std::size_t>(row)].presence.changed = true;
        TellRowsChanged(row, row);
    }
}

void DeviceList::CloseCycle(int goneAfter, std::vector<int>& newlyGone) {
    CloseRows(goneAfter, newlyGone, false);
}

void DeviceList::CloseOnvifRound(int goneAfter, std::vector<int>& newlyGone) {
    CloseRows(goneAfter, newlyGone, true);
}

void DeviceList::CloseRows(int goneAfter, std::vector<int>& newlyGone, bool onvifOnly) {
    int first = RowCount();
    int last = -1;
    for (int i = 0; i < RowCount(); ++i) {
        Row& row = m_rows[static_cast<std::size_t>(i)];
        if ((row.seenVia == SeenOnvif) != onvifOnly) {
            continue;
        }
        bool& answered = onvifOnly ? row.onvifAnswered : row.answered;
        if (answered) {
            answered = false;
            continue;
        }
        ++row.presence.missedCycles;
        if (!row.presence.gone && row.presence.missedCycles >= goneAfter) {
            row.presence.gone = true;
            ++m_goneCount;
            newlyGone.push_back(i);
            first = std::min(first, i);
            last = std::max(last, i);
        }
    }
    TellRowsChanged(first, last);
}

bool DeviceList::MarkGone(int row) {
    if (row < 0 || row >= RowCount()) {
        return false;
    }
    Row& listed = m_rows[static_cast<std::size_t>(row)];
    listed.answered = false;
    listed.onvifAnswered = false;
    if (listed.presence.gone) {
        return false;
    }
    listed.presence.gone = true;
    ++m_goneCount;
    TellRowsChanged(row, row);
    return true;
}

void DeviceList::ResetCycles() {
    for (Row& row : m_rows) {
        row.answered = false;
        row.onvifAnswered = false;
        row.presence.missedCycles = 0;
    }
}

bool DeviceList::CountIp(std::string_view ip) {
    if (ip.empty()) {
        return false;  // no address: nothing to share
    }
    return ++m_ipCounts[std::string(ip)] == 2;
}

bool DeviceList::UncountIp(std::string_view ip) {
    const auto found = m_ipCounts.find(std::string(ip));
    if (found == m_ipCounts.end()) {
        return false;
    }
    const std::uint32_t left = --found->second;
    if (left == 0) {
        m_ipCounts.erase(found);
    }
    return left == 1;
}

void DeviceList::TellRowsChanged(int first, int last) {
    if (m_observer != nullptr && first <= last) {
        m_observer->RowsChanged(first, last);
    }
}

void DeviceList::SetHostInterfaces(std::vector<Ipv4Interface> interfaces) {
    m_hostNetworks.clear();
    for (Ipv4Interface& host : interfaces) {
        const auto address = ParseIpv4Lenient(host.address);
        const auto netmask = ParseIpv4Lenient(host.netmask);
        if (!address) {
            continue;
        }
        m_hostNetworks.push_back(
            HostNetwork{*address, netmask.value_or(0xFFFFFFFFu), host.index, std::move(host.name)});
    }
    TellRowsChanged(0, RowCount() - 1);
}

std::uint32_t DeviceList::Flags(int row) const {
    if (row < 0 || row >= RowCount()) {
        return 0;
    }
    const Row& listed = m_rows[static_cast<std::size_t>(row)];
    const std::string_view ip = Cell(listed, kColIp);
    std::uint32_t flags = 0;
    if (!ip.empty()) {
        const auto count = m_ipCounts.find(std::string(ip));
        if (count != m_ipCounts.end() && count->second > 1) {
            flags |= IpConflict;
        }
    }
    const auto address = ParseIpv4Lenient(ip);
    if (!address) {
        return flags;  // not an address this host could compare
    }
    bool arrivalKnown = false;
    bool inArrivalSubnet = false;
    for (const HostNetwork& host : m_hostNetworks) {
        if (host.address == *address) {
            flags |= HostAddress;
        }
        // An interface can have several addresses: any of its subnets will do.
        if (listed.arrivalInterface != 0 && host.index == listed.arrivalInterface) {
            arrivalKnown = true;
            inArrivalSubnet =
                inArrivalSubnet || (host.address & host.netmask) == (*address & host.netmask);
        }
    }
    if (arrivalKnown && !inArrivalSubnet) {
        flags |= OtherSubnet;
    }
    return flags;
}

std::string DeviceList::ArrivalInterfaceName(int row) const {
    const std::uint32_t index = ArrivalInterface(row);
    if (index == 0) {
        return {};
    }
    for (const HostNetwork& host : m_hostNetworks) {
        if (host.index == index) {
            return host.name;
        }
    }
    return {};
}

bool DeviceList::ContainsDeviceId(std::string_view deviceIdText) const {
    const auto key = KeyOfDeviceIdText(deviceIdText);
    return key && m_deviceIds.Contains(*key);
}

int DeviceList::FindRow(std::string_view deviceIdText) const {
    const auto key = KeyOfDeviceIdText(deviceIdText);
    if (!key) {
        return -1;
    }
    const auto serial = m_deviceIds.Find(*key);
    return serial ? m_positionOfSerial[*serial] : -1;
}

std::string DeviceList::CellText(int row, int column) const {
    return std::string(CellBytes(row, column));
}

std::string_view DeviceList::CellBytes(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= kColumnCount) {
        return {};
    }
    return Cell(m_rows[static_cast<std::size_t>(row)], column);
}

std::uint32_t DeviceList::ArrivalInterface(int row) const {
    if (row < 0 || row >= RowCount()) {
        return 0;
    }
    return m_rows[static_cast<std::size_t>(row)].arrivalInterface;
}

SortKind SortKindOf(int column) {
    switch (column) {
        case kColNumber:
        case kColPort:
        case kColWebPort:
            return SortKind::Number;
        case kColIp:
        case kColMask:
        case kColGateway:
            return SortKind::Address;
        default:
            return SortKind::Text;
    }
}

SortKey SortKeyOf(std::string_view cell, SortKind kind) {
    SortKey key;
    key.text = cell;
    if (kind == SortKind::Address) {
        if (const auto address = ParseIpv4Lenient(cell)) {
            key.hasValue = true;
            key.value = *address;
        }
    } else if (kind == SortKind::Number && !cell.empty() && cell.size() <= 19 &&
               std::all_of(cell.begin(), cell.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        key.hasValue = true;
        for (const char c : cell) {
            key.value = key.value * 10 + static_cast<std::uint64_t>(c - '0');
        }
    }
    return key;
}

bool SortsBefore(const SortKey& a, const SortKey& b) {
    if (a.hasValue != b.hasValue) {
        return a.hasValue;  // a value comes before every text that is none
    }
    if (a.hasValue && a.value != b.value) {
        return a.value < b.value;
    }
    // std::string_view compares through char_traits<char>, which orders
    // bytes as unsigned values.
    return !a.hasValue && a.text < b.text;
}

void DeviceList::SortByColumn(int column, bool ascending) {
    if (column < 0 || column >= kColumnCount || m_rows.size() < 2) {
        return;
    }
    if (m_observer != nullptr) {
        m_observer->AboutToReorder();
    }

    // Each cell is read and parsed once; the sort then moves small keys,
    // and the rows move once, to their final places.
    struct Keyed {
        SortKey key;
        int row = 0;
    };
    const SortKind kind = SortKindOf(column);
    std::vector<Keyed> keys;
    keys.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        keys.push_back({SortKeyOf(Cell(m_rows[i], column), kind), static_cast<int>(i)});
    }
    // Stable both ways: rows with equal keys keep their relative order.
    if (ascending) {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const Keyed& a, const Keyed& b) { return SortsBefore(a.key, b.key); });
    } else {
        std::stable_sort(keys.begin(), keys.end(),
                         [](const Keyed& a, const Keyed& b) { return SortsBefore(b.key, a.key); });
    }

    // keys[i].row is the old row that now stands at position i. The rows
    // move in place, cycle by cycle: no second copy of the list is made.
    const std::size_t count = keys.size();
    std::vector<int> newPosition(count);
    std::vector<bool> placed(count, false);
    for (std::size_t i = 0; i < count; ++i) {
        newPosition[static_cast<std::size_t>(keys[i].row)] = static_cast<int>(i);
    }
    for (std::size_t start = 0; start < count; ++start) {
        if (placed[start]) {
            continue;
        }
        Row carried = std::move(m_rows[start]);
        std::size_t at = start;
        for (;;) {
            placed[at] = true;
            const auto from = static_cast<std::size_t>(keys[at].row);
            if (from == start) {
                m_rows[at] = std::move(carried);
                break;
            }
            m_rows[at] = std::move(m_rows[from]);
            at = from;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        m_positionOfSerial[m_rows[i].serial] = static_cast<int>(i);
    }

    if (m_observer != nullptr) {
        m_observer->Reordered(newPosition);
    }
}

std::uint64_t DeviceList::DeviceKey(const DeviceInfoReply& reply) {
    std::uint64_t key = 0;
    std::memcpy(&key, reply.Raw(reply::kDevId), sizeof key);
    return key;
}

void DeviceList::FillCells(Row& row, const DeviceInfoReply& reply, int number) {
    const auto cells = ReplyCellTexts(reply, number);
    std::size_t total = 0;
    for (const auto& cell : cells) {
        total += cell.size();
    }
    row.bytes.clear();
    row.bytes.reserve(total);
    for (std::size_t c = 0; c < cells.size(); ++c) {
        row.bytes += cells[c];
        // A reply buffer is 384 bytes, so no row comes near the 16-bit limit.
        row.cellEnd[c] = static_cast<std::uint16_t>(
            std::min<std::size_t>(row.bytes.size(), std::numeric_limits<std::uint16_t>::max()));
    }
}

void DeviceList::NoteOtherMac(Row& row, const DeviceInfoReply& reply) {
    if (row.otherMacs.size() >= kMaxOtherMacs) {
        return;
    }
    std::string mac = FormatMac(reply.Raw(reply::kMac));
    if (mac != Cell(row, kColMac) &&
        std::find(row.otherMacs.begin(), row.otherMacs.end(), mac) == row.otherMacs.end()) {
        row.otherMacs.push_back(std::move(mac));
    }
}

std::vector<std::string> DeviceList::OtherMacs(int row) const {
    if (row < 0 || row >= RowCount()) {
        return {};
    }
    return m_rows[static_cast<std::size_t>(row)].otherMacs;
}

std::string_view DeviceList::Cell(const Row& row, int column) {
    const std::size_t c = static_cast<std::size_t>(column);
    const std::size_t begin = c == 0 ? 0 : row.cellEnd[c - 1];
    return std::string_view(row.bytes).substr(begin, row.cellEnd[c] - begin);
}

}  // namespace qdipc
