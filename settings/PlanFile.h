#pragma once
// The address plan a command line reads from a CSV file (RFC 4180: commas,
// fields in double quotes may hold commas, line breaks and doubled quotes;
// CRLF or LF line ends; a UTF-8 byte-order mark is skipped). The first record
// is the header and names the columns, in any order and any letter case:
// "dev_id" and/or "mac" (which camera; a line fills at least one), "ip",
// "mask", "gateway" and optionally "mode" (static, dhcp or adsl; empty is
// static), "new_mac" (the MAC the camera is given; a line with it also
// matches the camera answering with that MAC already) and "restore" (yes or
// no; empty is no). Empty lines are skipped. Every line is checked before
// the plan is used; the first fault ends the reading with its line and
// column, except on a restore line: a restore line whose settings cannot be
// sent is kept with its refusal, and the others proceed.
//
// A restore line puts a camera back to what it reported before (the rollback
// plan of a run is made of them): its settings pass ValidateRestoreSettings,
// and restore lines may share one static address (a factory batch comes back
// to its one factory address). Reading is linear in the text; a plan holds
// at most kMaxPlanLines lines.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/NetSettingsRecord.h"

namespace qdipc {

struct PlanLine {
    int line = 0;          // the file line the record starts on, from 1
    std::string deviceId;  // as the list shows it (lowercase), or empty
    std::string mac;       // six lowercase pairs joined by ":", or empty
    std::string ip;
    std::string mask;
    std::string gateway;
    AddressingMode mode = AddressingMode::Static;
    std::string newMac;  // as mac, or empty: the camera keeps its MAC
    bool restore = false;
    // A restore line that cannot be sent: "column NAME: reason" (the line is
    // refused alone).
    std::string refusal;
};

// The largest plan file read: far more than any site's cameras need (a line
// is under 100 bytes), small enough that reading it is quick.
inline constexpr std::size_t kMaxPlanFileBytes = 16 * 1024 * 1024;
// The most lines a plan may hold (besides its header).
inline constexpr std::size_t kMaxPlanLines = 500000;

struct PlanFault {
    std::string column;  // the column's header name; empty for the whole line
    std::string reason;
};

// Checks one line's settings; nothing when they may be sent.
using PlanSettingsCheck = std::function<std::optional<PlanFault>(const PlanLine&)>;

// The settings rules every change passes (ValidateSettings), with the fault
// named by its column.
std::optional<PlanFault> CheckPlanSettings(const PlanLine& line);

struct PlanFile {
    std::vector<PlanLine> lines;
    // The first fault: "line N, column NAME: reason" (or "line N: reason").
    std::string error;

    bool Ok() const { return error.empty(); }
};

// Reads and checks the whole text. Besides check, a plan may not name one
// camera twice nor give two static lines one IP.
PlanFile ReadPlanFile(std::string_view text, const PlanSettingsCheck& check = CheckPlanSettings);

}  // namespace qdipc
