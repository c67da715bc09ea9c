// What the managed runtime does to the host's process: its signal
// dispositions, fork(), managed memory left behind by destroyed devices, and
// the host's threads.
// Each group runs in a process of its own (Mono starts once per process).
#include "ManagedRuntime.h"
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ManagedTest;

namespace {

// Writes one byte into a pipe whose reading end is closed.
ssize_t WriteToABrokenPipe() {
    int ends[2];
    if (pipe(ends) != 0) return -2;
    close(ends[0]);
    const ssize_t n = write(ends[1], "x", 1);
    const int error = errno;
    close(ends[1]);
    errno = error;
    return n;
}

std::atomic<int> g_sigpipes{0};
void OnSigpipe(int) { ++g_sigpipes; }
void OnSighup(int) {}

bool SameDisposition(const struct sigaction& a, const struct sigaction& b) {
    return a.sa_handler == b.sa_handler && a.sa_flags == b.sa_flags;
}

// Mono's own: the faults it handles (chained to the host's handlers),
// SIGQUIT (its thread dump), SIGPROF and the real-time signals.
bool MonosOwn(int s) {
    return s == SIGQUIT || s == SIGILL || s == SIGABRT || s == SIGBUS || s == SIGFPE || s == SIGSEGV ||
           s == SIGPROF || s >= SIGRTMIN;
}

// Waits for a child that ends itself within a minute (alarm).
int WaitForChild(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

// The runtime starts with the host's dispositions in place: a host that
// keeps the default for SIGPIPE still ends on a broken pipe, a host's own
// handler still runs, and every disposition but Mono's own is the host's.
// Before, Mono set SIGPIPE to be ignored.
TEST(Signals, TheHostsDispositionsSurviveTheRuntimesStart) {
    ASSERT_FALSE(Hosting::Managed::Running()) << "this group must start the runtime itself";
    // A host with the default disposition, in a child made before the start.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);
        signal(SIGPIPE, SIG_DFL);
        void* device = Quelto_Bridge_Create();
        if (!device) _exit(3);
        WriteToABrokenPipe();
        _exit(4);  // not reached while SIGPIPE ends the process
    }
    const int status = WaitForChild(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE)
        << "status " << status << (WIFEXITED(status) && WEXITSTATUS(status) == 4 ? ": the write returned" : "");

    // This process: handlers of its own and an ignored signal.
    struct sigaction action {};
    action.sa_handler = &OnSigpipe;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &action, nullptr), 0);
    action.sa_handler = &OnSighup;
    action.sa_flags = 0;
    ASSERT_EQ(sigaction(SIGHUP, &action, nullptr), 0);
    signal(SIGUSR2, SIG_IGN);
    struct sigaction before[NSIG] {};
    for (int s = 1; s < NSIG; ++s) sigaction(s, nullptr, &before[s]);

    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    ASSERT_TRUE(Hosting::Managed::Running());
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction now {};
        if (MonosOwn(s) || sigaction(s, nullptr, &now) != 0) continue;
        EXPECT_TRUE(SameDisposition(before[s], now)) << "signal " << s << " (" << strsignal(s) << ")";
    }
    const ssize_t written = WriteToABrokenPipe();
    const int error = errno;
    EXPECT_EQ(written, -1);
    EXPECT_EQ(error, EPIPE);
    EXPECT_EQ(g_sigpipes, 1) << "the host's SIGPIPE handler did not run";
    Quelto_Bridge_Destroy(device);
}

// A child made by fork() has the runtime's memory but none of its threads,
// and Mono cannot run there: Create returns NULL with the reason, and the
// parent goes on. Before, Mono hit an assertion in the child (SIGABRT, or a
// crash) or handed out a device it could not run.
TEST(Fork, CreateInAChildOfAProcessRunningTheRuntimeFailsWithTheReason) {
    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);
        close(out[0]);
        void* inChild = Quelto_Bridge_Create();
        const std::string said = std::string(inChild ? "device" : "null") + "\n" + LastError();
        const ssize_t written = write(out[1], said.data(), said.size());
        _exit(written == static_cast<ssize_t>(said.size()) ? 0 : 5);
    }
    close(out[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        said.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const int status = WaitForChild(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << ":\n" << said;
    EXPECT_EQ(said.rfind("null\nQuelto_Bridge_Create: System.InvalidOperationException: The managed runtime was "
                         "started before this process was made by fork(), and Mono cannot run in such a child",
                         0),
              0u)
        << said;
    // The parent is not affected.
    void* another = Quelto_Bridge_Create();
    EXPECT_NE(another, nullptr) << LastError();
    Quelto_Bridge_Destroy(another);
    Quelto_Bridge_Destroy(device);
}

// An SDK whose devices free native memory only in their finalizers: Destroy
// lets them run, so create-destroy cycles do not pile such devices up.
// Before, nothing collected the destroyed devices (each a small managed
// object) and the native memory grew with every cycle.
TEST(Destroy, DevicesFreedOnlyByTheirFinalizersDoNotPileUp) {
    Env native("QUELTO_FAKE_NATIVE_BYTES", "65536");
    for (int cycle = 0; cycle < 50; ++cycle) {
        void* device = Quelto_Bridge_Create();
        ASSERT_NE(device, nullptr) << LastError();
        Quelto_Bridge_Destroy(device);
    }
    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    Quelto_SoftwareVersion version{};
    ASSERT_EQ(Quelto_Bridge_GetSoftwareVersion(device, &version), 0) << LastError();
    // Build: devices holding their native memory, this one included. Mono
    // scans stacks conservatively, so a stale slot may keep one or two.
    EXPECT_LE(version.Build, 4) << "devices still holding native memory";
    Quelto_Bridge_Destroy(device);
}

namespace {

// Sleeps of 2 ms, with nanosleep and with poll; how many ended early (EINTR).
int InterruptedSleeps(int count) {
    int interrupted = 0;
    for (int i = 0; i < count; ++i) {
        timespec pause{0, 2'000'000};
        if (nanosleep(&pause, nullptr) != 0 && errno == EINTR) ++interrupted;
        if (poll(nullptr, 0, 2) < 0 && errno == EINTR) ++interrupted;
    }
    return interrupted;
}

struct Delivery {
    std::atomic<int> blocks{0};
    std::atomic<int> interrupted{0};  // sleeps in the callback that ended early
};

}  // namespace

// The runtime signals the threads it knows at each collection, and their
// sleeps and polls end early (EINTR). A host's threads, the one that made the
// device included, and the thread that runs the host's callbacks are not
// among them: their calls into the runtime are made on call threads of the
// bridge. Here with a collection after every block. Before, 250 of 250
// sleeps of the host's thread ended early.
TEST(Threads, TheHostsThreadsAreNotInterruptedByCollections) {
    Env blocks("QUELTO_FAKE_BLOCKS", "100000");
    Env period("QUELTO_FAKE_PERIOD_US", "1000");
    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    Hosting::Managed::SetCollectPerBlock(true);
    Delivery delivery;
    Quelto_Bridge_RegisterDataCallback(
        device,
        [](const Quelto_DataAvailableEventArgs_C*, void* context) {
            auto* d = static_cast<Delivery*>(context);
            if (++d->blocks % 10 == 0) d->interrupted += InterruptedSleeps(1);
        },
        &delivery);
    Quelto_Bridge_StartCapturing(device);
    EXPECT_NE(Quelto_Bridge_GetdeviceState(device), QUELTO_BRIDGE_STATE_UNKNOWN) << LastError();
    const int before = delivery.blocks;
    const int interrupted = InterruptedSleeps(125);
    const int collections = delivery.blocks - before;
    Quelto_Bridge_Destroy(device);
    Hosting::Managed::SetCollectPerBlock(false);
    EXPECT_GE(collections, 20) << "too few collections while the host slept";
    EXPECT_EQ(interrupted, 0) << "of 250 sleeps of the host's thread, over " << collections << " collections";
    EXPECT_EQ(delivery.interrupted, 0) << "sleeps in the callback ended early";
}
