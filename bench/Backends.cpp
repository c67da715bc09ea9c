// The backends' figures: SDK raise -> C callback latency, throughput, and for
// the managed backend one native -> managed call and the per-block
// collection. Built twice: beside the managed test SDK assemblies, and (with
// QUELTO_BENCH_NATIVE) beside their native twin; both devices stamp each
// block with its raise time. Prints one row per figure, "name|p50|p99|other";
// bench/backends.py runs both programs in turn and prints them side by side.
#include "BridgeFolder.h"
#include "QueltoBridge.h"
#ifndef QUELTO_BENCH_NATIVE
#include "ManagedRuntime.h"
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int32_t NowMicros31() {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
    return static_cast<int32_t>(us & 0x7fffffff);
}

struct Run {
    std::mutex m;
    std::vector<double> latencyUs;
    std::atomic<int> count{0};
    bool stamped = false;
};

void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* e, void* context) {
    auto* run = static_cast<Run*>(context);
    if (run->stamped) {
        const int32_t now = NowMicros31();
        const double us = static_cast<double>((now - e->DataTransferRate) & 0x7fffffff);
        std::lock_guard lock(run->m);
        run->latencyUs.push_back(us);
    }
    run->count.fetch_add(1, std::memory_order_relaxed);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

#ifdef QUELTO_BENCH_NATIVE
constexpr bool kManaged = false;
void SetCollectPerBlock(bool) {}
#else
constexpr bool kManaged = true;
void SetCollectPerBlock(bool on) { Hosting::Managed::SetCollectPerBlock(on); }
#endif

void Row(const std::string& name, const std::string& p50, const std::string& p99, const std::string& other) {
    std::printf("%s|%s|%s|%s\n", name.c_str(), p50.c_str(), p99.c_str(), other.c_str());
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Blocks from the test device through the C API; returns blocks per second.
double Capture(int blocks, int periodUs, bool stamped, bool collect, Run& run) {
    setenv("QUELTO_FAKE_BLOCKS", std::to_string(blocks).c_str(), 1);
    setenv("QUELTO_FAKE_PERIOD_US", std::to_string(periodUs).c_str(), 1);
    setenv("QUELTO_FAKE_STAMP", stamped ? "1" : "0", 1);
    SetCollectPerBlock(collect);
    run.stamped = stamped;
    void* bridge = Quelto_Bridge_Create();
    if (!bridge) {
        std::fprintf(stderr, "Create failed\n");
        std::exit(1);
    }
    Quelto_Bridge_RegisterDataCallback(bridge, &OnBlock, &run);
    const auto start = Clock::now();
    Quelto_Bridge_StartCapturing(bridge);
    const auto limit = start + std::chrono::seconds(120);
    while (run.count.load() < blocks && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Quelto_Bridge_Destroy(bridge);
    SetCollectPerBlock(false);
    return run.count.load() / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int paced = quick ? 1000 : 5000, fast = quick ? 20000 : 100000;
    SetupBridgeAssemblyResolve();
    {  // the managed runtime starts in the first Create
        const auto t0 = Clock::now();
        Quelto_Bridge_Destroy(Quelto_Bridge_Create());
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        Row("first create/destroy (managed: with the runtime's start)", "", "", Format("%.1f ms", ms));
    }
#ifndef QUELTO_BENCH_NATIVE
    {
        constexpr int Calls = 200000;
        const auto c0 = Clock::now();
        for (int i = 0; i < Calls; ++i) Hosting::Managed::CallNothing();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - c0).count() / Calls;
        Row("native -> managed call (function pointer)", "", "", Format("%.1f ns", ns));
    }
#endif
    for (bool collect : {false, true}) {
        if (collect && !kManaged) continue;
        Run run;
        Capture(paced, 1000, true, collect, run);
        Row(std::string("latency raise -> C callback, 1 kHz") + (collect ? ", GC per block" : ""),
            Format("%.1f us", Percentile(run.latencyUs, 0.5)), Format("%.1f us", Percentile(run.latencyUs, 0.99)),
            Format("%.0f blk", run.count.load()));
    }
    for (bool collect : {false, true}) {
        if (collect && !kManaged) continue;
        Run run;
        const int n = collect ? fast / 10 : fast;
        const double rate = Capture(n, 0, true, collect, run);
        Row(std::string("throughput, fast producer") + (collect ? ", GC per block" : ""),
            Format("%.1f us", Percentile(run.latencyUs, 0.5)), Format("%.1f us", Percentile(run.latencyUs, 0.99)),
            Format("%.0f blk/s", rate));
    }
#ifndef QUELTO_BENCH_NATIVE
    {
        constexpr int Collections = 200;
        std::vector<double> ms;
        for (int i = 0; i < Collections; ++i) {
            const auto t0 = Clock::now();
            Hosting::Managed::Collect();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        Row("GC.Collect + WaitForPendingFinalizers, idle", Format("%.3f ms", Percentile(ms, 0.5)),
            Format("%.3f ms", Percentile(ms, 0.99)), "");
        Row("managed heap after the runs", "", "",
            Format("%.1f MiB", static_cast<double>(Hosting::Managed::ManagedHeapBytes()) / (1024.0 * 1024.0)));
    }
#endif
    return 0;
}
