// The facade's private object: the runtime objects kept out of the
// exported class.
#pragma once

#include "ListenerTable.h"
#include "QueltoManagedBridge.h"
#include "SdkContract.h"

#include <memory>

struct QueltoWrapperPrivate {
    // Owning handle to the SDK device object; disposed when released.
    Runtime::Ref<Quelto::Interfaces::IDaqSystem> daqSystem;
    // Owning handle to the facade's event bridge.
    std::shared_ptr<QueltoManagedBridge> eventBridge;
    // Listeners as the worker reads them (the facade's `listeners` vector
    // mirrors it for the exported layout).
    std::shared_ptr<Listeners::ListenerTable> table;

    // The device, or NullReferenceException when there is none.
    Quelto::Interfaces::IDaqSystem& Device() const { return Runtime::Deref(daqSystem); }
};
