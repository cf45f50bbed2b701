#pragma once
// Burst mode for benchmarks: N distinct replies (cameras base .. base+N-1),
// all with one search ID, sent to one destination either as fast as the
// system takes them or spread evenly over a duration.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/camsim/Endpoint.h"
#include "tools/camsim/ReplyEncoder.h"

namespace camsim {

struct BurstOptions {
    Endpoint destination;
    std::size_t count = 0;
    std::uint32_t searchId = 0;
    std::uint32_t base = 1;
    // Zero: as fast as possible. Otherwise datagram i leaves at i * duration / count.
    std::chrono::microseconds duration{0};
    // Reply kinds, used reply by reply in turn.
    std::vector<ReplyKind> kinds{ReplyKind::Normal};
    ReplyShape shape;
};

struct BurstResult {
    std::size_t sent = 0;
    std::size_t failed = 0;
    std::chrono::nanoseconds elapsed{0};
    bool stopped = false;  // the stop flag ended it early
};

class BurstSender {
public:
    // Encodes every datagram up front, so sending does nothing else.
    explicit BurstSender(BurstOptions options);
    ~BurstSender();
    BurstSender(const BurstSender&) = delete;
    BurstSender& operator=(const BurstSender&) = delete;

    // Creates the sending socket (broadcast allowed); false with the reason.
    bool Open(std::string& error);
    std::size_t DatagramCount() const { return datagrams_.size(); }

    // Sends the burst; checks stop between batches.
    BurstResult Send(const std::atomic<bool>& stop);

private:
    BurstOptions options_;
    std::vector<std::vector<std::uint8_t>> datagrams_;
    int fd_ = -1;
};

}  // namespace camsim
