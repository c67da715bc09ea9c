#include "Pipelines.h"

#include "AllocationCounter.h"
#include "AppDomain.h"
#include "DataThunk.h"
#include "QueltoManagedBridge.h"
#include "Quelto_DaqSystem.h"
#include "ReferenceBridge.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>

namespace Bench {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Pinning g_pinning;
int64_t g_callbackBusyNs = 0;

void PinCallingThread(int cpu) {
    if (cpu < 0) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

extern "C" void HostCallback(const Quelto_DataAvailableEventArgs_C* args, void* context) {
    const int64_t t = NowNs();
    auto* slot = static_cast<CallbackSlot*>(context);
    const uint64_t i = slot->calls.load(std::memory_order_relaxed);
    if (i == 0) PinCallingThread(g_pinning.worker);  // the worker, on its first block (warm-up)
    if (i < slot->entryNs.size()) {
        slot->entryNs[i] = t;
        slot->entryAllocs[i] = ThreadAllocations();
    }
    // A host reads its block; one element is enough to touch it.
    volatile float first = args->EmgSamples.count ? args->EmgSamples.data[0] : 0.0f;
    (void)first;
    while (g_callbackBusyNs && NowNs() - t < g_callbackBusyNs) {
    }
    slot->calls.store(i + 1, std::memory_order_release);
}

const char* DesignName(Design d) { return d == Design::Project ? "project" : "reference"; }

void UseBuildLibraryFolder() {
    static const int token = Runtime::AppDomain::CurrentDomain().AddAssemblyResolve(
        [](const std::string& fullName) -> Runtime::AssemblyRef {
            const std::string path = Runtime::Path::Combine(QUELTO_LIB_DIR, Runtime::SimpleNameOf(fullName) + ".dll");
            return Runtime::File::Exists(path) ? Runtime::AppDomain::CurrentDomain().LoadFrom(path) : nullptr;
        });
    (void)token;
}

namespace {

// The facade with its C registrations; blocks come through an event bridge
// of the project's own class delivering to that facade, whose handler is
// what the device would call.
class ProjectPipeline final : public DataPath {
public:
    ProjectPipeline(std::vector<CallbackSlot*> slots, bool withBridge) {
        UseBuildLibraryFolder();
        facade_ = std::make_unique<Quelto_DaqSystem>();
        for (CallbackSlot* s : slots) Quelto_Bridge_RegisterDataCallback(facade_.get(), &HostCallback, s);
        if (withBridge) {
            bridge_ = std::make_shared<QueltoManagedBridge>(facade_.get());
            bridge_->StartProcessing();
        }
    }
    ~ProjectPipeline() override {
        if (bridge_) bridge_->StopProcessing();
        bridge_.reset();
        facade_.reset();
    }
    Quelto::Common::Definitions::DataAvailableEventHandler Handler() override { return bridge_->Handler(); }
    std::size_t QueueLength() const override { return bridge_ ? bridge_->QueueLength() : 0; }
    int64_t WakeUps() const override { return bridge_ ? bridge_->WakeUps() : -1; }

private:
    std::unique_ptr<Quelto_DaqSystem> facade_;
    std::shared_ptr<QueltoManagedBridge> bridge_;
};

class ReferencePipeline final : public DataPath {
public:
    explicit ReferencePipeline(std::vector<CallbackSlot*> slots) {
        registrations_.reserve(slots.size());
        for (CallbackSlot* s : slots) registrations_.push_back(CRegistration{&HostCallback, s});
        for (auto& r : registrations_) bridge_.AddListener(&Bridge_DataThunk, &r);
        bridge_.StartProcessing();
    }
    ~ReferencePipeline() override { bridge_.StopProcessing(); }
    Quelto::Common::Definitions::DataAvailableEventHandler Handler() override { return bridge_.Handler(); }
    std::size_t QueueLength() const override { return bridge_.QueueLength(); }

private:
    std::vector<CRegistration> registrations_;
    ReferenceBridge bridge_;
};

}  // namespace

std::unique_ptr<DataPath> MakePipeline(Design design, std::vector<CallbackSlot*> slots) {
    if (design == Design::Project) return std::make_unique<ProjectPipeline>(std::move(slots), true);
    return std::make_unique<ReferencePipeline>(std::move(slots));
}

std::unique_ptr<DataPath> MakeIdle(Design design) {
    if (design == Design::Project) return std::make_unique<ProjectPipeline>(std::vector<CallbackSlot*>{}, false);
    return std::make_unique<ReferencePipeline>(std::vector<CallbackSlot*>{});
}

}  // namespace Bench
