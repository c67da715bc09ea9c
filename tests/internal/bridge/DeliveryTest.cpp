#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace FacadeTest;

TEST(FacadeDelivery, BurstArrivesInRaiseOrderOnceEachOnTheWorker) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    for (int i = 0; i < 3; ++i) Raise(i);
    ASSERT_TRUE(r.WaitFor(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(r.Scans(), (std::vector<int32_t>{0, 1, 2}));
    const std::string deviceThread = TestSupport::SimControl().EventThreadId();
    EXPECT_NE(r.seen[0].thread, std::this_thread::get_id());
    EXPECT_FALSE(deviceThread.empty());
    EXPECT_NE(r.seen[0].threadTag, deviceThread);  // not the device's thread either
    EXPECT_EQ(r.seen[0].context, &r);
}

TEST(FacadeDelivery, ThousandsOfBlocksKeepTheirOrder) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    constexpr int n = 5000;
    for (int i = 0; i < n; ++i) Raise(i, 4);
    ASSERT_TRUE(r.WaitFor(n));
    const auto scans = r.Scans();
    ASSERT_EQ(scans.size(), static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) ASSERT_EQ(scans[i], i);
}

TEST(FacadeDelivery, NullListenerIsIgnoredAndDuplicatesAreCalledTwiceWithOwnCopies) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(nullptr, &r);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    Raise(7, 6);
    ASSERT_TRUE(r.WaitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(r.seen.size(), 2u);
    EXPECT_NE(r.seen[0].emg, nullptr);
    EXPECT_NE(r.seen[0].emg, r.seen[1].emg);  // independent copies
}

TEST(FacadeDelivery, ListenersRunInRegistrationOrder) {
    auto facade = MakeFacade();
    static std::vector<int> order;
    static std::mutex m;
    order.clear();
    auto first = [](Quelto_DataAvailableEventArgs, void*) { std::lock_guard l(m); order.push_back(1); };
    auto second = [](Quelto_DataAvailableEventArgs, void* ctx) {
        {
            std::lock_guard l(m);
            order.push_back(2);
        }
        static_cast<std::atomic<int>*>(ctx)->fetch_add(1);
    };
    std::atomic<int> done{0};
    facade->AddDaqDataAvailableListener(first, nullptr);
    facade->AddDaqDataAvailableListener(second, &done);
    Raise(1);
    Raise(2);
    while (done < 2) std::this_thread::yield();
    std::lock_guard l(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1, 2}));
}

TEST(FacadeDelivery, EmptyTableDropsBlocksQuietly) {
    auto facade = MakeFacade();
    Raise(1, 10);
    facade->DaqDataAvailable(Quelto_DataAvailableEventArgs{});  // a host may deliver too
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    Raise(2);
    ASSERT_TRUE(r.WaitFor(1));
    EXPECT_EQ(r.Scans(), (std::vector<int32_t>{2}));
}

TEST(FacadeDelivery, ThrowingListenerSkipsTheRestOfThatBlockOnly) {
    auto facade = MakeFacade();
    auto thrower = [](Quelto_DataAvailableEventArgs arg, void*) {
        if (arg.ScanNumber % 2 == 0) throw std::runtime_error("listener failed");
    };
    Recorder r;
    facade->AddDaqDataAvailableListener(thrower, nullptr);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    for (int i = 0; i < 6; ++i) Raise(i);
    ASSERT_TRUE(r.WaitFor(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(r.Scans(), (std::vector<int32_t>{1, 3, 5}));
}

TEST(FacadeDelivery, DestroyWaitsForTheDeliveryInProgressAndNothingRunsAfter) {
    auto facade = MakeFacade();
    static std::atomic<bool> entered{false}, release{false}, after{false};
    static std::atomic<int> calls{0};
    entered = release = after = false;
    calls = 0;
    auto slow = [](Quelto_DataAvailableEventArgs, void*) {
        ++calls;
        entered = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        after = true;
    };
    facade->AddDaqDataAvailableListener(slow, nullptr);
    Raise(1);
    Raise(2);  // queued behind the slow delivery; dropped by the destruction
    while (!entered) std::this_thread::yield();
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    facade.reset();
    EXPECT_TRUE(after.load());
    releaser.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), 1);
}

TEST(FacadeDelivery, DestroyingTheFacadeFromItsOwnListenerNeitherHangsNorRunsLaterListeners) {
    struct Ctx {
        Quelto_DaqSystem* facade;
        std::atomic<bool> done{false};
        std::atomic<int> laterCalls{0};
    };
    auto ctx = std::make_unique<Ctx>();
    ctx->facade = MakeFacade().release();
    auto destroyer = [](Quelto_DataAvailableEventArgs, void* c) {
        auto* self = static_cast<Ctx*>(c);
        delete self->facade;
        self->done = true;
    };
    auto later = [](Quelto_DataAvailableEventArgs, void* c) { ++static_cast<Ctx*>(c)->laterCalls; };
    ctx->facade->AddDaqDataAvailableListener(destroyer, ctx.get());
    ctx->facade->AddDaqDataAvailableListener(later, ctx.get());
    Raise(1);
    for (int i = 0; i < 2000 && !ctx->done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(ctx->done);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the worker end
    EXPECT_EQ(ctx->laterCalls.load(), 0);
}
