#include "discovery/BackgroundRelease.h"

#include <system_error>

#include "platform/HeapTrim.h"

namespace qdipc {

BackgroundRelease::~BackgroundRelease() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void BackgroundRelease::Post(std::shared_ptr<void> object) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread(&BackgroundRelease::Run, this);
        } catch (const std::system_error&) {
            lock.unlock();
            object.reset();  // no thread: free it here
            return;
        }
    }
    objects_.push_back(std::move(object));
    wake_.notify_one();
}

void BackgroundRelease::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !objects_.empty() || stop_; });
        if (objects_.empty()) {
            return;  // stopped with nothing left to free
        }
        busy_ = true;
        std::deque<std::shared_ptr<void>> objects;
        objects.swap(objects_);
        lock.unlock();
        objects.clear();
        ReturnFreeHeapToSystem();
        lock.lock();
        busy_ = false;
        releases_ += 1;
        idle_.notify_all();
    }
}

bool BackgroundRelease::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return objects_.empty() && !busy_; });
}

std::size_t BackgroundRelease::Releases() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return releases_;
}

}  // namespace qdipc
