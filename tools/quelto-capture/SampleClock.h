// Maps the device's sample clock onto the host's clock.
//
// The device counts samples (scan numbers); the host sees when each block
// arrived. A block arrives some time after its last sample was taken: a
// transfer delay that is never negative and is often longer (a late first
// block, scheduling, radio retries). So the arrival times sit above the true
// line by a varying amount, and the line's lower edge is the estimate:
//
//   host time of device second d  =  offset + d * (1 + drift)
//
// Observations are grouped into windows of one device second; each window
// keeps its earliest arrival (relative to its device time). The line is a
// least-squares fit through the window minima of the last minute, fitted
// again without the windows 2 ms or more above it. Until three windows span
// two seconds the line is the lowest arrival; until they span twenty, its
// drift is 0 (a real clock drifts by tens of ppm, which a few noisy seconds
// cannot tell from the arrivals' jitter). Drift is limited
// to +-1000 ppm, far beyond any crystal. A device that runs well ahead of
// real time (a fast replay: 5 % and 50 ms or more) is left at the offset
// found so far and its own pace.
#pragma once

#include <cstdint>
#include <deque>

namespace Capture {

class SampleClock {
public:
    // A block whose last sample is at device second `deviceEnd_s` arrived
    // at host second `arrival_s`.
    void Observe(double deviceEnd_s, double arrival_s);
    // Host time of device second `device_s`; 0 before any observation.
    double HostTime(double device_s) const;
    // Device second of host time `host_s` (the inverse).
    double DeviceTime(double host_s) const;
    bool Ready() const { return observations_ > 0; }
    int64_t Observations() const { return observations_; }
    double Offset() const { return offset_; }
    double Drift() const { return drift_; }

    static constexpr double WindowSeconds = 1.0;
    static constexpr double HistorySeconds = 60.0;
    static constexpr double MaxDrift = 1e-3;
    static constexpr double DriftSpanSeconds = 20.0;
    static constexpr double FreeRunningPace = 0.05;  // and PaceSlack seconds of delay
    static constexpr double PaceSlack = 0.05;
    static constexpr double OutlierSeconds = 0.002;  // above the first line: left out of the second
    bool FreeRunning() const { return freeRunning_; }
    // Device seconds between the first and the latest observation.
    double Span() const { return lastDevice_ - firstDevice_; }

private:
    struct Window {
        int64_t index;   // floor(device second / WindowSeconds)
        double device;   // device second of its lowest observation
        double excess;   // arrival - device second, lowest in the window
    };
    void Fit();

    std::deque<Window> windows_;
    int64_t observations_ = 0;
    double offset_ = 0;
    double drift_ = 0;
    bool freeRunning_ = false;
    double firstDevice_ = 0, firstArrival_ = 0, lastDevice_ = 0;
};

}  // namespace Capture
