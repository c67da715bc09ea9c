#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace FacadeTest;

namespace {
std::vector<QueltoSim::CallRecord> CallsNamed(const std::string& name) {
    std::vector<QueltoSim::CallRecord> out;
    for (auto& c : TestSupport::SimControl().Calls())
        if (c.operation == name) out.push_back(c);
    return out;
}
}  // namespace

TEST(FacadeDevice, PeriodMappingPassesOneToThreeAndOtherwiseZero) {
    auto facade = MakeFacade();
    auto& control = TestSupport::SimControl();
    QueltoSim::ScopedRecording recording(control);
    const std::pair<int, int> cases[] = {{1, 1}, {2, 2}, {3, 3}, {0, 0}, {4, 0}, {65535, 0}};
    for (auto [given, sent] : cases) {
        control.ClearCalls();
        facade->StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(given));
        facade->StopCapturing();
        const auto calls = CallsNamed("StartCapturing");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].arguments[0], sent) << "period " << given;
    }
}

TEST(FacadeDevice, ForwardsEachCallToItsDeviceMember) {
    auto facade = MakeFacade();
    auto& control = TestSupport::SimControl();
    QueltoSim::ScopedRecording recording(control);
    control.ClearCalls();
    facade->CalibrateImuOffset(3);
    facade->CalibrateGyroscopeOffset(-4);
    facade->CalibrateAccelerometerOffset(5);
    facade->CalibrateEMGOffset(99);
    facade->GenerateInternalStartTrigger();
    facade->GenerateInternalStopTrigger();
    facade->UpdateDisplay();
    std::vector<std::pair<std::string, std::vector<int64_t>>> got;
    for (auto& c : control.Calls()) got.emplace_back(c.operation, c.arguments);
    const std::vector<std::pair<std::string, std::vector<int64_t>>> want = {
        {"CalibrateSensorImuOffset", {3}},  {"CalibrateGyroscopeOffset", {-4}}, {"DetectAccelerometerOffset", {5}},
        {"QL_CalibrateEmgOffset", {99}},    {"GenerateInternalStartTrigger", {}}, {"GenerateInternalStopTrigger", {}},
        {"UpdateDisplay", {}}};
    EXPECT_EQ(got, want);
}

TEST(FacadeDevice, StateAndVersionPartsInOrder) {
    auto facade = MakeFacade();
    EXPECT_EQ(facade->GetdeviceState(), static_cast<int>(D::DeviceState::Idle));
    const Quelto_SoftwareVersion v = facade->SoftwareVersion();
    EXPECT_EQ(v.Major, 1);
    EXPECT_EQ(v.Minor, 4);
    EXPECT_EQ(v.Build, 2);
    EXPECT_EQ(v.Revision, 7);
}

TEST(FacadeDevice, DeviceFailuresReachTheCallerUnchanged) {
    auto facade = MakeFacade();
    auto& control = TestSupport::SimControl();
    control.SetFailure("StopCapturing", [] { throw Runtime::InvalidOperationException("radio lost"); }, 1);
    try {
        facade->StopCapturing();
        FAIL();
    } catch (const Runtime::InvalidOperationException& e) {
        EXPECT_EQ(e.Message(), "radio lost");
    }
    control.ClearFailures();
}

TEST(FacadeDevice, ConstructionFailurePropagatesAndLeavesNoDevice) {
    auto& control = TestSupport::SimControl();
    const int before = control.LiveDevices();
    control.SetFailure("add_DataAvailable", [] { throw Runtime::InvalidOperationException("no events"); }, 1);
    EXPECT_THROW(MakeFacade(), Runtime::InvalidOperationException);
    control.ClearFailures();
    EXPECT_EQ(control.LiveDevices(), before);  // the half-made device was disposed
}

TEST(FacadeDevice, DestructionDisposesTheDevice) {
    auto& control = TestSupport::SimControl();
    const int before = control.LiveDevices();
    {
        auto facade = MakeFacade();
        EXPECT_EQ(control.LiveDevices(), before + 1);
    }
    EXPECT_EQ(control.LiveDevices(), before);
}
