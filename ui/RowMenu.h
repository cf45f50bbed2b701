#pragma once
// The device list's row menu as every window shows it, and what its commands
// make of the rows, without a toolkit: the items with their texts and
// states, the web page address of a row, and the clipboard texts.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/NetworkInterfaces.h"

namespace qdipc {

class DeviceList;

enum class RowCommand {
    AssignAddresses = 1,
    Settings,
    Preview,
    StreamInfo,
    SaveSnapshot,
    OpenWebPage,
    DeviceDetails,
    Copy,
    CopyIp,
    CopyMac,
    KeepWatching,
    SaveList,
    Diagnose,
    ApplyPlan,
    FoundVia,  // the "found via …" line: no command
    ShowGone,
};

struct RowMenuItem {
    RowCommand command;
    const char* text;  // UTF-8, "&" before an access key
    bool enabled = true;
    bool checked = false;
    bool separatorBefore = false;
};

// What the menu is about: the rows chosen and the list.
struct RowMenuFacts {
    int selectedRows = 0;
    int rowCount = 0;
    bool watching = false;
    int goneCount = 0;
    // How the one row chosen was found (SeenNative, SeenOnvif); 0 unless
    // exactly one row is chosen.
    std::uint32_t oneRowSeenVia = 0;
    // Every row chosen was found only as an ONVIF device: it has no device
    // ID for Assign or Settings to work on.
    bool onvifOnly = false;
};
RowMenuFacts RowMenuFactsOf(const DeviceList& list, const std::vector<int>& selectedRows,
                            bool watching);

// The menu: how the one row chosen was found (a line that does nothing);
// the row commands (enabled when a row is selected and the window offers
// them; Assign and Settings not for ONVIF-only rows); Copy, Copy IP, Copy
// MAC; Keep Watching (checked while watching), Show Gone Cameras (when some
// are gone), Save List As… (when the list has rows) and Apply Plan…; then
// Diagnose Network…. offered(command) says whether the window has the
// command; one it has not is shown disabled.
std::vector<RowMenuItem> RowMenuItems(const RowMenuFacts& facts,
                                      const std::function<bool(RowCommand)>& offered);

// "Show Gone Cameras": the rows whose camera is gone (display positions,
// in order).
std::vector<int> GoneRows(const DeviceList& list);

// At most this many web pages open from one command.
inline constexpr int kMaxWebPages = 8;

// "http://A.B.C.D/", with ":PORT" before the slash unless the web port is 80
// (or not a port); empty when the IP cell is not a plain dotted quad.
std::string WebPageAddress(const std::string& ipCell, const std::string& webPortCell);

// The rows (display positions, any order) as the clipboard takes them: the
// column titles, then the rows in display order (ClipboardRows).
std::string RowsClipboardText(const DeviceList& list, std::vector<int> rows);
// One column of the rows, one cell a line (ClipboardCell), in display order.
std::string ColumnClipboardText(const DeviceList& list, std::vector<int> rows, int column);

// "Save List As…": the list written to path, whole or not at all: JSON for a
// .json name, else CSV (the list's own shape, so that it reads back as a
// plan) with its metadata beside it (SavedListAboutPath). The error text,
// or empty.
std::string SaveDeviceList(const DeviceList& list, const std::filesystem::path& path,
                           const std::vector<Ipv4Interface>& interfaces);

}  // namespace qdipc
