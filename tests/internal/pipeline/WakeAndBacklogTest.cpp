// The worker's sleep and wake-up, and the report of a backlog.
#include "FacadeTestSupport.h"
#include "QueltoManagedBridge.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace FacadeTest;

namespace {

// Captures the debug trace (standard error with QUELTO_DEBUG_TRACE set) for
// the life of the object. On Windows the trace goes to the debugger's
// output instead, which a test in the same process cannot read.
#ifdef _WIN32
#define SKIP_WITHOUT_TRACE() GTEST_SKIP() << "the trace goes to OutputDebugString on Windows"
#else
#define SKIP_WITHOUT_TRACE() (void)0
#endif

class TraceCapture {
public:
    TraceCapture() : path_(::testing::TempDir() + "trace_" + std::to_string(::getpid()) + ".txt") {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
        TestPlatform::SetEnv("QUELTO_DEBUG_TRACE", "1");
    }
    ~TraceCapture() {
        Restore();
        std::remove(path_.c_str());
    }
    std::string Text() {
        Restore();
        std::ifstream in(path_);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        TestPlatform::UnsetEnv("QUELTO_DEBUG_TRACE");
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kBehind = "falling behind";
const std::string kCaughtUp = "caught up";

std::atomic<int64_t> g_fakeNs{0};
int64_t FakeClock() { return g_fakeNs.load(); }

}  // namespace

TEST(WorkerWake, BlocksRaisedAfterTheWorkerFellAsleepAreEachDeliveredPromptly) {
    auto facade = MakeFacade();
    Recorder r;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get());
    bridge->StartProcessing();
    std::mt19937 random(7);
    // Single blocks and short bursts with pauses of 0 to 300 us between
    // them: the worker is caught busy, falling asleep and asleep.
    std::size_t sent = 0;
    for (int round = 0; round < 1500; ++round) {
        const int burst = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < burst; ++i) bridge->OnDataAvailable(nullptr, Event(static_cast<int32_t>(sent++)));
        ASSERT_TRUE(r.WaitFor(sent, std::chrono::seconds(5))) << "block " << sent - 1 << " not delivered";
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
    }
    bridge->StopProcessing();
    const auto scans = r.Scans();
    for (std::size_t i = 0; i < sent; ++i) ASSERT_EQ(scans[i], static_cast<int32_t>(i));
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
    return TestPlatform::PollUntil([&] { return bridge.WorkerSleeps(); }, std::chrono::seconds(10));
}
}  // namespace

TEST(WorkerWake, TheDeviceThreadWakesASleepingWorkerOnceAndABusyOneNever) {
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

TEST(SlowHost, ABlockedListenerIsReportedOnceAfterOneSecondAndOnceWhenTheQueueDrains) {
    SKIP_WITHOUT_TRACE();
    TraceCapture trace;
    auto facade = MakeFacade();
    static std::atomic<bool> blocked{false};
    blocked = false;
    auto slow = [](Quelto_DataAvailableEventArgs arg, void*) {
        if (arg.ScanNumber == 0) {
            blocked = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1400));
        }
    };
    Recorder r;
    facade->AddDaqDataAvailableListener(slow, nullptr);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &r);
    Raise(0);
    while (!blocked) std::this_thread::yield();
    for (int i = 1; i <= 130; ++i) {  // 10 ms apart: 1.3 s of data waits
        Raise(i);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(r.WaitFor(131));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    facade.reset();
    const std::string text = trace.Text();
    EXPECT_EQ(Count(text, kBehind), 1) << text;
    EXPECT_EQ(Count(text, "1 s of data waiting"), 1) << text;
    EXPECT_EQ(Count(text, kCaughtUp), 1) << text;
    EXPECT_LT(text.find(kBehind), text.find(kCaughtUp));
}

TEST(SlowHost, TheTenSecondMarkIsReportedOnceAndAFreshBacklogIsReportedAgain) {
    SKIP_WITHOUT_TRACE();
    auto facade = MakeFacade();
    static std::atomic<bool> hold{false}, holding{false};
    hold = true;
    holding = false;
    auto gate = [](Quelto_DataAvailableEventArgs, void*) {
        holding = true;
        while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        holding = false;
    };
    facade->AddDaqDataAvailableListener(gate, nullptr);
    auto bridge = std::make_shared<QueltoManagedBridge>(facade.get(), &FakeClock);
    bridge->StartProcessing();
    TraceCapture trace;
    auto stall = [&](int blocks, int64_t stepNs) {
        hold = true;
        bridge->OnDataAvailable(nullptr, Event(0));
        while (!holding) std::this_thread::yield();
        for (int i = 0; i < blocks; ++i) {
            g_fakeNs += stepNs;
            bridge->OnDataAvailable(nullptr, Event(i + 1));
        }
        hold = false;
        while (bridge->QueueLength() > 0 || holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the drain report follows the last block
    };
    stall(1500, 10'000'000);  // 15 s of data at 10 ms per block
    stall(50, 10'000'000);    // 0.5 s: below the first mark
    stall(120, 10'000'000);   // 1.2 s
    bridge->StopProcessing();
    const std::string text = trace.Text();
    EXPECT_EQ(Count(text, "1 s of data waiting"), 2) << text;
    EXPECT_EQ(Count(text, "10 s of data waiting"), 1) << text;
    EXPECT_EQ(Count(text, kCaughtUp), 2) << text;
    EXPECT_NE(text.find("at most 1500 waited"), std::string::npos) << text;
}
