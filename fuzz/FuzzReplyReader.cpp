// Fuzzes the reply reader and the rule that turns a reply into twelve cell
// texts: any datagram, of any length, must read without going past the
// buffer and give cells of the fixed shapes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/ReplyCells.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The text at offset read independently: up to the first zero of the
// datagram, or its end.
std::string ExpectedText(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    const std::size_t length = std::min(size, qdipc::kDeviceInfoReplySize);
    if (offset >= length) {
        return {};
    }
    const auto* begin = data + offset;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(begin, 0, length - offset));
    return std::string(begin, zero != nullptr ? zero : data + length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qdipc;
    const DeviceInfoReply reply(data, size);

    // The raw-buffer tests on a zero-padded copy agree with the reply's own.
    std::vector<std::uint8_t> padded(DeviceInfoReply::kBufferSize, 0);
    std::memcpy(padded.data(), data, std::min(size, kDeviceInfoReplySize));
    Require(HasReplySignature(padded.data()) == reply.HasSignature());
    Require(ReadReplySearchId(padded.data()) == reply.SearchId());

    const auto cells = ReplyCellTexts(reply, static_cast<int>(size));
    Require(cells[kColNumber] == std::to_string(size));
    Require(cells[kColDevId].size() == 17 && cells[kColDevId][8] == '-');
    Require(cells[kColMac].size() == 17);
    Require(cells[kColHardwareVer].size() == 23);
    for (int column : {kColPort, kColWebPort}) {
        const unsigned long value = std::strtoul(cells[column].c_str(), nullptr, 10);
        Require(value <= 65535 && std::to_string(value) == cells[column]);
    }
    const std::pair<int, std::size_t> textColumns[] = {
        {kColName, reply::kName},     {kColIp, reply::kIp},
        {kColAppVer, reply::kAppVer}, {kColKernelVer, reply::kKernelVer},
        {kColMask, reply::kMask},     {kColGateway, reply::kGateway},
    };
    for (const auto& [column, offset] : textColumns) {
        Require(cells[column] == ExpectedText(data, size, offset));
    }
    return 0;
}
