#include "SimulatedDaqSystem.h"

#include "SimControl.h"
#include "SimControlImpl.h"

namespace QueltoSim {

namespace {
class ExtVersion final : public D::IExtVersion {
public:
    int32_t get_Major() const override { return 1; }
    int32_t get_Minor() const override { return 4; }
    int32_t get_Build() const override { return 2; }
    int32_t get_Revision() const override { return 7; }
};
}  // namespace

SimulatedDaqSystem::SimulatedDaqSystem() : serial_(Control().Record("Create", {}, nullptr, 0)) {
    thread_ = std::thread([this] { Run(); });
    Control().DeviceMade(this);
}

SimulatedDaqSystem::~SimulatedDaqSystem() { Dispose(); }

void SimulatedDaqSystem::Dispose() {
    {
        std::lock_guard lock(mutex_);
        if (disposed_) return;
        disposed_ = true;
        stopThread_ = true;
        capturing_ = false;
        state_ = D::DeviceState::Disposed;
    }
    Control().DeviceGone(this);
    wake_.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
    injected_.notify_all();
}

void SimulatedDaqSystem::StartCapturing(D::DataAvailableEventPeriod period) {
    Control().Check("StartCapturing", {static_cast<int64_t>(period)}, nullptr, serial_);
    {
        std::lock_guard lock(mutex_);
        if (disposed_) throw Runtime::InvalidOperationException("The device has been disposed.");
        period_ = BlockPeriod(period);
        generator_.Reset(period_);
        capturing_ = true;
        state_ = D::DeviceState::Capturing;
    }
    wake_.notify_all();
}

void SimulatedDaqSystem::StopCapturing() {
    Control().Check("StopCapturing", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    capturing_ = false;
    if (!disposed_) state_ = D::DeviceState::Idle;
}

void SimulatedDaqSystem::GenerateInternalStartTrigger() {
    Control().Check("GenerateInternalStartTrigger", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    startTrigger_ = true;
}

void SimulatedDaqSystem::GenerateInternalStopTrigger() {
    Control().Check("GenerateInternalStopTrigger", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    stopTrigger_ = true;
}

void SimulatedDaqSystem::UpdateDisplay() { Control().Check("UpdateDisplay", {}, nullptr, serial_); }

void SimulatedDaqSystem::QL_SaveCurrentRxConfiguration() {
    Control().Check("QL_SaveCurrentRxConfiguration", {}, nullptr, serial_);
}

void SimulatedDaqSystem::ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>& configuration) {
    Control().Check("ConfigureCapture", {}, configuration, serial_);
    if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
    std::lock_guard lock(mutex_);
    if (!capturing_ && !disposed_) state_ = D::DeviceState::Configured;
}

void SimulatedDaqSystem::ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>& configuration, int32_t sensor) {
    Control().Check("ConfigureSensor", {sensor}, configuration, serial_);
    if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
}

void SimulatedDaqSystem::CalibrateSensorImuOffset(int32_t sensor) {
    Control().Check("CalibrateSensorImuOffset", {sensor}, nullptr, serial_);
}
void SimulatedDaqSystem::CalibrateGyroscopeOffset(int32_t sensor) {
    Control().Check("CalibrateGyroscopeOffset", {sensor}, nullptr, serial_);
}
void SimulatedDaqSystem::DetectAccelerometerOffset(int32_t sensor) {
    Control().Check("DetectAccelerometerOffset", {sensor}, nullptr, serial_);
}
void SimulatedDaqSystem::QL_CalibrateEmgOffset(int32_t sensor) {
    Control().Check("QL_CalibrateEmgOffset", {sensor}, nullptr, serial_);
}

D::DeviceState SimulatedDaqSystem::get_State() const {
    Control().Check("get_State", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    return state_;
}

Runtime::Ref<D::IExtVersion> SimulatedDaqSystem::get_SoftwareVersion() const {
    Control().Check("get_SoftwareVersion", {}, nullptr, serial_);
    return std::make_shared<ExtVersion>();
}

void SimulatedDaqSystem::add_DataAvailable(D::DataAvailableEventHandler handler) {
    Control().Check("add_DataAvailable", {}, nullptr, serial_);
    dataAvailable_.Subscribe(std::move(handler));
}

void SimulatedDaqSystem::Inject(const Runtime::Ref<D::DataAvailableEventArgs>& e) {
    std::unique_lock lock(mutex_);
    if (stopThread_) return;
    injections_.push_back(e);
    const uint64_t ticket = ++injectedPosted_;
    wake_.notify_all();
    injected_.wait(lock, [&] { return injectedDone_ >= ticket || stopThread_; });
}

void SimulatedDaqSystem::Raise(const Runtime::Ref<D::DataAvailableEventArgs>& e) {
    Runtime::Ref<Runtime::Object> sender;
    try {
        sender = shared_from_this();
    } catch (const std::bad_weak_ptr&) {
    }
    dataAvailable_.Raise(sender, e);
}

void SimulatedDaqSystem::Run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point next{};
    bool wasCapturing = false;
    std::unique_lock lock(mutex_);
    while (!stopThread_) {
        if (!injections_.empty()) {
            auto e = std::move(injections_.front());
            injections_.pop_front();
            lock.unlock();
            Raise(e);
            lock.lock();
            ++injectedDone_;
            injected_.notify_all();
            continue;
        }
        if (!capturing_) {
            wasCapturing = false;
            wake_.wait(lock, [&] { return stopThread_ || capturing_ || !injections_.empty(); });
            continue;
        }
        if (!wasCapturing) {
            wasCapturing = true;
            next = Clock::now() + period_;
        }
        // Absolute deadlines: no drift over a long capture.
        if (wake_.wait_until(lock, next, [&] { return stopThread_ || !capturing_ || !injections_.empty(); })) {
            continue;
        }
        next += period_;
        auto e = generator_.Next();
        if (startTrigger_) {
            e->StartTriggerDetected = true;
            e->StartTriggerScan = e->ScanNumber;
            startTrigger_ = false;
        }
        if (stopTrigger_) {
            e->StopTriggerDetected = true;
            e->StopTriggerScan = e->ScanNumber;
            stopTrigger_ = false;
        }
        lock.unlock();
        Raise(e);
        lock.lock();
    }
}

}  // namespace QueltoSim
