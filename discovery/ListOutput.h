#pragma once
// The device list as text for other programs: the records --list prints
// (TSV and RFC 4180 CSV with the column titles as header; a JSON array of
// objects with snake_case keys, as `ip -j` and nmcli write them) and the rows
// Ctrl+C copies from the window (tab-separated). Toolkit-free: the cells come
// in as UTF-8 text.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/ReplyCells.h"
#include "platform/NetworkInterfaces.h"

namespace qdipc {

// The version the program reports (--version, About, a saved list).
inline constexpr const char* kProgramVersion = "1.0.0.1";

enum class ListFormat { Tsv, Csv, Json };

// One camera's twelve cell texts in column order, as UTF-8.
using ListRecord = std::array<std::string, kColumnCount>;

// One camera as --list prints it: its cells, and for JSON the system name of
// the interface its reply came in on ("" when unknown) and its DeviceFlag bits.
struct ListEntry {
    ListRecord cells;
    std::string interfaceName;
    std::uint32_t flags = 0;
    // How it was found: "native", "onvif" or "native+onvif" (SeenViaName);
    // written when not empty.
    std::string seenVia{};
    // When the camera was first and last heard (TimeText); JSON writes them
    // as "first_seen" and "last_seen" when firstSeen is not empty.
    std::string firstSeen{};
    std::string lastSeen{};
};

// A time as the list's texts give it: UTC, ISO 8601, to the second
// ("2026-12-09T03:12:04Z").
std::string TimeText(std::chrono::system_clock::time_point time);
// The same to the millisecond ("2026-12-09T03:12:04.120Z"), for watch events.
std::string MillisecondTimeText(std::chrono::system_clock::time_point time);

// What a saved list says about where and when it was made.
struct SavedListAbout {
    std::string version;                      // the tool's version
    std::string savedAt;                      // TimeText
    std::vector<Ipv4Interface> interfaces{};  // the host's interfaces
};

// The JSON keys of the twelve columns, in column order; "interface" and
// "flags" follow them.
inline constexpr std::array<const char*, kColumnCount> kJsonKeys = {
    "no",      "dev_id",       "name",       "ip",   "port",     "mac",
    "app_ver", "hardware_ver", "kernel_ver", "mask", "web_port", "gateway"};

// The whole output: a header line (TSV, CSV) or the enclosing array (JSON),
// then one record per camera, in the order given. In every format a control
// character inside a field (C0, DEL, C1; tab and line breaks included) is
// written as \xNN, JSON's \u00NN, so no field can break a line or reach a
// terminal as a control sequence. TSV ends lines with LF; CSV ends lines with
// CR LF and quotes a field that holds a comma or a quote, doubling its
// quotes; TSV and CSV carry the twelve cells, TSV then "Flags" (DeviceFlagNames
// joined by ","), and both "Seen Via" (how the device was found: native, onvif
// or native+onvif). CSV is for spreadsheets:
// a cell that StartsLikeFormula gets a leading apostrophe, so
// =HYPERLINK(...) from a camera shows as text and never runs; TSV and JSON
// keep the exact text for scripts. JSON writes one object per
// line with the keys kJsonKeys, then "interface", "flags" (an array of
// DeviceFlagNames) and "seen_via"; "no", "port" and "web_port" are numbers
// (null in the row of an ONVIF device, which has neither).
std::string FormatDeviceList(ListFormat format, const std::vector<ListEntry>& entries);
// The same in pieces, so that a long list is written row by row without
// the whole text (or every entry) in memory: DeviceListHead, then
// AppendDeviceListRow for each row (first: the list's first row), then
// DeviceListTail (empty: no row was written) give FormatDeviceList's bytes.
std::string DeviceListHead(ListFormat format);
void AppendDeviceListRow(std::string& out, ListFormat format, const ListEntry& entry, bool first);
std::string DeviceListTail(ListFormat format, bool empty);

// Any records in the same three forms, with the same escapes: names as the
// header line (TSV, CSV) or as each JSON object's keys (every value a
// string), every row as long as names.
std::string FormatRecords(ListFormat format, const std::vector<std::string>& names,
                          const std::vector<std::vector<std::string>>& rows);

// One watch event (added, changed, gone, back) made at time
// (MillisecondTimeText) as one line. JSON: one object with "event" and
// "time" first, then the keys of a --list object, "first_seen" and
// "last_seen" (JSON Lines). TSV: the event, the time, the twelve cells and
// the two times, tab-separated. Ends with a line break.
std::string FormatWatchEvent(ListFormat format, std::string_view event, std::string_view time,
                             const ListEntry& entry);
// What precedes the events: TSV a header line ("Event", "Time", the column
// titles, "First Seen", "Last Seen"), JSON nothing.
std::string WatchEventHeader(ListFormat format);

class DeviceList;
// A row of the list as the writers take it: its cells as --list prints them,
// the interface, the flags, and with withTimes its first- and last-seen times.
ListEntry ListEntryOf(const DeviceList& list, int row, bool withTimes);

// A saved list. JSON: one object, {"tool", "version", "saved_at",
// "interfaces": [{"name", "address", "netmask"}], "cameras": [the --list
// objects with their times]}. CSV: exactly what --list writes, header row
// first; the metadata goes beside it (FormatSavedListAbout).
std::string FormatSavedList(ListFormat format, const std::vector<ListEntry>& entries,
                            const SavedListAbout& about);
// The metadata of a saved CSV list as a JSON object of its own (the same
// keys as the saved JSON, without "cameras").
std::string FormatSavedListAbout(const SavedListAbout& about);
// Where that metadata goes: the CSV file's name with ".about.json" appended
// ("site.csv" -> "site.csv.about.json").
inline std::string SavedListAboutPath(std::string_view csvPath) {
    return std::string(csvPath) + ".about.json";
}
// The file a list is saved to: path as it is when its file name has an
// extension, else with the chosen format's (".csv", ".json", ".tsv")
// appended. A name that only starts with a dot has none.
std::string SavedListPath(std::string_view path, ListFormat chosen);

// Lines of tab-separated cells for pasting into a spreadsheet: the column
// titles first, then the rows given, decoded but not escaped (the window's
// DecodeCellText). Control characters inside a cell (a tab or line break too)
// are written as \xNN, so every row stays one line of twelve cells, and a cell
// that StartsLikeFormula gets a leading apostrophe, as in CSV.
std::string ClipboardRows(const std::vector<ListRecord>& rows);

// One cell as CSV and the clipboard write it: escaped (EscapeControls), with
// a leading apostrophe when it StartsLikeFormula.
std::string ClipboardCell(std::string_view text);

// The one CSV writer, for every CSV the program writes (the list, the Assign
// dialog's results, the rollback plan): a cell escaped and formula-safe as
// ClipboardCell, then in double quotes (its quotes doubled) when it holds a
// comma or a quote. No cell can break its line or run in a spreadsheet.
std::string CsvCell(std::string_view text);
// One CSV line: the cells as CsvCell, comma-separated, ending with CR LF.
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace qdipc
