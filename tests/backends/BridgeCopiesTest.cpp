// A host that loads the bridge library itself, with dlopen, from folders of
// its own (each a copy of the bridge beside the test SDK): two copies in one
// process, and a copy unloaded after the managed runtime started. Each group
// runs in a process of its own, as Mono starts once per process.
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace ManagedTest;

namespace {

namespace fs = std::filesystem;

// A folder holding a copy of the bridge and of the test SDK.
struct BridgeCopy {
    fs::path folder;
    fs::path library;
    void* handle = nullptr;
    void* (*create)() = nullptr;
    void (*destroy)(void*) = nullptr;
    void (*start)(void*) = nullptr;
    void (*registerData)(void*, Quelto_DataCallback, void*) = nullptr;
    const char* (*lastError)() = nullptr;

    explicit BridgeCopy(const std::string& name)
        : folder(fs::temp_directory_path() / ("quelto-copy-" + name + "-" + std::to_string(getpid()))),
          library(folder / "libQuelto.bridge.so.1") {
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const auto& entry : fs::directory_iterator(QUELTO_FAKE_SDK_DIR)) {
            if (entry.path().extension() == ".dll") fs::copy_file(entry.path(), folder / entry.path().filename());
        }
        fs::copy_file(QUELTO_BRIDGE_FILE, library);
    }
    ~BridgeCopy() { fs::remove_all(folder); }

    bool Open() {
        handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return false;
        create = reinterpret_cast<void* (*)()>(dlsym(handle, "Quelto_Bridge_Create"));
        destroy = reinterpret_cast<void (*)(void*)>(dlsym(handle, "Quelto_Bridge_Destroy"));
        start = reinterpret_cast<void (*)(void*)>(dlsym(handle, "Quelto_Bridge_StartCapturing"));
        registerData = reinterpret_cast<void (*)(void*, Quelto_DataCallback, void*)>(
            dlsym(handle, "Quelto_Bridge_RegisterDataCallback"));
        lastError = reinterpret_cast<const char* (*)()>(dlsym(handle, "Quelto_Bridge_GetLastError"));
        return create && destroy && start && registerData && lastError;
    }
    std::string LastError() const {
        const char* e = lastError();
        return e ? e : "(none)";
    }
};

// What one device's callback saw.
struct Seen {
    std::atomic<int> blocks{0};
    std::atomic<int> misplaced{0};  // blocks whose scan number is not the next one
};

void Count(const Quelto_DataAvailableEventArgs_C* e, void* context) {
    auto* seen = static_cast<Seen*>(context);
    if (e->ScanNumber != seen->blocks) ++seen->misplaced;
    ++seen->blocks;
}

}  // namespace

// Each copy subscribes its own devices: blocks of a device of the first copy
// reach only its callbacks, those of the second copy's device only the
// second's, although both copies share the runtime and its helper.
TEST(TwoCopies, EachDevicesBlocksReachOnlyItsOwnCallbacks) {
    BridgeCopy first("first"), second("second");
    ASSERT_TRUE(first.Open()) << dlerror();
    ASSERT_TRUE(second.Open()) << dlerror();
    ASSERT_NE(first.handle, second.handle);
    Seen a, b;
    void* deviceA = nullptr;
    void* deviceB = nullptr;
    {
        Env blocks("QUELTO_FAKE_BLOCKS", "5");  // read by the device as it is made
        deviceA = first.create();
        ASSERT_NE(deviceA, nullptr) << first.LastError();
    }
    first.registerData(deviceA, &Count, &a);
    {
        Env blocks("QUELTO_FAKE_BLOCKS", "7");
        deviceB = second.create();
        ASSERT_NE(deviceB, nullptr) << second.LastError();
    }
    second.registerData(deviceB, &Count, &b);
    first.start(deviceA);
    second.start(deviceB);
    EXPECT_TRUE(TestPlatform::PollUntil([&] { return a.blocks + b.blocks >= 12; }, std::chrono::seconds(60)))
        << "first " << a.blocks << " of 5, second " << b.blocks << " of 7";
    first.destroy(deviceA);  // waits for its worker: no more deliveries after
    second.destroy(deviceB);
    EXPECT_EQ(a.blocks, 5);
    EXPECT_EQ(b.blocks, 7);
    EXPECT_EQ(a.misplaced, 0);
    EXPECT_EQ(b.misplaced, 0);
    dlclose(first.handle);
    dlclose(second.handle);
}

// Once the runtime has started, the bridge stays loaded after the host's
// dlclose: the runtime keeps pointers into it, and an SDK thread failing
// after the unload is still reported by it (before, the process died there
// of SIGSEGV). The SDK's thread waits on a FIFO for the moment to fail.
TEST(Unload, TheBridgeStaysLoadedOnceTheRuntimeRan) {
    BridgeCopy copy("unload");
    const fs::path fifo = copy.folder / "late-failure";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(copy.Open()) << dlerror();
    {
        Env late("QUELTO_FAKE_LATE_FAILURE", fifo.string());
        void* device = copy.create();
        ASSERT_NE(device, nullptr) << copy.LastError();
        copy.destroy(device);  // the device leaves its thread waiting on the FIFO
    }
    ASSERT_EQ(dlclose(copy.handle), 0);
    void* still = dlopen(copy.library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr) << "the bridge was unloaded";
    if (still) dlclose(still);

    // Standard error into a pipe, to wait for the report of the failure.
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    fflush(stderr);
    const int savedErr = dup(2);
    dup2(err[1], 2);
    close(err[1]);
    const int writer = open(fifo.c_str(), O_WRONLY);  // the SDK thread has it open for reading
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "x", 1), 1);
    close(writer);
    std::string reported;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (reported.find("A late failure of the SDK.") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        pollfd p{err[0], POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(err[0], buffer, sizeof buffer);
        if (n <= 0) break;
        reported.append(buffer, static_cast<std::size_t>(n));
    }
    fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);
    close(err[0]);
    EXPECT_NE(reported.find("Quelto.bridge: an SDK thread failed; capture has stopped: "
                            "System.InvalidOperationException: A late failure of the SDK."),
              std::string::npos)
        << reported;
}
