// Sources of the simulated device's data blocks: a generator of synthetic
// signals (one walking subject, deterministic for a seed) and the replay of
// a recording (Playback.h). Both run on the device thread only.
#pragma once

#include "DeviceModel.h"
#include "Faults.h"
#include "SdkContract.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace QueltoSim {

// Block period of each DataAvailableEventPeriod number: 0 -> 100 ms,
// 1 -> 50 ms, 2 -> 25 ms, 3 -> 10 ms; other numbers -> 100 ms.
std::chrono::microseconds BlockPeriod(Quelto::Common::Definitions::DataAvailableEventPeriod period);

enum class Calibration { Imu, Gyroscope, Accelerometer, Emg };

// Where a trigger falls in each stream's own scan count.
struct TriggerScans {
    int32_t emg, insole, insoleImu, analog;
};
// Marks a start or stop trigger in every stream of `e`.
void MarkStartTrigger(Quelto::Common::Definitions::DataAvailableEventArgs& e, const TriggerScans& at);
void MarkStopTrigger(Quelto::Common::Definitions::DataAvailableEventArgs& e, const TriggerScans& at);
// The block's remote-control event codes as the SDK's array.
Runtime::ArrayRef<uint16_t, 1> RemoteEvents(const std::vector<uint16_t>& codes);

class BlockSource {
public:
    virtual ~BlockSource() = default;
    // Starts a capture: the next block is block 0 with every counter at 0.
    // Returns what the blocks will carry (a recording decides it itself).
    virtual DevicePlan Start(const DevicePlan& configured, std::chrono::microseconds period) = 0;
    // The next block's samples, scan numbers and remote-control data; the
    // device adds states and triggers.
    virtual Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> Next() = 0;
    // Removes the offset of `kind` from sensor `sensor` (0-based).
    virtual void Calibrate(Calibration kind, int sensor) = 0;
};

// Synthetic signals of one walking subject, deterministic for a seed (the
// same seed, configuration and period give the same blocks). Strides of
// about GaitCycle_s vary from stride to stride and drift slowly; the right
// heel strikes a little off half a stride after the left. EMG bursts, limb
// pitch, the feet's pitch, roll and heading, heel-strike shocks, foot-switch contacts and insole
// pressures all follow the strides. EMG is shaped noise with its power
// mostly in 20-450 Hz over an amplifier noise floor that is the same for
// every sensor; its spectrum slides slowly down over minutes (fatigue).
// Sensors given a fault (Faults.h) show it; the others are the same as
// without faults.
class BlockGenerator final : public BlockSource {
public:
    static constexpr double GaitCycle_s = 1.0;      // mean stride time
    static constexpr double AmplifierNoise_V = 2.5e-6;  // RMS of the noise floor in the EMG band

    explicit BlockGenerator(uint64_t seed = 1, FaultSet faults = {});

    DevicePlan Start(const DevicePlan& configured, std::chrono::microseconds period) override;
    Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> Next() override;
    void Calibrate(Calibration kind, int sensor) override;

private:
    struct Rng {
        uint64_t state;
        uint64_t NextU64();
        double Uniform();   // [0, 1)
        double Gaussian();  // about unit variance, bounded
    };
    struct Biquad {
        double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double Step(double x) {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    struct Inertial {
        float q[4];
        float acc[3];
        float gyro[3];
        float mag[3];
    };
    // Filters of one EMG channel at its own rate: the muscle's spectral
    // shape, then the amplifier's 20-450 Hz band.
    struct EmgChain {
        Biquad muscleHigh, muscleLow, ampHigh, ampLow1, ampLow2;
        double muscleGain = 1;  // unit white noise through the muscle filters -> unit RMS
        double noiseGain = 1;   // unit white noise through the amplifier -> unit RMS
    };
    // Heel strikes: stride k of the left foot starts at starts[k]; the
    // right foot strikes `rightOffset` strides after the left.
    struct Gait {
        Rng rng{0};
        std::vector<double> starts;
        double mean_s = GaitCycle_s, driftDepth = 0, driftPeriod_s = 200, driftPhase = 0;
        double wobble = 0;  // stride-to-stride deviation, correlated over a few strides
        double rightOffset = 0.5;
        void Reset(uint64_t seed);
        double Phase(int leg, double t);  // strides since the first heel strike of `leg`
        double TimeOf(int leg, double phase);
        double Rate(int leg, double t);   // strides per second at t
    private:
        void Extend(double t);
    };
    struct Sensor {
        Rng emgNoise{0};
        Rng ampNoise{0};
        Rng imuNoise{0};
        EmgChain emg;
        int emgRateHz = 0;        // rate the filters were designed for
        int64_t emgDesigned = -1; // own sample index of the last filter design
        double spectrumHigh_Hz = 40, spectrumLow_Hz = 120;  // muscle shape before fatigue
        double amplitude_V = 0;  // burst amplitude
        double burstCenter = 0;  // gait phase of the burst
        double burstHalfWidth = 0.1;
        int leg = 0;             // 0 left, 1 right
        double shock_g = 0;      // heel-strike shock along the limb
        double emgOffset_V = 0;
        double pitch0_deg = 0, swing_deg = 0, heading_deg = 0, phase = 0;
        double accOffset_g[3] = {};
        double gyroBias_dps[3] = {};
        float lastEmg = 0;
        int64_t lastInertialIndex = -1;
        // Faults: what they add before the amplifier (mains, the loose
        // electrode's noise) and after it (baseline wander, motion).
        bool faulty = false;
        Rng faultNoise{0};
        double humHz = 0, hum_V[5] = {}, humPhase[5] = {};
        double looseNoise_V = 0, wander_V[2] = {}, wanderHz[2] = {}, wanderPhase[2] = {};
        double motion_V = 0;
        Inertial last{};
    };

    void FillEmg(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count);
    void FillInertial(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count);
    void FillFootSwitches(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count);
    void FillInsoles(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count,
                     int64_t firstImu, int countImu);
    void FillAnalog(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count);
    void FillRemote(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t first, int count);
    Inertial SensorInertial(Sensor& s, const SensorPlan& p, double t);
    void DesignEmg(Sensor& s, int rateHz, double t);
    void SetUpFaults(Sensor& s, int sensor);
    double FaultBeforeAmplifier(Sensor& s, double t);
    double FaultAfterAmplifier(Sensor& s, double t, double stride);

    uint64_t seed_;
    FaultSet faults_;
    DevicePlan plan_;
    int64_t period_us_ = 100000;
    int64_t block_ = 0;
    std::vector<Sensor> sensors_;
    std::vector<double> cellGain_;  // insole cells, [insole][cell]
    Gait gait_;
};

}  // namespace QueltoSim
