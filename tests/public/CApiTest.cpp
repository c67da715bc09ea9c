#include "CApiTestSupport.h"

#include <atomic>
#include <functional>
#include <thread>

using namespace CApiTest;

namespace {

struct Blocks {
    std::atomic<int> count{0};
    std::atomic<int> lastScan{-1};
    static void QUELTO_CALL On(const Quelto_DataAvailableEventArgs_C* args, void* ctx) {
        auto* self = static_cast<Blocks*>(ctx);
        self->lastScan = args->ScanNumber;
        ++self->count;
    }
};

void WaitUntil(const std::function<bool()>& done, int ms = 5000) {
    for (int i = 0; i < ms && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TEST(CApi, NullHandleDoesNothingEverywhere) {
    Quelto_CaptureConfiguration capture{};
    Quelto_SensorConfiguration sensor{};
    Quelto_Bridge_Destroy(nullptr);
    Quelto_Bridge_StartCapturing(nullptr);
    Quelto_Bridge_StopCapturing(nullptr);
    Quelto_Bridge_RegisterDataCallback(nullptr, &Blocks::On, nullptr);
    Quelto_Bridge_UnregisterDataCallback(nullptr, &Blocks::On, nullptr);
    Quelto_Bridge_ConfigureCapture(nullptr, &capture);
    Quelto_Bridge_ConfigureSensor(nullptr, &sensor, 0);
    Quelto_Bridge_CalibrateImuOffset(nullptr, 1);
    Quelto_Bridge_CalibrateGyroscopeOffset(nullptr, 1);
    Quelto_Bridge_CalibrateAccelerometerOffset(nullptr, 1);
    Quelto_Bridge_CalibrateEMGOffset(nullptr, 1);
    Quelto_Bridge_UpdateDisplay(nullptr);
    Quelto_Bridge_SaveCurrentRxConfiguration(nullptr);
    EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_EQ(Quelto_Bridge_GetdeviceState(nullptr), QUELTO_BRIDGE_STATE_UNKNOWN);
}

TEST(CApi, StartCapturingUsesPeriodZeroAndCallbacksGetTheirContexts) {
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr) << Quelto_Bridge_GetLastError();
    auto& control = SimControl();
    QueltoSim::ScopedRecording recording(control);
    Blocks a, b, never;
    Quelto_Bridge_RegisterDataCallback(bridge, &Blocks::On, &a);
    Quelto_Bridge_RegisterDataCallback(bridge, nullptr, &never);  // registered, calls nothing
    Quelto_Bridge_RegisterDataCallback(bridge, &Blocks::On, &b);
    control.ClearCalls();
    Quelto_Bridge_StartCapturing(bridge);
    WaitUntil([&] { return b.count >= 2; });
    Quelto_Bridge_StopCapturing(bridge);
    EXPECT_GE(a.count.load(), 2);
    EXPECT_GE(b.count.load(), 2);
    EXPECT_EQ(never.count.load(), 0);
    const auto calls = control.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].operation, "StartCapturing");
    EXPECT_EQ(calls[0].arguments, (std::vector<int64_t>{0}));
    Quelto_Bridge_Destroy(bridge);
}

TEST(CApi, UnregisterFindsTheSameRegistrationAndStopsItsCalls) {
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    Blocks a, b;
    Quelto_Bridge_RegisterDataCallback(bridge, &Blocks::On, &a);
    Quelto_Bridge_RegisterDataCallback(bridge, &Blocks::On, &b);
    Quelto_Bridge_UnregisterDataCallback(bridge, &Blocks::On, &b);
    Quelto_Bridge_UnregisterDataCallback(bridge, &Blocks::On, &b);  // nothing left to remove
    auto event = std::make_shared<Quelto::Common::Definitions::DataAvailableEventArgs>();
    ASSERT_TRUE(SimControl().RaiseEvent(event));
    WaitUntil([&] { return a.count >= 1; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(a.count.load(), 1);
    EXPECT_EQ(b.count.load(), 0);
    Quelto_Bridge_Destroy(bridge);  // releases a's registration (LeakSanitizer)
}

TEST(CApi, ConfigureSensorZeroConfiguresSensorsOneToThirtySix) {
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    auto& control = SimControl();
    QueltoSim::ScopedRecording recording(control);
    control.ClearCalls();
    Quelto_SensorConfiguration sensor{};
    Quelto_Bridge_ConfigureSensor(bridge, &sensor, 0);
    std::vector<int64_t> sensors;
    for (const auto& c : control.Calls())
        if (c.operation == "ConfigureSensor") sensors.push_back(c.arguments.at(0));
    ASSERT_EQ(sensors.size(), 36u);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(sensors[i], i + 1);
    Quelto_Bridge_Destroy(bridge);
}

// Every forwarding function contains a device failure: it returns, the log
// and the last error say why, and the handle stays usable.
TEST(CApi, DeviceFailuresAreContainedInEveryForwardingFunction) {
    LogFolder log("contain");
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    auto& control = SimControl();
    Quelto_CaptureConfiguration capture{};
    Quelto_SensorConfiguration sensor{};
    int state = 0;
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"StartCapturing", [&] { Quelto_Bridge_StartCapturing(bridge); }},
        {"StopCapturing", [&] { Quelto_Bridge_StopCapturing(bridge); }},
        {"ConfigureCapture", [&] { Quelto_Bridge_ConfigureCapture(bridge, &capture); }},
        {"ConfigureSensor", [&] { Quelto_Bridge_ConfigureSensor(bridge, &sensor, 5); }},
        {"CalibrateSensorImuOffset", [&] { Quelto_Bridge_CalibrateImuOffset(bridge, 1); }},
        {"CalibrateGyroscopeOffset", [&] { Quelto_Bridge_CalibrateGyroscopeOffset(bridge, 1); }},
        {"DetectAccelerometerOffset", [&] { Quelto_Bridge_CalibrateAccelerometerOffset(bridge, 1); }},
        {"QL_CalibrateEmgOffset", [&] { Quelto_Bridge_CalibrateEMGOffset(bridge, 1); }},
        {"UpdateDisplay", [&] { Quelto_Bridge_UpdateDisplay(bridge); }},
        {"QL_SaveCurrentRxConfiguration", [&] { Quelto_Bridge_SaveCurrentRxConfiguration(bridge); }},
        {"get_State", [&] { state = Quelto_Bridge_GetdeviceState(bridge); }},
    };
    for (const auto& [operation, call] : cases) {
        const std::string message = "injected failure of " + operation;
        control.SetFailure(operation, [message] { throw Runtime::InvalidOperationException(message); }, 1);
        call();
        const char* error = Quelto_Bridge_GetLastError();
        ASSERT_NE(error, nullptr) << operation;
        EXPECT_NE(std::string(error).find(message), std::string::npos) << error;
        EXPECT_NE(log.Text().find("System.InvalidOperationException: " + message), std::string::npos) << operation;
        if (operation == "get_State") EXPECT_EQ(state, QUELTO_BRIDGE_STATE_UNKNOWN);
        call();  // the failure was injected once: the handle still works
        EXPECT_EQ(Quelto_Bridge_GetLastError(), nullptr) << operation;
    }
    control.ClearFailures();
    Quelto_Bridge_Destroy(bridge);
}

TEST(CApi, AnUnconvertibleRecordIsReportedAndSendsNothing) {
    LogFolder log("convert");
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr);
    auto& control = SimControl();
    QueltoSim::ScopedRecording recording(control);
    control.ClearCalls();
    Quelto_CaptureConfiguration capture{};
    capture.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(3);
    Quelto_Bridge_ConfigureCapture(bridge, &capture);
    ASSERT_NE(Quelto_Bridge_GetLastError(), nullptr);
    EXPECT_NE(std::string(Quelto_Bridge_GetLastError()).find("ArgumentOutOfRangeException"), std::string::npos);
    for (const auto& c : control.Calls()) EXPECT_NE(c.operation, "ConfigureCapture");
    Quelto_Bridge_ConfigureCapture(bridge, nullptr);
    EXPECT_NE(Quelto_Bridge_GetLastError(), nullptr);
    Quelto_Bridge_Destroy(bridge);
}

TEST(CApi, CallbackMayDestroyItsOwnHandle) {
    struct Ctx {
        void* bridge;
        std::atomic<bool> done{false};
    };
    static Ctx ctx;
    ctx.bridge = Quelto_Bridge_Create();
    ctx.done = false;
    ASSERT_NE(ctx.bridge, nullptr);
    Quelto_Bridge_RegisterDataCallback(
        ctx.bridge,
        [](const Quelto_DataAvailableEventArgs_C*, void* c) {
            auto* self = static_cast<Ctx*>(c);
            if (self->done.exchange(true)) return;
            Quelto_Bridge_Destroy(self->bridge);
        },
        &ctx);
    Quelto_Bridge_StartCapturing(ctx.bridge);
    WaitUntil([&] { return ctx.done.load(); });
    EXPECT_TRUE(ctx.done.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}
