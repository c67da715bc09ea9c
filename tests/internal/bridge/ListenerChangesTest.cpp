#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace FacadeTest;

namespace {

struct Counting {
    std::atomic<int> calls{0};
    std::atomic<bool> removed{false};
    std::atomic<int> callsAfterRemove{0};
    static void Listen(Quelto_DataAvailableEventArgs, void* ctx) {
        auto* self = static_cast<Counting*>(ctx);
        if (self->removed) ++self->callsAfterRemove;
        ++self->calls;
        std::this_thread::sleep_for(std::chrono::microseconds(50));  // widen the window
    }
};

}  // namespace

TEST(FacadeListeners, AddAndRemoveFromAnotherThreadWhileBlocksFlow) {
    auto facade = MakeFacade();
    Recorder all;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &all);
    constexpr int blocks = 10000;
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0}, violations{0};
    std::thread churn([&] {
        while (!stop) {
            Counting c;
            facade->AddDaqDataAvailableListener(&Counting::Listen, &c);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            facade->RemoveDaqDataAvailableListener(&Counting::Listen, &c);
            c.removed = true;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            violations += c.callsAfterRemove.load();
            ++rounds;
        }  // `c` dies here: a late call would touch freed memory (ASan)
    });
    for (int i = 0; i < blocks; ++i) Raise(i);
    ASSERT_TRUE(all.WaitFor(blocks));
    stop = true;
    churn.join();
    EXPECT_EQ(violations.load(), 0);
    EXPECT_GT(rounds.load(), 0);
    const auto scans = all.Scans();
    for (int i = 0; i < blocks; ++i) ASSERT_EQ(scans[i], i);
}

TEST(FacadeListeners, RemoveTakesOutOneMatchingEntryTheOldest) {
    auto facade = MakeFacade();
    Recorder a, b;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &a);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &b);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &a);
    facade->RemoveDaqDataAvailableListener(&Recorder::Listen, &a);
    facade->RemoveDaqDataAvailableListener(&Recorder::Listen, &b);
    facade->RemoveDaqDataAvailableListener(&Recorder::Listen, nullptr);  // no match: nothing
    Raise(3);
    ASSERT_TRUE(a.WaitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(a.Scans().size(), 1u);
    EXPECT_TRUE(b.Scans().empty());
}

namespace {
struct SelfRemoving {
    Quelto_DaqSystem* facade = nullptr;
    Recorder other;
    std::atomic<int> selfCalls{0};
    static void Listen(Quelto_DataAvailableEventArgs, void* c) {
        auto* x = static_cast<SelfRemoving*>(c);
        ++x->selfCalls;
        x->facade->RemoveDaqDataAvailableListener(&SelfRemoving::Listen, c);
        x->facade->RemoveDaqDataAvailableListener(&Recorder::Listen, &x->other);
    }
};
}  // namespace

TEST(FacadeListeners, AListenerMayRemoveItselfAndOthersFromInsideItsCall) {
    auto facade = MakeFacade();
    SelfRemoving ctx;
    ctx.facade = facade.get();
    facade->AddDaqDataAvailableListener(&SelfRemoving::Listen, &ctx);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &ctx.other);
    Raise(1);
    Raise(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ctx.selfCalls.load(), 1);      // removed itself during block 1
    EXPECT_TRUE(ctx.other.Scans().empty());  // removed before its turn in block 1
}

TEST(FacadeCopy, CopyingIsRefusedWithoutDoubleRelease) {
    auto facade = MakeFacade();
    EXPECT_THROW(Quelto_DaqSystem copy(*facade), Runtime::InvalidOperationException);
    auto other = MakeFacade();
    EXPECT_THROW(*other = *facade, Runtime::InvalidOperationException);
    EXPECT_NO_THROW(*facade = *facade);
    EXPECT_EQ(facade->GetdeviceState(), 1);  // both still usable
    EXPECT_EQ(other->GetdeviceState(), 1);
}
