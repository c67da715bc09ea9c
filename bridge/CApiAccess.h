// Reaches the facade's private table for registrations whose records the
// table owns and releases (C callbacks).
#pragma once

#include "QueltoWrapperPrivate.h"
#include "Quelto_DaqSystem.h"

struct QueltoCApiAccess {
    static Entry::ListenerTable& Table(Quelto_DaqSystem& facade) { return *facade.impl->table; }
};
