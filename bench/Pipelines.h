// The two pipelines under test behind one face: the project's (facade, event
// bridge with a waiting worker, listener table, C thunk) and the polling
// design. Host callbacks are plain C callbacks that stamp their entry.
#pragma once

#include "Blocks.h"
#include "QueltoBridge.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Bench {

int64_t NowNs();

// CPUs to pin the raising thread and the pipeline's worker to (-1: no pin).
// The worker pins itself in its first host callback.
struct Pinning {
    int raiser = -1;
    int worker = -1;
};
extern Pinning g_pinning;
// Pins the calling thread to `cpu` (nothing when cpu < 0).
void PinCallingThread(int cpu);

// One host callback's record of what it received.
struct CallbackSlot {
    std::vector<int64_t> entryNs;        // entry time of call i (up to capacity)
    std::vector<uint64_t> entryAllocs;   // allocations of the calling thread at entry
    std::atomic<uint64_t> calls{0};
    explicit CallbackSlot(std::size_t capacity) : entryNs(capacity), entryAllocs(capacity) {}
};

// Time each host callback takes before it returns (a slow host), in ns; 0
// unless a measurement sets it while no pipeline runs.
extern int64_t g_callbackBusyNs;

extern "C" void HostCallback(const Quelto_DataAvailableEventArgs_C* args, void* context);

enum class Design { Project, Reference };
const char* DesignName(Design d);

class DataPath {
public:
    virtual ~DataPath() = default;
    // Subscribes the pipeline's handler to the stand-in of the SDK's event.
    virtual Quelto::Common::Definitions::DataAvailableEventHandler Handler() = 0;
    virtual std::size_t QueueLength() const = 0;
    // Wake-ups of the worker made by the raising thread so far (-1: not
    // counted, the polling design makes none).
    virtual int64_t WakeUps() const { return -1; }
};

// `slots` receive the blocks, in this order; they outlive the pipeline.
std::unique_ptr<DataPath> MakePipeline(Design design, std::vector<CallbackSlot*> slots);

// A facade (or polling worker) made and left alone, for the idle cost.
std::unique_ptr<DataPath> MakeIdle(Design design);

// Finds the SDK libraries in the build's library folder.
void UseBuildLibraryFolder();

}  // namespace Bench
