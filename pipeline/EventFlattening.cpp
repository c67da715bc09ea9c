#include "EventFlattening.h"

#include "SdkBlockFields.h"

namespace Pipeline {
namespace {

// The SDK array's storage is already row-major, so visiting every element
// with the last index fastest is a walk over its storage in order. One
// allocation, one pass; elements are converted to the buffer's type.
template <class Dst, class Src, int Rank>
void Flatten(std::vector<Dst>& out, const Runtime::ArrayRef<Src, Rank>& in) {
    if (!in) return;
    std::size_t n = 1;
    for (int d = 0; d < Rank; ++d) n *= static_cast<std::size_t>(in->GetLength(d));
    if (n == 0) return;
    const Src* src = in->Data();
    out.assign(src, src + n);
}

}  // namespace

Quelto_DataAvailableEventArgs CopyEventArgs(const Quelto::Common::Definitions::DataAvailableEventArgs& e) {
    Quelto_DataAvailableEventArgs r;
#define QUELTO_FLATTEN_ARRAY(name, element, rank, view) Flatten(r.name, e.name);
#define QUELTO_FLATTEN_VALUE(name, ...) r.name = e.name;
    QUELTO_BLOCK_FIELDS(QUELTO_FLATTEN_ARRAY, QUELTO_FLATTEN_VALUE, QUELTO_FLATTEN_VALUE, QUELTO_BLOCK_SKIP)
#undef QUELTO_FLATTEN_ARRAY
#undef QUELTO_FLATTEN_VALUE
    return r;
}

}  // namespace Pipeline
