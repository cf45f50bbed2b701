#pragma once
// The device list's row menu as every window shows it, and what its commands
// make of the rows, without a toolkit: the items with their texts and
// states, the web page address of a row, and the clipboard texts.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/NetworkInterfaces.h"

namespace qdipc {

class DeviceList;

enum class RowCommand {
    AssignAddresses = 1,
    Settings,
    Preview,
    OpenWebPage,
    Copy,
    CopyIp,
    CopyMac,
    KeepWatching,
    SaveList,
    Diagnose,
    ApplyPlan,
};

struct RowMenuItem {
    RowCommand command;
    const char* text;  // UTF-8, "&" before an access key
    bool enabled = true;
    bool checked = false;
    bool separatorBefore = false;
};

// The menu: the row commands (enabled when a row is selected and the window
// offers them), Copy, Copy IP, Copy MAC, then Keep Watching (checked while
// watching), Save List As… (when the list has rows) and Apply Plan…, then
// Diagnose Network…. offered(command) says whether the window has the command.
template <typename Offered>
std::vector<RowMenuItem> RowMenuItems(int selectedRows, int rowCount, bool watching,
                                      const Offered& offered) {
    const bool any = selectedRows > 0;
    std::vector<RowMenuItem> items = {
        {RowCommand::AssignAddresses, "Assign Addresses…"},
        {RowCommand::Settings, "Settings…"},
        {RowCommand::Preview, "Preview"},
        {RowCommand::OpenWebPage, "Open Web Page"},
        {RowCommand::Copy, "Copy", true, false, true},
        {RowCommand::CopyIp, "Copy IP"},
        {RowCommand::CopyMac, "Copy MAC"},
        {RowCommand::KeepWatching, "Keep &Watching", true, watching, true},
        {RowCommand::SaveList, "Save &List As…", rowCount > 0},
        {RowCommand::ApplyPlan, "Apply &Plan…"},
        {RowCommand::Diagnose, "Diagnose Network…", true, false, true},
    };
    for (RowMenuItem& item : items) {
        const bool wholeList = item.command == RowCommand::KeepWatching ||
                               item.command == RowCommand::SaveList ||
                               item.command == RowCommand::Diagnose;
        const bool noRow = wholeList || item.command == RowCommand::ApplyPlan;
        item.enabled = item.enabled && (noRow || any) && offered(item.command);
    }
    return items;
}

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
