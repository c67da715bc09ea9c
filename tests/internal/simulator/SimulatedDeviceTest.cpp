#include "SdkTestSupport.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

namespace D = Quelto::Common::Definitions;
using Quelto::Interfaces::IDaqSystem;

namespace {

Runtime::Ref<IDaqSystem> MakeDevice() {
    TestSupport::UseBuildLibraryFolder();
    return Runtime::AppDomain::CurrentDomain().CreateInstance<IDaqSystem>(D::QueltoAssemblyName, Quelto::DaqSystemClass);
}

std::string ThisThread() { return TestPlatform::ThreadTag(); }

}  // namespace

TEST(SimulatedDevice, RecordsOperationsWithArgumentsInOrder) {
    auto& control = TestSupport::SimControl();
    QueltoSim::ScopedRecording recording(control);
    auto device = MakeDevice();
    control.ClearCalls();
    device->StartCapturing(D::DataAvailableEventPeriod{2});
    device->CalibrateGyroscopeOffset(7);
    device->StopCapturing();
    const auto calls = control.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].operation, "StartCapturing");
    EXPECT_EQ(calls[0].arguments, (std::vector<int64_t>{2}));
    EXPECT_EQ(calls[1].operation, "CalibrateGyroscopeOffset");
    EXPECT_EQ(calls[1].arguments, (std::vector<int64_t>{7}));
    EXPECT_EQ(calls[2].operation, "StopCapturing");
    device->Dispose();
}

TEST(SimulatedDevice, OperationFailsWithTheConfiguredException) {
    auto& control = TestSupport::SimControl();
    auto device = MakeDevice();
    control.SetFailure("UpdateDisplay", [] { throw Runtime::InvalidOperationException("display unplugged"); }, 1);
    try {
        device->UpdateDisplay();
        FAIL();
    } catch (const Runtime::InvalidOperationException& e) {
        EXPECT_EQ(e.Message(), "display unplugged");
    }
    EXPECT_NO_THROW(device->UpdateDisplay());  // only once
    control.ClearFailures();
    device->Dispose();
}

TEST(SimulatedDevice, CreationCanBeMadeToFail) {
    auto& control = TestSupport::SimControl();
    control.SetFailure("Create", [] { throw Runtime::InvalidOperationException("no receiver"); }, 1);
    EXPECT_THROW(MakeDevice(), Runtime::InvalidOperationException);
    control.ClearFailures();
}

TEST(SimulatedDevice, EventsArriveOnTheDevicesOwnThreadWhileCapturing) {
    auto device = MakeDevice();
    std::mutex m;
    std::condition_variable cv;
    std::vector<int32_t> scans;
    std::string handlerThread;
    device->add_DataAvailable([&](const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<D::DataAvailableEventArgs>& e) {
        std::lock_guard lock(m);
        EXPECT_TRUE(sender);
        scans.push_back(e->ScanNumber);
        handlerThread = ThisThread();
        cv.notify_all();
    });
    EXPECT_EQ(device->get_State(), D::DeviceState::Idle);
    device->StartCapturing(D::DataAvailableEventPeriod{3});  // 10 ms blocks
    EXPECT_EQ(device->get_State(), D::DeviceState::Capturing);
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return scans.size() >= 3; }));
        EXPECT_NE(handlerThread, ThisThread());
        EXPECT_EQ(handlerThread, TestSupport::SimControl().EventThreadId());
        EXPECT_EQ(scans[0], 0);
        EXPECT_EQ(scans[1] - scans[0], scans[2] - scans[1]);  // no gaps
    }
    device->StopCapturing();
    EXPECT_EQ(device->get_State(), D::DeviceState::Idle);
    device->Dispose();
    EXPECT_EQ(device->get_State(), D::DeviceState::Disposed);
}

TEST(SimulatedDevice, RaisedEventReachesHandlersOnTheDeviceThread) {
    auto device = MakeDevice();
    std::atomic<int> seen{0};
    std::string handlerThread;
    device->add_DataAvailable([&](const auto&, const Runtime::Ref<D::DataAvailableEventArgs>& e) {
        handlerThread = ThisThread();
        seen = e->ScanNumber;
    });
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    e->ScanNumber = 4242;
    ASSERT_TRUE(TestSupport::SimControl().RaiseEvent(e));
    EXPECT_EQ(seen.load(), 4242);
    EXPECT_NE(handlerThread, ThisThread());
    device->Dispose();
}

TEST(SimulatedDevice, TriggerAppearsInTheNextBlock) {
    auto device = MakeDevice();
    std::mutex m;
    std::condition_variable cv;
    std::vector<Runtime::Ref<D::DataAvailableEventArgs>> blocks;
    device->add_DataAvailable([&](const auto&, const Runtime::Ref<D::DataAvailableEventArgs>& e) {
        std::lock_guard lock(m);
        blocks.push_back(e);
        cv.notify_all();
    });
    device->StartCapturing(D::DataAvailableEventPeriod{3});
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return !blocks.empty(); }));
    }
    size_t before;
    {
        std::lock_guard lock(m);
        before = blocks.size();
    }
    device->GenerateInternalStartTrigger();
    size_t after;
    {
        std::lock_guard lock(m);
        after = blocks.size();
    }
    {
        // Blocks received while the call ran may have been made before or
        // after it; of the ones still to come, the first may have been made
        // before it and the second was made after: the mark is in exactly
        // one block up to that one, and in no later block.
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return blocks.size() >= after + 4; }));
        int marked = 0;
        for (size_t i = before; i < after + 2; ++i) marked += blocks[i]->StartTriggerDetected ? 1 : 0;
        EXPECT_EQ(marked, 1);
        for (size_t i = after + 2; i < blocks.size(); ++i) EXPECT_FALSE(blocks[i]->StartTriggerDetected) << i;
    }
    device->Dispose();
}
