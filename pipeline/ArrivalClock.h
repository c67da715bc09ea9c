// The two clocks that stamp a block's arrival (Quelto_BlockInfo).
#pragma once

#include <cstdint>

namespace Pipeline {

struct ArrivalStamp {
    int64_t sequence = -1;
    int64_t monotonicNs = 0;
    int64_t realtimeNs = 0;
};

// Monotonic time in ns: CLOCK_MONOTONIC, or QueryPerformanceCounter on
// Windows.
int64_t MonotonicNs();
// Wall-clock time in ns since the Unix epoch.
int64_t RealtimeNs();

// The wall-clock time of a moment read on MonotonicNs, by the two clocks'
// difference now (so a step of the wall clock since then moves it too).
int64_t RealtimeAt(int64_t monotonicNs);

// Both clocks now, with `sequence`.
ArrivalStamp StampNow(int64_t sequence);

}  // namespace Pipeline
