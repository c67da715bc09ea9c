// The C functions for block info, periods, triggers, configuration files and
// the software version.
#include "CApiTestSupport.h"
#include "Quelto_DataLayout.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <time.h>
#endif

using namespace CApiTest;
using EventArgs = Quelto::Common::Definitions::DataAvailableEventArgs;

namespace {

void WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    for (int i = 0; i < ms && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Records what every callback of one handle saw, in call order.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<Quelto_BlockInfo> infos;
    std::vector<int> scans;
    void Note(const std::string& who) {
        std::lock_guard lock(mutex);
        calls.push_back(who);
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
};

struct Tagged {
    Journal* journal;
    std::string tag;
};

void QUELTO_CALL OnData(const Quelto_DataAvailableEventArgs_C*, void* ctx) {
    auto* t = static_cast<Tagged*>(ctx);
    t->journal->Note(t->tag);
}

void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* block, const Quelto_BlockInfo* info, void* ctx) {
    auto* t = static_cast<Tagged*>(ctx);
    std::lock_guard lock(t->journal->mutex);
    t->journal->calls.push_back(t->tag);
    t->journal->infos.push_back(*info);
    t->journal->scans.push_back(block->ScanNumber);
}

Runtime::Ref<EventArgs> Event(int scan) {
    auto e = std::make_shared<EventArgs>();
    e->ScanNumber = scan;
    return e;
}

int64_t RealtimeNow() {
#ifdef _WIN32
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
#else
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
#endif
}

std::vector<QueltoSim::CallRecord> CallsOf(const std::string& operation) {
    std::vector<QueltoSim::CallRecord> out;
    for (auto& c : SimControl().Calls())
        if (c.operation == operation) out.push_back(c);
    return out;
}

class Device {
public:
    Device() : handle(Quelto_Bridge_Create()) {}
    ~Device() { Quelto_Bridge_Destroy(handle); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    void* handle;
};

}  // namespace

TEST(CApiBlockInfo, NumbersTimesAndWaitingBlocksOfEachArrival) {
    Device d;
    ASSERT_NE(d.handle, nullptr) << Quelto_Bridge_GetLastError();
    Journal journal;
    Tagged tag{&journal, "block"};
    // The first block holds the worker until four more have arrived.
    struct Gate {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false, entered = false;
    } static gate;
    gate.open = gate.entered = false;
    Quelto_Bridge_RegisterDataCallback(
        d.handle,
        [](const Quelto_DataAvailableEventArgs_C* block, void*) {
            if (block->ScanNumber != 100) return;
            std::unique_lock lock(gate.mutex);
            gate.entered = true;
            gate.cv.notify_all();
            gate.cv.wait(lock, [] { return gate.open; });
        },
        nullptr);
    Quelto_Bridge_RegisterBlockCallback(d.handle, &OnBlock, &tag);

    const int64_t before = RealtimeNow();
    ASSERT_TRUE(SimControl().RaiseEvent(Event(100)));
    {
        std::unique_lock lock(gate.mutex);
        ASSERT_TRUE(gate.cv.wait_for(lock, std::chrono::seconds(5), [] { return gate.entered; }));
    }
    for (int i = 1; i <= 4; ++i) ASSERT_TRUE(SimControl().RaiseEvent(Event(100 + i)));
    const int64_t after = RealtimeNow();
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.cv.notify_all();
    WaitUntil([&] { return journal.Count() >= 5; });

    std::lock_guard lock(journal.mutex);
    ASSERT_EQ(journal.infos.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const Quelto_BlockInfo& info = journal.infos[i];
        EXPECT_EQ(info.sequence, i);
        EXPECT_EQ(journal.scans[i], 100 + i);
        EXPECT_EQ(info.reserved, 0);
        EXPECT_GE(info.arrivalRealtimeNs, before);
        EXPECT_LE(info.arrivalRealtimeNs, after);
        if (i > 0) EXPECT_GE(info.arrivalMonotonicNs, journal.infos[i - 1].arrivalMonotonicNs);
    }
    // Stamped as they arrived, not when they were delivered: the four late
    // blocks arrived while the first was being delivered.
    EXPECT_EQ(journal.infos[0].blocksWaiting, 0);
    EXPECT_EQ(journal.infos[1].blocksWaiting, 3);
    EXPECT_EQ(journal.infos[2].blocksWaiting, 2);
    EXPECT_EQ(journal.infos[4].blocksWaiting, 0);
    // Both times describe the same moments: their differences agree to
    // within the time the four raises took.
    const int64_t monotonicSpan = journal.infos[4].arrivalMonotonicNs - journal.infos[0].arrivalMonotonicNs;
    const int64_t realtimeSpan = journal.infos[4].arrivalRealtimeNs - journal.infos[0].arrivalRealtimeNs;
    EXPECT_LT(std::llabs(monotonicSpan - realtimeSpan), after - before + 1000000);
}

TEST(CApiBlockInfo, BlockAndDataCallbacksShareOneOrderOfRegistration) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    Journal journal;
    Tagged a{&journal, "data a"}, b{&journal, "block b"}, c{&journal, "data c"}, e{&journal, "block e"};
    Quelto_Bridge_RegisterDataCallback(d.handle, &OnData, &a);
    Quelto_Bridge_RegisterBlockCallback(d.handle, &OnBlock, &b);
    Quelto_Bridge_RegisterBlockCallback(d.handle, nullptr, &b);  // registered, calls nothing
    Quelto_Bridge_RegisterDataCallback(d.handle, &OnData, &c);
    Quelto_Bridge_RegisterBlockCallback(d.handle, &OnBlock, &e);
    Quelto_Bridge_RegisterBlockCallback(d.handle, &OnBlock, &b);  // twice: called twice
    ASSERT_TRUE(SimControl().RaiseEvent(Event(1)));
    WaitUntil([&] { return journal.Count() >= 5; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::lock_guard lock(journal.mutex);
        EXPECT_EQ(journal.calls, (std::vector<std::string>{"data a", "block b", "data c", "block e", "block b"}));
        journal.calls.clear();
    }

    // Removal finds the oldest block registration of the pair; a data
    // unregistration never removes a block callback, nor the reverse.
    Quelto_Bridge_UnregisterBlockCallback(d.handle, &OnBlock, &b);
    Quelto_Bridge_UnregisterDataCallback(d.handle, reinterpret_cast<Quelto_DataCallback>(reinterpret_cast<void*>(&OnBlock)), &e);
    Quelto_Bridge_UnregisterBlockCallback(d.handle, reinterpret_cast<Quelto_BlockCallback>(reinterpret_cast<void*>(&OnData)), &a);
    Quelto_Bridge_UnregisterBlockCallback(d.handle, &OnBlock, &a);  // never registered: nothing
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    ASSERT_TRUE(SimControl().RaiseEvent(Event(2)));
    WaitUntil([&] { return journal.Count() >= 4; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(journal.mutex);
    EXPECT_EQ(journal.calls, (std::vector<std::string>{"data a", "data c", "block e", "block b"}));
}

TEST(CApiBlockInfo, UnregisteringFromAnotherThreadWaitsForARunningCallback) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    static std::atomic<bool> inside{false}, finished{false};
    inside = finished = false;
    const Quelto_BlockCallback slow = [](const Quelto_DataAvailableEventArgs_C*, const Quelto_BlockInfo*, void*) {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    };
    Quelto_Bridge_RegisterBlockCallback(d.handle, slow, nullptr);
    ASSERT_TRUE(SimControl().RaiseEvent(Event(1)));
    WaitUntil([&] { return inside.load(); });
    ASSERT_TRUE(inside.load());
    Quelto_Bridge_UnregisterBlockCallback(d.handle, slow, nullptr);
    EXPECT_TRUE(finished.load());
}

TEST(CApiBlockInfo, ABlockCallbackMayDestroyItsOwnHandle) {
    struct Ctx {
        void* bridge;
        std::atomic<int> calls{0};
    };
    static Ctx ctx;
    ctx.bridge = Quelto_Bridge_Create();
    ctx.calls = 0;
    ASSERT_NE(ctx.bridge, nullptr) << Quelto_Bridge_GetLastError();
    Quelto_Bridge_RegisterBlockCallback(
        ctx.bridge,
        [](const Quelto_DataAvailableEventArgs_C*, const Quelto_BlockInfo* info, void* c) {
            auto* self = static_cast<Ctx*>(c);
            if (self->calls++ == 0 && info->sequence >= 0) Quelto_Bridge_Destroy(self->bridge);
        },
        &ctx);
    Quelto_Bridge_StartCapturing(ctx.bridge);
    WaitUntil([&] { return ctx.calls.load() > 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // three more periods
    EXPECT_EQ(ctx.calls.load(), 1) << "a block reached a callback of a destroyed handle";
}

TEST(CApiDevice, StartCapturingWithPeriodPassesOneToThreeAndMapsTheRestToZero) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    QueltoSim::ScopedRecording recording(SimControl());
    const std::vector<std::pair<int, int64_t>> cases = {{1, 1}, {2, 2}, {3, 3}, {0, 0}, {4, 0},
                                                        {-1, 0}, {65537, 0}, {65538, 0}};
    for (const auto& [given, sent] : cases) {
        SimControl().ClearCalls();
        Quelto_Bridge_StartCapturingWithPeriod(d.handle, given);
        EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
        Quelto_Bridge_StopCapturing(d.handle);
        const auto starts = CallsOf("StartCapturing");
        ASSERT_EQ(starts.size(), 1u) << given;
        EXPECT_EQ(starts[0].arguments, (std::vector<int64_t>{sent})) << given;
    }
}

TEST(CApiDevice, InternalTriggersReachTheDeviceAndMarkTheBlocks) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    QueltoSim::ScopedRecording recording(SimControl());
    struct Seen {
        std::atomic<int> start{0}, stop{0};
    } static seen;
    seen.start = seen.stop = 0;
    Quelto_Bridge_RegisterBlockCallback(
        d.handle,
        [](const Quelto_DataAvailableEventArgs_C* b, const Quelto_BlockInfo*, void*) {
            if (b->StartTriggerDetected) ++seen.start;
            if (b->StopTriggerDetected) ++seen.stop;
        },
        nullptr);
    SimControl().ClearCalls();
    Quelto_Bridge_StartCapturingWithPeriod(d.handle, 3);
    Quelto_Bridge_GenerateInternalStartTrigger(d.handle);
    WaitUntil([&] { return seen.start > 0; });
    Quelto_Bridge_GenerateInternalStopTrigger(d.handle);
    WaitUntil([&] { return seen.stop > 0; });
    Quelto_Bridge_StopCapturing(d.handle);
    EXPECT_EQ(CallsOf("GenerateInternalStartTrigger").size(), 1u);
    EXPECT_EQ(CallsOf("GenerateInternalStopTrigger").size(), 1u);
    EXPECT_EQ(seen.start.load(), 1);
    EXPECT_EQ(seen.stop.load(), 1);
}

TEST(CApiDevice, SoftwareVersionFillsTheRecordOrLeavesItOnFailure) {
    LogFolder log("version");
    Device d;
    ASSERT_NE(d.handle, nullptr);
    Quelto_SoftwareVersion v{-5, -5, -5, -5};
    ASSERT_EQ(Quelto_Bridge_GetSoftwareVersion(d.handle, &v), 0);
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_EQ(v.Major, 1);
    EXPECT_EQ(v.Minor, 4);
    EXPECT_EQ(v.Build, 2);
    EXPECT_EQ(v.Revision, 7);

    // A failure of the third of four reads leaves the record as it was.
    Quelto_SoftwareVersion kept{-5, -5, -5, -5};
    int reads = 0;
    SimControl().SetFailure("get_SoftwareVersion", [&reads] {
        if (++reads == 3) throw Runtime::InvalidOperationException("version unreadable");
    });
    EXPECT_EQ(Quelto_Bridge_GetSoftwareVersion(d.handle, &kept), -1);
    SimControl().ClearFailures();
    ASSERT_NE(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_NE(std::string(Quelto_Bridge_GetLastError()).find("version unreadable"), std::string::npos);
    EXPECT_EQ(kept.Major, -5);
    EXPECT_EQ(kept.Revision, -5);
    EXPECT_EQ(Quelto_Bridge_GetSoftwareVersion(d.handle, nullptr), -1);
    EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
}

TEST(CApiDevice, NullHandleNeverCrashesAndFailsWhereAResultIsDue) {
    LogFolder log("null_handle");
    Quelto_Bridge_RegisterBlockCallback(nullptr, &OnBlock, nullptr);
    Quelto_Bridge_UnregisterBlockCallback(nullptr, &OnBlock, nullptr);
    Quelto_Bridge_StartCapturingWithPeriod(nullptr, 2);
    Quelto_Bridge_GenerateInternalStartTrigger(nullptr);
    Quelto_Bridge_GenerateInternalStopTrigger(nullptr);
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    Quelto_SoftwareVersion v{9, 9, 9, 9};
    EXPECT_EQ(Quelto_Bridge_GetSoftwareVersion(nullptr, &v), -1);
    EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_EQ(v.Major, 9);
    EXPECT_EQ(Quelto_Bridge_ApplyConfigurationFile(nullptr, QUELTO_SOURCE_DIR "/configs/minimal.json"), -1);
    EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
}

TEST(CApiDevice, TriggerAndPeriodFailuresAreContained) {
    LogFolder log("trigger_failures");
    Device d;
    ASSERT_NE(d.handle, nullptr);
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"GenerateInternalStartTrigger", [&] { Quelto_Bridge_GenerateInternalStartTrigger(d.handle); }},
        {"GenerateInternalStopTrigger", [&] { Quelto_Bridge_GenerateInternalStopTrigger(d.handle); }},
        {"StartCapturing", [&] { Quelto_Bridge_StartCapturingWithPeriod(d.handle, 1); }},
    };
    for (const auto& [operation, call] : cases) {
        SimControl().SetFailure(operation, [] { throw Runtime::InvalidOperationException("injected"); }, 1);
        call();
        ASSERT_NE(Quelto_Bridge_GetLastError(), nullptr) << operation;
        EXPECT_NE(log.Text().find("System.InvalidOperationException: injected"), std::string::npos);
        call();
        EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr) << operation;
    }
    SimControl().ClearFailures();
    Quelto_Bridge_StopCapturing(d.handle);
}

TEST(CApiConfigurationFile, SendsTheCaptureAndEachInstalledSensor) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    QueltoSim::ScopedRecording recording(SimControl());
    SimControl().ClearCalls();
    ASSERT_EQ(Quelto_Bridge_ApplyConfigurationFile(d.handle, QUELTO_SOURCE_DIR "/configs/complete.json"), 0)
        << Quelto_Bridge_GetLastError();
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    std::vector<std::string> order;
    std::vector<int64_t> sensors;
    for (const auto& c : SimControl().Calls()) {
        if (c.operation == "ConfigureCapture" || c.operation == "ConfigureSensor") order.push_back(c.operation);
        if (c.operation == "ConfigureSensor") sensors.push_back(c.arguments.at(0));
    }
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), "ConfigureCapture");
    EXPECT_EQ(std::count(order.begin(), order.end(), "ConfigureCapture"), 1);
    // Every sensor, in turn.
    std::vector<int64_t> expected;
    for (int s = 1; s <= 36; ++s) expected.push_back(s);
    EXPECT_EQ(sensors, expected);
}

// What the first block of a capture shows of the device.
struct FirstBlock {
    std::mutex mutex;
    bool seen = false;
    std::vector<float> sensorStates, footSwitchStates, insoleStates;
    std::vector<int16_t> analogStates;
    long emgSamples = -1, inertialSamples = -1, insoleImuSamples = -1;
    int emgRowsWithSignal = 0;

    static void QUELTO_CALL On(const Quelto_DataAvailableEventArgs_C* b, void* context) {
        auto& f = *static_cast<FirstBlock*>(context);
        std::lock_guard lock(f.mutex);
        if (f.seen) return;
        f.seen = true;
        f.sensorStates.assign(b->SensorStates.data, b->SensorStates.data + b->SensorStates.count);
        f.footSwitchStates.assign(b->FootSwSensorStates.data, b->FootSwSensorStates.data + b->FootSwSensorStates.count);
        f.insoleStates.assign(b->InsoleStates.data, b->InsoleStates.data + b->InsoleStates.count);
        f.analogStates.assign(b->AnalogStates.data, b->AnalogStates.data + b->AnalogStates.count);
        f.emgSamples = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, b->EmgSamples.count);
        f.inertialSamples = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_ACCELEROMETER, b->AccelerometerSamples.count);
        f.insoleImuSamples =
            Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_INSOLE_GYROSCOPE, b->InsoleGyroscopeSamples.count);
        for (int s = 0; s < QUELTO_LAYOUT_SENSORS && f.emgSamples > 0; ++s) {
            const float* row = b->EmgSamples.data + Quelto_DataLayout_Index(QUELTO_BUFFER_EMG, s, 0, 0, f.emgSamples);
            f.emgRowsWithSignal += std::any_of(row, row + f.emgSamples, [](float v) { return v != 0.0f; });
        }
    }
};

// The complete sample switches on the whole device: every sensor's EMG and
// inertial data, both foot switches and insoles, every analog channel.
TEST(CApiConfigurationFile, TheCompleteSampleSwitchesOnTheWholeDevice) {
    Device d;
    ASSERT_NE(d.handle, nullptr);
    ASSERT_EQ(Quelto_Bridge_ApplyConfigurationFile(d.handle, QUELTO_SOURCE_DIR "/configs/complete.json"), 0)
        << Quelto_Bridge_GetLastError();
    FirstBlock first;
    Quelto_Bridge_RegisterDataCallback(d.handle, &FirstBlock::On, &first);
    Quelto_Bridge_StartCapturingWithPeriod(d.handle, 3);
    WaitUntil([&] {
        std::lock_guard lock(first.mutex);
        return first.seen;
    });
    Quelto_Bridge_StopCapturing(d.handle);
    Quelto_Bridge_UnregisterDataCallback(d.handle, &FirstBlock::On, &first);
    std::lock_guard lock(first.mutex);
    ASSERT_TRUE(first.seen);
    ASSERT_EQ(first.sensorStates.size(), static_cast<size_t>(QUELTO_LAYOUT_SENSORS));
    const int on = QUELTO_STATE_CONNECTED | QUELTO_STATE_EMG | QUELTO_STATE_INERTIAL;
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS; ++s) {
        EXPECT_EQ(static_cast<int>(first.sensorStates[s]) & on, on) << "sensor " << s + 1;
    }
    EXPECT_EQ(first.emgSamples, 20);  // 2000 Hz, 10 ms
    EXPECT_EQ(first.emgRowsWithSignal, QUELTO_LAYOUT_SENSORS);
    EXPECT_GT(first.inertialSamples, 0);
    EXPECT_GT(first.insoleImuSamples, 0);
    for (float state : first.footSwitchStates) EXPECT_TRUE(static_cast<int>(state) & QUELTO_STATE_CONNECTED);
    ASSERT_EQ(first.insoleStates.size(), static_cast<size_t>(QUELTO_LAYOUT_INSOLES));
    const int insoleOn = QUELTO_STATE_CONNECTED | QUELTO_STATE_INERTIAL;
    for (float state : first.insoleStates) EXPECT_EQ(static_cast<int>(state) & insoleOn, insoleOn);
    ASSERT_EQ(first.analogStates.size(), static_cast<size_t>(QUELTO_LAYOUT_ANALOG_CHANNELS));
    for (int16_t state : first.analogStates) EXPECT_NE(state, QUELTO_ANALOG_STATE_OFF);
}

TEST(CApiConfigurationFile, AFileThatDoesNotLoadSendsNothingAndSaysWhy) {
    LogFolder log("config_file");
    Device d;
    ASSERT_NE(d.handle, nullptr);
    QueltoSim::ScopedRecording recording(SimControl());
    const fs::path dir = TempFolder("config_file_bad");
    {
        std::ofstream(dir / "broken.json") << "{ \"FormatVersion\": 1, \"CaptureConfiguration\": ";
    }
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(dir / "missing.json").string(), "FileNotFoundException"},
        {(dir / "broken.json").string(), "Exception"},
    };
    for (const auto& [path, kind] : cases) {
        SimControl().ClearCalls();
        EXPECT_EQ(Quelto_Bridge_ApplyConfigurationFile(d.handle, path.c_str()), -1) << path;
        const char* error = Quelto_Bridge_GetLastError();
        ASSERT_NE(error, nullptr) << path;
        EXPECT_NE(std::string(error).find(kind), std::string::npos) << error;
        EXPECT_TRUE(CallsOf("ConfigureCapture").empty()) << path;
        EXPECT_TRUE(CallsOf("ConfigureSensor").empty()) << path;
    }
    EXPECT_EQ(Quelto_Bridge_ApplyConfigurationFile(d.handle, nullptr), -1);
    EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
    // The handle still works afterwards.
    EXPECT_EQ(Quelto_Bridge_ApplyConfigurationFile(d.handle, QUELTO_SOURCE_DIR "/configs/minimal.json"), 0);
}
