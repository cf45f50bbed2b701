#include "discovery/ReplyQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
            queue.Push(batch);
        }
    });
    std::vector<std::uint32_t> seen;
    while (seen.size() < static_cast<std::size_t>(kBatches * kPerBatch)) {
        for (const auto& reply : queue.TakeAll())
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

}  // namespace
}  // namespace qdipc
