// The simulated device's reading of the SDK's configuration numbers, in one
// place: which streams each sensor sends and at what rate, and the full
// scales. docs/data-layout.md has the same tables for hosts.
//
// Rates are samples per second; 0 means the stream is off. Every rate is a
// multiple of 10 Hz, so that 100 ms always holds a whole number of samples.
#pragma once

#include "Quelto_DataLayout.h"
#include "SdkContract.h"

#include <array>
#include <cstdint>
#include <string>

namespace QueltoSim {

inline constexpr int Sensors = QUELTO_LAYOUT_SENSORS;
inline constexpr int FootSwitches = QUELTO_LAYOUT_FOOTSWITCHES;
inline constexpr int Transducers = QUELTO_LAYOUT_TRANSDUCERS;
inline constexpr int Insoles = QUELTO_LAYOUT_INSOLES;
inline constexpr int InsoleCells = QUELTO_LAYOUT_INSOLE_CELLS;
inline constexpr int AnalogChannels = QUELTO_LAYOUT_ANALOG_CHANNELS;

// EMG and sync always run at this rate; ScanNumber counts these samples.
inline constexpr int EmgBlockRateHz = 2000;
inline constexpr int InsoleRateHz = 100;
inline constexpr double MagnetometerFullScale_uT = 4900.0;
inline constexpr double EmgFullScale_V = 0.011;
// Foot-switch threshold used when the configured one is not inside (0, 1).
inline constexpr double DefaultTransducerThreshold = 0.2;

// SensorModel: the sensor family, which selects the acquisition types that
// apply to the sensor.
enum class Family { P = 0, X = 1, B = 2 };
Family FamilyOf(int32_t sensorModel);  // 0 P, 1 X, 2 B, other P

// SensorMode: what the sensor sends.
struct ModeReading {
    bool emg;
    bool inertial;
    bool connected;
};
ModeReading ReadSensorMode(int32_t sensorMode);  // 0 EMG+inertial, 1 EMG, 2 inertial, 3 off, other as 0

int EmgRateOf(int32_t emgAcqType);            // 0 2000, 1 1000, 2 off, other 2000
int InertialRateOf(int32_t imuAcqType);       // 0 100, 1 200, 2 300, 3 off, other 100
double AccelerometerFullScaleOf(int32_t n);   // g: 0 2, 1 4, 2 8, 3 16, other 16
double GyroscopeFullScaleOf(int32_t n);       // deg/s: 0 250, 1 500, 2 1000, 3 2000, other 2000
int FootSwRateOf(int32_t footSwProtocol);     // 0 500, 1 1000, 2 2000, other 500
int AnalogRateOf(int32_t analogAcqType);      // 0 2000, 1 1000, 2 500, other 2000
double AnalogFullScaleOf(int32_t n);          // V: 0 10, 1 5, 2 2.5, 3 1, other 10
int InsoleImuRateOf(int32_t insoleRfAcqType); // 0 100, 1 off, other 100

// The numbers the host sent, as plain values (the configuration objects
// stay with their senders).
struct CaptureNumbers {
    int32_t imuP = 0, emgP = 0, imuX = 0, emgX = 0, emgImuX = 0, imuB = 0, emgB = 0;
    int32_t insoleBt = 0, insoleRf = 0, analog = 0, insoleRfProtocol = 0;
    int32_t insoleAccFullScale = 0, insoleGyroFullScale = 0;
    std::array<bool, Insoles> insoleEnabled{};
    std::array<bool, AnalogChannels> analogEnabled{};
    std::array<std::array<bool, Transducers>, FootSwitches> transducerEnabled{};
    std::array<std::array<double, Transducers>, FootSwitches> threshold{};
    int32_t footSwProtocol = 0;
    int32_t analogTriggerMode = 0, analogFullScale = 0;
    uint32_t analogDelay_ms = 0;
    bool externalTriggerEnabled = false;

    // Before any ConfigureCapture the device sends everything it has.
    static CaptureNumbers Defaults();
    static CaptureNumbers From(const Quelto::Common::Definitions::ICaptureConfiguration& c);
};

struct SensorNumbers {
    int32_t model = 0;
    int32_t mode = 0;
    int32_t accFullScale = 0;
    int32_t gyroFullScale = 0;
    static SensorNumbers From(const Quelto::Common::Definitions::ISensorConfiguration& c);
};

// What the device sends during one capture, resolved from the numbers.
struct SensorPlan {
    bool connected = true;
    int emgRateHz = 0;       // own rate; rows are held up to EmgBlockRateHz
    int inertialRateHz = 0;  // own rate; rows are held up to the block's inertial rate
    double accFullScale_g = 2.0;
    double gyroFullScale_dps = 250.0;
};

struct DevicePlan {
    std::array<SensorPlan, Sensors> sensors{};
    int inertialRateHz = 0;  // rate of the four inertial buffers: the highest sensor rate
    int footSwRateHz = 500;
    std::array<bool, FootSwitches> footSwOn{};
    std::array<std::array<bool, Transducers>, FootSwitches> transducerOn{};
    std::array<std::array<double, Transducers>, FootSwitches> threshold{};
    std::array<bool, Insoles> insoleOn{};
    int insoleRateHz = InsoleRateHz;
    int insoleImuRateHz = InsoleRateHz;  // 0: insoles send no inertial data
    double insoleAccFullScale_g = 2.0;
    double insoleGyroFullScale_dps = 250.0;
    std::array<bool, AnalogChannels> analogOn{};
    int analogRateHz = 2000;
    double analogFullScale_V = 10.0;
    double analogDelay_s = 0.0;

    static DevicePlan Resolve(const CaptureNumbers& capture, const std::array<SensorNumbers, Sensors>& sensors);
};

// Samples of a stream at `rateHz` that fall in block `block` of `period_us`:
// blocks split the stream at floor(k * period * rate), so a block may hold
// one sample more or less than the average.
int64_t SamplesBefore(int64_t block, int64_t period_us, int rateHz);
inline int SamplesInBlock(int64_t block, int64_t period_us, int rateHz) {
    return static_cast<int>(SamplesBefore(block + 1, period_us, rateHz) - SamplesBefore(block, period_us, rateHz));
}

}  // namespace QueltoSim
