#pragma once
// The device list as text for other programs: the records --list prints
// (TSV and RFC 4180 CSV with the column titles as header; a JSON array of
// objects with snake_case keys, as `ip -j` and nmcli write them) and the rows
// Ctrl+C copies from the window (tab-separated). Toolkit-free: the cells come
// in as UTF-8 text.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandLine.h"
#include "discovery/ReplyCells.h"

namespace qdipc {

// One camera's twelve cell texts in column order, as UTF-8.
using ListRecord = std::array<std::string, kColumnCount>;

// One camera as --list prints it: its cells, and for JSON the system name of
// the interface its reply came in on ("" when unknown) and its DeviceFlag bits.
struct ListEntry {
    ListRecord cells;
    std::string interfaceName;
    std::uint32_t flags = 0;
};

// The JSON keys of the twelve columns, in column order; "interface" and
// "flags" follow them.
inline constexpr std::array<const char*, kColumnCount> kJsonKeys = {
    "no",      "dev_id",       "name",       "ip",   "port",     "mac",
    "app_ver", "hardware_ver", "kernel_ver", "mask", "web_port", "gateway"};

// The whole output: a header line (TSV, CSV) or the enclosing array (JSON),
// then one record per camera, in the order given. TSV ends lines with LF and
// writes a tab, a line break or a backslash inside a field as \t, \n, \r or
// \\; CSV ends lines with CR LF and quotes a field that holds a comma, a
// quote or a line break, doubling its quotes; TSV and CSV carry the twelve
// cells only. JSON writes one object per line with the keys kJsonKeys, then
// "interface" and "flags" (an array of DeviceFlagNames); "no", "port" and
// "web_port" are numbers.
std::string FormatDeviceList(ListFormat format, const std::vector<ListEntry>& entries);

// Any records in the same three forms: names as the header line (TSV, CSV)
// or as each JSON object's keys, every row as long as names.
std::string FormatRecords(ListFormat format, const std::vector<std::string>& names,
                          const std::vector<std::vector<std::string>>& rows);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Decodes 8-bit text of another encoding into UTF-8; nullopt when the bytes
// are not valid in it.
using LegacyDecoder = std::function<std::optional<std::string>(std::string_view)>;

// A cell's raw bytes as printable UTF-8, decoded as the window decodes them:
// UTF-8 when valid, else by the legacy decoder (GB18030). When neither fits,
// ASCII characters stay, a backslash becomes \\ and every other byte \xNN,
// so no byte is lost and none is mistaken for a character.
std::string PrintableCellText(std::string_view bytes, const LegacyDecoder& legacy);

// Lines of tab-separated cells for pasting into a spreadsheet: the column
// titles first, then the rows given. A tab or line break inside a cell
// becomes a space, so that every row stays one line of twelve cells.
std::string ClipboardRows(const std::vector<ListRecord>& rows);

}  // namespace qdipc
