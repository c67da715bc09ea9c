// Faults the C API must survive: SDK operations failing with any kind of
// exception, broken SDK libraries beside the bridge, an error log that
// cannot be written, destroy racing with deliveries, and many handles made
// and destroyed while capturing, without leaking threads or descriptors.
#include "CApiTestSupport.h"

#if defined(__linux__)

#include <dlfcn.h>

#include <atomic>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

using namespace CApiTest;

namespace {

void WaitUntil(const std::function<bool()>& done, int ms = 10000) {
    for (int i = 0; i < ms && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::size_t Entries(const char* folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

// A copy of the bridge in a folder of its own with the chosen SDK files
// beside it, loaded apart from the one the test links.
struct BridgeCopy {
    fs::path dir;
    void* (*create)() = nullptr;
    void (*destroy)(void*) = nullptr;
    void (*saveRx)(void*) = nullptr;
    void (*configureCapture)(void*, Quelto_CaptureConfiguration*) = nullptr;
    const char* (*lastError)() = nullptr;

    BridgeCopy(const std::string& name, const std::function<void(const fs::path&)>& populate) : dir(TempFolder(name)) {
        for (const char* sdk : {"Quelto.dll", "Quelto.Common.dll", "PellimorCfgReader.dll"}) {
            fs::copy_file(fs::path(QUELTO_LIB_DIR) / sdk, dir / sdk);
        }
        populate(dir);
        fs::copy_file(QUELTO_BRIDGE_FILE, dir / QUELTO_BRIDGE_FILE_NAME);
        // Stays loaded: the copy's runtime keeps its libraries.
        void* handle = dlopen((dir / QUELTO_BRIDGE_FILE_NAME).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) throw std::runtime_error(dlerror());
        create = reinterpret_cast<void* (*)()>(dlsym(handle, "Quelto_Bridge_Create"));
        destroy = reinterpret_cast<void (*)(void*)>(dlsym(handle, "Quelto_Bridge_Destroy"));
        saveRx = reinterpret_cast<void (*)(void*)>(dlsym(handle, "Quelto_Bridge_SaveCurrentRxConfiguration"));
        configureCapture = reinterpret_cast<void (*)(void*, Quelto_CaptureConfiguration*)>(
            dlsym(handle, "Quelto_Bridge_ConfigureCapture"));
        lastError = reinterpret_cast<const char* (*)()>(dlsym(handle, "Quelto_Bridge_GetLastError"));
    }
    std::string Log() const { return ReadFile(dir / "LOG" / "ErrorLog.txt"); }
};

}  // namespace

// Each failure kind an SDK operation may raise, in every operation that
// Create and the forwarding functions reach: contained, reported, and the
// next call works.
TEST(Faults, EverySdkOperationFailingWithAnyExceptionIsContained) {
    LogFolder log("faults_any");
    const std::vector<std::pair<std::string, std::function<void()>>> throwers = {
        {"System.InvalidOperationException", [] { throw Runtime::InvalidOperationException("injected"); }},
#ifdef QUELTO_TEST_MANAGED_SDK
        // The managed SDK's shim turns a native bad_alloc into the runtime's own.
        {"System.OutOfMemoryException", [] { throw std::bad_alloc(); }},
#else
        {"std::bad_alloc", [] { throw std::bad_alloc(); }},
#endif
        {"injected standard error", [] { throw std::runtime_error("injected standard error"); }},
        {"unknown", [] { throw 42; }},
    };
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr) << Quelto_Bridge_GetLastError();
    auto& control = SimControl();
    Quelto_CaptureConfiguration capture{};
    Quelto_SensorConfiguration sensor{};
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"StartCapturing", [&] { Quelto_Bridge_StartCapturing(bridge); }},
        {"StopCapturing", [&] { Quelto_Bridge_StopCapturing(bridge); }},
        {"ConfigureCapture", [&] { Quelto_Bridge_ConfigureCapture(bridge, &capture); }},
        {"ConfigureSensor", [&] { Quelto_Bridge_ConfigureSensor(bridge, &sensor, 0); }},
        {"CalibrateSensorImuOffset", [&] { Quelto_Bridge_CalibrateImuOffset(bridge, 0); }},
        {"CalibrateGyroscopeOffset", [&] { Quelto_Bridge_CalibrateGyroscopeOffset(bridge, 2); }},
        {"DetectAccelerometerOffset", [&] { Quelto_Bridge_CalibrateAccelerometerOffset(bridge, 3); }},
        {"QL_CalibrateEmgOffset", [&] { Quelto_Bridge_CalibrateEMGOffset(bridge, 4); }},
        {"UpdateDisplay", [&] { Quelto_Bridge_UpdateDisplay(bridge); }},
        {"QL_SaveCurrentRxConfiguration", [&] { Quelto_Bridge_SaveCurrentRxConfiguration(bridge); }},
        {"get_State", [&] { Quelto_Bridge_GetdeviceState(bridge); }},
    };
    setenv("QUELTO_SIM_RXCONFIG", (log.Dir() / "rx.json").c_str(), 1);
    int tried = 0;
    for (const auto& [kind, thrower] : throwers) {
        for (const auto& [operation, call] : calls) {
            control.SetFailure(operation, thrower, 1);
            call();
            const char* error = Quelto_Bridge_GetLastError();
            ASSERT_NE(error, nullptr) << operation << " / " << kind;
            if (kind != "unknown") EXPECT_NE(std::string(error).find(kind), std::string::npos) << error;
            call();
            EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr) << operation << " / " << kind;
            ++tried;
        }
        // Failures while the handle is made: NULL, reported, no device left.
        for (const char* operation : {"Create", "add_DataAvailable"}) {
            const int live = control.LiveDevices();
            control.SetFailure(operation, thrower, 1);
            EXPECT_EQ(Quelto_Bridge_Create(), nullptr) << operation << " / " << kind;
            EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
            EXPECT_EQ(control.LiveDevices(), live) << operation << " / " << kind;
            ++tried;
        }
    }
    unsetenv("QUELTO_SIM_RXCONFIG");
    control.ClearFailures();
    EXPECT_NE(Quelto_Bridge_GetdeviceState(bridge), QUELTO_BRIDGE_STATE_UNKNOWN);  // still usable
    Quelto_Bridge_Destroy(bridge);
    EXPECT_EQ(tried, 4 * 13);
}

// Each SDK library missing, not a library, or without its entry point: the
// first call that needs it fails (Create for the device library, capture
// configuration for the common library), reported, and nothing escapes. No C
// function needs the reader (only the facade's LoadConfiguration does).
TEST(Faults, BrokenSdkLibrariesBesideTheBridge) {
    const fs::path noEntry = fs::path(QUELTO_LIB_DIR) / ".." / "fixtures" / "resolve" / "Quelto.NoEntry.dll";
    ASSERT_TRUE(fs::exists(noEntry)) << noEntry;
    struct Fault {
        std::string name, exception;
        std::function<void(const fs::path&)> apply;
    };
    int tried = 0;
    for (const std::string library : {"Quelto", "Quelto.Common", "PellimorCfgReader"}) {
        const std::string file = library + ".dll";
        const std::vector<Fault> faults = {
            {"missing", "System.IO.FileNotFoundException", [&](const fs::path& d) { fs::remove(d / file); }},
            {"text", "System.BadImageFormatException",
             [&](const fs::path& d) { std::ofstream(d / file, std::ios::trunc) << "not a library\n"; }},
            {"no_entry", "System.EntryPointNotFoundException",
             [&](const fs::path& d) { fs::copy_file(noEntry, d / file, fs::copy_options::overwrite_existing); }},
        };
        for (const Fault& fault : faults) {
            SCOPED_TRACE(file + " " + fault.name);
            unsetenv("QUELTO_BRIDGE_LOG_DIR");
            BridgeCopy copy("sdk_" + library + "_" + fault.name, fault.apply);
            setenv("QUELTO_SIM_RXCONFIG", (copy.dir / "rx.json").c_str(), 1);
            void* bridge = copy.create();
            if (library == "Quelto") {
                EXPECT_EQ(bridge, nullptr);
                ASSERT_NE(copy.lastError(), nullptr);
            } else {
                ASSERT_NE(bridge, nullptr) << copy.lastError();
                Quelto_CaptureConfiguration capture{};
                copy.configureCapture(bridge, &capture);
                EXPECT_EQ(copy.lastError() != nullptr, library == "Quelto.Common");
                copy.saveRx(bridge);
                EXPECT_EQ(copy.lastError() != nullptr, library == "Quelto.Common");
                copy.destroy(bridge);
            }
            if (library == "PellimorCfgReader") {
                EXPECT_FALSE(fs::exists(copy.dir / "LOG" / "ErrorLog.txt")) << copy.Log();
            } else {
                EXPECT_NE(copy.Log().find(fault.exception), std::string::npos) << copy.Log();
            }
            unsetenv("QUELTO_SIM_RXCONFIG");
            ++tried;
        }
    }
    EXPECT_EQ(tried, 9);
}

// A file where the LOG folder should be, and no user's folder to fall back
// on: failures are still contained and still reach the last error.
TEST(Faults, AnUnwritableLogLosesOnlyTheLog) {
    const fs::path dir = TempFolder("faults_log");
    std::ofstream(dir / "LOG") << "not a folder";
    setenv("QUELTO_BRIDGE_LOG_DIR", dir.c_str(), 1);
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string savedState = state ? state : "";
    setenv("XDG_STATE_HOME", (dir / "LOG" / "state").c_str(), 1);
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    SimControl().SetFailure("UpdateDisplay", [] { throw Runtime::IOException("injected"); }, 1);
    Quelto_Bridge_UpdateDisplay(bridge);
    ASSERT_NE(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_NE(std::string(Quelto_Bridge_GetLastError()).find("injected"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(dir / "LOG"));
    Quelto_Bridge_Destroy(bridge);
    unsetenv("QUELTO_BRIDGE_LOG_DIR");
    if (state) setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    else unsetenv("XDG_STATE_HOME");
}

namespace {

// A callback that holds the worker for a while on its first block.
struct SlowFirst {
    std::atomic<int> entered{0}, left{0};
    std::chrono::milliseconds hold{100};
    static void QUELTO_CALL On(const Quelto_DataAvailableEventArgs_C*, void* context) {
        auto* self = static_cast<SlowFirst*>(context);
        if (self->entered++ == 0) std::this_thread::sleep_for(self->hold);
        ++self->left;
    }
};

}  // namespace

TEST(Faults, DestroyWhileADeliveryRunsWaitsForItAndDropsTheQueue) {
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    SlowFirst slow;
    Quelto_Bridge_RegisterDataCallback(bridge, &SlowFirst::On, &slow);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(SimControl().RaiseEvent(std::make_shared<Quelto::Common::Definitions::DataAvailableEventArgs>()));
    }
    WaitUntil([&] { return slow.entered >= 1; });
    Quelto_Bridge_Destroy(bridge);  // the first block is still being delivered, 19 are queued
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_EQ(slow.left.load(), slow.entered.load());  // the delivery in progress finished first
    EXPECT_LT(slow.entered.load(), 20);                // the queue was dropped
    const int seen = slow.entered;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(slow.entered.load(), seen);
}

TEST(Faults, DestroyFromAnotherThreadDuringCaptureInFastMode) {
    setenv("QUELTO_SIM_MODE", "fast", 1);
    for (int round = 0; round < 20; ++round) {
        void* bridge = Quelto_Bridge_Create();
        ASSERT_NE(bridge, nullptr);
        SlowFirst slow;
        slow.hold = std::chrono::milliseconds(round % 3);
        Quelto_Bridge_RegisterDataCallback(bridge, &SlowFirst::On, &slow);
        Quelto_Bridge_StartCapturing(bridge);
        WaitUntil([&] { return slow.entered >= 1; });
        std::thread([bridge] { Quelto_Bridge_Destroy(bridge); }).join();
        EXPECT_EQ(slow.left.load(), slow.entered.load());
    }
    unsetenv("QUELTO_SIM_MODE");
}

// The first block of a fast capture destroys its handle while the host's
// StartCapturing may still be returning.
TEST(Faults, CallbackDestroysItsHandleOnTheFirstFastBlock) {
    setenv("QUELTO_SIM_MODE", "fast", 1);
    struct Ctx {
        void* bridge;
        std::atomic<bool> done{false};
    };
    for (int round = 0; round < 50; ++round) {
        Ctx ctx{Quelto_Bridge_Create()};
        ASSERT_NE(ctx.bridge, nullptr);
        Quelto_Bridge_RegisterDataCallback(
            ctx.bridge,
            [](const Quelto_DataAvailableEventArgs_C*, void* c) {
                auto* self = static_cast<Ctx*>(c);
                if (!self->done.exchange(true)) Quelto_Bridge_Destroy(self->bridge);
            },
            &ctx);
        Quelto_Bridge_StartCapturing(ctx.bridge);
        WaitUntil([&] { return ctx.done.load(); });
        ASSERT_TRUE(ctx.done.load());
        // The worker ends on its own after the callback returns.
        WaitUntil([&] { return SimControl().LiveDevices() == 0; });
    }
    unsetenv("QUELTO_SIM_MODE");
}

// Handles made and destroyed while capturing: threads, descriptors and
// devices come back to where they were (memory: LeakSanitizer).
// 1000 cycles; 200 under a sanitizer, where each one takes ten times as long.
constexpr int kLifetimeCycles = TestPlatform::Sanitized ? 200 : 1000;

TEST(Faults, ThousandCreateDestroyCyclesWithCaptureLeakNothing) {
    setenv("QUELTO_SIM_MODE", "fast", 1);
    // One cycle first: libraries and the log are then loaded or open for good.
    Quelto_Bridge_Destroy(Quelto_Bridge_Create());
    auto& control = SimControl();
    const std::size_t threads = Entries("/proc/self/task"), fds = Entries("/proc/self/fd");
    const int devices = control.LiveDevices();
    std::atomic<long> blocks{0};
    const auto count = [](const Quelto_DataAvailableEventArgs_C*, void* c) { ++*static_cast<std::atomic<long>*>(c); };
    int cycles = 0;
    for (; cycles < kLifetimeCycles; ++cycles) {
        void* bridge = Quelto_Bridge_Create();
        ASSERT_NE(bridge, nullptr) << Quelto_Bridge_GetLastError();
        Quelto_Bridge_RegisterDataCallback(bridge, count, &blocks);
        Quelto_Bridge_StartCapturing(bridge);
        if (cycles % (kLifetimeCycles / 10) == 0) {  // ten of them wait for a block
            const long before = blocks;
            WaitUntil([&] { return blocks > before; });
        }
        Quelto_Bridge_Destroy(bridge);
    }
    unsetenv("QUELTO_SIM_MODE");
    EXPECT_EQ(cycles, kLifetimeCycles);
    EXPECT_GE(blocks.load(), 10);
    EXPECT_EQ(control.LiveDevices(), devices);
    EXPECT_EQ(Entries("/proc/self/task"), threads);
    EXPECT_EQ(Entries("/proc/self/fd"), fds);
}

#endif  // __linux__
