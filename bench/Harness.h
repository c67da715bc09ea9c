// The measurements of the bench's own harness.
#pragma once

#include "Blocks.h"
#include "Pipelines.h"

#include <cstdint>
#include <vector>

namespace Bench {

struct Percentiles {
    double p50 = 0, p90 = 0, p99 = 0, p999 = 0, max = 0;  // microseconds
};
Percentiles Summarise(std::vector<double> us);

// Samples of one or more runs (runs of the two designs alternate, so that
// the machine's load falls on both alike).
struct LatencyResult {
    std::vector<double> firstUs;  // SDK raise -> entry of the first callback
    std::vector<double> lastUs;   // ... of the last callback
    double handlerNs = 0;         // time of the raises on the SDK's thread, summed
    double handlerAllocs = 0;     // allocations of those raises, summed
    double workerAllocs = 0;      // allocations on the worker, summed over blocks
    double wakeUps = -1;          // wake-ups made by the measured raises (-1: not counted)
    std::size_t blocks = 0;       // blocks measured
    bool complete = true;         // every block reached every callback

    void Add(const LatencyResult& other);
    Percentiles First() const { return Summarise(firstUs); }
    Percentiles Last() const { return Summarise(lastUs); }
    double HandlerUs() const { return blocks ? handlerNs / 1000.0 / static_cast<double>(blocks) : 0; }
    double HandlerAllocsPerRaise() const { return blocks ? handlerAllocs / static_cast<double>(blocks) : 0; }
    double WakeUpsPerRaise() const { return blocks && wakeUps >= 0 ? wakeUps / static_cast<double>(blocks) : -1; }
    double WorkerAllocsPerBlock() const { return blocks ? workerAllocs / static_cast<double>(blocks) : 0; }
};
// Raises `blocks` events (plus a warm-up) every `period_us`, on absolute
// deadlines, from a thread that plays the SDK's event thread.
LatencyResult MeasureLatency(Design design, int callbacks, const std::vector<EventRef>& pool, int period_us,
                             std::size_t blocks);

struct ThroughputResult {
    double blocksPerSecond = 0;
    double megabytesPerSecond = 0;
};
// Raises as fast as the pipeline takes them (at most 4096 waiting, so that
// a short stall of the raising thread never empties the queue).
ThroughputResult MeasureThroughput(Design design, int callbacks, const std::vector<EventRef>& pool, double seconds);

// What one wake-up of a sleeping thread costs the thread that wakes it here:
// the bridge's hand-over without its queue (a flag under a mutex, then a
// condition variable's notify), made every `period_us` while the other
// thread sleeps; microseconds per wake-up.
double MeasureBareWakeUp(int period_us, std::size_t wakeUps);

struct IdleResult {
    double seconds = 0;
    double cpuMs = 0;           // user + system time of the process
    double wakeupsPerSecond = 0;  // voluntary context switches of the other threads
    double involuntaryPerSecond = 0;
    int threads = 0;            // threads of the process while idle
};
IdleResult MeasureIdle(Design design, double seconds);

struct RateResult {
    double asked = 0, achieved = 0;  // blocks per second
    bool flat = false;
    std::size_t finalBacklog = 0;
};
RateResult RunAtRate(Design design, int callbacks, const std::vector<EventRef>& pool, double rate, double seconds);

struct HeadroomResult {
    double highestFlat = 0;  // blocks per second
    bool raiseLimited = false;  // the raising thread could not go faster
};
// Doubles the rate until the queue grows, then narrows down. A rate that
// fails is tried once more: a stall of the machine is not the pipeline's.
HeadroomResult MeasureHeadroom(Design design, int callbacks, const std::vector<EventRef>& pool, double seconds);

// Allocations made by one call of the C thunk (the record handed to it is
// released inside, which frees and does not allocate).
uint64_t ThunkAllocations(const EventRef& e);

}  // namespace Bench
