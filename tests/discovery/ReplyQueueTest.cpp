#include "discovery/ReplyQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "discovery/BackgroundRelease.h"

namespace qdipc {
namespace {

std::vector<AcceptedReply> Batch(std::uint32_t firstId, int count) {
    std::vector<AcceptedReply> batch(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        batch[static_cast<std::size_t>(i)].searchId = firstId + i;
    return batch;
}

TEST(ReplyQueueTest, WakesOnlyWhenAPushFindsTheQueueEmpty) {
    int wakes = 0;
    ReplyQueue queue([&wakes] { ++wakes; });
    auto first = Batch(0, 3);
    queue.Push(first);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(wakes, 1);
    auto second = Batch(3, 2);
    queue.Push(second);
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(queue.Pending(), 5u);

    std::vector<AcceptedReply> none;
    queue.Push(none);
    EXPECT_EQ(wakes, 1);

    const auto taken = queue.TakeAll();
    ASSERT_EQ(taken.size(), 5u);
    for (std::uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(taken[i].searchId, i);
    EXPECT_EQ(queue.Pending(), 0u);
    EXPECT_TRUE(queue.TakeAll().empty());

    auto third = Batch(9, 1);
    queue.Push(third);
    EXPECT_EQ(wakes, 2);
}

TEST(ReplyQueueTest, NothingLostBetweenAProducerAndAConsumer) {
    std::atomic<int> wakes{0};
    ReplyQueue queue([&wakes] { wakes.fetch_add(1); });
    constexpr int kBatches = 2000;
    constexpr int kPerBatch = 7;
    std::thread producer([&queue] {
        for (int b = 0; b < kBatches; ++b) {
            auto batch = Batch(static_cast<std::uint32_t>(b * kPerBatch), kPerBatch);
            batch.reserve(2 * kPerBatch);  // room the next push fills first
            queue.Push(batch);
        }
    });
    // Everything at once, and slices that split and span the batches.
    std::vector<std::uint32_t> seen;
    const std::size_t sizes[] = {SIZE_MAX, 1, 5, 7, 8, 1000};
    for (std::size_t n = 0; seen.size() < static_cast<std::size_t>(kBatches * kPerBatch); ++n) {
        const std::size_t size = sizes[n % std::size(sizes)];
        const auto slice = size == SIZE_MAX ? queue.TakeAll() : queue.Take(size);
        ASSERT_LE(slice.size(), size);
        for (const auto& reply : slice)
            seen.push_back(reply.searchId);
        std::this_thread::yield();
    }
    producer.join();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kBatches * kPerBatch));
    for (std::size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], i);
    EXPECT_GE(wakes.load(), 1);
    EXPECT_LE(wakes.load(), kBatches);
}

TEST(ReplyQueueTest, CapKeepsTheOldestAndCountsWhatItDrops) {
    int wakes = 0;
    ReplyQueue queue([&wakes] { ++wakes; }, 10);
    EXPECT_EQ(queue.MaxPending(), 10u);
    auto first = Batch(0, 6);
    queue.Push(first);
    auto second = Batch(6, 6);  // 4 fit
    queue.Push(second);
    EXPECT_TRUE(second.empty());
    auto third = Batch(12, 1);  // none fits
    queue.Push(third);
    EXPECT_EQ(queue.Pending(), 10u);
    EXPECT_EQ(queue.Dropped(), 3u);
    EXPECT_EQ(wakes, 1);

    // Slices come oldest first, across batch boundaries.
    const auto slice = queue.Take(3);
    ASSERT_EQ(slice.size(), 3u);
    const auto rest = queue.Take(100);
    ASSERT_EQ(rest.size(), 7u);
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(slice[i].searchId, i);
    for (std::uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(rest[i].searchId, i + 3);
    EXPECT_EQ(queue.Pending(), 0u);

    // Taking made room again; a push into the empty queue wakes.
    auto fourth = Batch(20, 10);
    queue.Push(fourth);
    EXPECT_EQ(queue.Pending(), 10u);
    EXPECT_EQ(queue.Dropped(), 3u);
    EXPECT_EQ(wakes, 2);
    EXPECT_TRUE(queue.Take(0).empty());
    EXPECT_EQ(queue.TakeAll().size(), 10u);
}

// Records which thread destroyed it.
struct DestroyedOn {
    std::mutex* mutex = nullptr;
    std::vector<std::thread::id>* threads = nullptr;
    DestroyedOn(std::mutex& m, std::vector<std::thread::id>& t) : mutex(&m), threads(&t) {}
    DestroyedOn(DestroyedOn&& other) noexcept : mutex(other.mutex), threads(other.threads) {
        other.threads = nullptr;
    }
    ~DestroyedOn() {
        if (threads != nullptr) {
            std::lock_guard<std::mutex> lock(*mutex);
            threads->push_back(std::this_thread::get_id());
        }
    }
};

TEST(BackgroundReleaseTest, FreesOnAThreadOfItsOwnInOrderAndFinishesBeforeItGoes) {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    {
        BackgroundRelease release;
        std::vector<DestroyedOn> big;
        for (int i = 0; i < 1000; ++i)
            big.emplace_back(mutex, threads);
        release.Release(std::move(big));
        ASSERT_TRUE(release.WaitIdle(std::chrono::seconds(20)));
        EXPECT_GE(release.Releases(), 1u);
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(threads.size(), 1000u);
        for (const auto& id : threads)
            EXPECT_NE(id, std::this_thread::get_id());
        threads.clear();
        std::vector<DestroyedOn> more;
        more.emplace_back(mutex, threads);
        release.Release(std::move(more));
    }
    // The destructor waited for the last release.
    EXPECT_EQ(threads.size(), 1u);
}

}  // namespace
}  // namespace qdipc
