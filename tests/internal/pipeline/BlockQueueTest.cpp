// The event bridge's ring queue.
#include "BlockQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <utility>

using Pipeline::BlockQueue;

TEST(BlockQueue, KeepsOrderAcrossWrapsAndGrowthAndReleasesWhatItPops) {
    BlockQueue<std::shared_ptr<int>> q;
    std::mt19937 random(3);
    int pushed = 0, popped = 0;
    std::weak_ptr<int> last;
    // Lengths that wrap the ring many times and grow it past several sizes.
    for (int round = 0; round < 2000; ++round) {
        const int in = static_cast<int>(random() % 40), out = static_cast<int>(random() % 40);
        for (int i = 0; i < in; ++i) q.push_back(std::make_shared<int>(pushed++));
        for (int i = 0; i < out && !q.empty(); ++i) {
            last = q.front();
            ASSERT_EQ(*q.front(), popped++);
            q.pop_front();
            EXPECT_TRUE(last.expired()) << "a popped value is still held by the queue";
        }
        ASSERT_EQ(q.size(), static_cast<std::size_t>(pushed - popped));
    }
    while (!q.empty()) {
        ASSERT_EQ(*q.front(), popped++);
        q.pop_front();
    }
    EXPECT_EQ(popped, pushed);
}

TEST(BlockQueue, AppendsAllocateOnlyPastTheLongestQueueAndADrainedBacklogGivesTheRingBack) {
    BlockQueue<int> q;
    for (int i = 0; i < 10; ++i) q.push_back(i);
    const std::size_t ring = q.capacity();
    for (int i = 0; i < 100000; ++i) {  // steady state: one in, one out
        q.push_back(i);
        q.pop_front();
    }
    EXPECT_EQ(q.capacity(), ring);
    for (int i = 0; i < 10000; ++i) q.push_back(i);  // a backlog
    EXPECT_GE(q.capacity(), 10010u);
    while (q.size() > 1) q.pop_front();
    EXPECT_GE(q.capacity(), 10010u);  // kept while blocks wait
    q.pop_front();
    EXPECT_EQ(q.capacity(), BlockQueue<int>::kKeptSlots);
    q.push_back(7);
    EXPECT_EQ(q.front(), 7);
}

TEST(BlockQueue, AQueueMovedFromIsEmptyAndUsableAndTheMovedValuesKeepTheirOrder) {
    BlockQueue<std::shared_ptr<int>> q;
    for (int i = 0; i < 20; ++i) q.push_back(std::make_shared<int>(i));
    for (int i = 0; i < 7; ++i) q.pop_front();  // the head is off slot 0
    BlockQueue<std::shared_ptr<int>> taken(std::move(q));
    EXPECT_TRUE(q.empty());
    for (int i = 100; i < 140; ++i) q.push_back(std::make_shared<int>(i));
    for (int i = 100; i < 140; ++i) {
        ASSERT_EQ(*q.front(), i);
        q.pop_front();
    }
    ASSERT_EQ(taken.size(), 13u);
    q = std::move(taken);
    EXPECT_TRUE(taken.empty());
    for (int i = 7; i < 20; ++i) {
        ASSERT_EQ(*q.front(), i);
        q.pop_front();
    }
    EXPECT_TRUE(q.empty());
}
