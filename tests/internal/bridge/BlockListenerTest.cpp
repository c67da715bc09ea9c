// Facade block listeners: the info they get, their place among the data
// listeners, and removal.
#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace FacadeTest;

namespace {

struct InfoLog {
    std::mutex mutex;
    std::vector<std::string> order;
    std::vector<Quelto_BlockInfo> infos;
    std::vector<size_t> emgSizes;
    std::atomic<int> calls{0};
    void Note(const std::string& who) {
        std::lock_guard lock(mutex);
        order.push_back(who);
        ++calls;
    }
};

void QUELTO_CALL OnData(Quelto_DataAvailableEventArgs, void* ctx) { static_cast<InfoLog*>(ctx)->Note("data"); }

void QUELTO_CALL OnBlock(Quelto_DataAvailableEventArgs arg, const Quelto_BlockInfo& info, void* ctx) {
    auto* log = static_cast<InfoLog*>(ctx);
    {
        std::lock_guard lock(log->mutex);
        log->infos.push_back(info);
        log->emgSizes.push_back(arg.EmgSamples.size());
    }
    log->Note("block");
}

bool WaitCalls(InfoLog& log, int n) {
    for (int i = 0; i < 5000 && log.calls < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return log.calls >= n;
}

}  // namespace

TEST(FacadeBlockListener, DeviceBlocksCarryTheirArrivalAndTakeTheirPlaceInTheTable) {
    auto facade = MakeFacade();
    InfoLog log;
    facade->AddDaqDataAvailableListener(&OnData, &log);
    facade->AddBlockListener(&OnBlock, &log);
    facade->AddBlockListener(nullptr, &log);  // ignored
    facade->AddDaqDataAvailableListener(&OnData, &log);
    for (int i = 0; i < 3; ++i) Raise(i, 6);
    ASSERT_TRUE(WaitCalls(log, 9));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.order, (std::vector<std::string>{"data", "block", "data", "data", "block", "data", "data", "block",
                                                  "data"}));
    ASSERT_EQ(log.infos.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.infos[i].sequence, i);
        EXPECT_GT(log.infos[i].arrivalMonotonicNs, 0);
        EXPECT_GT(log.infos[i].arrivalRealtimeNs, 1600000000LL * 1000000000LL);  // after 2020
        EXPECT_EQ(log.emgSizes[i], 6u);  // its own full copy
    }
}

TEST(FacadeBlockListener, SequenceCountsPerFacadeFromZero) {
    auto first = MakeFacade();
    Raise(0);
    Raise(1);
    auto second = MakeFacade();  // events now go to this one
    InfoLog log;
    second->AddBlockListener(&OnBlock, &log);
    Raise(5);
    ASSERT_TRUE(WaitCalls(log, 1));
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.infos.at(0).sequence, 0);
}

TEST(FacadeBlockListener, AHostDeliveredBlockHasNoSequenceButATime) {
    auto facade = MakeFacade();
    InfoLog log;
    facade->AddBlockListener(&OnBlock, &log);
    facade->DaqDataAvailable(Quelto_DataAvailableEventArgs{});
    const Quelto_BlockInfo given{41, 1234, 5678, 9, 0};
    facade->DeliverBlock(Quelto_DataAvailableEventArgs{}, given);
    std::lock_guard lock(log.mutex);
    ASSERT_EQ(log.infos.size(), 2u);  // delivered on this thread, synchronously
    EXPECT_EQ(log.infos[0].sequence, -1);
    EXPECT_GT(log.infos[0].arrivalMonotonicNs, 0);
    EXPECT_EQ(log.infos[1].sequence, 41);
    EXPECT_EQ(log.infos[1].arrivalMonotonicNs, 1234);
    EXPECT_EQ(log.infos[1].blocksWaiting, 9);
}

TEST(FacadeBlockListener, RemovalTakesTheOldestMatchingBlockListenerOnly) {
    auto facade = MakeFacade();
    InfoLog a, b;
    facade->AddBlockListener(&OnBlock, &a);
    facade->AddBlockListener(&OnBlock, &b);
    facade->AddBlockListener(&OnBlock, &a);
    facade->AddDaqDataAvailableListener(&OnData, &b);
    facade->RemoveBlockListener(&OnBlock, &a);
    facade->RemoveBlockListener(&OnBlock, &b);
    // A data listener of the same context is not a block listener.
    facade->RemoveBlockListener(reinterpret_cast<Quelto_BlockListener>(reinterpret_cast<void*>(&OnData)), &b);
    facade->DaqDataAvailable(Quelto_DataAvailableEventArgs{});
    EXPECT_EQ(a.calls.load(), 1);
    EXPECT_EQ(b.order, (std::vector<std::string>{"data"}));
}
