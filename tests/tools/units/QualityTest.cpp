// The signal-quality figures against synthetic signals whose answers are
// known: white noise of a given RMS, mains lines, loud bursts, offsets,
// clipped sines, a wandering baseline; and the verdicts from the states.
#include "Quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>

namespace {

using Capture::EmgQuality;
using Capture::QualityEstimator;
using Capture::SensorQuality;
using Capture::Verdict;

constexpr int Rate = 2000;
constexpr double Pi = std::numbers::pi;
constexpr double FullScale = 0.011;  // V

// `seconds` of fn(t) in volts, in blocks of 100 ms, through one EmgQuality.
EmgQuality::Figures Measure(double seconds, const std::function<double(double)>& fn, double window = 4.0) {
    EmgQuality q(Rate, window);
    std::vector<float> block(Rate / 10);
    for (int64_t n = 0; n < static_cast<int64_t>(seconds * Rate);) {
        for (float& v : block) {
            const double x = fn(static_cast<double>(n++) / Rate);
            v = static_cast<float>(std::clamp(x, -FullScale, FullScale));
        }
        q.Add(block.data(), block.size());
    }
    return q.Measure();
}

struct Noise {
    std::mt19937_64 random{7};
    std::normal_distribution<double> normal{0, 1};
    double operator()() { return normal(random); }
};

// Mains of RMS `rms` at f0 with three harmonics.
double Mains(double t, double f0, double rms) {
    constexpr double Share[4] = {1.0, 0.3, 0.2, 0.1};
    double norm = 0;
    for (double s : Share) norm += s * s / 2;
    double v = 0;
    for (int h = 0; h < 4; ++h) v += Share[h] * std::sin(2 * Pi * f0 * (2 * h + 1) * t + h);
    return v * rms / std::sqrt(norm);
}

TEST(EmgQuality, NoiseFloorAndMainsAreSeparatedAtBothMainsFrequencies) {
    for (double f0 : {50.0, 60.0}) {
        Noise noise;
        const auto f = Measure(5, [&](double t) { return 3e-6 * noise() + Mains(t, f0, 30e-6); });
        EXPECT_NEAR(f.floor_uV, 3.0, 0.2) << f0;
        EXPECT_NEAR(f.mains_uV, 30.0, 1.5) << f0;
        EXPECT_EQ(f.mainsHz, static_cast<int>(f0));
        EXPECT_NEAR(f.mainsShare, 900.0 / 909.0, 0.01);
        EXPECT_NEAR(f.seconds, 4.0, 1e-9);  // the window, the settling segment left out
    }
}

TEST(EmgQuality, LoudBurstsNeitherRaiseTheFloorNorLookLikeMains) {
    // 1 mV bursts in 0.3 s of every second over a 2.5 uV floor; the bursts
    // are differenced noise, with as little power below 20 Hz as EMG.
    Noise noise;
    double last = 0;
    const auto f = Measure(6, [&](double t) {
        const double x = noise(), differenced = (x - last) / std::sqrt(2.0);
        last = x;
        const double burst = std::fmod(t, 1.0) < 0.3 ? 1e-3 * differenced : 0.0;
        return burst + 2.5e-6 * noise();
    });
    EXPECT_NEAR(f.floor_uV, 2.5, 0.2);
    EXPECT_LT(f.mains_uV, 1.0);
    EXPECT_EQ(f.mainsHz, 0);
    EXPECT_LT(f.baseline_uV, 10.0);
}

TEST(EmgQuality, OffsetBaselineAndClippingHaveTheirKnownValues) {
    Noise noise;
    auto f = Measure(5, [&](double) { return 4e-3 + 2e-6 * noise(); });
    EXPECT_NEAR(f.offset_uV, 4000, 1);
    EXPECT_LT(f.baseline_uV, 1.0);
    EXPECT_NEAR(f.floor_uV, 2.0, 0.2);

    // A 0.5 Hz sine of 200 uV: two whole periods in the window, RMS 141 uV.
    f = Measure(6, [&](double t) { return 200e-6 * std::sin(2 * Pi * 0.5 * t) + 2e-6 * noise(); });
    EXPECT_NEAR(f.baseline_uV, 141.4, 5);
    EXPECT_LT(f.floor_uV, 3.0);
    EXPECT_NEAR(f.offset_uV, 0, 5);

    // A 20 mV sine of 37 Hz cut at 11 mV: clipped while |sin| > 0.55.
    f = Measure(5, [&](double t) { return 20e-3 * std::sin(2 * Pi * 37 * t); });
    const double expected = 1 - 2 / Pi * std::asin(0.999 * FullScale / 20e-3);
    EXPECT_NEAR(f.clipped, expected, 0.01);
    EXPECT_FALSE(f.flat);

    f = Measure(3, [](double) { return 0.0; });
    EXPECT_TRUE(f.flat);
}

TEST(EmgQuality, TheWindowForgetsWhatWentBefore) {
    Noise noise;
    // Mains for the first 5 s, then 5 s without: the 4 s window sees none.
    const auto f = Measure(10, [&](double t) { return 2e-6 * noise() + (t < 5 ? Mains(t, 50, 40e-6) : 0.0); });
    EXPECT_LT(f.mains_uV, 1.0);
    EXPECT_NEAR(f.floor_uV, 2.0, 0.2);
}

// Blocks of 36 sensors at 100 ms with the given states; sensor s carries
// fn(s, t).
void Feed(QualityEstimator& q, double seconds, const std::array<int, 36>& states,
          const std::function<double(int, double)>& fn) {
    constexpr int PerBlock = Rate / 10;
    for (int k = 0; k < static_cast<int>(seconds * 10); ++k) {
        Quelto_DataAvailableEventArgs block;
        block.ScanNumber = k * PerBlock;
        block.EmgSamples.assign(36 * PerBlock, 0.0f);
        block.SensorStates.assign(36, 0.0f);
        for (int s = 0; s < 36; ++s) {
            block.SensorStates[s] = static_cast<float>(states[s]);
            if (!(states[s] & QUELTO_STATE_CONNECTED)) continue;
            for (int n = 0; n < PerBlock; ++n) {
                block.EmgSamples[s * PerBlock + n] = static_cast<float>(fn(s, static_cast<double>(k * PerBlock + n) / Rate));
            }
        }
        q.Add(block);
    }
}

int State(int battery) { return QUELTO_STATE_CONNECTED | QUELTO_STATE_EMG | battery << QUELTO_STATE_BATTERY_SHIFT; }

TEST(QualityEstimator, VerdictsFollowTheStatesAndTheFiguresForEnabledSensorsOnly) {
    std::array<bool, 36> enabled{};
    for (int s = 0; s < 8; ++s) enabled[s] = true;
    std::array<int, 36> states{};
    states.fill(State(80));
    states[1] = 0;            // EMG02: not connected
    states[2] = State(8);     // EMG03: flat battery
    states[3] = State(15);    // EMG04: low battery
    states[7] = QUELTO_STATE_CONNECTED | 60 << QUELTO_STATE_BATTERY_SHIFT;  // EMG08: inertial only
    Noise noise;
    QualityEstimator q(enabled, 100);
    Feed(q, 5, states, [&](int s, double t) {
        double v = 2e-6 * noise();
        if (s == 4) v += Mains(t, 60, 20e-6);  // EMG05
        if (s == 5) v += 30e-6 * noise();      // EMG06: a raised floor
        if (s == 6) v = 0;                     // EMG07: flat
        return v;
    });
    const auto report = q.Report();
    ASSERT_EQ(report.size(), 8u);
    const char* expected[8][3] = {
        {"EMG01", "good", ""},
        {"EMG02", "bad", "not connected"},
        {"EMG03", "bad", "battery 8 %"},
        {"EMG04", "check", "battery 15 %"},
        {"EMG05", "bad", "mains 60 Hz"},
        {"EMG06", "bad", "noise floor"},
        {"EMG07", "bad", "flat signal"},
        {"EMG08", "check", "sends no EMG"},
    };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(report[i].label, expected[i][0]);
        EXPECT_STREQ(Capture::VerdictName(report[i].verdict), expected[i][1]) << report[i].label;
        EXPECT_EQ(report[i].reason.rfind(expected[i][2], 0), 0u) << report[i].label << ": " << report[i].reason;
    }
    EXPECT_EQ(report[2].battery, 8);
    // 30 uV of white noise, 98 % of it above 20 Hz, over the 2 uV floor.
    EXPECT_NEAR(report[5].figures.floor_uV, std::sqrt(0.98 * 900 + 4), 0.6);
    EXPECT_EQ(Capture::Worst(report), Verdict::Bad);

    // The table and the JSON carry the same rows.
    const std::string table = Capture::QualityTable(report);
    EXPECT_NE(table.find("EMG05   bad"), std::string::npos) << table;
    const auto json = Capture::QualityJson(report);
    EXPECT_EQ(json["verdict"], "bad");
    ASSERT_EQ(json["sensors"].size(), 8u);
    EXPECT_EQ(json["sensors"][4]["mains_hz"], 60);
    EXPECT_TRUE(json["sensors"][1]["battery_percent"].is_null());
    EXPECT_FALSE(json["sensors"][1].contains("noise_floor_uV"));
}

TEST(QualityEstimator, TooLittleDataIsNotYetAVerdict) {
    std::array<bool, 36> enabled{};
    enabled[0] = true;
    std::array<int, 36> states{};
    states.fill(State(90));
    Noise noise;
    QualityEstimator q(enabled, 100);
    Feed(q, 0.6, states, [&](int, double) { return 2e-6 * noise(); });
    auto report = q.Report();
    EXPECT_EQ(report[0].verdict, Verdict::Check);
    EXPECT_EQ(report[0].reason, "too little data yet");
    Feed(q, 1.0, states, [&](int, double) { return 2e-6 * noise(); });
    report = q.Report();
    EXPECT_EQ(report[0].verdict, Verdict::Good) << report[0].reason;
}

TEST(Judge, EachFigureIsCheckedAtItsThresholdAndBadAtTheNext) {
    const Capture::Thresholds t;
    struct Case {
        const char* name;
        std::function<void(EmgQuality::Figures&, double)> set;
        double check, bad;
    };
    const Case cases[] = {
        {"floor", [](auto& f, double v) { f.floor_uV = v; }, t.floorCheck_uV, t.floorBad_uV},
        {"mains", [](auto& f, double v) { f.mains_uV = v; }, t.mainsCheck_uV, t.mainsBad_uV},
        {"baseline", [](auto& f, double v) { f.baseline_uV = v; }, t.baselineCheck_uV, t.baselineBad_uV},
        {"offset", [](auto& f, double v) { f.offset_uV = -v; }, t.offsetCheck_uV, t.offsetBad_uV},
        {"clipped", [](auto& f, double v) { f.clipped = v; }, t.clippedCheck, t.clippedBad},
    };
    for (const Case& c : cases) {
        for (auto [value, verdict] : {std::pair{c.check * 0.99, Verdict::Good}, std::pair{c.check, Verdict::Check},
                                      std::pair{c.bad * 0.99, Verdict::Check}, std::pair{c.bad, Verdict::Bad}}) {
            SensorQuality q;
            q.connected = q.emg = true;
            q.battery = 90;
            q.figures.seconds = 4;
            c.set(q.figures, value);
            Capture::Judge(q, t);
            EXPECT_EQ(q.verdict, verdict) << c.name << " " << value;
            EXPECT_EQ(q.reason.empty(), verdict == Verdict::Good) << c.name << " " << q.reason;
        }
    }
}

}  // namespace
