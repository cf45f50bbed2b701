#pragma once
// Hand-over of accepted replies from the receive worker to their consumer
// (the window). The worker pushes a whole batch under one lock and never
// waits for the consumer; the consumer takes everything pending at once.

#include <cstdint>
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
};

class ReplyQueue {
public:
    // wake is called (on the pushing thread, outside the lock) whenever a push
    // finds the queue empty, so the consumer can schedule one drain.
    explicit ReplyQueue(std::function<void()> wake = {});

    void Push(std::vector<AcceptedReply>& batch);  // moves the contents out of batch
    std::vector<AcceptedReply> TakeAll();
    std::size_t Pending() const;

private:
    mutable std::mutex mutex_;
    std::vector<AcceptedReply> pending_;
    std::function<void()> wake_;
};

}  // namespace qdipc
