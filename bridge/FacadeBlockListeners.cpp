// The facade's block listeners, which receive each block with its arrival
// info, and the delivery of a block with that info.
#include "BlockListeners.h"
#include "QueltoWrapperPrivate.h"
#include "Quelto_DaqSystem.h"

#include <memory>

void Quelto_DaqSystem::AddBlockListener(Quelto_BlockListener cb, void* context) {
    if (!cb) return;
    auto registration =
        std::make_shared<Listeners::BlockListenerRegistration>(Listeners::BlockListenerRegistration{cb, context});
    void* listenerContext = registration.get();
    impl->table->Add(&Listeners::Bridge_BlockListenerThunk, listenerContext, std::move(registration));
}

void Quelto_DaqSystem::RemoveBlockListener(Quelto_BlockListener cb, void* context) {
    auto table = impl->table;  // a listener may destroy this facade meanwhile
    table->RemoveFirst([&](const Listeners::ListenerEntry& e) {
        if (e.cb != &Listeners::Bridge_BlockListenerThunk || !e.owned) return false;
        const auto* r = static_cast<const Listeners::BlockListenerRegistration*>(e.context);
        return r->cb == cb && r->context == context;
    });
}

void Quelto_DaqSystem::DeliverBlock(Quelto_DataAvailableEventArgs arg, const Quelto_BlockInfo& info) {
    const Listeners::BlockInfoScope scope(info);
    auto table = impl->table;  // kept alive even if a listener destroys this facade
    Listeners::Deliver(*table, std::move(arg));
}
