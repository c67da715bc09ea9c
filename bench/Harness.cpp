#include "Harness.h"

#include "AllocationCounter.h"
#include "DataThunk.h"
#include "EventFlattening.h"

#include <sys/prctl.h>
#include <unistd.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

namespace Bench {

namespace {

// The stand-in of the SDK's DataAvailable event: the same event type the
// simulated device raises, with the pipeline's handler subscribed.
using SdkEvent = Runtime::Event<const Runtime::Ref<Runtime::Object>&, const EventRef&>;

// The raising thread keeps to its deadlines within a microsecond.
void TightTimer() { prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL); }

void SleepUntilNs(int64_t deadline) {
    timespec ts{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

// Sleeps when the deadline is far, spins when it is near.
void WaitUntilNs(int64_t deadline) {
    if (deadline - NowNs() > 80000) SleepUntilNs(deadline - 20000);
    while (NowNs() < deadline) {
    }
}

void SleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

struct Slots {
    std::vector<std::unique_ptr<CallbackSlot>> owned;
    std::vector<CallbackSlot*> pointers;
    Slots(int n, std::size_t capacity) {
        for (int i = 0; i < n; ++i) {
            owned.push_back(std::make_unique<CallbackSlot>(capacity));
            pointers.push_back(owned.back().get());
        }
    }
    CallbackSlot& Last() { return *owned.back(); }
};

bool WaitForCalls(const CallbackSlot& slot, uint64_t n, double seconds) {
    const int64_t end = NowNs() + static_cast<int64_t>(seconds * 1e9);
    while (slot.calls.load(std::memory_order_acquire) < n) {
        if (NowNs() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

}  // namespace

Percentiles Summarise(std::vector<double> us) {
    Percentiles p;
    if (us.empty()) return p;
    std::sort(us.begin(), us.end());
    auto at = [&](double q) {
        const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(us.size())));
        return us[std::min(us.size() - 1, rank == 0 ? 0 : rank - 1)];
    };
    p.p50 = at(0.50);
    p.p90 = at(0.90);
    p.p99 = at(0.99);
    p.p999 = at(0.999);
    p.max = us.back();
    return p;
}

void LatencyResult::Add(const LatencyResult& o) {
    firstUs.insert(firstUs.end(), o.firstUs.begin(), o.firstUs.end());
    lastUs.insert(lastUs.end(), o.lastUs.begin(), o.lastUs.end());
    handlerNs += o.handlerNs;
    handlerAllocs += o.handlerAllocs;
    workerAllocs += o.workerAllocs;
    wakeUps = blocks == 0 ? o.wakeUps : wakeUps < 0 || o.wakeUps < 0 ? -1 : wakeUps + o.wakeUps;
    blocks += o.blocks;
    complete = complete && o.complete;
}

LatencyResult MeasureLatency(Design design, int callbacks, const std::vector<EventRef>& pool, int period_us,
                             std::size_t blocks) {
    const std::size_t warm = std::max<std::size_t>(10, std::min<std::size_t>(100, blocks / 10));
    const std::size_t total = blocks + warm;
    Slots slots(callbacks, total);
    auto pipeline = MakePipeline(design, slots.pointers);
    SdkEvent sdk;
    sdk.Subscribe(pipeline->Handler());

    std::vector<int64_t> raised(total);
    uint64_t handlerAllocs = 0;
    int64_t handlerNs = 0;
    int64_t wakeUpsAtWarm = 0;
    std::thread sdkThread([&] {
        TightTimer();
        PinCallingThread(g_pinning.raiser);
        if (std::getenv("QUELTO_BENCH_TIDS")) {  // for per-thread counts by strace or valgrind
            std::fprintf(stderr, "quelto_bench: raising thread %ld: %s, %d cb, %d us, %zu raises\n",
                         static_cast<long>(gettid()), DesignName(design), callbacks, period_us, total);
        }
        const int64_t period = static_cast<int64_t>(period_us) * 1000;
        int64_t next = NowNs() + period;
        for (std::size_t i = 0; i < total; ++i) {
            SleepUntilNs(next);
            if (i == warm) wakeUpsAtWarm = pipeline->WakeUps();
            const int64_t t0 = NowNs();
            const uint64_t a0 = ThreadAllocations();
            raised[i] = t0;
            sdk.Raise(nullptr, pool[i % pool.size()]);
            if (i >= warm) {
                handlerAllocs += ThreadAllocations() - a0;
                handlerNs += NowNs() - t0;
            }
            next += period;
        }
    });
    sdkThread.join();

    LatencyResult r;
    const int64_t wakeUps = pipeline->WakeUps();
    r.wakeUps = wakeUps < 0 ? -1 : static_cast<double>(wakeUps - wakeUpsAtWarm);
    for (auto* s : slots.pointers) r.complete = WaitForCalls(*s, total, 30.0) && r.complete;
    pipeline.reset();
    r.blocks = blocks;
    auto latencies = [&](const CallbackSlot& s) {
        std::vector<double> us;
        const std::size_t n = std::min<std::size_t>(total, s.calls.load(std::memory_order_acquire));
        for (std::size_t i = warm; i < n; ++i) us.push_back(static_cast<double>(s.entryNs[i] - raised[i]) / 1000.0);
        return us;
    };
    r.firstUs = latencies(*slots.owned.front());
    r.lastUs = latencies(slots.Last());
    r.handlerNs = static_cast<double>(handlerNs);
    r.handlerAllocs = static_cast<double>(handlerAllocs);
    if (r.complete) {
        const auto& a = slots.Last().entryAllocs;
        r.workerAllocs = static_cast<double>(a[total - 1] - a[warm - 1]);
    }
    return r;
}

double MeasureBareWakeUp(int period_us, std::size_t wakeUps) {
    std::mutex m;
    std::condition_variable cv;
    bool asleep = false, posted = false, done = false;
    std::thread sleeper([&] {
        PinCallingThread(g_pinning.worker);
        std::unique_lock lock(m);
        while (!done) {
            asleep = true;
            cv.wait(lock, [&] { return posted || done; });
            asleep = posted = false;
        }
    });
    int64_t spentNs = 0;
    std::size_t made = 0;
    std::thread waker([&] {
        TightTimer();
        PinCallingThread(g_pinning.raiser);
        const int64_t period = static_cast<int64_t>(period_us) * 1000;
        int64_t next = NowNs() + period;
        while (made < wakeUps) {
            SleepUntilNs(next);
            next += period;
            const int64_t t0 = NowNs();
            bool wake;
            {
                std::lock_guard lock(m);
                posted = true;
                wake = std::exchange(asleep, false);
            }
            if (wake) cv.notify_one();
            if (!wake) continue;  // the sleeper was still awake: not a wake-up
            spentNs += NowNs() - t0;
            ++made;
        }
    });
    waker.join();
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_one();
    sleeper.join();
    return static_cast<double>(spentNs) / 1000.0 / static_cast<double>(wakeUps);
}

ThroughputResult MeasureThroughput(Design design, int callbacks, const std::vector<EventRef>& pool, double seconds) {
    Slots slots(callbacks, 0);
    auto pipeline = MakePipeline(design, slots.pointers);
    SdkEvent sdk;
    sdk.Subscribe(pipeline->Handler());
    std::atomic<bool> stop{false};
    CallbackSlot& last = slots.Last();
    std::thread sdkThread([&] {
        uint64_t raised = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            if (raised - last.calls.load(std::memory_order_relaxed) >= 4096) {
                std::this_thread::yield();
                continue;
            }
            sdk.Raise(nullptr, pool[raised % pool.size()]);
            ++raised;
        }
    });
    SleepSeconds(0.1);
    const uint64_t c0 = last.calls.load();
    const int64_t t0 = NowNs();
    SleepSeconds(seconds);
    const uint64_t c1 = last.calls.load();
    const int64_t t1 = NowNs();
    stop = true;
    sdkThread.join();
    pipeline.reset();
    ThroughputResult r;
    r.blocksPerSecond = static_cast<double>(c1 - c0) / (static_cast<double>(t1 - t0) / 1e9);
    r.megabytesPerSecond = r.blocksPerSecond * static_cast<double>(PayloadBytes(*pool.front())) / 1e6;
    return r;
}

IdleResult MeasureIdle(Design design, double seconds) {
    auto pipeline = MakeIdle(design);
    SleepSeconds(0.2);
    rusage self0{}, main0{}, self1{}, main1{};
    getrusage(RUSAGE_SELF, &self0);
    getrusage(RUSAGE_THREAD, &main0);
    IdleResult r;
    for ([[maybe_unused]] const auto& t : std::filesystem::directory_iterator("/proc/self/task")) ++r.threads;
    const int64_t t0 = NowNs();
    SleepSeconds(seconds);
    const int64_t t1 = NowNs();
    getrusage(RUSAGE_SELF, &self1);
    getrusage(RUSAGE_THREAD, &main1);
    pipeline.reset();
    auto ms = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) * 1e3 + static_cast<double>(tv.tv_usec) / 1e3; };
    r.seconds = static_cast<double>(t1 - t0) / 1e9;
    r.cpuMs = ms(self1.ru_utime) + ms(self1.ru_stime) - ms(self0.ru_utime) - ms(self0.ru_stime);
    // The main thread's own sleep is not the facade's.
    const double voluntary = static_cast<double>((self1.ru_nvcsw - self0.ru_nvcsw) - (main1.ru_nvcsw - main0.ru_nvcsw));
    const double involuntary =
        static_cast<double>((self1.ru_nivcsw - self0.ru_nivcsw) - (main1.ru_nivcsw - main0.ru_nivcsw));
    r.wakeupsPerSecond = voluntary / r.seconds;
    r.involuntaryPerSecond = involuntary / r.seconds;
    return r;
}

RateResult RunAtRate(Design design, int callbacks, const std::vector<EventRef>& pool, double rate, double seconds) {
    Slots slots(callbacks, 0);
    auto pipeline = MakePipeline(design, slots.pointers);
    SdkEvent sdk;
    sdk.Subscribe(pipeline->Handler());
    CallbackSlot& last = slots.Last();
    const auto total = static_cast<std::size_t>(std::max(8.0, rate * seconds));
    std::vector<double> backlog(total);
    int64_t start = 0, end = 0;
    std::thread sdkThread([&] {
        TightTimer();
        const double period = 1e9 / rate;
        start = NowNs() + 1000000;
        for (std::size_t i = 0; i < total; ++i) {
            WaitUntilNs(start + static_cast<int64_t>(period * static_cast<double>(i)));
            sdk.Raise(nullptr, pool[i % pool.size()]);
            backlog[i] = static_cast<double>(i + 1 - last.calls.load(std::memory_order_relaxed));
        }
        end = NowNs();
    });
    sdkThread.join();
    RateResult r;
    r.asked = rate;
    r.achieved = static_cast<double>(total - 1) / (static_cast<double>(end - start) / 1e9);
    r.finalBacklog = total - last.calls.load();
    // Flat: the backlog of the last quarter is no larger than that of the
    // second (medians, so that a short stall of the machine does not count),
    // give or take a millisecond of blocks.
    auto quarter = [&](std::size_t q) {
        return Median(std::vector<double>(backlog.begin() + static_cast<std::ptrdiff_t>(q * total / 4),
                                          backlog.begin() + static_cast<std::ptrdiff_t>((q + 1) * total / 4)));
    };
    r.flat = quarter(3) <= quarter(1) + std::max(16.0, rate * 0.001);
    WaitForCalls(last, total, 2.0);
    pipeline.reset();
    return r;
}

HeadroomResult MeasureHeadroom(Design design, int callbacks, const std::vector<EventRef>& pool, double seconds) {
    enum class Outcome { Flat, Grows, RaiseLimited };
    auto tryRate = [&](double rate) {
        Outcome outcome = Outcome::RaiseLimited;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const RateResult r = RunAtRate(design, callbacks, pool, rate, seconds);
            if (r.achieved < 0.95 * rate) continue;
            if (r.flat) return Outcome::Flat;
            outcome = Outcome::Grows;
        }
        return outcome;
    };
    HeadroomResult h;
    double good = 0, bad = 0;
    for (double rate = 1000; rate <= 4e6; rate *= 2) {
        const Outcome o = tryRate(rate);
        if (o == Outcome::Flat) {
            good = rate;
            continue;
        }
        if (o == Outcome::RaiseLimited) {
            h.raiseLimited = true;
        } else {
            bad = rate;
        }
        break;
    }
    for (int step = 0; step < 4 && bad > 0 && good > 0; ++step) {
        const double mid = std::sqrt(good * bad);
        if (tryRate(mid) == Outcome::Flat) {
            good = mid;
        } else {
            bad = mid;
        }
    }
    h.highestFlat = good;
    return h;
}

uint64_t ThunkAllocations(const EventRef& e) {
    Quelto_DataAvailableEventArgs record = ::Pipeline::CopyEventArgs(*e);
    CRegistration registration{[](const Quelto_DataAvailableEventArgs_C*, void*) {}, nullptr};
    const uint64_t a0 = ThreadAllocations();
    Bridge_DataThunk(std::move(record), &registration);
    return ThreadAllocations() - a0;
}

}  // namespace Bench
