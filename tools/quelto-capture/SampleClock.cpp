#include "SampleClock.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Capture {

void SampleClock::Observe(double deviceEnd_s, double arrival_s) {
    const auto index = static_cast<int64_t>(std::floor(deviceEnd_s / WindowSeconds));
    const double excess = arrival_s - deviceEnd_s;
    lastDevice_ = std::max(lastDevice_, deviceEnd_s);
    if (freeRunning_) {
        ++observations_;
        return;
    }
    if (observations_++ == 0) {
        firstDevice_ = lastDevice_ = deviceEnd_s;
        firstArrival_ = arrival_s;
    }
    // Samples that arrive well before their time can have been taken come
    // from a device faster than real time (a fast replay): it keeps the
    // offset found so far and its own pace, so that stamps never step back.
    // (Late arrivals, a stalled link, only raise the excess.)
    const double elapsed = deviceEnd_s - firstDevice_;
    if (elapsed - (arrival_s - firstArrival_) > FreeRunningPace * elapsed + PaceSlack) {
        freeRunning_ = true;
        return;
    }
    if (windows_.empty() || index > windows_.back().index) {
        windows_.push_back({index, deviceEnd_s, excess});
        while (windows_.size() > 1 && windows_.front().index * WindowSeconds < deviceEnd_s - HistorySeconds) {
            windows_.pop_front();
        }
    } else if (excess < windows_.back().excess) {
        windows_.back().device = deviceEnd_s;
        windows_.back().excess = excess;
    }
    Fit();
}

void SampleClock::Fit() {
    double lowest = windows_.front().excess;
    for (const Window& w : windows_) lowest = std::min(lowest, w.excess);
    const double span = windows_.back().device - windows_.front().device;
    if (windows_.size() < 3 || span < 2 * WindowSeconds) {
        offset_ = lowest;
        drift_ = 0;
        return;
    }
    // Least squares of excess on device time, then once more without the
    // windows far above that line (a stalled link delivers whole seconds
    // late): a window's earliest block is late only when all of it was.
    std::vector<const Window*> used;
    for (const Window& w : windows_) used.push_back(&w);
    const bool withDrift = span >= DriftSpanSeconds;
    for (int pass = 0; pass < 2; ++pass) {
        double md = 0, me = 0;
        for (const Window* w : used) {
            md += w->device;
            me += w->excess;
        }
        md /= static_cast<double>(used.size());
        me /= static_cast<double>(used.size());
        double sdd = 0, sde = 0;
        for (const Window* w : used) {
            sdd += (w->device - md) * (w->device - md);
            sde += (w->device - md) * (w->excess - me);
        }
        drift_ = withDrift ? std::clamp(sdd > 0 ? sde / sdd : 0.0, -MaxDrift, MaxDrift) : 0.0;
        offset_ = me - drift_ * md;
        std::vector<const Window*> kept;
        for (const Window* w : used) {
            if (w->excess - (offset_ + drift_ * w->device) <= OutlierSeconds) kept.push_back(w);
        }
        if (kept.size() == used.size() || kept.size() < 3) break;
        used = std::move(kept);
    }
}

double SampleClock::HostTime(double device_s) const { return offset_ + device_s * (1 + drift_); }

double SampleClock::DeviceTime(double host_s) const { return (host_s - offset_) / (1 + drift_); }

}  // namespace Capture
