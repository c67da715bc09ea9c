#include "SimulatedDaqSystem.h"

#include "ConfigFile.h"
#include "ConfigurationExport.h"
#include "Playback.h"
#include "SimControl.h"
#include "SimControlImpl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace QueltoSim {

namespace {

class ExtVersion final : public D::IExtVersion {
public:
    int32_t get_Major() const override { return 1; }
    int32_t get_Minor() const override { return 4; }
    int32_t get_Build() const override { return 2; }
    int32_t get_Revision() const override { return 7; }
};

constexpr auto CalibrationTime = std::chrono::milliseconds(500);
// Battery drain while capturing, percent per second.
constexpr double BatteryDrain = 1.0 / 120.0;

int16_t StateBits(bool connected, bool emg, bool inertial, bool calibrating, double battery) {
    if (!connected) return 0;
    const int percent = std::clamp(static_cast<int>(battery), 0, 100);
    int bits = QUELTO_STATE_CONNECTED | (emg ? QUELTO_STATE_EMG : 0) | (inertial ? QUELTO_STATE_INERTIAL : 0) |
               (calibrating ? QUELTO_STATE_CALIBRATING : 0) | (percent < 20 ? QUELTO_STATE_LOW_BATTERY : 0);
    return static_cast<int16_t>(bits | percent << QUELTO_STATE_BATTERY_SHIFT);
}

size_t Elements(const auto& array) { return array ? array->Length() : 0; }

}  // namespace

DeviceOptions DeviceOptions::FromEnvironment() {
    DeviceOptions o;
    if (const char* seed = std::getenv("QUELTO_SIM_SEED"); seed && *seed) o.seed = std::strtoull(seed, nullptr, 0);
    if (const char* mode = std::getenv("QUELTO_SIM_MODE"); mode && std::strcmp(mode, "fast") == 0) o.fast = true;
    if (const char* file = std::getenv("QUELTO_SIM_PLAYBACK"); file && *file) o.playback = file;
    if (const char* faults = std::getenv("QUELTO_SIM_FAULTS"); faults && *faults) {
        try {
            o.faults = ParseFaults(faults);
        } catch (const Runtime::Exception& e) {
            o.faultsError = e.Message();
        }
    }
    return o;
}

SimulatedDaqSystem::SimulatedDaqSystem()
    : serial_(Control().Record("Create", {}, nullptr, 0)), options_(DeviceOptions::FromEnvironment()) {
    if (!options_.faultsError.empty()) {
        sourceError_ = options_.faultsError;
        state_ = D::DeviceState::Error;
    } else if (options_.playback.empty()) {
        source_ = std::make_unique<BlockGenerator>(options_.seed, options_.faults);
    } else {
        try {
            source_ = std::make_unique<PlaybackSource>(options_.playback);
        } catch (const Runtime::Exception& e) {
            sourceError_ = e.Message();
            state_ = D::DeviceState::Error;
        }
    }
    uint64_t x = options_.seed;
    for (double& b : battery_) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        b = 55.0 + static_cast<double>(x >> 58) * 0.7;  // 55 % to 99 %
    }
    for (int s = 0; s < Sensors; ++s) {
        // 5 % to 9 %
        if (options_.faults.Has(s, Fault::Battery)) battery_[s] = 5.0 + static_cast<double>((x >> (s % 32)) & 3) * 1.3;
    }
    const std::string faults = options_.faults.Empty() ? "" : ", faults " + options_.faults.Text();
    Log(source_ ? (options_.playback.empty() ? "synthetic signals, seed " + std::to_string(options_.seed) + faults
                                             : "replaying " + options_.playback + faults)
                : sourceError_);
    thread_ = std::thread([this] { Run(); });
    Control().DeviceMade(this);
}

SimulatedDaqSystem::~SimulatedDaqSystem() { Dispose(); }

void SimulatedDaqSystem::Log(const std::string& line) {
    Control().AppendLog(serial_, line);
}

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
        if (!source_) throw Runtime::InvalidOperationException(sourceError_);
        period_ = BlockPeriod(period);
        plan_ = source_->Start(DevicePlan::Resolve(capture_, sensors_), period_);
        for (int s = 0; s < Sensors; ++s) {
            for (auto kind : {Calibration::Imu, Calibration::Gyroscope, Calibration::Accelerometer, Calibration::Emg}) {
                if (calibrated_[s] & (1u << static_cast<unsigned>(kind))) source_->Calibrate(kind, s);
            }
        }
        calibratingUntilBlock_.fill(0);
        block_ = 0;
        capturing_ = true;
        startTrigger_ = stopTrigger_ = false;
        state_ = D::DeviceState::Capturing;
        Log("capture started, " + std::to_string(period_.count() / 1000) + " ms blocks" +
            (options_.fast ? ", fast mode" : ""));
        // Under the lock: a handler of the first block may destroy this device.
        wake_.notify_all();
    }
}

void SimulatedDaqSystem::StopCapturing() {
    Control().Check("StopCapturing", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    if (capturing_) Log("capture stopped after " + std::to_string(block_) + " blocks");
    capturing_ = false;
    if (state_ == D::DeviceState::Capturing) state_ = configured_ ? D::DeviceState::Configured : D::DeviceState::Idle;
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

void SimulatedDaqSystem::UpdateDisplay() {
    Control().Check("UpdateDisplay", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    int connected = 0;
    for (const SensorNumbers& n : sensors_) connected += ReadSensorMode(n.mode).connected ? 1 : 0;
    Log("display updated: " + std::to_string(connected) + " sensors in use, state " +
        std::to_string(static_cast<int>(state_)));
}

void SimulatedDaqSystem::QL_SaveCurrentRxConfiguration() {
    Control().Check("QL_SaveCurrentRxConfiguration", {}, nullptr, serial_);
    Runtime::IActivator* activator = DeviceActivator();
    if (!activator) throw Runtime::InvalidOperationException("The device library was not loaded by the runtime.");
    auto configuration = NewConfigurationExport(*activator);
    {
        std::lock_guard lock(mutex_);
        if (captureObject_) configuration->CaptureConfiguration = captureObject_;
        for (int s = 0; s < Sensors; ++s) {
            if (sensorObjects_[s]) (*configuration->SensorConfiguration)[s] = sensorObjects_[s];
        }
    }
    const std::string path = RxConfigPath(DeviceLibraryFolder());
    WriteConfigFile(path, *configuration);
    Log("receiver configuration saved to " + path);
}

void SimulatedDaqSystem::ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>& configuration) {
    Control().Check("ConfigureCapture", {}, configuration, serial_);
    if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
    const CaptureNumbers numbers = CaptureNumbers::From(*configuration);
    std::lock_guard lock(mutex_);
    capture_ = numbers;
    captureObject_ = configuration;
    configured_ = true;
    if (!capturing_ && !disposed_ && state_ != D::DeviceState::Error) state_ = D::DeviceState::Configured;
}

void SimulatedDaqSystem::ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>& configuration, int32_t sensor) {
    Control().Check("ConfigureSensor", {sensor}, configuration, serial_);
    if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
    const SensorNumbers numbers = SensorNumbers::From(*configuration);
    std::lock_guard lock(mutex_);
    if (sensor < 1 || sensor > Sensors) {
        Log("ConfigureSensor: no sensor " + std::to_string(sensor) + ", ignored");
        return;
    }
    sensors_[sensor - 1] = numbers;
    sensorObjects_[sensor - 1] = configuration;
    configured_ = true;
    if (!capturing_ && !disposed_ && state_ != D::DeviceState::Error) state_ = D::DeviceState::Configured;
}

// Sensor 0 means every sensor; numbers outside 0..36 are logged and ignored.
void SimulatedDaqSystem::Calibrate(const char* operation, Calibration kind, int32_t sensor) {
    Control().Check(operation, {sensor}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    if (sensor < 0 || sensor > Sensors) {
        Log(std::string(operation) + ": no sensor " + std::to_string(sensor) + ", ignored");
        return;
    }
    const int first = sensor == 0 ? 0 : sensor - 1, last = sensor == 0 ? Sensors - 1 : sensor - 1;
    const int64_t blocks = CalibrationTime / period_ + 1;
    for (int s = first; s <= last; ++s) {
        calibrated_[s] |= 1u << static_cast<unsigned>(kind);
        if (capturing_ && source_) {
            source_->Calibrate(kind, s);
            calibratingUntilBlock_[s] = block_ + blocks;
        }
    }
    if (!capturing_ && state_ != D::DeviceState::Disposed && state_ != D::DeviceState::Error) {
        calibratingUntil_ = Clock::now() + CalibrationTime;
    }
    Log(std::string(operation) + (sensor == 0 ? ": all sensors" : ": sensor " + std::to_string(sensor)));
}

void SimulatedDaqSystem::CalibrateSensorImuOffset(int32_t sensor) {
    Calibrate("CalibrateSensorImuOffset", Calibration::Imu, sensor);
}
void SimulatedDaqSystem::CalibrateGyroscopeOffset(int32_t sensor) {
    Calibrate("CalibrateGyroscopeOffset", Calibration::Gyroscope, sensor);
}
void SimulatedDaqSystem::DetectAccelerometerOffset(int32_t sensor) {
    Calibrate("DetectAccelerometerOffset", Calibration::Accelerometer, sensor);
}
void SimulatedDaqSystem::QL_CalibrateEmgOffset(int32_t sensor) {
    Calibrate("QL_CalibrateEmgOffset", Calibration::Emg, sensor);
}

D::DeviceState SimulatedDaqSystem::get_State() const {
    Control().Check("get_State", {}, nullptr, serial_);
    std::lock_guard lock(mutex_);
    if ((state_ == D::DeviceState::Idle || state_ == D::DeviceState::Configured) && Clock::now() < calibratingUntil_) {
        return D::DeviceState::Calibrating;
    }
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

Runtime::Ref<D::DataAvailableEventArgs> SimulatedDaqSystem::NextBlock() {
    const int64_t k = block_++;
    auto e = source_->Next();
    const double seconds = static_cast<double>(k) * period_.count() / 1e6;
    e->SensorStates = Runtime::NewArray<int16_t>(Sensors);
    for (int s = 0; s < Sensors; ++s) {
        const SensorPlan& p = plan_.sensors[s];
        (*e->SensorStates)[s] = StateBits(p.connected, p.emgRateHz > 0, p.inertialRateHz > 0,
                                          k < calibratingUntilBlock_[s], battery_[s] - seconds * BatteryDrain);
    }
    e->FootSwSensorStates = Runtime::NewArray<int16_t>(FootSwitches);
    for (int f = 0; f < FootSwitches; ++f) {
        (*e->FootSwSensorStates)[f] =
            StateBits(plan_.footSwOn[f], false, false, false, battery_[Sensors + f] - seconds * BatteryDrain);
    }
    e->InsoleStates = Runtime::NewArray<int16_t>(Insoles);
    for (int i = 0; i < Insoles; ++i) {
        (*e->InsoleStates)[i] = StateBits(plan_.insoleOn[i], false, plan_.insoleImuRateHz > 0, false,
                                          battery_[Sensors + FootSwitches + i] - seconds * BatteryDrain);
    }
    const int64_t period = period_.count();
    const auto analogScan = static_cast<int32_t>(SamplesBefore(k, period, plan_.analogRateHz));
    const TriggerScans now{e->ScanNumber, e->InsoleScanNumber, e->InsoleImuScanNumber, analogScan};
    if (startTrigger_) {
        startTrigger_ = false;
        MarkStartTrigger(*e, now);
    }
    if (stopTrigger_) {
        stopTrigger_ = false;
        MarkStopTrigger(*e, now);
    }
    const size_t floats = Elements(e->EmgSamples) + Elements(e->ImuSamples) + Elements(e->AccelerometerSamples) +
                          Elements(e->GyroscopeSamples) + Elements(e->MagnetometerSamples) +
                          Elements(e->SyncSamples) + Elements(e->FootSwSamples) + Elements(e->FootSwRawSamples) +
                          Elements(e->InsoleSamples) + Elements(e->InsoleImuSamples) +
                          Elements(e->InsoleAccelerometerSamples) + Elements(e->InsoleGyroscopeSamples) +
                          Elements(e->AnalogSamples);
    e->DataTransferRate = static_cast<int32_t>(floats * sizeof(float) * 1000000 / static_cast<size_t>(period));
    e->UsbLostPackets = 0;
    e->UsbLowPerformance = false;
    return e;
}

bool SimulatedDaqSystem::HostKeepsUp() {
    // A bridge holds each block until it has flattened it: the blocks still
    // held are those queued on its side. A block counts for as long as it is
    // held, so a host that blocks or keeps blocks stops the capture.
    constexpr std::size_t FastWindow = 8;
    std::erase_if(inFlight_, [](const auto& held) { return held.expired(); });
    return inFlight_.size() < FastWindow;
}

void SimulatedDaqSystem::Fail(const char* what) {
    capturing_ = false;
    if (state_ != D::DeviceState::Disposed) state_ = D::DeviceState::Error;
    inFlight_.clear();
    try {
        Log(std::string("capture stopped after ") + std::to_string(block_) + " blocks: " + what);
    } catch (...) {
        // Out of memory again: the state says it.
    }
}

namespace {

// Runs `work`; on an exception, copies its text into `failure` (without
// allocating: memory may be what ran out) and returns false.
template <class Work>
bool Guarded(std::array<char, 256>& failure, Work&& work) noexcept {
    auto keep = [&](const char* text) {
        std::snprintf(failure.data(), failure.size(), "%s", text);
        return false;
    };
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        return keep(e.what());
    } catch (...) {
        return keep("unknown exception");
    }
}

}  // namespace

void SimulatedDaqSystem::Run() {
    Clock::time_point next{};
    bool wasCapturing = false;
    // Fast mode: how long to wait for the host to let go of a block, growing
    // while it holds on (a blocked host costs no more than a few wakeups).
    constexpr auto FirstPoll = std::chrono::microseconds(50), LongestPoll = std::chrono::microseconds(10000);
    auto poll = FirstPoll;
    std::array<char, 256> failure{};
    std::unique_lock lock(mutex_);
    while (!stopThread_) {
        if (!injections_.empty()) {
            auto e = std::move(injections_.front());
            injections_.pop_front();
            lock.unlock();
            const bool raised = Guarded(failure, [&] { Raise(e); });
            e.reset();
            lock.lock();
            ++injectedDone_;
            injected_.notify_all();
            if (!raised) Fail(failure.data());
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
        if (!options_.fast) {
            // Absolute deadlines: no drift over a long capture.
            if (wake_.wait_until(lock, next, [&] { return stopThread_ || !capturing_ || !injections_.empty(); })) {
                continue;
            }
            next += period_;
        } else if (!HostKeepsUp()) {
            // As fast as the host takes them: wait until it lets go of blocks.
            wake_.wait_for(lock, poll, [&] { return stopThread_ || !capturing_ || !injections_.empty(); });
            poll = std::min(poll * 2, LongestPoll);
            continue;
        }
        poll = FirstPoll;
        Runtime::Ref<D::DataAvailableEventArgs> e;
        if (!Guarded(failure, [&] {
                Control().Fail("NextBlock");
                e = NextBlock();
                if (options_.fast) inFlight_.emplace_back(e);
            })) {
            Fail(failure.data());
            continue;
        }
        lock.unlock();
        const bool raised = Guarded(failure, [&] { Raise(e); });
        e.reset();
        lock.lock();
        if (!raised) Fail(failure.data());
    }
}

}  // namespace QueltoSim
