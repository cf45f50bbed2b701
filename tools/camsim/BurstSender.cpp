#include "tools/camsim/BurstSender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <thread>

#include "tools/camsim/DatagramBatchSender.h"
#include "tools/camsim/DatagramSocket.h"

namespace camsim {

BurstSender::BurstSender(BurstOptions options) : options_(std::move(options)) {
    if (options_.kinds.empty()) {
        options_.kinds.push_back(ReplyKind::Normal);
    }
    datagrams_.reserve(options_.count);
    for (std::size_t i = 0; i < options_.count; ++i) {
        const ReplyKind kind = options_.kinds[i % options_.kinds.size()];
        const CameraFields camera = MakeCamera(options_.base + static_cast<std::uint32_t>(i));
        for (auto& datagram :
             BuildReplyDatagrams(camera, options_.searchId, kind, options_.shape)) {
            datagrams_.push_back(std::move(datagram));
        }
    }
}

BurstSender::~BurstSender() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool BurstSender::Open(std::string& error) {
    sockaddr_in destination{};
    fd_ = OpenDatagramSocket(options_.destination, destination, error);
    if (fd_ < 0) {
        return false;
    }
    // A connected socket skips the route lookup of every datagram.
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        error = "connect " + FormatEndpoint(options_.destination) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

BurstResult BurstSender::Send(const std::atomic<bool>& stop) {
    BurstResult result;
    const std::optional<sockaddr_in> destination = ToSockaddr(options_.destination);
    if (fd_ < 0 || !destination) {
        return result;
    }
    const std::vector<std::span<const std::uint8_t>> storage(datagrams_.begin(), datagrams_.end());
    const std::span<const std::span<const std::uint8_t>> views(storage);
    const std::size_t total = views.size();
    DatagramBatchSender sender(fd_, true);
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto duration = std::chrono::duration_cast<Clock::duration>(options_.duration);
    std::size_t next = 0;
    while (next < total) {
        if (stop.load()) {
            result.stopped = true;
            break;
        }
        std::size_t batch = std::min(DatagramBatchSender::kBatch, total - next);
        if (duration.count() > 0) {
            // Datagram i is due at start + i * duration / total.
            const auto elapsed = Clock::now() - start;
            const auto due = static_cast<std::size_t>(
                std::min<long double>(
                    total, static_cast<long double>(total) * elapsed.count() / duration.count()) +
                1);
            if (due <= next) {
                const auto nextDue = start + std::chrono::duration_cast<Clock::duration>(
                                                 duration * static_cast<long double>(next) / total);
                std::this_thread::sleep_until(nextDue);
                continue;
            }
            batch = std::min(batch, std::min(due, total) - next);
        }
        const SendCounts counts = sender.Send(views.subspan(next, batch), *destination);
        result.sent += counts.sent;
        result.failed += counts.failed;
        next += batch;
    }
    result.elapsed = Clock::now() - start;
    return result;
}

}  // namespace camsim
