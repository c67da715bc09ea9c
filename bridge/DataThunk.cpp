#include "DataThunk.h"

#include "SdkBlockFields.h"

#include <cstring>

namespace {

// Sets a view's pointer and count in place; its padding keeps the zero of
// the record's fill. (A view built aside and copied in whole costs a stalled
// 16-byte load per view.)
template <class View, class T>
void SetView(View& field, const std::vector<T>& buffer) {
    field.data = buffer.empty() ? nullptr : buffer.data();
    field.count = static_cast<uint32_t>(buffer.size());
}

// Booleans cross as bytes.
void CopyFlag(bool& to, const bool& from) { std::memcpy(&to, &from, 1); }

}  // namespace

void FillCView(const Quelto_DataAvailableEventArgs& n, Quelto_DataAvailableEventArgs_C& c) {
    std::memset(&c, 0, sizeof c);
#define QUELTO_VIEW_ARRAY(name, element, rank, view) SetView(c.name, n.name);
#define QUELTO_VIEW_VALUE(name, ...) c.name = n.name;
#define QUELTO_VIEW_FLAG(name) CopyFlag(c.name, n.name);
    QUELTO_BLOCK_FIELDS(QUELTO_VIEW_ARRAY, QUELTO_VIEW_VALUE, QUELTO_VIEW_FLAG, QUELTO_VIEW_VALUE)
#undef QUELTO_VIEW_ARRAY
#undef QUELTO_VIEW_VALUE
#undef QUELTO_VIEW_FLAG
}

extern "C" void QUELTO_CALL Bridge_DataThunk(Quelto_DataAvailableEventArgs native, void* ctx) {
    const auto* registration = static_cast<const CRegistration*>(ctx);
    if (!registration || !registration->cb) return;
    Quelto_DataAvailableEventArgs_C c;
    FillCView(native, c);
    registration->cb(&c, registration->context);
}
