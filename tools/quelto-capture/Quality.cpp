#include "Quality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace Capture {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr int SegmentsPerSecond = 5;  // 200 ms: whole periods of 50 and 60 Hz
constexpr double BandLow_Hz = 20, BandHigh_Hz = 450, BaselineCorner_Hz = 10;
// The input range: samples this close to it count as clipped.
const double FullScale_V = Quelto_DataLayout_Buffer(QUELTO_BUFFER_EMG).maximum / 1e6;
constexpr double ClipMargin = 0.999;

struct Coefficients {
    double b0, b1, b2, a1, a2;
};

// Second-order Butterworth-type sections (bilinear transform).
Coefficients LowPass(double f0, double fs, double q) {
    const double w = 2 * Pi * f0 / fs, alpha = std::sin(w) / (2 * q), c = std::cos(w), a0 = 1 + alpha;
    return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}
Coefficients HighPass(double f0, double fs, double q) {
    const double w = 2 * Pi * f0 / fs, alpha = std::sin(w) / (2 * q), c = std::cos(w), a0 = 1 + alpha;
    return {(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

std::string Number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

const char* VerdictName(Verdict v) {
    switch (v) {
        case Verdict::Good: return "good";
        case Verdict::Check: return "check";
        default: return "bad";
    }
}

double EmgQuality::Section::Step(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

EmgQuality::EmgQuality(int rateHz, double window_s)
    : rate_(rateHz), length_(std::max(1, rateHz / SegmentsPerSecond)),
      capacity_(static_cast<size_t>(std::max(1.0, std::round(window_s * SegmentsPerSecond)))) {
    auto section = [](Coefficients c) { return Section{c.b0, c.b1, c.b2, c.a1, c.a2}; };
    high_ = section(HighPass(BandLow_Hz, rateHz, std::numbers::sqrt2 / 2));
    // Fourth order: EMG above 40 Hz leaves the baseline alone.
    low1_ = section(LowPass(BaselineCorner_Hz, rateHz, 0.54119610014619698));
    low2_ = section(LowPass(BaselineCorner_Hz, rateHz, 1.3065629648763766));
    band_.reserve(static_cast<size_t>(length_));
    turns_.resize(static_cast<size_t>(length_));
    for (int n = 0; n < length_; ++n) turns_[n] = std::polar(1.0, -2 * Pi * n / length_);
    // Bin k is k * 5 Hz.
    family_.assign(static_cast<size_t>(length_ / 2 + 1), 0);
    for (int k = 1; k <= length_ / 2; ++k) {
        const double f = static_cast<double>(k) * rateHz / length_;
        if (f < BandLow_Hz || f > BandHigh_Hz) continue;
        bins_.push_back(k);
        const long hz = std::lround(f);
        family_[k] = (hz % 50 == 0 ? 1 : 0) | (hz % 60 == 0 ? 2 : 0);
    }
}

void EmgQuality::Add(const float* volts, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const double x = volts[i];
        if (!primed_) {
            // Filters start as if the first value had always been there.
            primed_ = true;
            first_ = x;
            lastValue_ = volts[i];
        }
        const double d = x - first_;
        band_.push_back(high_.Step(d));
        const double low = low2_.Step(low1_.Step(d)) + first_;
        current_.sum += x;
        current_.lowSum += low;
        current_.lowSquares += low * low;
        if (std::abs(x) >= ClipMargin * FullScale_V) ++current_.clipped;
        if (volts[i] != lastValue_) current_.flat = false;
        lastValue_ = volts[i];
        if (static_cast<int>(band_.size()) == length_) CloseSegment();
    }
}

void EmgQuality::CloseSegment() {
    Segment s = current_;
    current_ = Segment{};
    double squares = 0;
    for (double v : band_) squares += v * v;
    s.band = squares / length_;
    // One-sided power of each bin of the band: 2 |X_k|^2 / N^2.
    std::vector<double> power(family_.size(), 0.0), background;
    for (int k : bins_) {
        std::complex<double> sum = 0;
        size_t turn = 0;
        for (int n = 0; n < length_; ++n) {
            sum += band_[n] * turns_[turn];
            turn += static_cast<size_t>(k);
            if (turn >= static_cast<size_t>(length_)) turn -= static_cast<size_t>(length_);
        }
        power[k] = 2 * std::norm(sum) / (static_cast<double>(length_) * length_);
        if (family_[k] == 0) background.push_back(power[k]);
    }
    // A line's power is what its bin holds above the spectrum around it:
    // the bins' median, which lines and bursts hardly move, over ln 2 (a
    // bin of noise is exponentially distributed about its mean).
    const double floor = Median(std::move(background)) / std::numbers::ln2;
    for (int k : bins_) {
        if (family_[k] == 0) continue;
        const double excess = power[k] - floor;
        s.mainsAll += excess;
        if (family_[k] & 1) s.mains[0] += excess;
        if (family_[k] & 2) s.mains[1] += excess;
    }
    band_.clear();
    if (!skipped_) {
        skipped_ = true;
        return;
    }
    window_.push_back(s);
    if (window_.size() > capacity_) window_.pop_front();
}

EmgQuality::Figures EmgQuality::Measure(double mainsCheck_uV) const {
    Figures f;
    if (window_.empty()) return f;
    const double n = static_cast<double>(window_.size()) * length_;
    double sum = 0, lowSum = 0, lowSquares = 0;
    int clipped = 0;
    f.flat = true;
    for (const Segment& s : window_) {
        sum += s.sum;
        lowSum += s.lowSum;
        lowSquares += s.lowSquares;
        clipped += s.clipped;
        f.flat = f.flat && s.flat;
    }
    f.seconds = n / rate_;
    f.offset_uV = sum / n * 1e6;
    f.clipped = clipped / n;
    const double lowMean = lowSum / n;
    f.baseline_uV = std::sqrt(std::max(0.0, lowSquares / n - lowMean * lowMean)) * 1e6;
    // Rest: the segments no louder than half again the quietest quarter's
    // mean (all of them when nothing moves, so that noise alone is not
    // measured low for being picked quiet).
    std::vector<const Segment*> order;
    for (const Segment& s : window_) order.push_back(&s);
    // Loudness without the mains lines, which would hide a burst's tail.
    const auto loudness = [](const Segment* s) { return s->band - s->mainsAll; };
    std::sort(order.begin(), order.end(), [&](const Segment* a, const Segment* b) { return loudness(a) < loudness(b); });
    const size_t quarter = std::max<size_t>(1, order.size() / 4);
    double quiet = 0;
    for (size_t i = 0; i < quarter; ++i) quiet += loudness(order[i]);
    quiet /= static_cast<double>(quarter);
    size_t rest = quarter;
    while (rest < order.size() && loudness(order[rest]) <= 1.5 * quiet) ++rest;
    double band = 0, mains = 0, family[2] = {};
    for (size_t i = 0; i < rest; ++i) {
        band += order[i]->band;
        mains += order[i]->mainsAll;
        family[0] += order[i]->mains[0];
        family[1] += order[i]->mains[1];
    }
    band /= static_cast<double>(rest);
    mains = std::max(0.0, mains / static_cast<double>(rest));
    f.floor_uV = std::sqrt(std::max(0.0, band - mains)) * 1e6;
    f.mains_uV = std::sqrt(mains) * 1e6;
    f.mainsShare = band > 0 ? std::min(1.0, mains / band) : 0;
    if (f.mains_uV >= mainsCheck_uV) f.mainsHz = family[1] > family[0] ? 60 : 50;
    return f;
}

QualityEstimator::QualityEstimator(const std::array<bool, QUELTO_LAYOUT_SENSORS>& enabled, int period_ms,
                                   double window_s, Thresholds thresholds)
    : enabled_(enabled), period_ms_(period_ms), window_s_(window_s), thresholds_(thresholds) {}

void QualityEstimator::Add(const Quelto_DataAvailableEventArgs& block) {
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS && s < static_cast<int>(block.SensorStates.size()); ++s) {
        state_[s] = static_cast<int>(block.SensorStates[s]);
    }
    seen_ = true;
    const long n = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, static_cast<long>(block.EmgSamples.size()));
    if (n <= 0) return;
    if (emg_.empty()) {
        const int rate = static_cast<int>(n * 1000 / period_ms_);
        emg_.assign(QUELTO_LAYOUT_SENSORS, EmgQuality(rate, window_s_));
    }
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS; ++s) {
        if (!enabled_[s]) continue;
        // A sensor that sends no EMG has a zero row: nothing to measure.
        if (!(state_[s] & QUELTO_STATE_CONNECTED) || !(state_[s] & QUELTO_STATE_EMG)) continue;
        emg_[s].Add(block.EmgSamples.data() + static_cast<size_t>(s) * static_cast<size_t>(n), static_cast<size_t>(n));
    }
}

std::vector<SensorQuality> QualityEstimator::Report() const {
    std::vector<SensorQuality> report;
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS; ++s) {
        if (!enabled_[s]) continue;
        SensorQuality q;
        q.sensor = s + 1;
        char label[16];
        Quelto_DataLayout_Label(QUELTO_BUFFER_EMG, s, 0, label, sizeof label);
        q.label = label;
        q.connected = seen_ && (state_[s] & QUELTO_STATE_CONNECTED);
        q.emg = q.connected && (state_[s] & QUELTO_STATE_EMG);
        if (q.connected) q.battery = QUELTO_STATE_BATTERY(state_[s]);
        if (q.emg && !emg_.empty()) q.figures = emg_[s].Measure(thresholds_.mainsCheck_uV);
        Judge(q, thresholds_);
        report.push_back(std::move(q));
    }
    return report;
}

void Judge(SensorQuality& q, const Thresholds& t) {
    struct Finding {
        Verdict verdict;
        std::string text;
    };
    std::vector<Finding> found;
    auto rate = [&](double value, double check, double bad, const std::string& text) {
        if (value >= bad) found.push_back({Verdict::Bad, text});
        else if (value >= check) found.push_back({Verdict::Check, text});
    };
    const EmgQuality::Figures& f = q.figures;
    if (!q.connected) {
        found.push_back({Verdict::Bad, "not connected"});
    } else {
        if (q.battery >= 0 && q.battery < t.batteryBad) found.push_back({Verdict::Bad, "battery " + std::to_string(q.battery) + " %"});
        else if (q.battery >= 0 && q.battery < t.batteryCheck) found.push_back({Verdict::Check, "battery " + std::to_string(q.battery) + " %"});
        if (!q.emg) {
            found.push_back({Verdict::Check, "sends no EMG"});
        } else if (f.seconds < t.minimumSeconds) {
            found.push_back({Verdict::Check, "too little data yet"});
        } else if (f.flat) {
            found.push_back({Verdict::Bad, "flat signal"});
        } else {
            rate(f.clipped, t.clippedCheck, t.clippedBad, "clipped " + Number("%.1f", f.clipped * 100) + " %");
            rate(f.floor_uV, t.floorCheck_uV, t.floorBad_uV, "noise floor " + Number("%.1f", f.floor_uV) + " uV");
            rate(f.mains_uV, t.mainsCheck_uV, t.mainsBad_uV,
                 "mains " + std::to_string(f.mainsHz) + " Hz " + Number("%.1f", f.mains_uV) + " uV");
            rate(f.baseline_uV, t.baselineCheck_uV, t.baselineBad_uV,
                 "baseline wander or motion " + Number("%.0f", f.baseline_uV) + " uV");
            rate(std::abs(f.offset_uV), t.offsetCheck_uV, t.offsetBad_uV,
                 "DC offset " + Number("%.1f", f.offset_uV / 1000) + " mV");
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Finding& a, const Finding& b) { return a.verdict > b.verdict; });
    q.verdict = found.empty() ? Verdict::Good : found.front().verdict;
    q.reason.clear();
    for (const Finding& x : found) q.reason += (q.reason.empty() ? "" : "; ") + x.text;
}

Verdict Worst(const std::vector<SensorQuality>& report) {
    Verdict worst = Verdict::Good;
    for (const auto& q : report) worst = std::max(worst, q.verdict);
    return worst;
}

std::string QualityTable(const std::vector<SensorQuality>& report) {
    std::string out = "sensor  verdict  floor uV  mains uV  baseline uV  offset mV  clipped %  battery %  reason\n";
    for (const auto& q : report) {
        const auto& f = q.figures;
        char row[256];
        if (q.emg && f.seconds > 0) {
            std::snprintf(row, sizeof row, "%-7s %-7s %9.1f %9.1f %12.0f %10.2f %10.2f", q.label.c_str(),
                          VerdictName(q.verdict), f.floor_uV, f.mains_uV, f.baseline_uV, f.offset_uV / 1000,
                          f.clipped * 100);
        } else {
            std::snprintf(row, sizeof row, "%-7s %-7s %9s %9s %12s %10s %10s", q.label.c_str(), VerdictName(q.verdict),
                          "-", "-", "-", "-", "-");
        }
        out += row;
        out += q.battery >= 0 ? Number(" %10.0f", q.battery) : std::string(" ") + std::string(9, ' ') + "-";
        out += (q.reason.empty() ? "" : "  " + q.reason) + "\n";
    }
    return out;
}

nlohmann::json QualityJson(const std::vector<SensorQuality>& report) {
    nlohmann::json sensors = nlohmann::json::array();
    for (const auto& q : report) {
        nlohmann::json row = {{"sensor", q.sensor}, {"label", q.label}, {"verdict", VerdictName(q.verdict)},
                              {"reason", q.reason}, {"connected", q.connected}, {"emg", q.emg}};
        row["battery_percent"] = q.battery >= 0 ? nlohmann::json(q.battery) : nlohmann::json();
        if (q.emg && q.figures.seconds > 0) {
            const auto& f = q.figures;
            row["seconds"] = f.seconds;
            row["noise_floor_uV"] = f.floor_uV;
            row["mains_uV"] = f.mains_uV;
            row["mains_hz"] = f.mainsHz;
            row["mains_share"] = f.mainsShare;
            row["baseline_uV"] = f.baseline_uV;
            row["offset_uV"] = f.offset_uV;
            row["clipped_fraction"] = f.clipped;
            row["flat"] = f.flat;
        }
        sensors.push_back(std::move(row));
    }
    return {{"verdict", VerdictName(Worst(report))}, {"sensors", sensors}};
}

}  // namespace Capture
