// The simulated device: the class "Quelto.DaqSystem" of the Quelto library.
#pragma once

#include "BlockGenerator.h"
#include "SdkContract.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

class SimulatedDaqSystem final : public Quelto::Interfaces::IDaqSystem,
                                 public std::enable_shared_from_this<SimulatedDaqSystem> {
public:
    SimulatedDaqSystem();
    ~SimulatedDaqSystem() override;

    void StartCapturing(D::DataAvailableEventPeriod period) override;
    void StopCapturing() override;
    void GenerateInternalStartTrigger() override;
    void GenerateInternalStopTrigger() override;
    void UpdateDisplay() override;
    void QL_SaveCurrentRxConfiguration() override;
    void ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>& configuration) override;
    void ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>& configuration, int32_t sensor) override;
    void CalibrateSensorImuOffset(int32_t sensor) override;
    void CalibrateGyroscopeOffset(int32_t sensor) override;
    void DetectAccelerometerOffset(int32_t sensor) override;
    void QL_CalibrateEmgOffset(int32_t sensor) override;
    D::DeviceState get_State() const override;
    Runtime::Ref<D::IExtVersion> get_SoftwareVersion() const override;
    void add_DataAvailable(D::DataAvailableEventHandler handler) override;
    void Dispose() override;

    uint64_t Serial() const { return serial_; }
    // Raises `e` on the device thread; returns after the handlers ran.
    void Inject(const Runtime::Ref<D::DataAvailableEventArgs>& e);
    std::thread::id EventThreadId() const { return thread_.get_id(); }

private:
    void Run();
    void Raise(const Runtime::Ref<D::DataAvailableEventArgs>& e);

    const uint64_t serial_;
    Runtime::Event<const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<D::DataAvailableEventArgs>&> dataAvailable_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable injected_;
    D::DeviceState state_ = D::DeviceState::Idle;
    bool capturing_ = false;
    bool stopThread_ = false;
    bool disposed_ = false;
    bool startTrigger_ = false;
    bool stopTrigger_ = false;
    std::chrono::microseconds period_{100000};
    std::deque<Runtime::Ref<D::DataAvailableEventArgs>> injections_;
    uint64_t injectedDone_ = 0;
    uint64_t injectedPosted_ = 0;
    BlockGenerator generator_;
    std::thread thread_;
};

}  // namespace QueltoSim
