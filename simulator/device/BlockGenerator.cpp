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

// Second-order sections (bilinear transform); q = 1/sqrt(2) is Butterworth.
constexpr double Butterworth2 = 0.70710678118654752;
// The two sections of a fourth-order Butterworth filter.
constexpr double Butterworth4[2] = {0.54119610014619698, 1.3065629648763766};

template <class Section>
void DesignLowPass(Section& f, double f0, double fs, double q = Butterworth2) {
    const double w0 = 2 * Pi * f0 / fs, alpha = std::sin(w0) / (2 * q), c = std::cos(w0), a0 = 1 + alpha;
    f.b0 = (1 - c) / 2 / a0;
    f.b1 = (1 - c) / a0;
    f.b2 = f.b0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
}
template <class Section>
void DesignHighPass(Section& f, double f0, double fs, double q = Butterworth2) {
    const double w0 = 2 * Pi * f0 / fs, alpha = std::sin(w0) / (2 * q), c = std::cos(w0), a0 = 1 + alpha;
    f.b0 = (1 + c) / 2 / a0;
    f.b1 = -(1 + c) / a0;
    f.b2 = f.b0;
    f.a1 = -2 * c / a0;
    f.a2 = (1 - alpha) / a0;
}

// 1 / RMS of unit white noise through `sections` (from their impulse response).
template <class Section>
double UnitRmsGain(std::initializer_list<Section> sections) {
    std::vector<Section> chain(sections);
    for (auto& f : chain) f.z1 = f.z2 = 0;
    double energy = 0;
    for (int n = 0; n < 4096; ++n) {
        double x = n == 0 ? 1.0 : 0.0;
        for (auto& f : chain) x = f.Step(x);
        energy += x * x;
    }
    return 1.0 / std::sqrt(energy);
}

// Heel-strike shock, in units of its peak, `tau` seconds after the strike:
// a 12 ms rise and a smaller rebound, over within about 0.1 s.
double Shock(double tau) {
    constexpr double Rise_s = 0.012, Rebound_s = 0.03;
    if (tau <= 0 || tau > 0.2) return 0.0;
    const double a = tau / Rise_s;
    double v = a * std::exp(1 - a);
    if (tau > Rebound_s) {
        const double b = (tau - Rebound_s) / Rise_s;
        v -= 0.35 * b * std::exp(1 - b);
    }
    return v;
}

// Fatigue: the muscle's spectrum slides down by up to a fifth, half of that
// in the first seven minutes.
double FatigueScale(double t) { return 1.0 - 0.2 * (1.0 - std::exp(-std::max(t, 0.0) / 600.0)); }

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

// A foot's rotation: heading (yaw) about z, then pitch about x, then roll
// about y, angles in degrees, with their rates in deg/s. Gives the
// orientation, gravity seen from the foot plus a forward acceleration, and
// the angular rate in the foot's own frame (what a gyroscope on it reads).
struct FootPose {
    float q[4];
    float acc[3];
    float gyro[3];
};
FootPose FootPoseOf(double pitch_deg, double roll_deg, double yaw_deg, double pitchRate, double rollRate,
                    double yawRate, double forwardAcc_g) {
    const double th = pitch_deg * DegToRad, ph = roll_deg * DegToRad, ps = yaw_deg * DegToRad;
    // q = q_z(yaw) * q_x(pitch) * q_y(roll)
    const double cz = std::cos(ps / 2), sz = std::sin(ps / 2), cx = std::cos(th / 2), sx = std::sin(th / 2),
                 cy = std::cos(ph / 2), sy = std::sin(ph / 2);
    FootPose f{};
    f.q[0] = static_cast<float>(cz * cx * cy - sz * sx * sy);
    f.q[1] = static_cast<float>(cz * sx * cy - sz * cx * sy);
    f.q[2] = static_cast<float>(cz * cx * sy + sz * sx * cy);
    f.q[3] = static_cast<float>(sz * cx * cy + cz * sx * sy);
    const double ct = std::cos(th), st = std::sin(th), cr = std::cos(ph), sr = std::sin(ph);
    // Gravity reaction (+1 g up) in the foot frame: R_y(roll)^T R_x(pitch)^T z.
    f.acc[0] = static_cast<float>(forwardAcc_g - sr * ct);
    f.acc[1] = static_cast<float>(st);
    f.acc[2] = static_cast<float>(cr * ct);
    // Body rates: roll rate about y, pitch rate about the x axis before the
    // roll, yaw rate about the world's z axis.
    f.gyro[0] = static_cast<float>(cr * pitchRate - sr * ct * yawRate);
    f.gyro[1] = static_cast<float>(rollRate + st * yawRate);
    f.gyro[2] = static_cast<float>(sr * pitchRate + cr * ct * yawRate);
    return f;
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

void BlockGenerator::Gait::Reset(uint64_t seed) {
    rng.state = SplitMix(seed ^ 0x5DEECE66Dull);
    mean_s = GaitCycle_s * (0.985 + 0.03 * rng.Uniform());
    driftDepth = 0.01 + 0.01 * rng.Uniform();
    driftPeriod_s = 120.0 + 180.0 * rng.Uniform();
    driftPhase = 2 * Pi * rng.Uniform();
    // Step-time asymmetry of 2-4 %, to either side.
    const double asymmetry = 0.005 + 0.005 * rng.Uniform();
    rightOffset = 0.5 + (rng.Uniform() < 0.5 ? -asymmetry : asymmetry);
    wobble = 0;
    starts.assign(1, 0.0);
}

void BlockGenerator::Gait::Extend(double t) {
    while (starts.back() <= t) {
        // Stride-to-stride deviation of 1.5 % (correlated over a few strides)
        // on top of a slow drift of the walking pace.
        wobble = 0.5 * wobble + 0.866 * 0.015 * rng.Gaussian();
        const double t0 = starts.back();
        starts.push_back(t0 + mean_s * (1 + driftDepth * std::sin(2 * Pi * t0 / driftPeriod_s + driftPhase) + wobble));
    }
}

double BlockGenerator::Gait::Phase(int leg, double t) {
    double p;
    if (t < 0) {
        p = t / mean_s;
    } else {
        Extend(t);
        const size_t k = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), t) - starts.begin()) - 1;
        p = static_cast<double>(k) + (t - starts[k]) / (starts[k + 1] - starts[k]);
    }
    return leg == 0 ? p : p - rightOffset;
}

double BlockGenerator::Gait::TimeOf(int leg, double phase) {
    const double x = leg == 0 ? phase : phase + rightOffset;
    if (x < 0) return x * mean_s;
    const auto k = static_cast<size_t>(x);
    while (starts.size() <= k + 1) Extend(starts.back());
    return starts[k] + (x - static_cast<double>(k)) * (starts[k + 1] - starts[k]);
}

double BlockGenerator::Gait::Rate(int leg, double t) {
    const double p = Phase(leg, t), k = std::floor(p);
    return 1.0 / (TimeOf(leg, k + 1) - TimeOf(leg, k));
}

BlockGenerator::BlockGenerator(uint64_t seed, FaultSet faults)
    : seed_(seed), faults_(faults), sensors_(Sensors), cellGain_(Insoles * InsoleCells) {}

DevicePlan BlockGenerator::Start(const DevicePlan& configured, std::chrono::microseconds period) {
    plan_ = configured;
    period_us_ = period.count();
    block_ = 0;
    gait_.Reset(seed_);
    Rng params{SplitMix(seed_)};
    for (int i = 0; i < Sensors; ++i) {
        Sensor& s = sensors_[i];
        s = Sensor{};
        s.emgNoise.state = SplitMix(seed_ * 1000003u + 2 * i + 1);
        s.imuNoise.state = SplitMix(seed_ * 1000003u + 2 * i + 2);
        s.ampNoise.state = SplitMix(~seed_ * 1000003u + i);
        // 50 uV to 1.5 mV, spread evenly on a log scale.
        s.amplitude_V = 50e-6 * std::pow(30.0, params.Uniform());
        s.burstCenter = params.Uniform();
        s.burstHalfWidth = 0.08 + 0.12 * params.Uniform();
        s.leg = i % 2;
        s.emgOffset_V = (params.Uniform() - 0.5) * 200e-6;
        s.pitch0_deg = (params.Uniform() - 0.5) * 40.0;
        s.swing_deg = 10.0 + 25.0 * params.Uniform();
        s.heading_deg = params.Uniform() * 360.0;
        s.phase = params.Uniform() * 0.2;
        for (int a = 0; a < 3; ++a) {
            s.accOffset_g[a] = (params.Uniform() - 0.5) * 0.08;
            s.gyroBias_dps[a] = (params.Uniform() - 0.5) * 4.0;
        }
        // Median frequency about 80-100 Hz before fatigue, no less than 64 Hz
        // after.
        s.spectrumHigh_Hz = 40.0;
        s.spectrumLow_Hz = 100.0 + 35.0 * params.Uniform();
        // Pairs of sensors (left, right) sit on the shanks, the thighs and
        // the trunk in turn: the shock of a heel strike is largest on the shank.
        const double u = params.Uniform();
        switch ((i / 2) % 3) {
            case 0: s.shock_g = 2.2 + 1.2 * u; break;
            case 1: s.shock_g = 0.6 + 0.4 * u; break;
            default: s.shock_g = 0.2 + 0.2 * u; break;
        }
        if (faults_.Any(i)) SetUpFaults(s, i);
    }
    for (double& g : cellGain_) g = 0.9 + 0.2 * params.Uniform();
    return plan_;
}

// A faulty sensor draws the sizes of its faults from a generator of its
// own, so that the other sensors' signals stay as they are.
void BlockGenerator::SetUpFaults(Sensor& s, int i) {
    s.faulty = true;
    Rng r{SplitMix(seed_ ^ (0xFA0175EEDull + 7919u * static_cast<uint64_t>(i)))};
    s.faultNoise.state = SplitMix(r.NextU64());
    if (faults_.Has(i, Fault::Hum50) || faults_.Has(i, Fault::Hum60)) {
        // Mains at the electrodes: the fundamental 40-80 uV, odd harmonics
        // strongest after it.
        s.humHz = faults_.Has(i, Fault::Hum60) ? 60.0 : 50.0;
        const double fundamental = 40e-6 + 40e-6 * r.Uniform();
        constexpr double Share[5] = {1.0, 0.1, 0.35, 0.05, 0.2};
        for (int h = 0; h < 5; ++h) {
            s.hum_V[h] = fundamental * Share[h];
            s.humPhase[h] = 2 * Pi * r.Uniform();
        }
    }
    if (faults_.Has(i, Fault::Loose)) {
        // A noise floor of 25-40 uV and a baseline that wanders by a few
        // hundred microvolts at 0.3-1.5 Hz.
        s.looseNoise_V = 25e-6 + 15e-6 * r.Uniform();
        s.wander_V[0] = 300e-6 + 200e-6 * r.Uniform();
        s.wander_V[1] = 100e-6 + 100e-6 * r.Uniform();
        s.wanderHz[0] = 0.3 + 0.3 * r.Uniform();
        s.wanderHz[1] = 0.8 + 0.7 * r.Uniform();
        s.wanderPhase[0] = 2 * Pi * r.Uniform();
        s.wanderPhase[1] = 2 * Pi * r.Uniform();
    }
    // The cable and skin swing at each heel strike: 1.5-2.5 mV, about 7 Hz.
    if (faults_.Has(i, Fault::Motion)) s.motion_V = 1.5e-3 + 1e-3 * r.Uniform();
    // A gain far too high: bursts of 20-30 mV RMS against the +-11 mV range.
    if (faults_.Has(i, Fault::Clip)) s.amplitude_V = 20e-3 + 10e-3 * r.Uniform();
    // A polarised electrode: 5-8 mV of either sign.
    if (faults_.Has(i, Fault::Offset)) s.emgOffset_V = (r.Uniform() < 0.5 ? -1 : 1) * (5e-3 + 3e-3 * r.Uniform());
    if (faults_.Has(i, Fault::Off)) {
        SensorPlan& p = plan_.sensors[i];
        p.connected = false;
        p.emgRateHz = 0;
        p.inertialRateHz = 0;
    }
}

double BlockGenerator::FaultBeforeAmplifier(Sensor& s, double t) {
    double v = 0;
    if (s.humHz > 0) {
        for (int h = 0; h < 5; ++h) v += s.hum_V[h] * std::sin(2 * Pi * s.humHz * (h + 1) * t + s.humPhase[h]);
    }
    if (s.looseNoise_V > 0) v += s.looseNoise_V * s.emg.noiseGain * s.faultNoise.Gaussian();
    return v;
}

double BlockGenerator::FaultAfterAmplifier(Sensor& s, double t, double stride) {
    double v = 0;
    for (int w = 0; w < 2; ++w) v += s.wander_V[w] * std::sin(2 * Pi * s.wanderHz[w] * t + s.wanderPhase[w]);
    if (s.motion_V > 0) {
        const double tau = t - gait_.TimeOf(s.leg, std::floor(stride));
        if (tau >= 0 && tau < 0.4) v += s.motion_V * std::exp(-tau / 0.07) * std::sin(2 * Pi * 7.0 * tau);
    }
    return v;
}

void BlockGenerator::DesignEmg(Sensor& s, int rateHz, double t) {
    EmgChain& c = s.emg;
    if (rateHz != s.emgRateHz) {
        s.emgRateHz = rateHz;
        DesignHighPass(c.ampHigh, 20.0, rateHz);
        DesignLowPass(c.ampLow1, 450.0, rateHz, Butterworth4[0]);
        DesignLowPass(c.ampLow2, 450.0, rateHz, Butterworth4[1]);
        c.noiseGain = UnitRmsGain({c.ampHigh, c.ampLow1, c.ampLow2});
    }
    const double fatigue = FatigueScale(t);
    DesignHighPass(c.muscleHigh, s.spectrumHigh_Hz * fatigue, rateHz);
    DesignLowPass(c.muscleLow, s.spectrumLow_Hz * fatigue, rateHz);
    c.muscleGain = UnitRmsGain({c.muscleHigh, c.muscleLow});
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
                // The sensor's own sample j; filters are redesigned once a
                // second as the spectrum slides down.
                const int64_t j = g / hold;
                const double t = static_cast<double>(j) / p.emgRateHz;
                if (s.emgDesigned < 0 || j % p.emgRateHz == 0) {
                    DesignEmg(s, p.emgRateHz, t);
                    s.emgDesigned = j;
                }
                EmgChain& c = s.emg;
                const double stride = gait_.Phase(s.leg, t);
                const double activation = Bump(PhaseDistance(Frac(stride), s.burstCenter) / s.burstHalfWidth);
                const double muscle = c.muscleLow.Step(c.muscleHigh.Step(s.emgNoise.Gaussian())) * c.muscleGain;
                double input = s.amplitude_V * activation * muscle + s.ampNoise.Gaussian() * AmplifierNoise_V * c.noiseGain;
                if (s.faulty) input += FaultBeforeAmplifier(s, t);
                double v = c.ampLow2.Step(c.ampLow1.Step(c.ampHigh.Step(input))) + s.emgOffset_V;
                if (s.faulty) v += FaultAfterAmplifier(s, t, stride);
                s.lastEmg = Clip(v, EmgFullScale_V);
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
    const double stride = gait_.Phase(s.leg, t);
    const double arg = 2 * Pi * (stride + s.phase);
    const double pitch = s.pitch0_deg + s.swing_deg * std::sin(arg);
    // deg/s about the sensor's x axis
    const double rate = s.swing_deg * 2 * Pi * gait_.Rate(s.leg, t) * std::cos(arg);
    const Pose pose = PoseOf(pitch, s.heading_deg, 0.12 * std::sin(2 * arg));
    // The heel strike's shock runs along the limb (the sensor's z axis) with
    // a smaller braking part along x.
    const double shock = s.shock_g * Shock(t - gait_.TimeOf(s.leg, std::floor(stride)));
    const double movement[3] = {pose.acc[0] - 0.3 * shock, pose.acc[1], pose.acc[2] + shock};
    Inertial r{};
    std::copy_n(pose.q, 4, r.q);
    const double gyro[3] = {rate, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        r.acc[a] = Clip(movement[a] + s.accOffset_g[a] + 0.004 * s.imuNoise.Gaussian(), p.accFullScale_g);
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
            const double phase = Frac(gait_.Phase(sw, t));
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
            const double phase = Frac(gait_.Phase(ins, t));
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
    for (int ins = 0; ins < Insoles; ++ins) {
        if (!plan_.insoleOn[ins]) continue;
        // The foot pitches through the stride (25 deg), rolls in and out
        // (inverted at heel strike, everted in stance, 6 deg) and turns a
        // little about its toe-out angle (7 +- 4 deg); the right foot mirrors
        // the left.
        const double side = ins == 0 ? 1.0 : -1.0;
        for (int n = 0; n < countImu; ++n) {
            const double t = static_cast<double>(firstImu + n) / plan_.insoleImuRateHz;
            const double arg = 2 * Pi * gait_.Phase(ins, t);
            // Both feet's phases advance at the rate of the stride under way
            // (the right's is the left's less a constant).
            const double w = 2 * Pi * gait_.Rate(0, t);
            const FootPose foot = FootPoseOf(25.0 * std::sin(arg), side * 6.0 * std::cos(arg + 0.6),
                                             side * (7.0 + 4.0 * std::sin(arg - 1.0)), 25.0 * w * std::cos(arg),
                                             -side * 6.0 * w * std::sin(arg + 0.6), side * 4.0 * w * std::cos(arg - 1.0),
                                             0.2 * std::sin(2 * arg));
            std::copy_n(foot.q, 4, &(*e.InsoleImuSamples)(ins, n, 0));
            for (int a = 0; a < 3; ++a) {
                (*e.InsoleAccelerometerSamples)(ins, n, a) = Clip(foot.acc[a], plan_.insoleAccFullScale_g);
                (*e.InsoleGyroscopeSamples)(ins, n, a) = Clip(foot.gyro[a], plan_.insoleGyroFullScale_dps);
            }
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
