// The managed backend's figures: SDK raise -> C callback latency, throughput,
// one native -> managed call, and the per-block collection. Runs beside the
// test SDK assemblies (their device stamps each block with its raise time).
// Prints one table; scripts/bench.sh runs it after the native figures.
#include "BridgeFolder.h"
#include "ManagedRuntime.h"
#include "QueltoBridge.h"

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

// Blocks from the test device through the C API; returns blocks per second.
double Capture(int blocks, int periodUs, bool stamped, bool collect, Run& run) {
    setenv("QUELTO_FAKE_BLOCKS", std::to_string(blocks).c_str(), 1);
    setenv("QUELTO_FAKE_PERIOD_US", std::to_string(periodUs).c_str(), 1);
    setenv("QUELTO_FAKE_STAMP", stamped ? "1" : "0", 1);
    Hosting::Managed::SetCollectPerBlock(collect);
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
    Hosting::Managed::SetCollectPerBlock(false);
    return run.count.load() / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int paced = quick ? 1000 : 5000, fast = quick ? 20000 : 100000;
    SetupBridgeAssemblyResolve();
    std::printf("%-52s %12s %12s %12s\n", "managed backend (Mono)", "p50", "p99", "other");

    {  // runtime start is in the first Create; one native -> managed call
        const auto t0 = Clock::now();
        Quelto_Bridge_Destroy(Quelto_Bridge_Create());
        const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        std::printf("%-52s %12s %12s %10.1f ms\n", "runtime start + first create/destroy", "", "", startMs);
        constexpr int Calls = 200000;
        const auto c0 = Clock::now();
        for (int i = 0; i < Calls; ++i) Hosting::Managed::CallNothing();
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - c0).count() / Calls;
        std::printf("%-52s %12s %12s %10.1f ns\n", "native -> managed call (function pointer)", "", "", ns);
    }
    for (bool collect : {false, true}) {
        Run run;
        Capture(paced, 1000, true, collect, run);
        const std::string name = std::string("latency raise -> C callback, 1 kHz") + (collect ? ", GC per block" : "");
        std::printf("%-52s %9.1f us %9.1f us %8d blk\n", name.c_str(), Percentile(run.latencyUs, 0.5),
                    Percentile(run.latencyUs, 0.99), run.count.load());
    }
    for (bool collect : {false, true}) {
        Run run;
        const int n = collect ? fast / 10 : fast;
        const double rate = Capture(n, 0, true, collect, run);
        const std::string name = std::string("throughput, fast producer") + (collect ? ", GC per block" : "");
        std::printf("%-52s %9.1f us %9.1f us %7.0f blk/s\n", name.c_str(), Percentile(run.latencyUs, 0.5),
                    Percentile(run.latencyUs, 0.99), rate);
    }
    {
        constexpr int Collections = 200;
        std::vector<double> ms;
        for (int i = 0; i < Collections; ++i) {
            const auto t0 = Clock::now();
            Hosting::Managed::Collect();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("%-52s %9.3f ms %9.3f ms\n", "GC.Collect + WaitForPendingFinalizers, idle", Percentile(ms, 0.5),
                    Percentile(ms, 0.99));
        std::printf("%-52s %12s %12s %7.1f MiB\n", "managed heap after the runs", "", "",
                    static_cast<double>(Hosting::Managed::ManagedHeapBytes()) / (1024.0 * 1024.0));
    }
    return 0;
}
