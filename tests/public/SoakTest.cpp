// Many blocks through the C API from the simulated device in fast mode, four
// callbacks, registrations coming and going on another thread meanwhile:
// every callback sees every block once, in order, and memory stays flat.
// QUELTO_SOAK_BLOCKS sets the count (default 20000, 2000 under a sanitizer;
// 1000000 by hand).
#include "QueltoBridge.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

using TestPlatform::Sanitized;

// -1 where /proc is missing.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

long SoakBlocks() {
    const char* text = std::getenv("QUELTO_SOAK_BLOCKS");
    return text && *text ? std::atol(text) : Sanitized ? 2000 : 20000;
}

// One callback's view of the stream: each block must start where the last
// one ended (scan numbers count EMG/sync samples without gaps).
struct Stream {
    std::atomic<long> blocks{0};
    std::atomic<long> faults{0};
    int64_t nextScan = 0;  // worker thread only
    bool strict = true;    // false: joined late, may start anywhere

    static void QUELTO_CALL On(const Quelto_DataAvailableEventArgs_C* b, void* context) {
        auto* self = static_cast<Stream*>(context);
        if (self->blocks == 0 && !self->strict) self->nextScan = b->ScanNumber;
        if (b->ScanNumber != self->nextScan || b->SyncSamples.count == 0) ++self->faults;
        self->nextScan = int64_t{b->ScanNumber} + b->SyncSamples.count;
        ++self->blocks;
    }
};

struct FastMode {
    FastMode() { TestPlatform::SetEnv("QUELTO_SIM_MODE", "fast"); }
    ~FastMode() { TestPlatform::UnsetEnv("QUELTO_SIM_MODE"); }
};

}  // namespace

TEST(Soak, EveryCallbackSeesEveryBlockOnceInOrderWithFlatMemory) {
    const long target = SoakBlocks();
    FastMode fast;
    void* bridge = Quelto_Bridge_Create();
    ASSERT_NE(bridge, nullptr) << Quelto_Bridge_GetLastError();
    Stream streams[4];
    for (Stream& s : streams) Quelto_Bridge_RegisterDataCallback(bridge, &Stream::On, &s);

    // Meanwhile: callbacks registered and unregistered on another thread.
    std::atomic<bool> churning{true};
    std::atomic<long> churns{0};
    std::thread churn([&] {
        while (churning) {
            Stream late;
            late.strict = false;
            Quelto_Bridge_RegisterDataCallback(bridge, &Stream::On, &late);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            Quelto_Bridge_UnregisterDataCallback(bridge, &Stream::On, &late);  // waits for a call in progress
            if (late.faults != 0) ++streams[0].faults;
            ++churns;
        }
    });

    Quelto_Bridge_StartCapturing(bridge);
    ASSERT_EQ(Quelto_Bridge_GetLastError(), nullptr);
    long warmKiB = -1;
    const auto started = std::chrono::steady_clock::now();
    while (streams[0].blocks < target) {
        if (warmKiB < 0 && streams[0].blocks >= target / 10) warmKiB = ResidentKiB();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const long endKiB = ResidentKiB();
    Quelto_Bridge_StopCapturing(bridge);
    churning = false;
    churn.join();
    // Blocks raised before the stop are still delivered: wait until all agree.
    for (int i = 0; i < 10000; ++i) {
        const long n = streams[0].blocks;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        bool settled = n == streams[0].blocks;
        for (Stream& s : streams) settled &= s.blocks == n;
        if (settled) break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long drainedKiB = ResidentKiB();
    Quelto_Bridge_Destroy(bridge);

    const long delivered = streams[0].blocks;
    EXPECT_GE(delivered, target);
    for (const Stream& s : streams) {
        EXPECT_EQ(s.blocks.load(), delivered);
        EXPECT_EQ(s.faults.load(), 0);
    }
    EXPECT_GT(churns.load(), 0);
    std::printf("soak: %ld blocks to each of 4 callbacks in %.1f s, %ld registrations churned, "
                "VmRSS %ld KiB at a tenth, %ld KiB at the end, %ld KiB drained\n",
                delivered, seconds, churns.load(), warmKiB, endKiB, drainedKiB);
#ifdef __linux__
    if (!Sanitized) {
        ASSERT_GT(warmKiB, 0);
        // The fast device waits for the host, so the queue stays short:
        // anything beyond allocator noise is a leak or a backlog.
        EXPECT_LT(endKiB - warmKiB, 4 * 1024) << "resident size grew during the run";
        EXPECT_LT(drainedKiB - warmKiB, 4 * 1024) << "resident size grew";
    }
#endif
}
