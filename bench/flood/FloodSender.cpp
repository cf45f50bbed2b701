#include "bench/flood/FloodSender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "tools/camsim/CameraFields.h"
#include "tools/camsim/DatagramBatchSender.h"
#include "tools/camsim/DatagramSocket.h"
#include "tools/camsim/ReplyEncoder.h"

namespace bench {
namespace {

constexpr std::size_t kDevIdNumberOffset = 23 + 4;  // devId bytes 4..7: the camera number
constexpr std::size_t kSearchIdOffset = 248;

void PutNumber(camsim::ReplyBytes& bytes, std::size_t offset, std::uint32_t n, bool bigEndian) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t shift = bigEndian ? 8 * (3 - i) : 8 * i;
        bytes[offset + i] = static_cast<std::uint8_t>(n >> shift);
    }
}

}  // namespace

bool SendFlood(const FloodPlan& plan, FloodResult& result, std::string& error) {
    sockaddr_in destination{};
    const int fd = camsim::OpenDatagramSocket(plan.destination, destination, error);
    if (fd < 0) {
        return false;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        error = "connect failed";
        close(fd);
        return false;
    }
    const camsim::ReplyBytes real = camsim::EncodeReply(camsim::MakeCamera(0), plan.searchId);
    camsim::ReplyBytes junk = real;
    std::fill(junk.begin(), junk.begin() + 8, std::uint8_t{0});
    if (plan.junkUnderOtherSearch) {
        PutNumber(junk, kSearchIdOffset, plan.searchId + 1, false);
    }

    const std::size_t total = plan.junk + plan.real;
    std::vector<camsim::ReplyBytes> slots(camsim::DatagramBatchSender::kBatch);
    std::vector<std::span<const std::uint8_t>> views(slots.size());
    camsim::DatagramBatchSender sender(fd, true);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto duration = std::chrono::duration_cast<Clock::duration>(plan.duration);
    for (std::size_t next = 0; next < total;) {
        std::size_t batch = std::min(slots.size(), total - next);
        if (duration.count() > 0) {
            // Datagram i is due at start + i * duration / total.
            const auto due = start + duration * static_cast<long double>(next) / total;
            std::this_thread::sleep_until(std::chrono::time_point_cast<Clock::duration>(due));
            batch = std::min<std::size_t>(batch, 16);
        }
        for (std::size_t k = 0; k < batch; ++k) {
            const std::size_t i = next + k;
            // Real datagram r sits where the share of real ones steps up.
            const std::size_t before = plan.real * i / total;
            const bool isReal = plan.real * (i + 1) / total > before;
            if (isReal) {
                slots[k] = real;
                PutNumber(slots[k], kDevIdNumberOffset,
                          plan.firstCamera + static_cast<std::uint32_t>(before), true);
                views[k] = slots[k];
                ++result.realSent;
            } else {
                views[k] = junk;
            }
        }
        const camsim::SendCounts counts = sender.Send(std::span(views.data(), batch), destination);
        result.sent += counts.sent;
        result.failed += counts.failed;
        next += batch;
    }
    result.elapsed = Clock::now() - start;
    close(fd);
    return true;
}

}  // namespace bench
