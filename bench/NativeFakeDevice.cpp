// The native twin of the managed test SDK's device (tests/fixtures/managed/
// Device.cs), as a native Quelto library: the same blocks, the same
// environment, so that the backends' bench measures both backends alike.
//   QUELTO_FAKE_BLOCKS     blocks raised after StartCapturing (default 0)
//   QUELTO_FAKE_PERIOD_US  pause between blocks, microseconds
//   QUELTO_FAKE_STAMP=1    DataTransferRate holds the raise time: the
//                          monotonic clock in microseconds, low 31 bits
#include "SdkContract.h"
#include "SdkModule.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

namespace D = Quelto::Common::Definitions;

int EnvInt(const char* name) {
    const char* text = std::getenv(name);
    return text ? std::atoi(text) : 0;
}

class Version final : public D::IExtVersion {
public:
    int32_t get_Major() const override { return 4; }
    int32_t get_Minor() const override { return 2; }
    int32_t get_Build() const override { return 17; }
    int32_t get_Revision() const override { return 3; }
};

// Block k: every sample is k * 100000 + its flat index.
Runtime::Ref<D::DataAvailableEventArgs> Block(int k) {
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    e->ScanNumber = k;
    e->EmgSamples = Runtime::NewArray<float>(36, 48);
    for (int i = 0; i < 36 * 48; ++i) e->EmgSamples->Data()[i] = static_cast<float>(k * 100000 + i);
    e->ImuSamples = Runtime::NewArray<float>(36, 4, 3);
    for (int i = 0; i < 36 * 4 * 3; ++i) e->ImuSamples->Data()[i] = static_cast<float>(k * 100000 + i);
    e->SyncSamples = Runtime::NewArray<float>(2);
    (*e->SyncSamples)[0] = static_cast<float>(k);
    (*e->SyncSamples)[1] = static_cast<float>(k) + 0.5f;
    e->SensorStates = Runtime::NewArray<int16_t>(3);
    (*e->SensorStates)[0] = static_cast<int16_t>(k);
    (*e->SensorStates)[1] = -1;
    (*e->SensorStates)[2] = 32767;
    e->RemoteControlEvents = Runtime::NewArray<uint16_t>(2);
    (*e->RemoteControlEvents)[0] = 65535;
    (*e->RemoteControlEvents)[1] = static_cast<uint16_t>(k);
    e->RemoteControlState = 7;
    e->AnalogSamples = Runtime::NewArray<float>(0, 4);
    e->StartTriggerDetected = k % 2 == 1;
    e->StartTriggerScan = k * 3;
    e->UsbLostPackets = 2;
    e->InsoleImuScanNumber = k + 9;
    e->UsbLowPerformance = true;
    return e;
}

class FakeDaqSystem final : public Quelto::Interfaces::IDaqSystem {
public:
    FakeDaqSystem()
        : blocks_(EnvInt("QUELTO_FAKE_BLOCKS")), periodUs_(EnvInt("QUELTO_FAKE_PERIOD_US")),
          stamp_(EnvInt("QUELTO_FAKE_STAMP") == 1) {}
    ~FakeDaqSystem() override { StopCapturing(); }

    void StartCapturing(D::DataAvailableEventPeriod) override {
        if (thread_.joinable()) return;
        stop_ = false;
        state_ = D::DeviceState::Capturing;
        thread_ = std::thread([this] { Run(); });
    }
    void StopCapturing() override {
        stop_ = true;
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
        if (thread_.joinable()) thread_.detach();
        if (state_ != D::DeviceState::Disposed) state_ = D::DeviceState::Idle;
    }
    void Dispose() override {
        StopCapturing();
        state_ = D::DeviceState::Disposed;
    }
    void GenerateInternalStartTrigger() override {}
    void GenerateInternalStopTrigger() override {}
    void UpdateDisplay() override {}
    void QL_SaveCurrentRxConfiguration() override {}
    void ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>&) override {}
    void ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>&, int32_t) override {}
    void CalibrateSensorImuOffset(int32_t) override {}
    void CalibrateGyroscopeOffset(int32_t) override {}
    void DetectAccelerometerOffset(int32_t) override {}
    void QL_CalibrateEmgOffset(int32_t) override {}
    D::DeviceState get_State() const override { return state_; }
    Runtime::Ref<D::IExtVersion> get_SoftwareVersion() const override { return std::make_shared<Version>(); }
    void add_DataAvailable(D::DataAvailableEventHandler handler) override { event_.Subscribe(std::move(handler)); }

private:
    void Run() {
        for (int k = 0; k < blocks_ && !stop_; ++k) {
            auto e = Block(k);
            if (stamp_) {
                const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
                e->DataTransferRate = static_cast<int32_t>(us & 0x7fffffff);
            }
            event_.Raise(nullptr, e);
            if (periodUs_ > 0) std::this_thread::sleep_for(std::chrono::microseconds(periodUs_));
        }
    }

    const int blocks_, periodUs_;
    const bool stamp_;
    std::atomic<D::DeviceState> state_{D::DeviceState::Idle};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    Runtime::Event<const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<D::DataAvailableEventArgs>&> event_;
};

Runtime::Ref<Runtime::Object> MakeDaqSystem() { return std::make_shared<FakeDaqSystem>(); }

}  // namespace

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    builder.SetFullName(Quelto::Common::Definitions::QueltoAssemblyName);
    builder.AddClass(Quelto::DaqSystemClass, &MakeDaqSystem);
}
