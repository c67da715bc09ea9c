// Arbitrary SDK data events (any member absent, any shape, zero extents,
// any values) through the flattening and the C thunk. Every buffer must
// hold the event's elements in storage order, every view must show its
// buffer, and the C callback must see the same block.
#include "SdkBlockFields.h"
#include "DataThunk.h"
#include "EventFlattening.h"
#include "FuzzSupport.h"

#include <vector>

namespace {

namespace D = Quelto::Common::Definitions;

template <class T, int Rank>
void MakeArray(Fuzz::Bytes& in, Runtime::ArrayRef<T, Rank>& out) {
    const uint8_t shape = in.Take<uint8_t>();
    if (shape % 4 == 0) return;  // absent
    int32_t extents[3] = {};
    for (int d = 0; d < Rank; ++d) extents[d] = in.Take<uint8_t>() % 9;
    if constexpr (Rank == 1) out = Runtime::NewArray<T>(extents[0]);
    if constexpr (Rank == 2) out = Runtime::NewArray<T>(extents[0], extents[1]);
    if constexpr (Rank == 3) out = Runtime::NewArray<T>(extents[0], extents[1], extents[2]);
    if (out->Length()) in.Fill(out->Data(), out->Length() * sizeof(T));
}

template <class Dst, class Src, int Rank>
void CheckBuffer(const std::vector<Dst>& buffer, const Runtime::ArrayRef<Src, Rank>& array, const char* name) {
    const size_t n = array ? array->Length() : 0;
    if (buffer.size() != n) Fuzz::Fail(std::string(name) + ": wrong element count");
    for (size_t i = 0; i < n; ++i) {
        const Dst expected = static_cast<Dst>(array->Data()[i]);
        if (std::memcmp(&buffer[i], &expected, sizeof expected) != 0) Fuzz::Fail(std::string(name) + ": wrong element");
    }
}

template <class View, class T>
void CheckView(const View& view, const std::vector<T>& buffer, const char* name) {
    if (view.count != buffer.size()) Fuzz::Fail(std::string(name) + ": view count");
    if (view.data != (buffer.empty() ? nullptr : buffer.data())) Fuzz::Fail(std::string(name) + ": view data");
}

// Each array of the block, then each scalar and flag.
#define QUELTO_FUZZ_ARRAYS(X) QUELTO_BLOCK_FIELDS(X, QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP)
#define QUELTO_FUZZ_SCALARS(X) QUELTO_BLOCK_FIELDS(QUELTO_BLOCK_SKIP, X, QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP)
#define QUELTO_FUZZ_FLAGS(X) QUELTO_BLOCK_FIELDS(QUELTO_BLOCK_SKIP, QUELTO_BLOCK_SKIP, X, QUELTO_BLOCK_SKIP)

struct Seen {
    const Quelto_DataAvailableEventArgs* native = nullptr;
    int calls = 0;
};

void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* c, void* context) {
    auto* seen = static_cast<Seen*>(context);
    ++seen->calls;
    const Quelto_DataAvailableEventArgs& n = *seen->native;
#define QUELTO_FUZZ_SAME_VALUE(M, ...) \
    if (c->M != n.M) Fuzz::Fail("callback saw other " #M);
    QUELTO_FUZZ_SCALARS(QUELTO_FUZZ_SAME_VALUE)
    QUELTO_FUZZ_FLAGS(QUELTO_FUZZ_SAME_VALUE)
#undef QUELTO_FUZZ_SAME_VALUE
    // The thunk works on its own copy of the block: compare contents.
#define QUELTO_FUZZ_SAME(M, ...)                                                                                    \
    if (c->M.count != n.M.size() ||                                                                          \
        (c->M.count && std::memcmp(c->M.data, n.M.data(), c->M.count * sizeof *c->M.data) != 0)) {          \
        Fuzz::Fail("callback saw other " #M);                                                                \
    }
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_SAME)
#undef QUELTO_FUZZ_SAME
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz::Bytes in(data, size);
    auto e = std::make_shared<D::DataAvailableEventArgs>();
#define QUELTO_FUZZ_MAKE(M, ...) MakeArray(in, e->M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_MAKE)
#undef QUELTO_FUZZ_MAKE
#define QUELTO_FUZZ_TAKE(M, ...) e->M = in.Take<decltype(e->M)>();
    QUELTO_FUZZ_SCALARS(QUELTO_FUZZ_TAKE)
#undef QUELTO_FUZZ_TAKE
    uint32_t flags = in.Take<uint32_t>();
#define QUELTO_FUZZ_FLAG(M, ...) \
    e->M = flags & 1;       \
    flags >>= 1;
    QUELTO_FUZZ_FLAGS(QUELTO_FUZZ_FLAG)
#undef QUELTO_FUZZ_FLAG

    Quelto_DataAvailableEventArgs native;
    if (Fuzz::Outcome([&] { native = Pipeline::CopyEventArgs(*e); })) Fuzz::Fail("a valid event failed to flatten");
#define QUELTO_FUZZ_BUFFER(M, ...) CheckBuffer(native.M, e->M, #M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_BUFFER)
#undef QUELTO_FUZZ_BUFFER
#define QUELTO_FUZZ_KEPT(M, ...) \
    if (native.M != e->M) Fuzz::Fail(#M " changed");
    QUELTO_FUZZ_SCALARS(QUELTO_FUZZ_KEPT)
    QUELTO_FUZZ_FLAGS(QUELTO_FUZZ_KEPT)
#undef QUELTO_FUZZ_KEPT
    if (native.AnalogSpare != 0) Fuzz::Fail("AnalogSpare set");

    Quelto_DataAvailableEventArgs_C c;
    FillCView(native, c);
#define QUELTO_FUZZ_VIEW(M, ...) CheckView(c.M, native.M, #M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_VIEW)
#undef QUELTO_FUZZ_VIEW

    Seen seen{&native};
    CRegistration registration{&OnBlock, &seen};
    Bridge_DataThunk(native, &registration);
    if (seen.calls != 1) Fuzz::Fail("callback not called once");
    return 0;
}
