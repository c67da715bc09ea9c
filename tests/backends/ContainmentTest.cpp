// Failures that Mono would turn into the end of a thread or of the process:
// what Create does when Mono cannot start, a finalizer of the SDK that
// throws, and an overflow that no handler can catch. Mono starts once per
// process, so the start cases each run in a child: this program again, with
// QUELTO_TEST_CHILD naming what the child does (the Child tests).
#include "ManagedRuntime.h"
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace ManagedTest;

namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed at scope end.
struct TempFolder {
    fs::path path;
    explicit TempFolder(const std::string& name)
        : path(fs::temp_directory_path() / ("quelto-" + name + "-" + std::to_string(getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
};

struct ChildResult {
    bool finished = false;  // false: killed after the time limit
    int status = 0;         // as waitpid gives it
    std::string output;     // standard output and error together
    bool ExitedWith(int code) const { return finished && WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs this program as a child doing `what`, with `env` added to (or, for
// an empty value given as nullptr, removed from) this process's environment.
ChildResult RunChild(const std::string& what, const std::map<std::string, const char*>& env,
                     std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq) vars[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
    }
    for (const auto& [name, value] : env) {
        if (value) {
            vars[name] = value;
        } else {
            vars.erase(name);
        }
    }
    vars["QUELTO_TEST_CHILD"] = what;
    std::vector<std::string> entries;
    for (const auto& [name, value] : vars) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string(), filter = "--gtest_filter=Child.Run";
    char* argv[] = {self.data(), filter.data(), nullptr};

    ChildResult result;
    int out[2];
    if (pipe(out) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return result;
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;  // the child closed its end: it has ended
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (std::chrono::steady_clock::now() >= end && waitpid(pid, &result.status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &result.status, 0);
        return result;
    }
    result.finished = waitpid(pid, &result.status, 0) == pid;
    return result;
}

}  // namespace

// ------------------------------------------------------------ the child side

TEST(Child, Run) {
    const char* what = std::getenv("QUELTO_TEST_CHILD");
    if (!what) GTEST_SKIP() << "run by the other tests as a child";
    if (std::strcmp(what, "create") == 0) {
        // Twice: a start that failed fails alike, without a second attempt.
        for (int i = 0; i < 2; ++i) {
            void* device = Quelto_Bridge_Create();
            std::printf("create: %s\nerror: %s\n", device ? "device" : "null", LastError().c_str());
            if (device) Quelto_Bridge_Destroy(device);
        }
    } else if (std::strcmp(what, "call") == 0) {
        void* device = Quelto_Bridge_Create();
        ASSERT_NE(device, nullptr) << LastError();
        std::fflush(stdout);
        Quelto_Bridge_CalibrateGyroscopeOffset(device, 1);
        std::printf("returned: %s\n", LastError().c_str());
        Quelto_Bridge_Destroy(device);
    }
    std::printf("alive\n");
    std::fflush(stdout);
}

// ------------------------------------------------- Mono that cannot start

// Each setting Mono would end the process over: Create returns NULL with
// the reason as the last error and in the error log, and the process lives
// on. Then settings Mono takes: Create works.
TEST(MonoStart, SettingsMonoWouldExitOverMakeCreateFailWithTheReason) {
    TempFolder empty("no-class-library");
    const std::string missing =
        "Mono's class library is missing: no mscorlib.dll in " + empty.path.string() + "/mono/4.5";
    struct Case {
        std::map<std::string, const char*> env;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{{"QUELTO_MONO_LIB_DIR", empty.path.c_str()}}, missing},
        {{{"MONO_DEBUG", "bogus"}}, "MONO_DEBUG has an option Mono does not know: 'bogus'"},
        {{{"MONO_DEBUG", "casts,Gdb"}}, "MONO_DEBUG has an option Mono does not know: 'Gdb'"},
        {{{"MONO_THREADS_SUSPEND", "bogus"}},
         "MONO_THREADS_SUSPEND is 'bogus', and Mono takes only preemptive, hybrid or coop"},
        {{{"MONO_THREADS_SUSPEND", ""}}, "MONO_THREADS_SUSPEND is '', and Mono takes only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TempFolder log("start-log");
        auto env = c.env;
        env["QUELTO_BRIDGE_LOG_DIR"] = log.path.c_str();
        const ChildResult child = RunChild("create", env);
        EXPECT_TRUE(child.ExitedWith(0)) << "status " << child.status << ":\n" << child.output;
        const std::string expected =
            "create: null\nerror: Quelto_Bridge_Create: System.InvalidOperationException: The managed runtime could "
            "not be started: " + c.reason;
        const std::size_t first = child.output.find(expected);
        EXPECT_NE(first, std::string::npos) << child.output;
        if (first != std::string::npos) {
            EXPECT_NE(child.output.find(expected, first + 1), std::string::npos) << child.output;  // the second Create
        }
        EXPECT_NE(child.output.find("alive\n"), std::string::npos) << child.output;
        const std::string logged = ReadFile(log.path / "LOG" / "ErrorLog.txt");
        EXPECT_NE(logged.find("The managed runtime could not be started: " + c.reason), std::string::npos) << logged;
    }
}

TEST(MonoStart, SettingsMonoTakesLetCreateWork) {
    // Mono's own lib folder, found where its class library is.
    const char* roots[] = {"/usr/lib", "/usr/local/lib"};
    std::string monoLib;
    for (const char* root : roots) {
        if (fs::exists(fs::path(root) / "mono" / "4.5" / "mscorlib.dll")) monoLib = root;
    }
    ASSERT_FALSE(monoLib.empty()) << "no Mono class library found";
    // Another lib folder for Mono that holds its assemblies; and mscorlib.dll
    // found through MONO_PATH, which Mono reads first.
    TempFolder other("mono-lib");
    fs::create_directory_symlink(fs::path(monoLib) / "mono", other.path / "mono");
    TempFolder corlib("mono-path");
    fs::create_symlink(fs::path(monoLib) / "mono" / "4.5" / "mscorlib.dll", corlib.path / "mscorlib.dll");
    const std::string monoPath = "/no-such-folder:" + corlib.path.string();
    const std::vector<std::map<std::string, const char*>> cases = {
        {{"MONO_DEBUG", "casts,,explicit-null-checks"}},
        {{"MONO_DEBUG", ""}},
        {{"QUELTO_MONO_LIB_DIR", other.path.c_str()}},
        {{"MONO_PATH", monoPath.c_str()}, {"QUELTO_MONO_LIB_DIR", other.path.c_str()}},
    };
    for (const auto& env : cases) {
        SCOPED_TRACE(env.begin()->first + "=" + env.begin()->second);
        const ChildResult child = RunChild("create", env);
        ASSERT_TRUE(child.ExitedWith(0)) << "status " << child.status << ":\n" << child.output;
        EXPECT_NE(child.output.find("create: device\nerror: (none)\ncreate: device\nerror: (none)\nalive\n"),
                  std::string::npos)
            << child.output;
    }
}

// ------------------------------------------------------ failures in the SDK

// A finalizer that throws is reported; the finalizer thread goes on, so
// collections still wait for and reclaim finalizable objects, and a device
// collecting after every block can still be destroyed. Mono keeps the
// policy that lets the thread go on for the rest of the process, so this
// test runs in a process of its own (its own ctest).
TEST(Finalizers, AThrowingFinalizerIsReportedAndTheFinalizerThreadGoesOn) {
    Env finalizers("QUELTO_FAKE_FINALIZERS", "1");
    Env blocks("QUELTO_FAKE_BLOCKS", "20");
    void* device = Quelto_Bridge_Create();
    ASSERT_NE(device, nullptr) << LastError();
    testing::internal::CaptureStderr();
    Quelto_SoftwareVersion version{};
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        Quelto_Bridge_UpdateDisplay(device);  // one object throws when finalized, 100 count
        ASSERT_TRUE(ReturnsWithin([] { Hosting::Managed::Collect(); })) << "the collection waits for ever";
        ASSERT_EQ(Quelto_Bridge_GetSoftwareVersion(device, &version), 0) << LastError();
        // A stale stack slot may keep an object or two for a while (Mono
        // scans stacks conservatively).
        EXPECT_GE(version.Revision, 100 * round - 5);
    }
    std::atomic<int> delivered{0};
    Hosting::Managed::SetCollectPerBlock(true);
    Quelto_Bridge_RegisterDataCallback(
        device, [](const Quelto_DataAvailableEventArgs_C*, void* seen) { ++*static_cast<std::atomic<int>*>(seen); },
        &delivered);
    Quelto_Bridge_UpdateDisplay(device);
    Quelto_Bridge_StartCapturing(device);
    EXPECT_TRUE(TestPlatform::PollUntil([&] { return delivered == 20; }, std::chrono::seconds(30)));
    EXPECT_TRUE(ReturnsWithin([device] { Quelto_Bridge_Destroy(device); })) << "Destroy waits for ever";
    Hosting::Managed::SetCollectPerBlock(false);
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find("SDK code failed on the runtime's finalizer or pool thread, which goes on: "
                            "System.InvalidOperationException: A finalizer of the SDK failed."),
              std::string::npos)
        << reported;
}

// An overflow inside the SDK entered through reflection (its native frames
// between): in Mono's hybrid suspend mode it passes every managed handler,
// the helper's catch included. The call cannot fail with an error then, and
// the calling thread must not be ended under the host: the process ends at
// once, with the failure reported. In preemptive mode the call fails.
TEST(Uncontained, AnOverflowPastEveryHandlerEndsTheProcessReportedNeverAThread) {
    if (TestPlatform::Sanitized) GTEST_SKIP() << "the sanitizers' runtimes take the overflow's signal";
    const char* mode = std::getenv("MONO_THREADS_SUSPEND");
    const ChildResult child = RunChild(
        "call", {{"QUELTO_FAKE_THROW", "CalibrateGyroscopeOffset"}, {"QUELTO_FAKE_FAULT", "reflected-overflow"}});
    ASSERT_TRUE(child.finished) << "the child hangs:\n" << child.output;
    if (mode && std::string(mode) == "preemptive") {
        EXPECT_TRUE(child.ExitedWith(0)) << child.output;
        EXPECT_NE(child.output.find("returned: Quelto_Bridge_CalibrateGyroscopeOffset: System.StackOverflowException"),
                  std::string::npos)
            << child.output;
        EXPECT_NE(child.output.find("alive\n"), std::string::npos) << child.output;
    } else {
        EXPECT_TRUE(WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGABRT)
            << "status " << child.status << ":\n" << child.output;
        EXPECT_NE(child.output.find("Quelto.bridge: an SDK failure passed every handler of the call that met it and "
                                    "cannot be returned to the host; the process ends: System.StackOverflowException"),
                  std::string::npos)
            << child.output;
        EXPECT_EQ(child.output.find("returned: "), std::string::npos) << child.output;
    }
}
