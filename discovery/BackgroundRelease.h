#pragma once
// Frees large objects on a thread of its own, in the order they were given,
// and then hands the freed memory back to the system, so that dropping a
// million rows costs the caller only a move. The destructor waits for what
// was given (freeing is bounded work; nothing here waits on the outside).

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace qdipc {

class BackgroundRelease {
public:
    BackgroundRelease() = default;
    ~BackgroundRelease();
    BackgroundRelease(const BackgroundRelease&) = delete;
    BackgroundRelease& operator=(const BackgroundRelease&) = delete;

    // Takes the object over (moved, so a container costs O(1) here) and frees
    // it on the release thread; frees it here when no thread can be started.
    template <typename T>
    void Release(T&& object) {
        Post(std::make_shared<std::remove_cvref_t<T>>(std::forward<T>(object)));
    }

    // Waits until everything given so far has been freed, at most limit.
    bool WaitIdle(std::chrono::milliseconds limit);
    // Objects freed and memory handed back since construction.
    std::size_t Releases() const;

private:
    void Post(std::shared_ptr<void> object);
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::shared_ptr<void>> objects_;
    bool busy_ = false;
    bool stop_ = false;
    std::size_t releases_ = 0;
    std::thread thread_;
};

}  // namespace qdipc
