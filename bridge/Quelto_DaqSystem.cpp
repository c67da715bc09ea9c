#include "Quelto_DaqSystem.h"

#include "AppDomain.h"
#include "BlockListeners.h"
#include "ManagedRuntime.h"
#include "QueltoWrapperPrivate.h"

#include <cstddef>

namespace D = Quelto::Common::Definitions;

Quelto_DaqSystem::Quelto_DaqSystem() : impl(nullptr) {
    static_assert(offsetof(Quelto_DaqSystem, impl) == 0 && offsetof(Quelto_DaqSystem, listeners) == 8,
                  "Quelto_DaqSystem layout");
    static_assert(offsetof(Listener, cb) == 0 && offsetof(Listener, context) == 8, "Listener layout");
    // `impl` is complete before the worker starts: an event queued early
    // (a device streaming at once) is delivered to a whole facade.
    impl = new QueltoWrapperPrivate();
    try {
        impl->table = std::make_shared<Listeners::ListenerTable>(&listeners);
        impl->daqSystem = Runtime::AppDomain::CurrentDomain().CreateInstance<Quelto::Interfaces::IDaqSystem>(
            D::QueltoAssemblyName, Quelto::DaqSystemClass);
        impl->eventBridge = std::make_shared<QueltoManagedBridge>(this);
        impl->daqSystem->add_DataAvailable(impl->eventBridge->Handler());
        impl->eventBridge->StartProcessing();
    } catch (...) {
        if (impl->eventBridge) impl->eventBridge->StopProcessing();
        if (impl->daqSystem) {
            try {
                impl->daqSystem->Dispose();
            } catch (...) {
                // The first failure is the one reported.
            }
        }
        delete impl;
        impl = nullptr;
        throw;
    }
}

Quelto_DaqSystem::Quelto_DaqSystem(const Quelto_DaqSystem&) : impl(nullptr) {
    throw Runtime::InvalidOperationException(
        "A Quelto_DaqSystem owns a device and cannot be copied; share a pointer to it instead.");
}

Quelto_DaqSystem& Quelto_DaqSystem::operator=(const Quelto_DaqSystem& other) {
    if (this != &other) {
        throw Runtime::InvalidOperationException(
            "A Quelto_DaqSystem owns a device and cannot be copied; share a pointer to it instead.");
    }
    return *this;
}

Quelto_DaqSystem::~Quelto_DaqSystem() {
    if (!impl) return;
    // The block being delivered reaches every listener first; from inside a
    // listener (of this facade, or of one this destruction would wait for in
    // a cycle) the stop does not wait, and closing the table skips the
    // listeners after the running one.
    if (impl->eventBridge) impl->eventBridge->StopProcessing();
    impl->table->Close();
    impl->eventBridge.reset();
    if (impl->daqSystem) {
        try {
            impl->daqSystem->Dispose();
        } catch (...) {
            // A device that fails to release must not take the host down.
        }
        impl->daqSystem.reset();
        Hosting::Managed::CollectAfterDestroy();
    }
    delete impl;
    impl = nullptr;
}

void Quelto_DaqSystem::StartCapturing(Quelto_DataAvailableEventPeriod period) {
    const auto number = static_cast<uint16_t>(period);
    const int32_t sdkPeriod = number >= 1 && number <= 3 ? number : 0;
    impl->Device().StartCapturing(D::DataAvailableEventPeriod{sdkPeriod});
}

void Quelto_DaqSystem::StopCapturing() { impl->Device().StopCapturing(); }

int Quelto_DaqSystem::GetdeviceState() { return static_cast<int>(impl->Device().get_State()); }

Quelto_SoftwareVersion Quelto_DaqSystem::SoftwareVersion() {
    auto& device = impl->Device();
    Quelto_SoftwareVersion v{};
    v.Major = Runtime::Deref(device.get_SoftwareVersion()).get_Major();
    v.Minor = Runtime::Deref(device.get_SoftwareVersion()).get_Minor();
    v.Build = Runtime::Deref(device.get_SoftwareVersion()).get_Build();
    v.Revision = Runtime::Deref(device.get_SoftwareVersion()).get_Revision();
    return v;
}

void Quelto_DaqSystem::CalibrateImuOffset(int sensor) { impl->Device().CalibrateSensorImuOffset(sensor); }
void Quelto_DaqSystem::CalibrateGyroscopeOffset(int sensor) { impl->Device().CalibrateGyroscopeOffset(sensor); }
void Quelto_DaqSystem::CalibrateAccelerometerOffset(int sensor) { impl->Device().DetectAccelerometerOffset(sensor); }
void Quelto_DaqSystem::CalibrateEMGOffset(int sensor) { impl->Device().QL_CalibrateEmgOffset(sensor); }
void Quelto_DaqSystem::GenerateInternalStartTrigger() { impl->Device().GenerateInternalStartTrigger(); }
void Quelto_DaqSystem::GenerateInternalStopTrigger() { impl->Device().GenerateInternalStopTrigger(); }
void Quelto_DaqSystem::UpdateDisplay() { impl->Device().UpdateDisplay(); }
void Quelto_DaqSystem::SaveCurrentRxConfiguration() { impl->Device().QL_SaveCurrentRxConfiguration(); }

void Quelto_DaqSystem::AddDaqDataAvailableListener(Quelto_DataAvailableListener cb, void* context) {
    if (!cb) return;
    impl->table->Add(cb, context);
}

void Quelto_DaqSystem::RemoveDaqDataAvailableListener(Quelto_DataAvailableListener cb, void* context) {
    auto table = impl->table;  // a listener may destroy this facade meanwhile
    table->RemoveFirst([&](const Listeners::ListenerEntry& e) { return e.cb == cb && e.context == context; });
}

void Quelto_DaqSystem::DaqDataAvailable(Quelto_DataAvailableEventArgs arg) {
    const Quelto_BlockInfo info = Listeners::UnstampedBlockInfo();
    const Listeners::BlockInfoScope scope(info);
    auto table = impl->table;  // kept alive even if a listener destroys this facade
    Listeners::Deliver(*table, std::move(arg));
}
