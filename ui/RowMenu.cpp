#include "ui/RowMenu.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "discovery/ListOutput.h"
#include "platform/WholeFile.h"
#include "settings/SettingsValidation.h"

namespace qdipc {

namespace {

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

RowMenuFacts RowMenuFactsOf(const DeviceList& list, const std::vector<int>& selectedRows,
                            bool watching) {
    RowMenuFacts facts;
    facts.selectedRows = static_cast<int>(selectedRows.size());
    facts.rowCount = list.RowCount();
    facts.watching = watching;
    facts.goneCount = list.GoneCount();
    if (selectedRows.size() == 1) {
        facts.oneRowSeenVia = list.SeenViaOf(selectedRows.front());
    }
    facts.onvifOnly = !selectedRows.empty() &&
                      std::all_of(selectedRows.begin(), selectedRows.end(),
                                  [&list](int row) { return list.SeenViaOf(row) == SeenOnvif; });
    return facts;
}

std::vector<RowMenuItem> RowMenuItems(const RowMenuFacts& facts,
                                      const std::function<bool(RowCommand)>& offered) {
    const bool any = facts.selectedRows > 0;
    std::vector<RowMenuItem> items;
    if (facts.oneRowSeenVia != 0) {
        items.push_back({RowCommand::FoundVia, SeenViaWords(facts.oneRowSeenVia).data(), false});
    }
    const bool afterFoundVia = !items.empty();
    const std::vector<RowMenuItem> commands = {
        {RowCommand::AssignAddresses, "Assign Addresses…", !facts.onvifOnly, false, afterFoundVia},
        {RowCommand::Settings, "Settings…", !facts.onvifOnly},
        {RowCommand::Preview, "Preview"},
        {RowCommand::StreamInfo, "Stream Info"},
        {RowCommand::SaveSnapshot, "Save Snapshot…"},
        {RowCommand::OpenWebPage, "Open Web Page"},
        {RowCommand::DeviceDetails, "Device Details…"},
        {RowCommand::Copy, "Copy", true, false, true},
        {RowCommand::CopyIp, "Copy IP"},
        {RowCommand::CopyMac, "Copy MAC"},
        {RowCommand::KeepWatching, "Keep &Watching", true, facts.watching, true},
        {RowCommand::ShowGone, "Show &Gone Cameras", facts.goneCount > 0},
        {RowCommand::SaveList, "Save &List As…", facts.rowCount > 0},
        {RowCommand::ApplyPlan, "Apply &Plan…"},
        {RowCommand::Diagnose, "Diagnose Network…", true, false, true},
    };
    for (RowMenuItem item : commands) {
        // These act on the whole list, selected rows or not.
        const bool noRow =
            item.command == RowCommand::KeepWatching || item.command == RowCommand::ShowGone ||
            item.command == RowCommand::SaveList || item.command == RowCommand::ApplyPlan ||
            item.command == RowCommand::Diagnose;
        item.enabled = item.enabled && (noRow || any) && offered(item.command);
        items.push_back(item);
    }
    return items;
}

std::vector<int> GoneRows(const DeviceList& list) {
    std::vector<int> rows;
    for (int row = 0; row < list.RowCount() && list.GoneCount() > 0; ++row) {
        if (list.Presence(row).gone) {
            rows.push_back(row);
        }
    }
    return rows;
}

std::string WebPageAddress(const std::string& ipCell, const std::string& webPortCell) {
    const auto address = ParseIpv4Strict(ipCell);
    if (!address) {
        return {};
    }
    std::string url = "http://" + FormatIpv4(*address);
    unsigned port = 0;
    const char* end = webPortCell.data() + webPortCell.size();
    const auto [stop, error] = std::from_chars(webPortCell.data(), end, port);
    if (error == std::errc() && stop == end && port != 80 && port > 0 && port <= 65535) {
        url += ":" + std::to_string(port);
    }
    return url + "/";
}

std::string RowsClipboardText(const DeviceList& list, std::vector<int> rows) {
    // Row indexes are display positions: sorting them gives the order shown.
    std::sort(rows.begin(), rows.end());
    std::vector<ListRecord> records;
    records.reserve(rows.size());
    for (int row : rows) {
        ListRecord& record = records.emplace_back();
        for (int c = 0; c < kColumnCount; ++c) {
            // Decoded only: ClipboardRows escapes each cell once.
            record[static_cast<std::size_t>(c)] = DecodeCellText(list.CellBytes(row, c));
        }
    }
    return records.empty() ? std::string() : ClipboardRows(records);
}

std::string ColumnClipboardText(const DeviceList& list, std::vector<int> rows, int column) {
    std::sort(rows.begin(), rows.end());
    std::string text;
    for (int row : rows) {
        text += ClipboardCell(DecodeCellText(list.CellBytes(row, column))) + "\n";
    }
    return text;
}

std::string SaveDeviceList(const DeviceList& list, const std::filesystem::path& path,
                           const std::vector<Ipv4Interface>& interfaces) {
    std::vector<ListEntry> entries;
    entries.reserve(static_cast<std::size_t>(list.RowCount()));
    for (int row = 0; row < list.RowCount(); ++row) {
        entries.push_back(ListEntryOf(list, row, true));
    }
    SavedListAbout about;
    about.version = kProgramVersion;
    about.savedAt = TimeText(list.Now());
    about.interfaces = interfaces;
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool json = extension == ".json";
    const auto write = [](const std::filesystem::path& file, const std::string& text) {
        std::string error;
        if (!WriteFileWhole(file, text, error)) {
            return "Save List As: " + EscapeControls(Utf8Path(file)) + " could not be written (" +
                   error + ")";
        }
        return std::string();
    };
    std::string error =
        write(path, FormatSavedList(json ? ListFormat::Json : ListFormat::Csv, entries, about));
    if (!error.empty() || json) {
        return error;
    }
    const std::string about8 = SavedListAboutPath(Utf8Path(path));
    return write(std::filesystem::path(std::u8string(about8.begin(), about8.end())),
                 FormatSavedListAbout(about));
}

}  // namespace qdipc
