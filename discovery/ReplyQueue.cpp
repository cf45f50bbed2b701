#include "discovery/ReplyQueue.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

namespace qdipc {

ReplyQueue::ReplyQueue(std::function<void()> wake, std::size_t maxPending)
    : maxPending_(maxPending), wake_(std::move(wake)) {}

void ReplyQueue::Push(std::vector<AcceptedReply>& batch) {
    if (batch.empty()) {
        return;
    }
    bool wasEmpty = false;
    bool added = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasEmpty = pending_ == 0;
        const std::size_t room = maxPending_ - std::min(maxPending_, pending_);
        if (batch.size() > room) {
            // The newest replies go: rows already on their way keep their order.
            dropped_ += batch.size() - room;
            batch.resize(room);
        }
        if (!batch.empty()) {
            pending_ += batch.size();
            added = true;
            // Fill the room the last batch has left first: a batch of a few
            // replies in a vector sized for 64 would waste most of it.
            std::size_t moved = 0;
            if (!batches_.empty()) {
                std::vector<AcceptedReply>& back = batches_.back();
                moved = std::min(back.capacity() - back.size(), batch.size());
                back.insert(
                    back.end(), std::make_move_iterator(batch.begin()),
                    std::make_move_iterator(batch.begin() + static_cast<std::ptrdiff_t>(moved)));
            }
            if (moved == 0) {
                batches_.emplace_back().swap(batch);  // no copy: the caller gets an empty vector
            } else if (moved < batch.size()) {
                batches_.emplace_back(
                    std::make_move_iterator(batch.begin() + static_cast<std::ptrdiff_t>(moved)),
                    std::make_move_iterator(batch.end()));
            }
        }
    }
    batch.clear();
    // Only the push that makes the queue non-empty wakes the consumer: it
    // drains until the queue is empty again.
    if (wasEmpty && added && wake_) {
        wake_();
    }
}

std::vector<AcceptedReply> ReplyQueue::Take(std::size_t maxCount) {
    std::vector<AcceptedReply> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    while (taken.size() < maxCount && !batches_.empty()) {
        std::vector<AcceptedReply>& front = batches_.front();
        const std::size_t left = front.size() - frontOffset_;
        const std::size_t wanted = maxCount - taken.size();
        if (taken.empty() && frontOffset_ == 0 && left <= wanted) {
            taken.swap(front);  // a whole batch: no copy
        } else {
            const std::size_t count = std::min(left, wanted);
            if (taken.empty()) {
                taken.reserve(std::min(wanted, pending_));
            }
            const auto begin = front.begin() + static_cast<std::ptrdiff_t>(frontOffset_);
            taken.insert(taken.end(), std::make_move_iterator(begin),
                         std::make_move_iterator(begin + static_cast<std::ptrdiff_t>(count)));
            frontOffset_ += count;
            if (frontOffset_ < front.size()) {
                break;  // the slice is full
            }
        }
        batches_.pop_front();
        frontOffset_ = 0;
    }
    pending_ -= taken.size();
    return taken;
}

std::vector<AcceptedReply> ReplyQueue::TakeAll() {
    return Take(std::numeric_limits<std::size_t>::max());
}

std::size_t ReplyQueue::Pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

std::uint64_t ReplyQueue::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

}  // namespace qdipc
