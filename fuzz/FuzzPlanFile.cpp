// Fuzzes the plan file's reader with arbitrary text: it must never crash or
// read past the text, and a plan it accepts must hold what it promises: every
// line names a camera, no camera twice, no static IP twice, every line passes
// the settings checks and carries a line number inside the text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "settings/PlanFile.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qdipc;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const PlanFile plan = ReadPlanFile(text);
    if (!plan.Ok()) {
        Require(plan.lines.empty());
        Require(plan.error.rfind("line ", 0) == 0);
        return 0;
    }
    // Lines end at LF, CR LF or a lone CR, as the reader counts them.
    int lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            ++lines;
        }
    }
    std::set<std::string> cameras;
    std::set<std::string> staticIps;
    for (const PlanLine& line : plan.lines) {
        Require(line.line >= 2 && line.line <= lines);
        Require(!line.deviceId.empty() || !line.mac.empty());
        Require(cameras.insert(line.deviceId.empty() ? line.mac : line.deviceId).second);
        Require(!CheckPlanSettings(line).has_value());
        if (line.mode == AddressingMode::Static) {
            Require(staticIps.insert(line.ip).second);
        }
    }
    return 0;
}
