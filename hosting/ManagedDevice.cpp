// The device of the managed backend: its members, the registry of
// DataAvailable subscriptions that the helper's event sink dispatches to
// (blocks: ManagedBlocks.cpp), and what happens to live devices when an SDK
// thread fails.
#include "ManagedObjects.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

std::mutex g_devicesMutex;
// A handler and the storage its blocks leave behind.
struct Subscription {
    D::DataAvailableEventHandler handler;
    std::shared_ptr<StorageShelf> shelf = std::make_shared<StorageShelf>();
};
std::unordered_map<intptr_t, std::shared_ptr<const Subscription>> g_subscriptions;
std::unordered_set<class ManagedDevice*> g_devices;
intptr_t g_nextSubscription = 1;

class ManagedDevice final : public ManagedObject, public Quelto::Interfaces::IDaqSystem {
public:
    explicit ManagedDevice(intptr_t h) : ManagedObject(h) {
        std::lock_guard lock(g_devicesMutex);
        g_devices.insert(this);
    }
    ~ManagedDevice() override {
        std::lock_guard lock(g_devicesMutex);
        g_devices.erase(this);
        for (intptr_t id : subscriptions_) g_subscriptions.erase(id);
    }

    void StartCapturing(D::DataAvailableEventPeriod period) override {
        Do(u"StartCapturing", 1, 0, static_cast<int32_t>(period));
    }
    void StopCapturing() override { Do(u"StopCapturing"); }
    void GenerateInternalStartTrigger() override { Do(u"GenerateInternalStartTrigger"); }
    void GenerateInternalStopTrigger() override { Do(u"GenerateInternalStopTrigger"); }
    void UpdateDisplay() override { Do(u"UpdateDisplay"); }
    void QL_SaveCurrentRxConfiguration() override { Do(u"QL_SaveCurrentRxConfiguration"); }
    void ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>& c) override {
        Do(u"ConfigureCapture", 2, HandleOf(c));
    }
    void ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>& c, int32_t sensor) override {
        Do(u"ConfigureSensor", 3, HandleOf(c), sensor);
    }
    void CalibrateSensorImuOffset(int32_t sensor) override { Do(u"CalibrateSensorImuOffset", 1, 0, sensor); }
    void CalibrateGyroscopeOffset(int32_t sensor) override { Do(u"CalibrateGyroscopeOffset", 1, 0, sensor); }
    void DetectAccelerometerOffset(int32_t sensor) override { Do(u"DetectAccelerometerOffset", 1, 0, sensor); }
    void QL_CalibrateEmgOffset(int32_t sensor) override { Do(u"QL_CalibrateEmgOffset", 1, 0, sensor); }
    D::DeviceState get_State() const override {
        {
            std::lock_guard lock(g_devicesMutex);
            if (failed_) return D::DeviceState::Error;
        }
        return static_cast<D::DeviceState>(Number(DeviceInterface, u"State").I);
    }
    Runtime::Ref<D::IExtVersion> get_SoftwareVersion() const override {
        return AdoptVersion(Get(DeviceInterface, u"SoftwareVersion").Obj);
    }
    void add_DataAvailable(D::DataAvailableEventHandler handler) override {
        intptr_t id = 0;
        {
            std::lock_guard lock(g_devicesMutex);
            id = g_nextSubscription++;
            g_subscriptions.emplace(id, std::make_shared<const Subscription>(Subscription{std::move(handler)}));
            subscriptions_.push_back(id);
        }
        Check(Api().Subscribe(HandleValue(), id));
    }
    void Dispose() override { Call(u"System.IDisposable", u"Dispose"); }

    void MarkFailed() { failed_ = true; }  // under g_devicesMutex

private:
    // A member of IDaqSystem, discarding its result.
    void Do(const char16_t* method, int shape = 0, intptr_t obj = 0, int32_t number = 0) {
        Call(DeviceInterface, method, shape, obj, number);
    }

    std::vector<intptr_t> subscriptions_;  // under g_devicesMutex
    bool failed_ = false;
};

}  // namespace

Runtime::Ref<Quelto::Interfaces::IDaqSystem> AdoptDevice(intptr_t handle) { return Adopt<ManagedDevice>(handle); }

void DeliverEvent(intptr_t id, BlockCrossing& block, int32_t status) noexcept {
    const int64_t bytes = block.StorageBytes;
    std::shared_ptr<const Subscription> subscription;
    try {
        {
            std::lock_guard lock(g_devicesMutex);
            auto it = g_subscriptions.find(id);
            if (it != g_subscriptions.end() && it->second->handler) subscription = it->second;
        }
        auto e = ArrivingBlock(block, status, subscription ? subscription->shelf : nullptr);
        if (subscription) subscription->handler(nullptr, e);
    } catch (...) {
        // Out of memory: the block is lost, the SDK's thread goes on.
        subscription = nullptr;
    }
    // Frees the storage when no block took it over, and gives storage for
    // the subscription's next block, so that the helper need not ask for it
    // while a block waits: what an earlier block left on the shelf, else new
    // storage of this one's size.
    if (!subscription || !subscription->shelf->Take(block)) ReplaceBlockStorage(block, subscription ? bytes : 0);
}

void ReportUnhandled(const std::u16string& text) noexcept {
    try {
        {
            std::lock_guard lock(g_devicesMutex);
            for (ManagedDevice* device : g_devices) device->MarkFailed();
        }
        const std::string line =
            "Quelto.bridge: an SDK thread failed; capture has stopped: " + Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
}

void ReportRuntimeThreadFailure(const std::u16string& text) noexcept {
    try {
        const std::string line =
            "Quelto.bridge: SDK code failed on the runtime's finalizer or pool thread, which goes on: " +
            Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
}

void EndProcessForUncontainedFailure(const std::u16string& text) noexcept {
    try {
        const std::string line =
            "Quelto.bridge: an SDK failure passed every handler of the call that met it and cannot be returned to "
            "the host; the process ends: " +
            Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
    std::abort();
}

}  // namespace Hosting::Managed
