// The simulated device: the class "Quelto.DaqSystem" of the Quelto library.
//
// Settings, read from the environment when a device is made:
//   QUELTO_SIM_SEED      unsigned number, default 1: the synthetic signals
//   QUELTO_SIM_MODE      "realtime" (default): one block per period on
//                        absolute deadlines; "fast": blocks back to back
//                        while fewer than 8 raised blocks are still held
//                        (referenced) by the host; a host that blocks or
//                        keeps blocks stops the capture until it lets go
//   QUELTO_SIM_PLAYBACK  path of an EDF+/BDF+ recording to replay instead of
//                        the synthetic signals (Playback.h)
//   QUELTO_SIM_FAULTS    faults of single sensors (Faults.h); a replay takes
//                        the recording's signals and only the battery from it
//
// States (DeviceState numbers): 1 Idle after creation and after a capture
// when never configured; 2 Configured after ConfigureCapture or
// ConfigureSensor; 3 Capturing; 4 Calibrating for 0.5 s after a
// calibration made while not capturing; 5 Error when the playback file
// cannot be read or QUELTO_SIM_FAULTS is not understood (StartCapturing then throws), or after a failure on the
// device's own thread (a block that cannot be made, a handler that throws),
// which stops the capture until the next StartCapturing; 6 Disposed. 0 is
// never reported: the constructor completes initialisation.
//
// Configuration sent while capturing applies from the next StartCapturing.
// QL_SaveCurrentRxConfiguration writes the last capture and sensor
// configurations received (defaults for what was never sent) as a
// configuration file at RxConfigPath (format/ConfigFile.h).
#pragma once

#include "BlockGenerator.h"
#include "DeviceModel.h"
#include "SdkContract.h"
#include "SdkModule.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

// Set when the library is registered (DeviceAssembly.cpp).
Runtime::IActivator* DeviceActivator();
std::string DeviceLibraryFolder();

struct DeviceOptions {
    uint64_t seed = 1;
    bool fast = false;
    std::string playback;
    FaultSet faults;
    std::string faultsError;  // why QUELTO_SIM_FAULTS was refused
    static DeviceOptions FromEnvironment();
};

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
#ifdef _WIN32
    // Each module numbers std::thread ids on its own here: the system's id.
    std::thread::native_handle_type EventThreadHandle() { return thread_.native_handle(); }
#endif

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // Fast mode: whether the host has taken all but a few raised blocks.
    bool HostKeepsUp();
    void Raise(const Runtime::Ref<D::DataAvailableEventArgs>& e);
    // The next block with states and pending triggers; mutex_ held.
    Runtime::Ref<D::DataAvailableEventArgs> NextBlock();
    void Calibrate(const char* operation, Calibration kind, int32_t sensor);
    // A failure on the device thread: stops the capture, state Error; mutex_ held.
    void Fail(const char* what);
    void Log(const std::string& line);

    const uint64_t serial_;
    const DeviceOptions options_;
    Runtime::Event<const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<D::DataAvailableEventArgs>&> dataAvailable_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable injected_;
    D::DeviceState state_ = D::DeviceState::Idle;
    bool configured_ = false;
    bool capturing_ = false;
    bool stopThread_ = false;
    bool disposed_ = false;
    bool startTrigger_ = false;
    bool stopTrigger_ = false;
    std::chrono::microseconds period_{100000};
    Clock::time_point calibratingUntil_{};
    std::deque<Runtime::Ref<D::DataAvailableEventArgs>> injections_;
    uint64_t injectedDone_ = 0;
    uint64_t injectedPosted_ = 0;
    // Fast mode: blocks raised that a host may still hold.
    std::deque<std::weak_ptr<D::DataAvailableEventArgs>> inFlight_;

    CaptureNumbers capture_ = CaptureNumbers::Defaults();
    std::array<SensorNumbers, Sensors> sensors_{};
    Runtime::Ref<D::ICaptureConfiguration> captureObject_;
    std::array<Runtime::Ref<D::ISensorConfiguration>, Sensors> sensorObjects_{};
    // Offsets removed so far, per sensor: bit (int)Calibration.
    std::array<unsigned, Sensors> calibrated_{};
    std::array<int64_t, Sensors> calibratingUntilBlock_{};
    std::array<double, Sensors + FootSwitches + Insoles> battery_{};  // percent at capture start

    std::unique_ptr<BlockSource> source_;
    std::string sourceError_;
    DevicePlan plan_;
    int64_t block_ = 0;
    std::thread thread_;
};

}  // namespace QueltoSim
