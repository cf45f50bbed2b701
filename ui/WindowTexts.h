#pragma once
// Texts both windows show, made in one place.

#include <string>

namespace qdipc {

class DeviceList;

// The bar's count line: "22 cameras · 20 flagged · 20 selected", with
// " · 1 gone" while watching.
std::string ListCountsText(const DeviceList& list, int selected, bool watching);

// "rtsp://" + ip + "/channel1/1", the stream the Preview button plays.
std::string StreamLocationFor(const std::string& ip);

}  // namespace qdipc
