// The managed backend against the small test SDK assemblies that sit, with
// the helper assembly, beside this program (the "bridge folder" of a test
// that links the bridge's objects).
#include "AppDomain.h"
#include "BridgeFolder.h"
#include "ManagedInterop.h"
#include "ManagedObjects.h"
#include "ManagedRuntime.h"
#include "ManagedTestSupport.h"
#include "QueltoBridge.h"
#include "Quelto_ConfigurationHelpers.h"
#include "Quelto_DaqSystem.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

using namespace ManagedTest;

namespace {

namespace D = Quelto::Common::Definitions;
using Hosting::Managed::ManagedException;

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

struct Blocks {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Quelto_DataAvailableEventArgs> seen;
    static void Listen(Quelto_DataAvailableEventArgs arg, void* context) {
        auto* self = static_cast<Blocks*>(context);
        std::lock_guard lock(self->m);
        self->seen.push_back(std::move(arg));
        self->cv.notify_all();
    }
    bool WaitFor(std::size_t n, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, timeout, [&] { return seen.size() >= n; });
    }
    // A capture of a device of its own until `n` blocks have come (true) or
    // `timeout` has passed.
    bool Capture(std::size_t n, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        Quelto_DaqSystem facade;
        facade.AddDaqDataAvailableListener(&Blocks::Listen, this);
        facade.StartCapturing(Quelto_DataAvailableEventPeriod{});
        const bool came = WaitFor(n, timeout);
        facade.StopCapturing();
        return came;
    }
};

class ManagedBackend : public ::testing::Test {
protected:
    void SetUp() override { SetupBridgeAssemblyResolve(); }
};

TEST_F(ManagedBackend, CliAssemblySelectsTheManagedBackendAndMakesObjectsByClassName) {
    const std::string folder = Hosting::BridgeFolder();
    EXPECT_TRUE(Hosting::Managed::IsCliAssembly(folder + "/Quelto.dll"));
    EXPECT_TRUE(Hosting::Managed::IsCliAssembly(folder + "/QueltoBridgeHost.dll"));
    EXPECT_FALSE(Hosting::Managed::IsCliAssembly(folder + "/managed_backend"));  // an ELF file
    EXPECT_FALSE(Hosting::Managed::IsCliAssembly(folder + "/no-such-file.dll"));

    auto device = Runtime::AppDomain::CurrentDomain().CreateInstance<Quelto::Interfaces::IDaqSystem>(
        D::QueltoAssemblyName, Quelto::DaqSystemClass);
    EXPECT_TRUE(Runtime::AppDomain::CurrentDomain().Load(D::QueltoAssemblyName)->IsManaged());
    EXPECT_TRUE(Hosting::Managed::Running());
    EXPECT_EQ(device->get_State(), D::DeviceState::Idle);
    auto version = device->get_SoftwareVersion();
    ASSERT_TRUE(version);
    EXPECT_EQ(version->get_Major(), 4);
    EXPECT_EQ(version->get_Minor(), 2);
    EXPECT_EQ(version->get_Build(), 17);
    EXPECT_EQ(version->get_Revision(), 3);
    device->Dispose();
    EXPECT_EQ(device->get_State(), D::DeviceState::Disposed);
}

TEST_F(ManagedBackend, CaptureAndSensorConfigurationsRoundTripThroughManagedObjects) {
    Quelto_CaptureConfiguration in;
    std::memset(&in, 0, sizeof in);
    in.ExternalTriggerEnabled = 1;
    in.ExternalTriggerActiveLevel = -7;
    in.ExternalEventActiveLevel = 1234567;
    in.EMG_AcqXType = static_cast<decltype(in.EMG_AcqXType)>(2);
    in.EnabledInsole[1] = 1;
    in.EnabledAnalogChannel[0] = 1;
    in.EnabledAnalogChannel[31] = 1;
    in.Analog_ChannelDelay_ms = 4000000000u;
    in.FootSwATransducerEnabled.T_5 = 1;
    in.FootSwBTransducerThreshold.T_T = 0.125;
    auto managed = Quelto_CaptureConfigurationHelper::ToManaged(in);
    Quelto_CaptureConfiguration out = Quelto_CaptureConfigurationHelper::ToNative(managed);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);
    EXPECT_EQ(managed->get_EnabledAnalogChannel()->Length(), 32u);

    Quelto_SensorConfiguration sensor{};
    sensor.SensorMode = static_cast<decltype(sensor.SensorMode)>(3);
    auto managedSensor = Quelto_SensorConfigurationHelper::ToManaged(sensor);
    EXPECT_EQ(static_cast<int>(managedSensor->get_SensorMode()), 3);
}

TEST_F(ManagedBackend, FacadeForwardsCallsAndConfigurations) {
    Quelto_DaqSystem facade;
    EXPECT_EQ(facade.GetdeviceState(), 1);
    Quelto_SoftwareVersion v = facade.SoftwareVersion();
    EXPECT_EQ(v.Major * 1000 + v.Minor * 100 + v.Build, 4217);
    // The test device reads Configured only when the second insole's flag,
    // written natively into the managed array, arrived.
    Quelto_CaptureConfiguration c;
    std::memset(&c, 0, sizeof c);
    facade.ConfigureCapture(c);
    EXPECT_EQ(facade.GetdeviceState(), 1);
    c.EnabledInsole[1] = 1;
    facade.ConfigureCapture(c);
    EXPECT_EQ(facade.GetdeviceState(), 2);
    Quelto_SensorConfiguration s{};
    facade.ConfigureSensor(s, -1);  // all sensors
    facade.CalibrateEMGOffset(3);
    facade.GenerateInternalStartTrigger();
    facade.SaveCurrentRxConfiguration();
}

TEST_F(ManagedBackend, ManagedFailureKeepsTypeMessageAndFullText) {
    Env throwing("QUELTO_FAKE_THROW", "CalibrateGyroscopeOffset");
    Quelto_DaqSystem facade;
    try {
        facade.CalibrateGyroscopeOffset(40);
        FAIL() << "no exception";
    } catch (const Runtime::Exception& e) {
        EXPECT_STREQ(e.TypeName(), "System.ArgumentOutOfRangeException");
        EXPECT_NE(e.Message().find("Sensor number must be 0 to 35."), std::string::npos) << e.Message();
        const std::string text = e.ToString();
        EXPECT_EQ(text.rfind("System.ArgumentOutOfRangeException: Sensor number must be 0 to 35.", 0), 0u) << text;
        EXPECT_NE(text.find("sensor"), std::string::npos) << text;
        EXPECT_NE(text.find("at Quelto.DaqSystem.CalibrateGyroscopeOffset"), std::string::npos) << text;
    }
    // The device goes on working after a failure.
    facade.CalibrateImuOffset(1);
    EXPECT_EQ(facade.GetdeviceState(), 1);
}

// Thread.Abort of the calling thread, or a real stack overflow, inside an SDK
// member: that call fails like any other, and the same host thread goes on.
TEST_F(ManagedBackend, AnSdkMemberAbortingOrOverflowingFailsOnlyThatCall) {
    Env throwing("QUELTO_FAKE_THROW", "CalibrateGyroscopeOffset");
    const std::pair<const char*, const char*> faults[] = {{"abort", "System.Threading.ThreadAbortException"},
                                                          {"overflow", "System.StackOverflowException"}};
    for (const auto& [fault, type] : faults) {
        // The sanitizers' runtimes take the signal and stack that Mono turns
        // into the overflow's exception.
        if (TestPlatform::Sanitized && std::string(fault) == "overflow") continue;
        SCOPED_TRACE(fault);
        Env kind("QUELTO_FAKE_FAULT", fault);
        void* device = Quelto_Bridge_Create();
        ASSERT_NE(device, nullptr);
        std::vector<std::string> errors;
        int state = -1;
        ASSERT_TRUE(ReturnsWithin([&] {
            for (int i = 0; i < 2; ++i) {
                Quelto_Bridge_CalibrateGyroscopeOffset(device, 1);
                const char* error = Quelto_Bridge_GetLastError();
                errors.push_back(error ? error : "");
                Quelto_Bridge_CalibrateImuOffset(device, 1);  // the thread is still the host's
                errors.push_back(Quelto_Bridge_GetLastError() ? Quelto_Bridge_GetLastError() : "");
            }
            state = Quelto_Bridge_GetdeviceState(device);
        })) << "the calling thread did not come back";
        ASSERT_EQ(errors.size(), 4u);
        for (int i : {0, 2}) EXPECT_NE(errors[i].find(type), std::string::npos) << errors[i];
        for (int i : {1, 3}) EXPECT_EQ(errors[i], "");
        EXPECT_EQ(state, 1);
        EXPECT_TRUE(ReturnsWithin([device] { Quelto_Bridge_Destroy(device); }));
    }
    // The facade throws the same failure.
    Env kind("QUELTO_FAKE_FAULT", "abort");
    std::string type;
    EXPECT_TRUE(ReturnsWithin([&] {
        Quelto_DaqSystem facade;
        try {
            facade.CalibrateGyroscopeOffset(2);
        } catch (const Runtime::Exception& e) {
            type = e.TypeName();
        }
    }));
    EXPECT_EQ(type, "System.Threading.ThreadAbortException");
}

// Arrays of element types the SDK never uses (not primitive: the helper
// cannot pin them) in a block: the block is reported and skipped, the next
// ones arrive. double[,] (primitive, the wrong size) is reported the same way.
TEST_F(ManagedBackend, ABlockWithAnArrayOfAnotherElementTypeIsReportedAndSkipped) {
    const std::pair<const char*, const char*> cases[] = {
        {"string[]", "SyncSamples"}, {"DateTime[]", "SyncSamples"}, {"float[][]", "SyncSamples"},
        {"object[,]", "EmgSamples"}, {"decimal[,]", "EmgSamples"},  {"double[,]", "EmgSamples"}};
    for (const auto& [kind, field] : cases) {
        SCOPED_TRACE(kind);
        Env blocks("QUELTO_FAKE_BLOCKS", "3");
        Env odd("QUELTO_FAKE_ODD_ARRAY", kind);
        Blocks seen;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(seen.Capture(2, std::chrono::seconds(30)));
        const std::string reported = testing::internal::GetCapturedStderr();
        ASSERT_EQ(seen.seen.size(), 2u);
        EXPECT_EQ(seen.seen[0].ScanNumber, 1);
        EXPECT_EQ(seen.seen[1].ScanNumber, 2);
        EXPECT_NE(reported.find("a block could not be delivered: "), std::string::npos) << reported;
        EXPECT_NE(reported.find(std::string("A DataAvailableEventArgs array has an unexpected type: ") + field + "."),
                  std::string::npos)
            << reported;
    }
}

// The same element types in the configuration reader's result: the load
// fails with the field's name, nothing is read from the array.
TEST_F(ManagedBackend, AConfigurationArrayOfAnotherElementTypeFailsTheLoad) {
    const std::pair<const char*, const char*> cases[] = {
        {"string[]", "EfaChannelScale"},       {"DateTime[]", "EfaChannelScale"},
        {"float[][]", "EfaChannelScale"},      {"object[,]", "AnalogOutputSensorNum"},
        {"decimal[,]", "AnalogOutputSensorNum"}, {"double[,]", "AnalogOutputSensorNum"}};
    Quelto_DaqSystem facade;
    for (const auto& [kind, field] : cases) {
        SCOPED_TRACE(kind);
        Env odd("QUELTO_FAKE_ODD_ARRAY", kind);
        try {
            facade.LoadConfiguration("any.cfg");
            ADD_FAILURE() << "no exception";
        } catch (const Runtime::Exception& e) {
            EXPECT_STREQ(e.TypeName(), "System.InvalidCastException") << e.ToString();
            EXPECT_NE(e.Message().find(std::string("element type is not the one expected: ") + field + "."),
                      std::string::npos)
                << e.Message();
        }
    }
    EXPECT_EQ(facade.LoadConfiguration("any.cfg").EfaChannelScale[10], 2.5f);
}

// A float[,] whose indices start at 1 is copied all the same.
TEST_F(ManagedBackend, AnArrayIndexedFromOneArrivesWithItsValues) {
    Env blocks("QUELTO_FAKE_BLOCKS", "2");
    Env odd("QUELTO_FAKE_ODD_ARRAY", "lower-bounds");
    Blocks seen;
    ASSERT_TRUE(seen.Capture(2, std::chrono::seconds(30)));
    EXPECT_EQ(seen.seen[0].ScanNumber, 0);
    EXPECT_EQ(seen.seen[0].EmgSamples, (std::vector<float>{10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(seen.seen[1].EmgSamples.size(), 36u * 48u);
}

// The storage of blocks let go is used again for later ones, never while a
// block still holds it: blocks kept until the end still hold their own
// values, while every other block is let go as it comes.
TEST_F(ManagedBackend, StorageOfBlocksLetGoIsUsedAgainOnlyOnceFree) {
    constexpr int Count = 400;
    Env blocks("QUELTO_FAKE_BLOCKS", std::to_string(Count).c_str());
    auto device = Runtime::AppDomain::CurrentDomain().CreateInstance<Quelto::Interfaces::IDaqSystem>(
        D::QueltoAssemblyName, Quelto::DaqSystemClass);
    std::mutex m;
    std::condition_variable cv;
    std::vector<Runtime::Ref<D::DataAvailableEventArgs>> kept;
    int arrived = 0;
    device->add_DataAvailable([&](const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<D::DataAvailableEventArgs>& e) {
        e->Acquire();
        std::lock_guard lock(m);
        if (arrived++ % 2 == 0) kept.push_back(e);
        cv.notify_all();
    });
    device->StartCapturing(D::DataAvailableEventPeriod{});
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return arrived == Count; }));
    }
    device->StopCapturing();
    device->Dispose();
    ASSERT_EQ(kept.size(), static_cast<std::size_t>(Count / 2));
    for (std::size_t j = 0; j < kept.size(); ++j) {
        const int k = static_cast<int>(2 * j);
        const auto& e = *kept[j];
        ASSERT_EQ(e.ScanNumber, k);
        ASSERT_EQ(e.EmgSamples->Length(), 36u * 48u);
        for (std::size_t i = 0; i < 36u * 48u; i += 97) {
            ASSERT_EQ(e.EmgSamples->Data()[i], static_cast<float>(k * 100000 + static_cast<int>(i))) << k << " " << i;
        }
        ASSERT_EQ((*e.SensorStates)(0), static_cast<int16_t>(k));
    }
}

TEST_F(ManagedBackend, CreateFailureReturnsNullAndLogsTheManagedText) {
    const auto dir = std::filesystem::temp_directory_path() / ("quelto-managed-log-" + std::to_string(getpid()));
    Env log("QUELTO_BRIDGE_LOG_DIR", dir.c_str());
    Env throwing("QUELTO_FAKE_THROW", "ctor");
    EXPECT_EQ(Quelto_Bridge_Create(), nullptr);
    const std::string text = ReadFile(dir / "LOG" / "ErrorLog.txt");
    EXPECT_NE(text.find("System.InvalidOperationException: The receiver is not connected."), std::string::npos)
        << text;
    EXPECT_NE(text.find("at Quelto.DaqSystem..ctor"), std::string::npos) << text;
    std::filesystem::remove_all(dir);
}

TEST_F(ManagedBackend, EveryBlockArrivesOnceInOrderWithExactValues) {
    constexpr int Count = 3000;
    Env blocks("QUELTO_FAKE_BLOCKS", std::to_string(Count).c_str());
    Blocks seen;
    ASSERT_TRUE(seen.Capture(Count));
    ASSERT_EQ(seen.seen.size(), static_cast<std::size_t>(Count));
    for (int k = 0; k < Count; ++k) {
        const Quelto_DataAvailableEventArgs& b = seen.seen[k];
        ASSERT_EQ(b.ScanNumber, k);
        ASSERT_EQ(b.EmgSamples.size(), 36u * 48u);
        ASSERT_EQ(b.ImuSamples.size(), 36u * 4u * 3u);
        for (std::size_t i = 0; i < b.EmgSamples.size(); i += 47) {
            ASSERT_EQ(b.EmgSamples[i], static_cast<float>(k * 100000 + static_cast<int>(i))) << k << " " << i;
        }
        ASSERT_EQ(b.ImuSamples.back(), static_cast<float>(k * 100000 + 431));
        ASSERT_EQ(b.SyncSamples, (std::vector<float>{float(k), k + 0.5f}));
        ASSERT_EQ(b.SensorStates, (std::vector<float>{float(static_cast<int16_t>(k)), -1.0f, 32767.0f}));
        ASSERT_EQ(b.RemoteControlEvents, (std::vector<uint16_t>{65535, static_cast<uint16_t>(k)}));
        ASSERT_TRUE(b.AnalogSamples.empty());  // zero extent
        ASSERT_TRUE(b.InsoleSamples.empty());  // null
        ASSERT_EQ(b.RemoteControlState, 7);
        ASSERT_EQ(b.StartTriggerDetected, k % 2 == 1);
        ASSERT_EQ(b.StartTriggerScan, k * 3);
        ASSERT_EQ(b.UsbLostPackets, 2);
        ASSERT_TRUE(b.UsbLowPerformance);
        ASSERT_EQ(b.InsoleImuScanNumber, k + 9);
    }
}

// The value the test SDK gives each field of a block (QUELTO_FAKE_EVERY_FIELD,
// Device.cs EveryField): made from the field's own name.
int Code(const char* name) {
    int code = 0;
    for (const char* c = name; *c; ++c) code = (code * 31 + *c) % 9973;
    return code + 1;
}

// Every field of the one list of a block's fields crosses into the record
// under its own name, whatever order the SDK declares them in: the helper
// reads the fields by the names the bridge hands it.
TEST_F(ManagedBackend, EveryFieldOfTheListCrossesUnderItsOwnName) {
    constexpr int Count = 20;
    Env blocks("QUELTO_FAKE_BLOCKS", std::to_string(Count).c_str());
    Env every("QUELTO_FAKE_EVERY_FIELD", "1");
    Blocks seen;
    ASSERT_TRUE(seen.Capture(Count));
    ASSERT_EQ(seen.seen.size(), static_cast<std::size_t>(Count));
    int fields = 0;
    for (int k = 0; k < Count; ++k) {
        const Quelto_DataAvailableEventArgs& b = seen.seen[k];
        SCOPED_TRACE("block " + std::to_string(k));
        auto array = [&](const auto& values, const char* name, int rank) {
            const int code = Code(name);
            const int extents[3] = {1 + code % 4, rank > 1 ? 1 + code / 4 % 3 : 1, rank > 2 ? 1 + code / 12 % 2 : 1};
            ASSERT_EQ(values.size(), static_cast<std::size_t>(extents[0] * extents[1] * extents[2])) << name;
            for (std::size_t i = 0; i < values.size(); ++i) {
                ASSERT_EQ(static_cast<double>(values[i]), static_cast<double>((code + k + static_cast<int>(i)) % 30000))
                    << name << "[" << i << "]";
            }
            ++fields;
        };
#define QUELTO_CHECK_ARRAY(name, element, rank, view) array(b.name, #name, rank);
#define QUELTO_CHECK_NUMBER(name, type) \
    EXPECT_EQ(b.name, static_cast<type>(Code(#name) + k)) << #name; \
    ++fields;
#define QUELTO_CHECK_FLAG(name) \
    EXPECT_EQ(b.name != 0, ((Code(#name) >> (k % 13)) & 1) != 0) << #name; \
    ++fields;
        QUELTO_BLOCK_FIELDS(QUELTO_CHECK_ARRAY, QUELTO_CHECK_NUMBER, QUELTO_CHECK_FLAG, QUELTO_BLOCK_SKIP)
#undef QUELTO_CHECK_ARRAY
#undef QUELTO_CHECK_NUMBER
#undef QUELTO_CHECK_FLAG
        EXPECT_EQ(b.AnalogSpare, 0);
    }
    EXPECT_EQ(fields, Count * (Hosting::Managed::BlockNumberCount + Hosting::Managed::BlockArrayCount));
}

TEST_F(ManagedBackend, PerBlockCollectionKeepsEveryBlock) {
    constexpr int Count = 200;
    Env blocks("QUELTO_FAKE_BLOCKS", std::to_string(Count).c_str());
    Hosting::Managed::SetCollectPerBlock(true);
    Blocks seen;
    {
        Quelto_DaqSystem facade;
        facade.AddDaqDataAvailableListener(&Blocks::Listen, &seen);
        facade.StartCapturing(Quelto_DataAvailableEventPeriod{});
        EXPECT_TRUE(seen.WaitFor(Count));
    }
    Hosting::Managed::SetCollectPerBlock(false);
    ASSERT_EQ(seen.seen.size(), static_cast<std::size_t>(Count));
    for (int k = 0; k < Count; ++k) EXPECT_EQ(seen.seen[k].EmgSamples[1727], float(k * 100000 + 1727));
}

TEST_F(ManagedBackend, ASlowHostLosesNothingWhileCollectionsRun) {
    constexpr int Count = 300;
    Env blocks("QUELTO_FAKE_BLOCKS", std::to_string(Count).c_str());
    struct Slow : Blocks {
        static void Listen(Quelto_DataAvailableEventArgs arg, void* context) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            Blocks::Listen(std::move(arg), context);
        }
    } seen;
    std::atomic<bool> done{false};
    // Collections from another attached thread while the worker is behind.
    std::thread collector([&] {
        while (!done) {
            Hosting::Managed::Collect();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    {
        Quelto_DaqSystem facade;
        facade.AddDaqDataAvailableListener(&Slow::Listen, &seen);
        facade.StartCapturing(Quelto_DataAvailableEventPeriod{});
        EXPECT_TRUE(seen.WaitFor(Count));
    }
    done = true;
    collector.join();
    ASSERT_EQ(seen.seen.size(), static_cast<std::size_t>(Count));
    for (int k = 0; k < Count; ++k) ASSERT_EQ(seen.seen[k].ScanNumber, k);
}

TEST_F(ManagedBackend, AThrowingSdkThreadLeavesTheHostRunningAndTheStateError) {
    Env blocks("QUELTO_FAKE_BLOCKS", "5");
    Env throws("QUELTO_FAKE_THREAD_THROW", "1");
    Blocks seen;
    Quelto_DaqSystem facade;
    facade.AddDaqDataAvailableListener(&Blocks::Listen, &seen);
    facade.StartCapturing(Quelto_DataAvailableEventPeriod{});
    EXPECT_TRUE(seen.WaitFor(5));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (facade.GetdeviceState() != 5 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(facade.GetdeviceState(), 5);  // Error
    EXPECT_EQ(seen.seen.size(), 5u);
}

TEST_F(ManagedBackend, ReaderGivesEveryKindOfField) {
    Quelto_DaqSystem facade;
    Quelto_ConfigurationExportBase c = facade.LoadConfiguration("any.cfg");
    EXPECT_EQ(c.CaptureConfiguration.ExternalTriggerActiveLevel, 1);
    EXPECT_EQ(c.CaptureConfiguration.EnabledInsole[1], 1);
    EXPECT_EQ(c.InstalledEfaChannels[3], 1);
    EXPECT_EQ(c.InstalledEfaChannels[4], 0);
    EXPECT_EQ(c.EfaChannelScale[10], 2.5f);
    EXPECT_EQ(static_cast<int>(c.EfaChannelType[7]), 2);
    EXPECT_EQ(c.EfaChannelLineColor[10].R, 10);
    EXPECT_EQ(c.EfaChannelLineColor[10].B, 30);
    EXPECT_EQ(c.EfaChannelLineColor[10].A, 255);
    EXPECT_EQ(static_cast<int>(c.SensorConfiguration[6].SensorMode), 2);
    EXPECT_EQ(c.ImuAgmChannelFullScale[113], 113.5f);
    EXPECT_EQ(c.AnalogOutputSensorNum[1][39], 139);
    EXPECT_EQ(c.InsoleName[1], "Right");
    EXPECT_TRUE(c.EfaChannelName[5].empty());  // null
    EXPECT_EQ(c.EfaChannelName[1].rfind("EMG 1 ", 0), 0u);
    EXPECT_EQ(c.InsoleSampleRate_Hz, 100.5f);
    try {
        facade.LoadConfiguration("missing.json");
        FAIL() << "no exception";
    } catch (const Runtime::Exception& e) {
        EXPECT_STREQ(e.TypeName(), "System.IO.FileNotFoundException") << e.ToString();
    }
}

void ExpectSameRecord(const Quelto_ConfigurationExportBase& a, const Quelto_ConfigurationExportBase& b) {
    EXPECT_EQ(std::memcmp(&a.CaptureConfiguration, &b.CaptureConfiguration, sizeof a.CaptureConfiguration), 0);
    for (int i = 0; i < QUELTO_CHANNEL_COUNT; ++i) {
        EXPECT_EQ(std::memcmp(&a.SensorConfiguration[i], &b.SensorConfiguration[i], sizeof a.SensorConfiguration[i]), 0)
            << i;
    }
    auto same = [](const auto& x, const auto& y, int n, const char* name) {
        for (int i = 0; i < n; ++i) {
            if constexpr (std::is_same_v<std::decay_t<decltype(x[0])>, Quelto_Color>) {
                EXPECT_EQ(std::memcmp(&x[i], &y[i], sizeof x[i]), 0) << name << "[" << i << "]";
            } else {
                EXPECT_EQ(x[i], y[i]) << name << "[" << i << "]";
            }
        }
    };
#define QUELTO_SAME_CHANNELS(Prefix, n)                                                      \
    same(a.Installed##Prefix##Channels, b.Installed##Prefix##Channels, n, "Installed" #Prefix); \
    same(a.Enabled##Prefix##Channels, b.Enabled##Prefix##Channels, n, "Enabled" #Prefix);       \
    same(a.Prefix##ChannelName, b.Prefix##ChannelName, n, #Prefix "ChannelName");               \
    same(a.Prefix##ChannelUnit, b.Prefix##ChannelUnit, n, #Prefix "ChannelUnit");               \
    same(a.Prefix##ChannelScale, b.Prefix##ChannelScale, n, #Prefix "ChannelScale");            \
    same(a.Prefix##ChannelType, b.Prefix##ChannelType, n, #Prefix "ChannelType");               \
    same(a.Prefix##ChannelSide, b.Prefix##ChannelSide, n, #Prefix "ChannelSide");               \
    same(a.Prefix##ChannelLineColor, b.Prefix##ChannelLineColor, n, #Prefix "ChannelLineColor"); \
    same(a.Prefix##ChannelFullScale, b.Prefix##ChannelFullScale, n, #Prefix "ChannelFullScale");
    QUELTO_SAME_CHANNELS(Efa, QUELTO_CHANNEL_COUNT)
    QUELTO_SAME_CHANNELS(Imu, QUELTO_CHANNEL_COUNT)
    QUELTO_SAME_CHANNELS(AccFswMap, QUELTO_CHANNEL_COUNT)
    QUELTO_SAME_CHANNELS(ImuAgm, QUELTO_IMU_AGM_CHANNEL_COUNT)
#undef QUELTO_SAME_CHANNELS
    for (int o = 0; o < QUELTO_ANALOG_OUTPUT_COUNT; ++o) {
        same(a.AnalogOutputChannelType[o], b.AnalogOutputChannelType[o], QUELTO_ANALOG_OUTPUT_ENTRIES, "OutputType");
        same(a.AnalogOutputSensorNum[o], b.AnalogOutputSensorNum[o], QUELTO_ANALOG_OUTPUT_ENTRIES, "OutputSensor");
        same(a.AnalogOutputChannelAxis[o], b.AnalogOutputChannelAxis[o], QUELTO_ANALOG_OUTPUT_ENTRIES, "OutputAxis");
    }
    same(a.InstalledInsoles, b.InstalledInsoles, QUELTO_INSOLE_COUNT, "InstalledInsoles");
    same(a.EnabledInsoles, b.EnabledInsoles, QUELTO_INSOLE_COUNT, "EnabledInsoles");
    same(a.PlottingEnabledInsoles, b.PlottingEnabledInsoles, QUELTO_INSOLE_COUNT, "PlottingEnabledInsoles");
    same(a.InsoleName, b.InsoleName, QUELTO_INSOLE_COUNT, "InsoleName");
    same(a.InsoleUnit, b.InsoleUnit, QUELTO_INSOLE_COUNT, "InsoleUnit");
    same(a.InsoleScale, b.InsoleScale, QUELTO_INSOLE_COUNT, "InsoleScale");
    same(a.InsoleSide, b.InsoleSide, QUELTO_INSOLE_COUNT, "InsoleSide");
    same(a.InsoleSize, b.InsoleSize, QUELTO_INSOLE_COUNT, "InsoleSize");
    same(a.InsoleFullScale, b.InsoleFullScale, QUELTO_INSOLE_COUNT, "InsoleFullScale");
    same(a.EnabledInsoleImuChannels, b.EnabledInsoleImuChannels, QUELTO_INSOLE_COUNT, "EnabledInsoleImuChannels");
    EXPECT_EQ(a.InsoleSampleRate_Hz, b.InsoleSampleRate_Hz);
    EXPECT_EQ(a.InsoleImuSampleRate_Hz, b.InsoleImuSampleRate_Hz);
}

// ToManaged writes into the SDK's own ConfigurationExportBase: the test SDK,
// handed the object, reads every value of the record back.
TEST_F(ManagedBackend, ToManagedFillsTheSdkObjectThatTheSdkReadsBack) {
    namespace M = Hosting::Managed;
    Quelto_DaqSystem facade;
    Quelto_ConfigurationExportBase record = facade.LoadConfiguration("any.cfg");
    record.CaptureConfiguration.ExternalEventActiveLevel = 77;
    record.SensorConfiguration[6].SensorMode = static_cast<decltype(record.SensorConfiguration[6].SensorMode)>(1);
    record.InstalledImuChannels[37] = 1;
    record.EfaChannelName[2] = "Biceps \xc3\xa9";
    record.EfaChannelName[5] = "";  // null in the SDK's object: an empty text
    record.ImuAgmChannelUnit[113] = "deg/s";
    record.EfaChannelScale[3] = 0.75f;
    record.EfaChannelType[4] = static_cast<Quelto_ChannelType>(3);
    record.ImuChannelLineColor[1] = Quelto_Color{};
    record.ImuChannelLineColor[1].A = 128;
    record.ImuChannelLineColor[1].G = 200;
    record.AnalogOutputChannelAxis[1][0] = -1000;
    record.PlottingEnabledInsoles[1] = 1;
    record.InsoleName[0] = "Left";
    record.InsoleSide[1] = static_cast<Quelto_ChannelSide>(2);
    record.InsoleSize[0] = static_cast<Quelto_InsoleSize>(4);
    record.InsoleImuSampleRate_Hz = 148.5f;
    const auto managed = Quelto_ConfigurationExportBaseHelper::ToManaged(record);
    const auto probe = Runtime::AppDomain::CurrentDomain().CreateInstance(D::CfgReaderAssemblyName,
                                                                         "PellimorCfgReader.ConfigurationProbe");
    intptr_t copy = 0;
    M::Check(M::Api().Call(M::HandleOf(probe), u"PellimorCfgReader.ConfigurationProbe", u"Copy", 2,
                           M::HandleOf(managed), 0, nullptr, &copy));
    Quelto_ConfigurationExportBase back;
    Quelto_ConfigurationExportBaseHelper::ToNative(M::AdoptConfiguration(copy), back);
    ExpectSameRecord(back, record);
    EXPECT_EQ(back.EfaChannelName[2], "Biceps \xc3\xa9");
    EXPECT_EQ(back.ImuChannelLineColor[1].G, 200);
    EXPECT_EQ(back.InsoleImuSampleRate_Hz, 148.5f);
}

TEST_F(ManagedBackend, ThousandLifetimeCyclesKeepThreadsAndManagedMemoryAtBaseline) {
    Env blocks("QUELTO_FAKE_BLOCKS", "3");
    { Quelto_DaqSystem warmUp; }
    Hosting::Managed::Collect();
    const int threads = ThreadCount();
    const int64_t heap = Hosting::Managed::ManagedHeapBytes();
    for (int i = 0; i < 1000; ++i) {
        void* bridge = Quelto_Bridge_Create();
        ASSERT_NE(bridge, nullptr);
        if (i % 10 == 0) Quelto_Bridge_StartCapturing(bridge);
        Quelto_Bridge_Destroy(bridge);
    }
    Hosting::Managed::Collect();
    EXPECT_LE(ThreadCount(), threads + 1);
    const int64_t after = Hosting::Managed::ManagedHeapBytes();
    std::printf("1000 cycles: threads %d -> %d, managed heap %lld -> %lld bytes\n", threads, ThreadCount(),
                static_cast<long long>(heap), static_cast<long long>(after));
    EXPECT_LT(after - heap, 512 * 1024) << "heap " << heap << " -> " << after;
}

}  // namespace
