// Facade members added to the original set: block listeners, delivery with
// arrival info, and applying a configuration file.
#include "BlockListeners.h"
#include "QueltoWrapperPrivate.h"
#include "Quelto_DaqSystem.h"

#include <memory>

void Quelto_DaqSystem::AddBlockListener(Quelto_BlockListener cb, void* context) {
    if (!cb) return;
    auto registration = std::make_shared<Entry::BlockListenerRegistration>(Entry::BlockListenerRegistration{cb, context});
    void* listenerContext = registration.get();
    impl->table->Add(&Entry::Bridge_BlockListenerThunk, listenerContext, std::move(registration));
}

void Quelto_DaqSystem::RemoveBlockListener(Quelto_BlockListener cb, void* context) {
    auto table = impl->table;  // a listener may destroy this facade meanwhile
    table->RemoveFirst([&](const Entry::ListenerEntry& e) {
        if (e.cb != &Entry::Bridge_BlockListenerThunk || !e.owned) return false;
        const auto* r = static_cast<const Entry::BlockListenerRegistration*>(e.context);
        return r->cb == cb && r->context == context;
    });
}

void Quelto_DaqSystem::DeliverBlock(Quelto_DataAvailableEventArgs arg, const Quelto_BlockInfo& info) {
    const Entry::BlockInfoScope scope(info);
    auto table = impl->table;  // kept alive even if a listener destroys this facade
    Entry::Deliver(*table, std::move(arg));
}

int Quelto_DaqSystem::ApplyConfigurationFile(const char* configFilePath) {
    // Loaded whole before anything is sent: a file that does not load
    // changes nothing on the device.
    Quelto_ConfigurationExportBase configuration = LoadConfiguration(configFilePath);
    ConfigureCapture(configuration.CaptureConfiguration);
    int configured = 0;
    // Every sensor, as the file describes it: a sensor the file switches off
    // is told so.
    for (int sensor = QUELTO_SENSOR_FIRST; sensor <= QUELTO_SENSOR_LAST; ++sensor) {
        ConfigureSensor(configuration.SensorConfiguration[sensor - 1], sensor);
        ++configured;
    }
    return configured;
}
