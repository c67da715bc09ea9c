// Signal quality of each EMG sensor over a sliding window, from its EMG
// and its state bits:
//
//   noise floor  RMS at rest in the EMG band (above 20 Hz), without mains:
//                the window's 200 ms segments no louder than 1.5 times
//                the mean of its quietest quarter
//   mains        RMS of the 50 or 60 Hz lines and their harmonics up to
//                450 Hz at rest, above the spectrum around them; also as a
//                share of the band's power at rest
//   baseline     RMS below 10 Hz about the window's mean: wander of a loose
//                electrode, motion artefacts
//   DC offset    the window's mean
//   clipped      fraction of samples at the input range's limits
//   connection and battery from the latest state
//
// and a verdict, the worst of the figures against Thresholds. Segments of
// 200 ms hold whole periods of 50 and 60 Hz, so each line falls on a bin of
// the segment's spectrum.
#pragma once

#include "Quelto_DataAvailableEventArgs.h"
#include "Quelto_DataLayout.h"

#include <nlohmann/json.hpp>

#include <array>
#include <complex>
#include <deque>
#include <string>
#include <vector>

namespace Capture {

enum class Verdict { Good = 0, Check = 1, Bad = 2 };
const char* VerdictName(Verdict v);

// A figure at or above `check` asks for a look, at or above `bad` fails.
struct Thresholds {
    double floorCheck_uV = 5, floorBad_uV = 10;
    double mainsCheck_uV = 5, mainsBad_uV = 15;
    double baselineCheck_uV = 30, baselineBad_uV = 100;
    double offsetCheck_uV = 1000, offsetBad_uV = 3000;
    double clippedCheck = 0.001, clippedBad = 0.01;  // fractions
    int batteryCheck = 20, batteryBad = 10;            // percent, below
    double minimumSeconds = 1.0;                      // less data: "check", too early to say
};

// The EMG figures of one sensor.
class EmgQuality {
public:
    // Samples at `rateHz` (a multiple of 5), volts; a window of `window_s`.
    EmgQuality(int rateHz, double window_s);

    void Add(const float* volts, size_t count);

    struct Figures {
        double seconds = 0;  // data in the window
        double floor_uV = 0, mains_uV = 0, mainsShare = 0, baseline_uV = 0, offset_uV = 0, clipped = 0;
        int mainsHz = 0;  // 50 or 60: the larger family of lines; 0 when they are below the check threshold
        bool flat = false;  // not a single change in the window
    };
    Figures Measure(double mainsCheck_uV = 5) const;

private:
    struct Segment {
        double sum = 0;       // of the samples
        double lowSum = 0, lowSquares = 0;
        double band = 0;      // mean square above 20 Hz
        double mains[2] = {};  // excess power of the 50 and 60 Hz lines (300 Hz in both)
        double mainsAll = 0;
        int clipped = 0;
        bool flat = true;
    };
    struct Section {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double Step(double x);
    };
    void CloseSegment();

    int rate_, length_;
    size_t capacity_;
    Section high_, low1_, low2_;
    bool primed_ = false;
    double first_ = 0;
    bool skipped_ = false;  // the first segment, while the filters settle
    std::vector<double> band_;  // the current segment, above 20 Hz
    Segment current_;
    float lastValue_ = 0;
    std::deque<Segment> window_;
    std::vector<std::complex<double>> turns_;  // e^{-2 pi i n / length}
    std::vector<int> bins_;                    // bins of the EMG band
    std::vector<int> family_;                  // per bin: 0 none, 1 50 Hz, 2 60 Hz, 3 both
};

struct SensorQuality {
    int sensor = 0;  // 1-based
    std::string label;
    bool connected = false;
    bool emg = false;  // the state says EMG is on
    int battery = -1;  // percent; -1 not known
    EmgQuality::Figures figures;
    Verdict verdict = Verdict::Check;
    std::string reason;  // "" when good
};

class QualityEstimator {
public:
    // Sensors `enabled[s]` get a row; blocks of `period_ms`.
    QualityEstimator(const std::array<bool, QUELTO_LAYOUT_SENSORS>& enabled, int period_ms, double window_s = 4.0,
                     Thresholds thresholds = {});

    void Add(const Quelto_DataAvailableEventArgs& block);
    std::vector<SensorQuality> Report() const;
    const Thresholds& Limits() const { return thresholds_; }
    double WindowSeconds() const { return window_s_; }

private:
    std::array<bool, QUELTO_LAYOUT_SENSORS> enabled_;
    int period_ms_;
    double window_s_;
    Thresholds thresholds_;
    std::array<int, QUELTO_LAYOUT_SENSORS> state_{};
    bool seen_ = false;
    std::vector<EmgQuality> emg_;  // per sensor, made with the first block's rate
};

// The verdict and reason of one sensor's figures.
void Judge(SensorQuality& q, const Thresholds& t);

// The worst verdict of a report (Good for none).
Verdict Worst(const std::vector<SensorQuality>& report);

// One row per sensor: label, verdict, figures, reason.
std::string QualityTable(const std::vector<SensorQuality>& report);
nlohmann::json QualityJson(const std::vector<SensorQuality>& report);

}  // namespace Capture
