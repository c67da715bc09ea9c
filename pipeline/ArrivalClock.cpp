#include "ArrivalClock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace Pipeline {

#ifdef _WIN32

int64_t MonotonicNs() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const int64_t ticks = now.QuadPart;
    // Split so that ticks * 1e9 cannot overflow.
    return ticks / frequency * 1000000000 + ticks % frequency * 1000000000 / frequency;
}

int64_t RealtimeNs() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const int64_t since1601 = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;  // 100 ns
    constexpr int64_t kEpochDifference = 116444736000000000;  // 1601-01-01 to 1970-01-01 in 100 ns
    return (since1601 - kEpochDifference) * 100;
}

#else

namespace {
int64_t Read(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
}  // namespace

int64_t MonotonicNs() { return Read(CLOCK_MONOTONIC); }
int64_t RealtimeNs() { return Read(CLOCK_REALTIME); }

#endif

int64_t RealtimeAt(int64_t monotonicNs) {
    const int64_t realtime = RealtimeNs();
    return realtime - (MonotonicNs() - monotonicNs);
}

ArrivalStamp StampNow(int64_t sequence) { return ArrivalStamp{sequence, MonotonicNs(), RealtimeNs()}; }

}  // namespace Pipeline
