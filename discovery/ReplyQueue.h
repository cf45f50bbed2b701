#pragma once
// Hand-over of accepted replies from the receive worker to their consumer
// (the window). The worker pushes a whole batch under one lock and never
// waits for the consumer; the consumer takes them in slices of a size it
// chooses, or everything at once. The number of replies waiting is capped:
// a push beyond the cap keeps what fits and drops the rest, counted.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "discovery/DiscoveryDatagrams.h"

namespace qdipc {

struct AcceptedReply {
    DeviceInfoReply reply;
    std::uint32_t searchId = 0;  // the search ID it was accepted under
    // The index of the interface the reply came in on, 0 when unknown: a
    // modify for this camera goes out there.
    std::uint32_t arrivalInterface = 0;
    // The address the reply came from, host byte order; 0 when unknown. A
    // camera answers from its own address, so a confirmation can tell a
    // camera's answer from another host's answering in its name.
    std::uint32_t sourceAddress = 0;
};

class ReplyQueue {
public:
    // About a million rows' worth of replies (some 390 MB) may wait.
    static constexpr std::size_t kDefaultMaxPending = 1'000'000;

    // wake is called (on the pushing thread, outside the lock) whenever a push
    // finds the queue empty, so the consumer can schedule one drain.
    explicit ReplyQueue(std::function<void()> wake = {},
                        std::size_t maxPending = kDefaultMaxPending);

    void Push(std::vector<AcceptedReply>& batch);  // moves the contents out of batch
    // The oldest replies, at most maxCount of them.
    std::vector<AcceptedReply> Take(std::size_t maxCount);
    std::vector<AcceptedReply> TakeAll();
    std::size_t Pending() const;
    // Replies a push dropped because the queue was full, since construction.
    std::uint64_t Dropped() const;
    std::size_t MaxPending() const { return maxPending_; }

private:
    mutable std::mutex mutex_;
    // The pushed batches in order; the first is consumed from frontOffset_ on.
    std::deque<std::vector<AcceptedReply>> batches_;
    std::size_t frontOffset_ = 0;
    std::size_t pending_ = 0;
    std::uint64_t dropped_ = 0;
    std::size_t maxPending_;
    std::function<void()> wake_;
};

}  // namespace qdipc
