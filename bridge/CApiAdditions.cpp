// C functions added to the original set: block callbacks, capture with a
// period, triggers, configuration files and the software version. Each is
// contained like the others.
#include "BlockListeners.h"
#include "CApiAccess.h"
#include "ErrorReport.h"
#include "QueltoBridge.h"
#include "Quelto_DaqSystem.h"

#include <memory>

using Entry::Contain;

namespace {

Quelto_DaqSystem& Facade(void* bridge) {
    if (!bridge) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'bridge')");
    return *static_cast<Quelto_DaqSystem*>(bridge);
}

}  // namespace

extern "C" {

QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterBlockCallback(void* bridge, Quelto_BlockCallback cb, void* context) {
    Contain("Quelto_Bridge_RegisterBlockCallback", [&] {
        if (!bridge) return;
        auto registration =
            std::make_shared<Entry::BlockCallbackRegistration>(Entry::BlockCallbackRegistration{cb, context});
        void* listenerContext = registration.get();
        QueltoCApiAccess::Table(Facade(bridge))->Add(&Entry::Bridge_BlockCallbackThunk, listenerContext,
                                                    std::move(registration));
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterBlockCallback(void* bridge, Quelto_BlockCallback cb,
                                                                  void* context) {
    Contain("Quelto_Bridge_UnregisterBlockCallback", [&] {
        if (!bridge) return;
        const auto table = QueltoCApiAccess::Table(Facade(bridge));
        table->RemoveFirst([&](const Entry::ListenerEntry& e) {
            if (e.cb != &Entry::Bridge_BlockCallbackThunk || !e.owned) return false;
            const auto* r = static_cast<const Entry::BlockCallbackRegistration*>(e.context);
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
        Facade(bridge).StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(known ? period : 0));
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStartTrigger(void* bridge) {
    Contain("Quelto_Bridge_GenerateInternalStartTrigger", [&] {
        if (bridge) Facade(bridge).GenerateInternalStartTrigger();
    });
}

QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStopTrigger(void* bridge) {
    Contain("Quelto_Bridge_GenerateInternalStopTrigger", [&] {
        if (bridge) Facade(bridge).GenerateInternalStopTrigger();
    });
}

QUELTO_API int QUELTO_CALL Quelto_Bridge_ApplyConfigurationFile(void* bridge, const char* path) {
    return Contain("Quelto_Bridge_ApplyConfigurationFile", -1, [&] {
        Quelto_DaqSystem& facade = Facade(bridge);
        if (!path) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'path')");
        facade.ApplyConfigurationFile(path);
        return 0;
    });
}

QUELTO_API int QUELTO_CALL Quelto_Bridge_GetSoftwareVersion(void* bridge, Quelto_SoftwareVersion* out) {
    return Contain("Quelto_Bridge_GetSoftwareVersion", -1, [&] {
        Quelto_DaqSystem& facade = Facade(bridge);
        if (!out) throw Runtime::ArgumentNullException("Value cannot be null. (Parameter 'out')");
        *out = facade.SoftwareVersion();  // read whole before anything is written
        return 0;
    });
}

}  // extern "C"
