#include "settings/AssignMemory.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "discovery/DeviceCodecs.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

struct Line {
    std::string network;
    AssignFields fields;
};

// A field never holds a tab or a line end: such a text is not stored.
bool Storable(const std::string& text) {
    return text.find_first_of("\t\r\n") == std::string::npos;
}

std::vector<Line> ReadLines(const std::filesystem::path& file) {
    std::vector<Line> lines;
    std::ifstream in(file, std::ios::binary);
    std::string text;
    while (lines.size() < 4 * kMaxRememberedNetworks && std::getline(in, text)) {
        // A file edited on Windows may end its lines with CR LF.
        if (text.ends_with('\r')) {
            text.pop_back();
        }
        // Every tab separates two fields, an empty last one too.
        std::vector<std::string> parts;
        std::size_t begin = 0;
        for (std::size_t tab = text.find('\t'); tab != std::string::npos;
             tab = text.find('\t', begin)) {
            parts.push_back(text.substr(begin, tab - begin));
            begin = tab + 1;
        }
        parts.push_back(text.substr(begin));
        // A damaged line is passed over, not taken for a network.
        if (parts.size() == 4 && !parts[0].empty()) {
            lines.push_back({parts[0], {parts[1], parts[2], parts[3]}});
        }
    }
    return lines;
}

}  // namespace

std::filesystem::path AssignMemoryFile(const std::filesystem::path& stateDirectory) {
    return stateDirectory.empty() ? std::filesystem::path() : stateDirectory / "assign-fields.tsv";
}

std::string AssignNetworkKey(const AssignFields& prefill) {
    const auto start = ParseIpv4Strict(prefill.start);
    const auto mask = ParseIpv4Strict(prefill.mask);
    if (!start || !mask) {
        return {};
    }
    return FormatIpv4(*start & *mask) + "/" + FormatIpv4(*mask);
}

AssignFields RecallAssignFields(const std::filesystem::path& file, const AssignFields& prefill) {
    const std::string network = AssignNetworkKey(prefill);
    if (network.empty() || file.empty()) {
        return prefill;
    }
    AssignFields recalled = prefill;
    for (const Line& line : ReadLines(file)) {
        if (line.network == network) {
            recalled = line.fields;  // the last line of a network is its latest
        }
    }
    return recalled;
}

bool RememberAssignFields(const std::filesystem::path& file, const AssignFields& prefill,
                          const AssignFields& applied) {
    const std::string network = AssignNetworkKey(prefill);
    if (network.empty() || file.empty() || !Storable(applied.start) || !Storable(applied.mask) ||
        !Storable(applied.gateway)) {
        return false;
    }
    std::vector<Line> lines = ReadLines(file);
    std::erase_if(lines, [&](const Line& line) { return line.network == network; });
    lines.push_back({network, applied});
    if (lines.size() > kMaxRememberedNetworks) {
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(
                                                       lines.size() - kMaxRememberedNetworks));
    }
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    // Written beside it, then put in its place: a crash leaves the old file.
    std::filesystem::path fresh = file;
    fresh += ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        for (const Line& line : lines) {
            out << line.network << '\t' << line.fields.start << '\t' << line.fields.mask << '\t'
                << line.fields.gateway << '\n';
        }
        out.flush();
        if (!out) {
            return false;
        }
    }
    std::filesystem::rename(fresh, file, error);
    return !error;
}

}  // namespace qdipc
