#include "BlockGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double DegToRad = Pi / 180.0;
// Earth field in the world frame (x north, y west, z up), microtesla.
constexpr double FieldNorth_uT = 20.0;
constexpr double FieldUp_uT = -43.0;
// Unit white noise band-limited to 20-450 Hz keeps about 43 % of its power.
const double EmgNoiseGain = 1.0 / std::sqrt(0.43);

// Smooth bump: 1 at x = 0, 0 for |x| >= 1.
double Bump(double x) {
    if (x <= -1.0 || x >= 1.0) return 0.0;
    const double c = std::cos(0.5 * Pi * x);
    return c * c;
}

// Signed distance from `a` to `b` on the unit circle of phases, -0.5..0.5.
double PhaseDistance(double a, double b) {
    double d = a - b;
    d -= std::floor(d + 0.5);
    return d;
}

double Frac(double x) { return x - std::floor(x); }

float Clip(double v, double limit) { return static_cast<float>(std::clamp(v, -limit, limit)); }

// Second-order Butterworth sections (bilinear transform).
void DesignLowPass(double f0, double fs, double& b0, double& b1, double& b2, double& a1, double& a2) {
    const double w0 = 2 * Pi * f0 / fs, alpha = std::sin(w0) / std::sqrt(2.0), c = std::cos(w0), a0 = 1 + alpha;
    b0 = (1 - c) / 2 / a0;
    b1 = (1 - c) / a0;
    b2 = b0;
    a1 = -2 * c / a0;
    a2 = (1 - alpha) / a0;
}
void DesignHighPass(double f0, double fs, double& b0, double& b1, double& b2, double& a1, double& a2) {
    const double w0 = 2 * Pi * f0 / fs, alpha = std::sin(w0) / std::sqrt(2.0), c = std::cos(w0), a0 = 1 + alpha;
    b0 = (1 + c) / 2 / a0;
    b1 = -(1 + c) / a0;
    b2 = b0;
    a1 = -2 * c / a0;
    a2 = (1 - alpha) / a0;
}

// Transducers: gait phase of peak force, half width, peak (fraction of full force).
struct Contact {
    double center, halfWidth, peak;
};
constexpr Contact TransducerContact[Transducers] = {
    {0.12, 0.20, 0.95},  // heel: strike at phase 0, off at about 0.26
    {0.36, 0.24, 0.80},  // 1st metatarsal
    {0.30, 0.22, 0.60},  // 5th metatarsal
    {0.48, 0.14, 0.85},  // toe: off at about 0.6
};

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Rotation of the sensor frame: heading about z, then pitch about x.
struct Pose {
    float q[4];
    float acc[3];
    float mag[3];
};
Pose PoseOf(double pitch_deg, double heading_deg, double forwardAcc_g) {
    const double th = pitch_deg * DegToRad, ps = heading_deg * DegToRad;
    const double s = std::sin(th), c = std::cos(th);
    Pose p{};
    const double ch = std::cos(th / 2), sh = std::sin(th / 2), cp = std::cos(ps / 2), sp = std::sin(ps / 2);
    p.q[0] = static_cast<float>(cp * ch);
    p.q[1] = static_cast<float>(cp * sh);
    p.q[2] = static_cast<float>(sp * sh);
    p.q[3] = static_cast<float>(sp * ch);
    // Gravity reaction (+1 g up) seen from the sensor, plus walking acceleration.
    p.acc[0] = static_cast<float>(forwardAcc_g);
    p.acc[1] = static_cast<float>(s);
    p.acc[2] = static_cast<float>(c);
    const double vx = FieldNorth_uT * std::cos(ps), vy = -FieldNorth_uT * std::sin(ps), vz = FieldUp_uT;
    p.mag[0] = static_cast<float>(vx);
    p.mag[1] = static_cast<float>(c * vy + s * vz);
    p.mag[2] = static_cast<float>(-s * vy + c * vz);
    return p;
}

template <int Rank>
Runtime::ArrayRef<float, Rank> Zeroed(auto... extents) {
    auto a = Runtime::NewArray<float>(extents...);
    std::fill_n(a->Data(), a->Length(), 0.0f);
    return a;
}

}  // namespace

std::chrono::microseconds BlockPeriod(D::DataAvailableEventPeriod period) {
    switch (static_cast<int32_t>(period)) {
        case 1: return std::chrono::microseconds(50000);
        case 2: return std::chrono::microseconds(25000);
        case 3: return std::chrono::microseconds(10000);
        default: return std::chrono::microseconds(100000);
    }
}

uint64_t BlockGenerator::Rng::NextU64() {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double BlockGenerator::Rng::Uniform() { return static_cast<double>(NextU64() >> 11) * 0x1.0p-53; }

double BlockGenerator::Rng::Gaussian() {
    // Sum of four uniforms, scaled to unit variance (tails bounded at 3.5).
    const uint64_t r = NextU64();
    const double sum = static_cast<double>(r & 0xFFFF) + static_cast<double>((r >> 16) & 0xFFFF) +
                       static_cast<double>((r >> 32) & 0xFFFF) + static_cast<double>(r >> 48);
    return (sum / 65536.0 - 2.0) * std::sqrt(3.0);
}

BlockGenerator::BlockGenerator(uint64_t seed) : seed_(seed), sensors_(Sensors), cellGain_(Insoles * InsoleCells) {}

DevicePlan BlockGenerator::Start(const DevicePlan& configured, std::chrono::microseconds period) {
    plan_ = configured;
    period_us_ = period.count();
    block_ = 0;
    Rng params{SplitMix(seed_)};
    for (int i = 0; i < Sensors; ++i) {
        Sensor& s = sensors_[i];
        s = Sensor{};
        s.emgNoise.state = SplitMix(seed_ * 1000003u + 2 * i + 1);
        s.imuNoise.state = SplitMix(seed_ * 1000003u + 2 * i + 2);
        DesignHighPass(20.0, EmgBlockRateHz, s.highPass.b0, s.highPass.b1, s.highPass.b2, s.highPass.a1, s.highPass.a2);
        DesignLowPass(450.0, EmgBlockRateHz, s.lowPass.b0, s.lowPass.b1, s.lowPass.b2, s.lowPass.a1, s.lowPass.a2);
        // 50 uV to 1.5 mV, spread evenly on a log scale.
        s.amplitude_V = 50e-6 * std::pow(30.0, params.Uniform());
        s.burstCenter = params.Uniform();
        s.burstHalfWidth = 0.08 + 0.12 * params.Uniform();
        s.footPhase = (i % 2) * 0.5;
        s.emgOffset_V = (params.Uniform() - 0.5) * 200e-6;
        s.pitch0_deg = (params.Uniform() - 0.5) * 40.0;
        s.swing_deg = 10.0 + 25.0 * params.Uniform();
        s.heading_deg = params.Uniform() * 360.0;
        s.phase = params.Uniform() * 0.2;
        for (int a = 0; a < 3; ++a) {
            s.accOffset_g[a] = (params.Uniform() - 0.5) * 0.08;
            s.gyroBias_dps[a] = (params.Uniform() - 0.5) * 4.0;
        }
    }
    for (double& g : cellGain_) g = 0.9 + 0.2 * params.Uniform();
    return plan_;
}

void BlockGenerator::Calibrate(Calibration kind, int sensor) {
    if (sensor < 0 || sensor >= Sensors) return;
    Sensor& s = sensors_[sensor];
    if (kind == Calibration::Emg) s.emgOffset_V = 0;
    if (kind == Calibration::Imu || kind == Calibration::Gyroscope) std::fill_n(s.gyroBias_dps, 3, 0.0);
    if (kind == Calibration::Imu || kind == Calibration::Accelerometer) std::fill_n(s.accOffset_g, 3, 0.0);
}

Runtime::Ref<D::DataAvailableEventArgs> BlockGenerator::Next() {
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    const int64_t k = block_++;
    const int64_t e0 = SamplesBefore(k, period_us_, EmgBlockRateHz);
    const int ne = SamplesInBlock(k, period_us_, EmgBlockRateHz);
    e->ScanNumber = static_cast<int32_t>(e0);
    FillEmg(*e, e0, ne);
    FillRemote(*e, e0, ne);
    if (plan_.inertialRateHz > 0) {
        FillInertial(*e, SamplesBefore(k, period_us_, plan_.inertialRateHz),
                     SamplesInBlock(k, period_us_, plan_.inertialRateHz));
    }
    if (plan_.footSwOn[0] || plan_.footSwOn[1]) {
        FillFootSwitches(*e, SamplesBefore(k, period_us_, plan_.footSwRateHz),
                         SamplesInBlock(k, period_us_, plan_.footSwRateHz));
    }
    const int64_t n0 = SamplesBefore(k, period_us_, plan_.insoleRateHz);
    const int64_t m0 = plan_.insoleImuRateHz ? SamplesBefore(k, period_us_, plan_.insoleImuRateHz) : 0;
    e->InsoleScanNumber = static_cast<int32_t>(n0);
    e->InsoleImuScanNumber = static_cast<int32_t>(m0);
    if (plan_.insoleOn[0] || plan_.insoleOn[1]) {
        FillInsoles(*e, n0, SamplesInBlock(k, period_us_, plan_.insoleRateHz), m0,
                    plan_.insoleImuRateHz ? SamplesInBlock(k, period_us_, plan_.insoleImuRateHz) : 0);
    }
    FillAnalog(*e, SamplesBefore(k, period_us_, plan_.analogRateHz), SamplesInBlock(k, period_us_, plan_.analogRateHz));
    return e;
}

void BlockGenerator::FillEmg(D::DataAvailableEventArgs& e, int64_t first, int count) {
    e.EmgSamples = Zeroed<2>(Sensors, count);
    float* out = e.EmgSamples->Data();
    for (int i = 0; i < Sensors; ++i) {
        Sensor& s = sensors_[i];
        const SensorPlan& p = plan_.sensors[i];
        float* row = out + static_cast<size_t>(i) * count;
        if (!p.connected || p.emgRateHz == 0) continue;
        const int hold = EmgBlockRateHz / p.emgRateHz;
        for (int n = 0; n < count; ++n) {
            const int64_t g = first + n;
            if (g % hold == 0) {
                const double t = static_cast<double>(g) / EmgBlockRateHz;
                const double phase = Frac(t / GaitCycle_s + s.footPhase);
                const double activation = 0.03 + Bump(PhaseDistance(phase, s.burstCenter) / s.burstHalfWidth);
                const double noise = s.lowPass.Step(s.highPass.Step(s.emgNoise.Gaussian())) * EmgNoiseGain;
                s.lastEmg = Clip(s.amplitude_V * activation * noise + s.emgOffset_V, EmgFullScale_V);
            }
            row[n] = s.lastEmg;
        }
    }
    e.SyncSamples = Runtime::NewArray<float>(count);
    for (int n = 0; n < count; ++n) {
        (*e.SyncSamples)[n] = ((first + n) % EmgBlockRateHz) < EmgBlockRateHz / 2 ? 1.0f : 0.0f;
    }
}

BlockGenerator::Inertial BlockGenerator::SensorInertial(Sensor& s, const SensorPlan& p, double t) {
    const double w = 2 * Pi / GaitCycle_s;
    const double arg = w * t + 2 * Pi * (s.footPhase + s.phase);
    const double pitch = s.pitch0_deg + s.swing_deg * std::sin(arg);
    const double rate = s.swing_deg * w * std::cos(arg);  // deg/s about the sensor's x axis
    const Pose pose = PoseOf(pitch, s.heading_deg, 0.12 * std::sin(2 * arg));
    Inertial r{};
    std::copy_n(pose.q, 4, r.q);
    const double gyro[3] = {rate, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        r.acc[a] = Clip(pose.acc[a] + s.accOffset_g[a] + 0.004 * s.imuNoise.Gaussian(), p.accFullScale_g);
        r.gyro[a] = Clip(gyro[a] + s.gyroBias_dps[a] + 0.2 * s.imuNoise.Gaussian(), p.gyroFullScale_dps);
        r.mag[a] = Clip(pose.mag[a] + 0.3 * s.imuNoise.Gaussian(), MagnetometerFullScale_uT);
    }
    return r;
}

void BlockGenerator::FillInertial(D::DataAvailableEventArgs& e, int64_t first, int count) {
    e.ImuSamples = Zeroed<3>(Sensors, count, 4);
    e.AccelerometerSamples = Zeroed<3>(Sensors, count, 3);
    e.GyroscopeSamples = Zeroed<3>(Sensors, count, 3);
    e.MagnetometerSamples = Zeroed<3>(Sensors, count, 3);
    const int blockRate = plan_.inertialRateHz;
    for (int i = 0; i < Sensors; ++i) {
        Sensor& s = sensors_[i];
        const SensorPlan& p = plan_.sensors[i];
        if (!p.connected || p.inertialRateHz == 0) continue;
        for (int n = 0; n < count; ++n) {
            // A slower sensor holds each of its samples over the block rate.
            const int64_t own = (first + n) * p.inertialRateHz / blockRate;
            if (own != s.lastInertialIndex) {
                s.lastInertialIndex = own;
                s.last = SensorInertial(s, p, static_cast<double>(own) / p.inertialRateHz);
            }
            std::copy_n(s.last.q, 4, &(*e.ImuSamples)(i, n, 0));
            std::copy_n(s.last.acc, 3, &(*e.AccelerometerSamples)(i, n, 0));
            std::copy_n(s.last.gyro, 3, &(*e.GyroscopeSamples)(i, n, 0));
            std::copy_n(s.last.mag, 3, &(*e.MagnetometerSamples)(i, n, 0));
        }
    }
}

void BlockGenerator::FillFootSwitches(D::DataAvailableEventArgs& e, int64_t first, int count) {
    e.FootSwSamples = Zeroed<2>(FootSwitches, count);
    e.FootSwRawSamples = Zeroed<3>(FootSwitches, count, Transducers);
    for (int sw = 0; sw < FootSwitches; ++sw) {
        if (!plan_.footSwOn[sw]) continue;
        for (int n = 0; n < count; ++n) {
            const double t = static_cast<double>(first + n) / plan_.footSwRateHz;
            const double phase = Frac(t / GaitCycle_s + 0.5 * sw);
            int contact = 0;
            for (int tr = 0; tr < Transducers; ++tr) {
                if (!plan_.transducerOn[sw][tr]) continue;
                const Contact& c = TransducerContact[tr];
                const double force = c.peak * Bump(PhaseDistance(phase, c.center) / c.halfWidth);
                (*e.FootSwRawSamples)(sw, n, tr) = static_cast<float>(force);
                if (force > plan_.threshold[sw][tr]) contact |= 1 << tr;
            }
            (*e.FootSwSamples)(sw, n) = static_cast<float>(contact);
        }
    }
}

void BlockGenerator::FillInsoles(D::DataAvailableEventArgs& e, int64_t first, int count, int64_t firstImu,
                                 int countImu) {
    e.InsoleSamples = Zeroed<3>(Insoles, count, InsoleCells);
    for (int ins = 0; ins < Insoles; ++ins) {
        if (!plan_.insoleOn[ins]) continue;
        for (int n = 0; n < count; ++n) {
            const double t = static_cast<double>(first + n) / plan_.insoleRateHz;
            const double phase = Frac(t / GaitCycle_s + 0.5 * ins);
            for (int c = 0; c < InsoleCells; ++c) {
                // Cells from heel to toe load one after the other; heel and
                // forefoot carry more than the midfoot.
                const double pos = static_cast<double>(c) / (InsoleCells - 1);
                const double center = 0.08 + 0.42 * pos;
                const double peak = 120.0 + 180.0 * std::abs(std::cos(Pi * pos));
                (*e.InsoleSamples)(ins, n, c) = static_cast<float>(
                    peak * cellGain_[ins * InsoleCells + c] * Bump(PhaseDistance(phase, center) / 0.14));
            }
        }
    }
    if (plan_.insoleImuRateHz == 0) return;
    e.InsoleImuSamples = Zeroed<3>(Insoles, countImu, 4);
    e.InsoleAccelerometerSamples = Zeroed<3>(Insoles, countImu, 3);
    e.InsoleGyroscopeSamples = Zeroed<3>(Insoles, countImu, 3);
    const double w = 2 * Pi / GaitCycle_s;
    for (int ins = 0; ins < Insoles; ++ins) {
        if (!plan_.insoleOn[ins]) continue;
        for (int n = 0; n < countImu; ++n) {
            const double t = static_cast<double>(firstImu + n) / plan_.insoleImuRateHz;
            const double arg = w * t + 2 * Pi * 0.5 * ins;
            const double pitch = 25.0 * std::sin(arg);
            const Pose pose = PoseOf(pitch, 0.0, 0.2 * std::sin(2 * arg));
            std::copy_n(pose.q, 4, &(*e.InsoleImuSamples)(ins, n, 0));
            for (int a = 0; a < 3; ++a) {
                (*e.InsoleAccelerometerSamples)(ins, n, a) = Clip(pose.acc[a], plan_.insoleAccFullScale_g);
            }
            (*e.InsoleGyroscopeSamples)(ins, n, 0) = Clip(25.0 * w * std::cos(arg), plan_.insoleGyroFullScale_dps);
        }
    }
}

void BlockGenerator::FillAnalog(D::DataAvailableEventArgs& e, int64_t first, int count) {
    e.AnalogSamples = Zeroed<2>(AnalogChannels, count);
    e.AnalogStates = Runtime::NewArray<int16_t>(AnalogChannels);
    const double amplitude = 0.5 * plan_.analogFullScale_V;
    for (int c = 0; c < AnalogChannels; ++c) {
        if (!plan_.analogOn[c]) {
            (*e.AnalogStates)[c] = QUELTO_ANALOG_STATE_OFF;
            continue;
        }
        (*e.AnalogStates)[c] = QUELTO_ANALOG_STATE_ON;
        // Channel c: a sine of c + 1 Hz at half the full scale, delayed as configured.
        const double f = c + 1.0;
        for (int n = 0; n < count; ++n) {
            const double t = static_cast<double>(first + n) / plan_.analogRateHz - plan_.analogDelay_s;
            (*e.AnalogSamples)(c, n) = static_cast<float>(amplitude * std::sin(2 * Pi * f * t));
        }
    }
}

void BlockGenerator::FillRemote(D::DataAvailableEventArgs& e, int64_t first, int count) {
    // The marker button is pressed 5 s into the capture and every 10 s after,
    // and held for 0.3 s.
    constexpr int64_t FirstPress = 5 * EmgBlockRateHz, Every = 10 * EmgBlockRateHz, Held = 3 * EmgBlockRateHz / 10;
    const int64_t last = first + count;  // exclusive
    std::vector<uint16_t> events;
    if (last > FirstPress) {
        const int64_t press = FirstPress + ((last - 1 - FirstPress) / Every) * Every;
        if (press >= first && press < last) events.push_back(QUELTO_REMOTE_MARKER);
        const int64_t end = last - 1;
        e.RemoteControlState = (end >= press && end < press + Held) ? (1u << (QUELTO_REMOTE_MARKER - 1)) : 0u;
    }
    e.RemoteControlEvents = RemoteEvents(events);
}

void MarkStartTrigger(D::DataAvailableEventArgs& e, const TriggerScans& at) {
    e.StartTriggerDetected = e.StartInsoleTriggerDetected = e.StartInsoleImuTriggerDetected =
        e.StartAnalogTriggerDetected = true;
    e.StartTriggerScan = at.emg;
    e.StartInsoleTriggerScan = at.insole;
    e.StartInsoleImuTriggerScan = at.insoleImu;
    e.StartAnalogTriggerScan = at.analog;
}

void MarkStopTrigger(D::DataAvailableEventArgs& e, const TriggerScans& at) {
    e.StopTriggerDetected = e.StopInsoleTriggerDetected = e.StopInsoleImuTriggerDetected =
        e.StopAnalogTriggerDetected = true;
    e.StopTriggerScan = at.emg;
    e.StopInsoleTriggerScan = at.insole;
    e.StopInsoleImuTriggerScan = at.insoleImu;
    e.StopAnalogTriggerScan = at.analog;
}

Runtime::ArrayRef<uint16_t, 1> RemoteEvents(const std::vector<uint16_t>& codes) {
    auto a = Runtime::NewArray<uint16_t>(static_cast<int32_t>(codes.size()));
    for (size_t i = 0; i < codes.size(); ++i) (*a)[static_cast<int64_t>(i)] = codes[i];
    return a;
}

}  // namespace QueltoSim
