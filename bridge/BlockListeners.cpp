#include "BlockListeners.h"

#include "ArrivalClock.h"
#include "DataThunk.h"

namespace Listeners {

namespace {
constexpr Quelto_BlockInfo kNoBlock{-1, 0, 0, 0, 0};
thread_local const Quelto_BlockInfo* t_current = nullptr;
}  // namespace

const Quelto_BlockInfo& CurrentBlockInfo() { return t_current ? *t_current : kNoBlock; }

BlockInfoScope::BlockInfoScope(const Quelto_BlockInfo& info) : outer_(t_current) { t_current = &info; }

BlockInfoScope::~BlockInfoScope() { t_current = outer_; }

Quelto_BlockInfo UnstampedBlockInfo() {
    const Pipeline::ArrivalStamp now = Pipeline::StampNow(-1);
    return Quelto_BlockInfo{-1, now.monotonicNs, now.realtimeNs, 0, 0};
}

extern "C" void QUELTO_CALL Bridge_BlockListenerThunk(Quelto_DataAvailableEventArgs native, void* ctx) {
    const auto* registration = static_cast<const BlockListenerRegistration*>(ctx);
    if (!registration || !registration->cb) return;
    // The info is copied: the listener may start a nested delivery.
    const Quelto_BlockInfo info = CurrentBlockInfo();
    registration->cb(std::move(native), info, registration->context);
}

extern "C" void QUELTO_CALL Bridge_BlockCallbackThunk(Quelto_DataAvailableEventArgs native, void* ctx) {
    const auto* registration = static_cast<const BlockCallbackRegistration*>(ctx);
    if (!registration || !registration->cb) return;
    const Quelto_BlockInfo info = CurrentBlockInfo();
    Quelto_DataAvailableEventArgs_C c;
    FillCView(native, c);
    registration->cb(&c, &info, registration->context);
}

}  // namespace Listeners
