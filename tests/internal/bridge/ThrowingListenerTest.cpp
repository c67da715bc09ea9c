// A C++ listener that throws now and then: the block's later listeners are
// skipped, the worker reports it and goes on with the next block.
#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace FacadeTest;

namespace {

// Throws on every Nth block, each time another kind of exception.
struct EveryNth {
    int n;
    std::atomic<int> calls{0};
    static void Listen(Quelto_DataAvailableEventArgs arg, void* context) {
        auto* self = static_cast<EveryNth*>(context);
        ++self->calls;
        if (arg.ScanNumber % self->n != 0) return;
        switch (arg.ScanNumber / self->n % 3) {
            case 0: throw Runtime::InvalidOperationException("listener failed");
            case 1: throw std::runtime_error("listener failed");
            default: throw arg.ScanNumber;
        }
    }
};

}  // namespace

TEST(FacadeThrowingListener, EveryNthBlockCutsOnlyThatBlocksDelivery) {
    auto facade = MakeFacade();
    EveryNth thrower{7};
    Recorder before, after;
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &before);
    facade->AddDaqDataAvailableListener(&EveryNth::Listen, &thrower);
    facade->AddDaqDataAvailableListener(&Recorder::Listen, &after);
    constexpr int blocks = 300;
    for (int i = 1; i <= blocks; ++i) Raise(i, 3);
    ASSERT_TRUE(before.WaitFor(blocks));
    ASSERT_TRUE(after.WaitFor(blocks - blocks / 7));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(thrower.calls.load(), blocks);
    std::vector<int32_t> expected, all;
    for (int i = 1; i <= blocks; ++i) {
        all.push_back(i);
        if (i % 7 != 0) expected.push_back(i);
    }
    EXPECT_EQ(before.Scans(), all);
    EXPECT_EQ(after.Scans(), expected);
    // The facade still works: removal, then every block reaches `after`.
    facade->RemoveDaqDataAvailableListener(&EveryNth::Listen, &thrower);
    Raise(blocks + 6 * 7);
    ASSERT_TRUE(after.WaitFor(expected.size() + 1));
    EXPECT_EQ(after.Scans().back(), blocks + 6 * 7);
}

#ifndef _WIN32
// The report of a failed delivery goes to standard error; a host whose
// standard error is a pipe nobody reads any more must not die of it.
TEST(FacadeThrowingListener, TheReportToAClosedStandardErrorPipeDoesNotEndTheHost) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        int ends[2];
        if (pipe(ends) != 0) _exit(2);
        close(ends[0]);
        dup2(ends[1], STDERR_FILENO);
        TestPlatform::SetEnv("QUELTO_DEBUG_TRACE", "1");
        {
            auto facade = MakeFacade();
            EveryNth thrower{1};
            Recorder after;
            facade->AddDaqDataAvailableListener(&EveryNth::Listen, &thrower);
            facade->AddDaqDataAvailableListener(&Recorder::Listen, &after);
            // Each block fails; the second one reaches the worker only after
            // the first one's report was written.
            if (!TestSupport::SimControl().RaiseEvent(Event(1)) || !TestSupport::SimControl().RaiseEvent(Event(2))) _exit(4);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (thrower.calls.load() < 2 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (thrower.calls.load() < 2) _exit(5);
        }
        _exit(0);  // the facade is gone: both reports were written
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif
