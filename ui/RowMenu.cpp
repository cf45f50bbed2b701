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
