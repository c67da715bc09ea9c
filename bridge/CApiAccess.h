// Reaches the facade's private table for registrations whose records the
// table owns and releases (C callbacks).
#pragma once

#include "QueltoWrapperPrivate.h"
#include "Quelto_DaqSystem.h"

#include <memory>

struct QueltoCApiAccess {
    // A shared reference: a callback waited for by a removal may destroy the
    // handle, and with it the facade's own reference.
    static std::shared_ptr<Listeners::ListenerTable> Table(Quelto_DaqSystem& facade) { return facade.impl->table; }
};
