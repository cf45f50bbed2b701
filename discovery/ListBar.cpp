#include "discovery/ListBar.h"

#include "discovery/DeviceList.h"

namespace qdipc {
namespace {

constexpr std::string_view kDot = " \u00B7 ";

}  // namespace

ListCounts CountsOfList(const DeviceList& list, int selected) {
    ListCounts counts;
    counts.cameras = list.RowCount();
    for (int row = 0; row < list.RowCount(); ++row) {
        counts.flagged += list.Flags(row) != 0 ? 1 : 0;
    }
    counts.selected = selected;
    counts.gone = list.GoneCount();
    return counts;
}

std::string CountsText(const ListCounts& counts, bool withGone) {
    std::string text = std::to_string(counts.cameras) +
                       (counts.cameras == 1 ? " camera" : " cameras") + std::string(kDot) +
                       std::to_string(counts.flagged) + " flagged" + std::string(kDot) +
                       std::to_string(counts.selected) + " selected";
    if (withGone) {
        text += std::string(kDot) + std::to_string(counts.gone) + " gone";
    }
    return text;
}

std::string SecondsText(int milliseconds) {
    std::string text = std::to_string(milliseconds / 1000);
    int rest = milliseconds % 1000;
    if (rest != 0) {
        std::string decimals = std::to_string(1000 + rest).substr(1);
        while (decimals.back() == '0') {
            decimals.pop_back();
        }
        text += "." + decimals;
    }
    return text + " s";
}

std::string ListBar::Text(const ListCounts& counts) const {
    if (m_searching) {
        // The rows found so far, once there are some.
        std::string text = "Searching\u2026";
        if (counts.cameras > 0) {
            text += std::string(kDot) + std::to_string(counts.cameras) +
                    (counts.cameras == 1 ? " camera" : " cameras");
        }
        return text;
    }
    if (m_watching) {
        return "Watching" + std::string(kDot) + "every " + SecondsText(m_intervalMs) +
               std::string(kDot) + CountsText(counts, true);
    }
    return CountsText(counts, false);
}

std::string ProgressFormatText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() &&
            (text[i + 1] == 'p' || text[i + 1] == 'v' || text[i + 1] == 'm')) {
            out += "\u2060";
        }
    }
    return out;
}

}  // namespace qdipc
