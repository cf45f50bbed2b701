// The device list's rows as the list writers take them. Apart from the
// writers themselves, so that these (and their fuzz target) need no list.
#include "discovery/CellText.h"
#include "discovery/DeviceList.h"
#include "discovery/ListOutput.h"

namespace qdipc {

ListEntry ListEntryOf(const DeviceList& list, int row, bool withTimes) {
    ListEntry entry;
    for (int c = 0; c < kColumnCount; ++c) {
        entry.cells[static_cast<std::size_t>(c)] = DecodeCellText(list.CellBytes(row, c));
    }
    entry.interfaceName = list.ArrivalInterfaceName(row);
    entry.flags = list.Flags(row);
    entry.seenVia = SeenViaName(list.SeenViaOf(row));
    if (withTimes) {
        const RowPresence presence = list.Presence(row);
        entry.firstSeen = TimeText(presence.firstSeen);
        entry.lastSeen = TimeText(presence.lastSeen);
    }
    return entry;
}

}  // namespace qdipc
