#include "ui/WindowTexts.h"

#include "discovery/DeviceList.h"

namespace qdipc {

std::string ListCountsText(const DeviceList& list, int selected, bool watching) {
    int flagged = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        flagged += list.Flags(row) != 0 ? 1 : 0;
    }
    std::string text =
        std::to_string(list.RowCount()) + (list.RowCount() == 1 ? " camera" : " cameras") + " · " +
        std::to_string(flagged) + " flagged · " + std::to_string(selected) + " selected";
    if (watching) {
        text += " · " + std::to_string(list.GoneCount()) + " gone";
    }
    return text;
}

std::string StreamLocationFor(const std::string& ip) {
    return "rtsp://" + ip + "/channel1/1";
}

}  // namespace qdipc
