#include "FacadeTestSupport.h"
#include "QueltoManagedBridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

namespace {
// Holds the worker in its first delivery until opened.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, open = false;
    int calls = 0;
    static void Listen(Quelto_DataAvailableEventArgs, void* context) {
        auto& g = *static_cast<Gate*>(context);
        std::unique_lock lock(g.m);
        ++g.calls;
        g.entered = true;
        g.cv.notify_all();
        g.cv.wait(lock, [&] { return g.open; });
    }
    template <class P>
    bool WaitUntil(P p) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(10), p);
    }
};

bool WaitUntilAsleep(const QueltoManagedBridge& bridge) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!bridge.WorkerSleeps()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
}  // namespace

TEST(EventBridge, TheDeviceThreadWakesASleepingWorkerOnceAndABusyOneNever) {
    auto facade = MakeFacade();
    Gate gate;
    facade->AddDaqDataAvailableListener(&Gate::Listen, &gate);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get());
    bridge->StartProcessing();
    ASSERT_TRUE(WaitUntilAsleep(*bridge));
    EXPECT_EQ(bridge->WakeUps(), 0);

    bridge->OnDataAvailable(nullptr, Event(0));
    EXPECT_EQ(bridge->WakeUps(), 1);
    ASSERT_TRUE(gate.WaitUntil([&] { return gate.entered; }));
    for (int i = 1; i <= 20; ++i) bridge->OnDataAvailable(nullptr, Event(i));  // the worker is busy
    EXPECT_EQ(bridge->WakeUps(), 1);

    {
        std::lock_guard lock(gate.m);
        gate.open = true;
    }
    gate.cv.notify_all();
    ASSERT_TRUE(gate.WaitUntil([&] { return gate.calls == 21; }));
    ASSERT_TRUE(WaitUntilAsleep(*bridge));
    EXPECT_EQ(bridge->WakeUps(), 1);  // the backlog drained without another
    EXPECT_EQ(bridge->QueueLength(), 0u);

    bridge->OnDataAvailable(nullptr, Event(21));
    EXPECT_EQ(bridge->WakeUps(), 2);
    ASSERT_TRUE(gate.WaitUntil([&] { return gate.calls == 22; }));
    bridge->StopProcessing();
}
