// The listener that hands each block to a C callback as array views.
#pragma once

#include "QueltoBridge.h"
#include "Quelto_DataAvailableEventArgs.h"

// One C registration: the host's callback and context.
struct CRegistration {
    Quelto_DataCallback cb;
    void* context;
};

// Fills `out` (every byte, padding included) with views into `native`.
void FillCView(const Quelto_DataAvailableEventArgs& native, Quelto_DataAvailableEventArgs_C& out);

// Facade listener for C registrations; `ctx` is a CRegistration.
extern "C" void QUELTO_CALL Bridge_DataThunk(Quelto_DataAvailableEventArgs native, void* ctx);
