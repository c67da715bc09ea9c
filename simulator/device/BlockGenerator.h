// Sources of the simulated device's data blocks: a generator of synthetic
// signals (one walking subject, deterministic for a seed) and the replay of
// a recording (Playback.h). Both run on the device thread only.
#pragma once

#include "DeviceModel.h"
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

// Synthetic signals. Gait cycle of 1 s (left foot at phase 0, right at 0.5):
// EMG bursts, limb and foot pitch, foot-switch contacts and insole pressures
// all follow it. Per-sensor amplitude, burst timing, mounting angle and
// offsets come from the seed; the same seed, configuration and period give
// the same blocks.
class BlockGenerator final : public BlockSource {
public:
    static constexpr double GaitCycle_s = 1.0;

    explicit BlockGenerator(uint64_t seed = 1);

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
    struct Sensor {
        Rng emgNoise{0};
        Rng imuNoise{0};
        Biquad highPass, lowPass;
        double amplitude_V = 0;  // burst amplitude
        double burstCenter = 0;  // gait phase of the burst
        double burstHalfWidth = 0.1;
        double footPhase = 0;    // 0 left leg, 0.5 right leg
        double emgOffset_V = 0;
        double pitch0_deg = 0, swing_deg = 0, heading_deg = 0, phase = 0;
        double accOffset_g[3] = {};
        double gyroBias_dps[3] = {};
        float lastEmg = 0;
        int64_t lastInertialIndex = -1;
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

    uint64_t seed_;
    DevicePlan plan_;
    int64_t period_us_ = 100000;
    int64_t block_ = 0;
    std::vector<Sensor> sensors_;
    std::vector<double> cellGain_;  // insole cells, [insole][cell]
};

}  // namespace QueltoSim
