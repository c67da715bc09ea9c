// quelto_sim_bench: what a long-running host costs the simulated SDK. Memory
// kept by many calls through the facade (resident size and heap in use, with
// free memory handed back first), and in fast mode the number of blocks
// raised and still held while the host's callback blocks.
//   quelto_sim_bench [--quick]
#include "AppDomain.h"
#include "Quelto_DaqSystem.h"
#include "SdkContract.h"

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace D = Quelto::Common::Definitions;

namespace {

void UseBuildLibraryFolder() {
    static const int token = Runtime::AppDomain::CurrentDomain().AddAssemblyResolve(
        [](const std::string& fullName) -> Runtime::AssemblyRef {
            const std::string path = Runtime::Path::Combine(QUELTO_LIB_DIR, Runtime::SimpleNameOf(fullName) + ".dll");
            return Runtime::File::Exists(path) ? Runtime::AppDomain::CurrentDomain().LoadFrom(path) : nullptr;
        });
    (void)token;
}

struct Footprint {
    double rssMiB = 0, heapMiB = 0;
};

Footprint Now() {
    malloc_trim(0);
    Footprint f;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) f.rssMiB = std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    const struct mallinfo2 m = mallinfo2();
    f.heapMiB = static_cast<double>(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
    return f;
}

void Row(const char* figure, const Footprint& before, const Footprint& after) {
    std::printf("| %-52s | %9.2f | %9.2f |\n", figure, after.rssMiB - before.rssMiB, after.heapMiB - before.heapMiB);
}

// A host whose callback blocks: a bridge's queue of raised blocks, taken
// one at a time by a worker that is stuck in the host's callback.
struct BlockedHost {
    std::mutex m;
    std::condition_variable cv;
    std::deque<Runtime::Ref<D::DataAvailableEventArgs>> queue;
    bool release = false;
    std::thread worker;

    BlockedHost() {
        worker = std::thread([this] {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return !queue.empty() || release; });
            if (!queue.empty()) queue.pop_front();  // flattened, then handed to the host...
            cv.wait(lock, [&] { return release; });  // ...whose callback does not return
        });
    }
    void Raised(const Runtime::Ref<D::DataAvailableEventArgs>& e) {
        std::lock_guard lock(m);
        queue.push_back(e);
        cv.notify_all();
    }
    std::size_t Queued() {
        std::lock_guard lock(m);
        return queue.size();
    }
    ~BlockedHost() {
        {
            std::lock_guard lock(m);
            release = true;
        }
        cv.notify_all();
        worker.join();
    }
};

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int scale = quick ? 10 : 1;
    UseBuildLibraryFolder();
    Runtime::AppDomain::CurrentDomain().Load(D::QueltoAssemblyName);
    {
        Quelto_DaqSystem warm;  // libraries loaded, first allocations made
        (void)warm.GetdeviceState();
    }

    std::printf("| %-52s | %9s | %9s |\n", "memory kept", "RSS MiB", "heap MiB");
    std::printf("|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(10, '-').append(":").c_str(),
                std::string(10, '-').append(":").c_str());
    {
        auto facade = std::make_unique<Quelto_DaqSystem>();
        const int calls = 1000000 / scale;
        const Footprint before = Now();
        for (int i = 0; i < calls; ++i) (void)facade->GetdeviceState();
        Row((std::to_string(calls) + " GetdeviceState").c_str(), before, Now());
    }
    {
        const Footprint before = Now();
        auto facade = std::make_unique<Quelto_DaqSystem>();
        const int calls = 100000 / scale;
        for (int i = 0; i < calls; ++i) {
            Quelto_CaptureConfiguration capture{};
            facade->ConfigureCapture(capture);
        }
        Row((std::to_string(calls) + " ConfigureCapture").c_str(), before, Now());
        facade.reset();
        Row("  the same, after the facade is destroyed", before, Now());
    }
    {
        const int cycles = 10000 / scale;
        const Footprint before = Now();
        for (int i = 0; i < cycles; ++i) Quelto_DaqSystem cycle;
        Row((std::to_string(cycles) + " create/destroy cycles").c_str(), before, Now());
    }

    // Fast mode, 100 ms blocks, the host's callback blocked from the first.
    setenv("QUELTO_SIM_MODE", "fast", 1);
    {
        auto device = Runtime::AppDomain::CurrentDomain().CreateInstance<Quelto::Interfaces::IDaqSystem>(
            D::QueltoAssemblyName, Quelto::DaqSystemClass);
        BlockedHost host;
        device->add_DataAvailable([&](const auto&, const Runtime::Ref<D::DataAvailableEventArgs>& e) { host.Raised(e); });
        std::printf("\n| %-40s | %8s |\n", "fast mode, host blocked: after (s)", "queued");
        std::printf("|%s|%s|\n", std::string(42, '-').c_str(), std::string(9, '-').append(":").c_str());
        const auto start = std::chrono::steady_clock::now();
        device->StartCapturing(D::DataAvailableEventPeriod{0});
        for (double at : {0.5, 1.0, 2.0, 5.0}) {
            if (quick && at > 1.0) break;
            std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
            std::printf("| %40.1f | %8zu |\n", at, host.Queued());
        }
        device->StopCapturing();
        device->Dispose();
    }
    unsetenv("QUELTO_SIM_MODE");
    return 0;
}
