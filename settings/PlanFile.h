#pragma once
// The address plan a command line reads from a CSV file (RFC 4180: commas,
// fields in double quotes may hold commas, line breaks and doubled quotes;
// CRLF or LF line ends; a UTF-8 byte-order mark is skipped). The first record
// is the header and names the columns, in any order and any letter case:
// "dev_id" and/or "mac" (which camera; a line fills at least one), "ip",
// "mask", "gateway" and optionally "mode" (static, dhcp or adsl; empty is
// static). Empty lines are skipped. Every line is checked before the plan is
// used; the first fault ends the reading with its line and column.

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
};

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
