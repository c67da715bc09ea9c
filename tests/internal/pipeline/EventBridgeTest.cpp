#include "FacadeTestSupport.h"
#include "QueltoManagedBridge.h"

#include <gtest/gtest.h>

using namespace FacadeTest;

// A second bridge delivering to a facade lets the tests drive the bridge's
// own start and stop.
TEST(EventBridge, EventsQueuedWhileStoppedAreDeliveredInOrderByALaterStart) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get());
    for (int i = 0; i < 5; ++i) bridge->OnDataAvailable(nullptr, Event(i));
    EXPECT_EQ(bridge->QueueLength(), 5u);
    bridge->StartProcessing();
    bridge->StartProcessing();  // already running: nothing more
    ASSERT_TRUE(r.WaitFor(5));
    EXPECT_EQ(r.Scans(), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    bridge->StopProcessing();
}

TEST(EventBridge, StopLetsTheDeliveryInProgressFinishAndKeepsTheQueue) {
    auto facade = MakeFacade();
    static std::atomic<bool> entered{false}, finished{false};
    static std::atomic<int> calls{0};
    entered = finished = false;
    calls = 0;
    auto slow = [](Quelto_DataAvailableEventArgs, void*) {
        ++calls;
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    };
    facade->AddDaqDataAvailableListener(slow, nullptr);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get());
    bridge->StartProcessing();
    for (int i = 0; i < 4; ++i) bridge->OnDataAvailable(nullptr, Event(i));
    while (!entered) std::this_thread::yield();
    bridge->StopProcessing();
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(bridge->QueueLength(), 3u);  // nothing dropped, nothing more delivered
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(calls.load(), 1);
    bridge->StartProcessing();
    while (calls < 4) std::this_thread::yield();
    bridge->StopProcessing();
}

TEST(EventBridge, AFlatteningFailureIsContainedAndLaterBlocksFlow) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    // A null event object cannot be flattened.
    Raise(1);
    ASSERT_TRUE(TestSupport::SimControl().RaiseEvent(nullptr));
    Raise(2);
    ASSERT_TRUE(r.WaitFor(2));
    EXPECT_EQ(r.Scans(), (std::vector<int32_t>{1, 2}));
}

TEST(EventBridge, TheSubscriptionOutlivingTheBridgeDropsRaisesAndHoldsNoEvent) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get());
    auto handler = bridge->Handler();

    auto queued = Event(1);
    const std::weak_ptr<D::DataAvailableEventArgs> queuedSeen = queued;
    handler(nullptr, queued);  // the worker is not started: it waits
    queued.reset();
    EXPECT_FALSE(queuedSeen.expired());
    bridge.reset();
    EXPECT_TRUE(queuedSeen.expired()) << "a queued event outlived its bridge";

    auto late = Event(2);
    const std::weak_ptr<D::DataAvailableEventArgs> lateSeen = late;
    handler(nullptr, late);
    late.reset();
    EXPECT_TRUE(lateSeen.expired()) << "an event raised after the bridge went was kept";
    EXPECT_TRUE(r.Scans().empty());
}
