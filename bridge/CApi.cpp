// The C functions: each a few lines over the facade, inside one containment
// helper so that no exception reaches a C host.
#include "BlockListeners.h"
#include "BridgeFolder.h"
#include "CApiAccess.h"
#include "DataThunk.h"
#include "ErrorReport.h"
#include "QueltoBridge.h"
#include "QueltoWrapperPrivate.h"
#include "Quelto_DaqSystem.h"

#include <memory>
#include <new>

using ErrorReport::Contain;

namespace {
Quelto_DaqSystem* Facade(void* bridge) { return static_cast<Quelto_DaqSystem*>(bridge); }

// For the functions that report a null handle as a failure.
Quelto_DaqSystem& Checked(void* bridge) {
    if (!bridge) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'bridge')");
    return *Facade(bridge);
}
}  // namespace

extern "C" {

QUELTO_API void* QUELTO_CALL Quelto_Bridge_Create(void) {
    return Contain("Quelto_Bridge_Create", static_cast<void*>(nullptr), []() -> void* {
        SetupBridgeAssemblyResolve();
        return new Quelto_DaqSystem();
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_Destroy(void* bridge) {
    Contain("Quelto_Bridge_Destroy", [&] { delete Facade(bridge); });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_StartCapturing(void* bridge) {
    Contain("Quelto_Bridge_StartCapturing", [&] {
        if (bridge) Facade(bridge)->StartCapturing(Quelto_DataAvailableEventPeriod{});
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_StopCapturing(void* bridge) {
    Contain("Quelto_Bridge_StopCapturing", [&] {
        if (bridge) Facade(bridge)->StopCapturing();
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context) {
    Contain("Quelto_Bridge_RegisterDataCallback", [&] {
        if (!bridge) return;
        auto registration = std::make_shared<CRegistration>(CRegistration{cb, context});
        void* listenerContext = registration.get();
        QueltoCApiAccess::Table(*Facade(bridge))->Add(&Bridge_DataThunk, listenerContext, std::move(registration));
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context) {
    Contain("Quelto_Bridge_UnregisterDataCallback", [&] {
        if (!bridge) return;
        const auto table = QueltoCApiAccess::Table(*Facade(bridge));
        table->RemoveFirst([&](const Listeners::ListenerEntry& e) {
            if (e.cb != &Bridge_DataThunk || !e.owned) return false;
            const auto* r = static_cast<const CRegistration*>(e.context);
            return r->cb == cb && r->context == context;
        });
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureCapture(void* bridge, Quelto_CaptureConfiguration* configuration) {
    Contain("Quelto_Bridge_ConfigureCapture", [&] {
        if (!bridge) return;
        if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
        Facade(bridge)->ConfigureCapture(*configuration);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureSensor(void* bridge, Quelto_SensorConfiguration* configuration,
                                                          int sensorIndex) {
    Contain("Quelto_Bridge_ConfigureSensor", [&] {
        if (!bridge) return;
        if (!configuration) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'configuration')");
        Facade(bridge)->ConfigureSensor(*configuration, sensorIndex);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateImuOffset(void* bridge, int sensorIndex) {
    Contain("Quelto_Bridge_CalibrateImuOffset", [&] {
        if (bridge) Facade(bridge)->CalibrateImuOffset(sensorIndex);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateGyroscopeOffset(void* bridge, int sensorIndex) {
    Contain("Quelto_Bridge_CalibrateGyroscopeOffset", [&] {
        if (bridge) Facade(bridge)->CalibrateGyroscopeOffset(sensorIndex);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateAccelerometerOffset(void* bridge, int sensor) {
    Contain("Quelto_Bridge_CalibrateAccelerometerOffset", [&] {
        if (bridge) Facade(bridge)->CalibrateAccelerometerOffset(sensor);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateEMGOffset(void* bridge, int sensor) {
    Contain("Quelto_Bridge_CalibrateEMGOffset", [&] {
        if (bridge) Facade(bridge)->CalibrateEMGOffset(sensor);
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_UpdateDisplay(void* bridge) {
    Contain("Quelto_Bridge_UpdateDisplay", [&] {
        if (bridge) Facade(bridge)->UpdateDisplay();
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_SaveCurrentRxConfiguration(void* bridge) {
    Contain("Quelto_Bridge_SaveCurrentRxConfiguration", [&] {
        if (bridge) Facade(bridge)->SaveCurrentRxConfiguration();
    });
}

QUELTO_API int QUELTO_CALL Quelto_Bridge_GetdeviceState(void* bridge) {
    return Contain("Quelto_Bridge_GetdeviceState", QUELTO_BRIDGE_STATE_UNKNOWN,
                   [&] { return bridge ? Facade(bridge)->GetdeviceState() : QUELTO_BRIDGE_STATE_UNKNOWN; });
}

QUELTO_API const char* QUELTO_CALL Quelto_Bridge_GetLastError(void) { return ErrorReport::LastError(); }

// Block callbacks, capture with a period, triggers, configuration files and
// the software version.

QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterBlockCallback(void* bridge, Quelto_BlockCallback cb, void* context) {
    Contain("Quelto_Bridge_RegisterBlockCallback", [&] {
        if (!bridge) return;
        auto registration =
            std::make_shared<Listeners::BlockCallbackRegistration>(Listeners::BlockCallbackRegistration{cb, context});
        void* listenerContext = registration.get();
        QueltoCApiAccess::Table(*Facade(bridge))->Add(&Listeners::Bridge_BlockCallbackThunk, listenerContext,
                                                       std::move(registration));
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterBlockCallback(void* bridge, Quelto_BlockCallback cb,
                                                                  void* context) {
    Contain("Quelto_Bridge_UnregisterBlockCallback", [&] {
        if (!bridge) return;
        const auto table = QueltoCApiAccess::Table(*Facade(bridge));
        table->RemoveFirst([&](const Listeners::ListenerEntry& e) {
            if (e.cb != &Listeners::Bridge_BlockCallbackThunk || !e.owned) return false;
            const auto* r = static_cast<const Listeners::BlockCallbackRegistration*>(e.context);
            return r->cb == cb && r->context == context;
        });
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_StartCapturingWithPeriod(void* bridge, int period) {
    Contain("Quelto_Bridge_StartCapturingWithPeriod", [&] {
        if (!bridge) return;
        // The facade maps 1 to 3 through and everything else to 0; a number
        // outside 16 bits must not wrap into that range.
        const bool known = period >= 1 && period <= 3;
        Facade(bridge)->StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(known ? period : 0));
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStartTrigger(void* bridge) {
    Contain("Quelto_Bridge_GenerateInternalStartTrigger", [&] {
        if (bridge) Facade(bridge)->GenerateInternalStartTrigger();
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStopTrigger(void* bridge) {
    Contain("Quelto_Bridge_GenerateInternalStopTrigger", [&] {
        if (bridge) Facade(bridge)->GenerateInternalStopTrigger();
    });
}

QUELTO_API int QUELTO_CALL Quelto_Bridge_ApplyConfigurationFile(void* bridge, const char* path) {
    return Contain("Quelto_Bridge_ApplyConfigurationFile", -1, [&] {
        Quelto_DaqSystem& facade = Checked(bridge);
        if (!path) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'path')");
        facade.ApplyConfigurationFile(path);
        return 0;
    });
}

QUELTO_API int QUELTO_CALL Quelto_Bridge_GetSoftwareVersion(void* bridge, Quelto_SoftwareVersion* out) {
    return Contain("Quelto_Bridge_GetSoftwareVersion", -1, [&] {
        Quelto_DaqSystem& facade = Checked(bridge);
        if (!out) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'out')");
        *out = facade.SoftwareVersion();  // read whole before anything is written
        return 0;
    });
}

}  // extern "C"
