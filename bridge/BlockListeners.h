// Listeners that receive a block together with its Quelto_BlockInfo. They
// sit in the facade's one listener table as ordinary entries (so they share
// its order of registration, removal and containment), with a thunk as the
// listener function; the thunk reads the info of the block that is being
// delivered on its thread.
#pragma once

#include "QueltoBridge.h"
#include "Quelto_BlockInfo.h"
#include "Quelto_DaqSystem.h"

namespace Listeners {

// The info of the block being delivered on this thread (sequence -1 and
// zero times outside a delivery).
const Quelto_BlockInfo& CurrentBlockInfo();

// Makes `info` the current one for the scope's life (nests).
class BlockInfoScope {
public:
    explicit BlockInfoScope(const Quelto_BlockInfo& info);
    ~BlockInfoScope();
    BlockInfoScope(const BlockInfoScope&) = delete;
    BlockInfoScope& operator=(const BlockInfoScope&) = delete;

private:
    const Quelto_BlockInfo* outer_;
};

// Info for a block without arrival stamps: sequence -1, both clocks now.
Quelto_BlockInfo UnstampedBlockInfo();

// One facade block listener.
struct BlockListenerRegistration {
    Quelto_BlockListener cb;
    void* context;
};

// One C block callback.
struct BlockCallbackRegistration {
    Quelto_BlockCallback cb;
    void* context;
};

extern "C" void QUELTO_CALL Bridge_BlockListenerThunk(Quelto_DataAvailableEventArgs native, void* ctx);
extern "C" void QUELTO_CALL Bridge_BlockCallbackThunk(Quelto_DataAvailableEventArgs native, void* ctx);

}  // namespace Listeners
