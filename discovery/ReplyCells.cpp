#include "discovery/ReplyCells.h"

#include "discovery/DeviceCodecs.h"

namespace qdipc {

const std::array<const char*, kColumnCount> kColumnTitles = {
    "NO.",     "Dev ID",       "Name",       "IP",   "Port",     "MAC",
    "App Ver", "Hardware Ver", "Kernel Ver", "Mask", "Web Port", "Gateway",
};

std::array<std::string, kColumnCount> ReplyCellTexts(const DeviceInfoReply& reply, int number) {
    std::array<std::string, kColumnCount> cells;
    cells[kColNumber] = std::to_string(number);
    cells[kColDevId] = FormatDeviceId(reply.Raw(reply::kDevId));
    cells[kColName] = reply.Text(reply::kName);
    cells[kColIp] = reply.Text(reply::kIp);
    cells[kColPort] = std::to_string(reply.U16(reply::kPort));
    cells[kColMac] = FormatMac(reply.Raw(reply::kMac));
    cells[kColAppVer] = reply.Text(reply::kAppVer);
    cells[kColHardwareVer] = FormatHardwareVer(reply.Raw(reply::kHardwareVer));
    cells[kColKernelVer] = reply.Text(reply::kKernelVer);
    cells[kColMask] = reply.Text(reply::kMask);
    cells[kColWebPort] = std::to_string(reply.U16(reply::kWebPort));
    cells[kColGateway] = reply.Text(reply::kGateway);
    return cells;
}

}  // namespace qdipc
