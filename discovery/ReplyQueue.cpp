#include "discovery/ReplyQueue.h"

#include <iterator>
#include <utility>

namespace qdipc {

ReplyQueue::ReplyQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

void ReplyQueue::Push(std::vector<AcceptedReply>& batch) {
    if (batch.empty()) {
        return;
    }
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasEmpty = pending_.empty();
        if (wasEmpty) {
            // Hand the whole batch over; the caller gets back an empty vector.
            pending_.swap(batch);
        } else {
            pending_.insert(pending_.end(), std::make_move_iterator(batch.begin()),
                            std::make_move_iterator(batch.end()));
        }
    }
    batch.clear();
    // Only the push that makes the queue non-empty wakes the consumer: one
    // drain takes everything that arrives until it runs.
    if (wasEmpty && wake_) {
        wake_();
    }
}

std::vector<AcceptedReply> ReplyQueue::TakeAll() {
    std::vector<AcceptedReply> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(pending_);
    return taken;
}

std::size_t ReplyQueue::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

}  // namespace qdipc
