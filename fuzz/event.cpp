// Arbitrary SDK data events (any member absent, any shape, zero extents,
// any values) through the flattening and the C thunk. Every buffer must
// hold the event's elements in storage order, every view must show its
// buffer, and the C callback must see the same block.
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

#define QUELTO_FUZZ_ARRAYS(X)                                                                                  \
    X(EmgSamples) X(ImuSamples) X(AccelerometerSamples) X(GyroscopeSamples) X(MagnetometerSamples) X(SyncSamples) \
    X(SensorStates) X(FootSwSamples) X(FootSwRawSamples) X(FootSwSensorStates) X(RemoteControlEvents)           \
    X(InsoleSamples) X(InsoleImuSamples) X(InsoleAccelerometerSamples) X(InsoleGyroscopeSamples) X(InsoleStates)  \
    X(AnalogSamples) X(AnalogStates)

struct Seen {
    const Quelto_DataAvailableEventArgs* native = nullptr;
    int calls = 0;
};

void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* c, void* context) {
    auto* seen = static_cast<Seen*>(context);
    ++seen->calls;
    const Quelto_DataAvailableEventArgs& n = *seen->native;
    if (c->ScanNumber != n.ScanNumber || c->InsoleImuScanNumber != n.InsoleImuScanNumber ||
        c->StopAnalogTriggerScan != n.StopAnalogTriggerScan || c->UsbLowPerformance != n.UsbLowPerformance) {
        Fuzz::Fail("callback saw other scalars");
    }
    // The thunk works on its own copy of the block: compare contents.
#define QUELTO_FUZZ_SAME(M)                                                                                  \
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
#define QUELTO_FUZZ_MAKE(M) MakeArray(in, e->M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_MAKE)
#undef QUELTO_FUZZ_MAKE
    e->ScanNumber = in.Take<int32_t>();
    e->RemoteControlState = in.Take<uint16_t>();
    const uint32_t flags = in.Take<uint32_t>();
    e->StartTriggerDetected = flags & 1;
    e->StopTriggerDetected = flags & 2;
    e->StartInsoleTriggerDetected = flags & 4;
    e->StopInsoleTriggerDetected = flags & 8;
    e->StartInsoleImuTriggerDetected = flags & 16;
    e->StopInsoleImuTriggerDetected = flags & 32;
    e->StartAnalogTriggerDetected = flags & 64;
    e->StopAnalogTriggerDetected = flags & 128;
    e->UsbLowPerformance = flags & 256;
    e->StartTriggerScan = in.Take<int32_t>();
    e->StopAnalogTriggerScan = in.Take<int32_t>();
    e->DataTransferRate = in.Take<int32_t>();
    e->UsbLostPackets = in.Take<int32_t>();
    e->InsoleScanNumber = in.Take<int32_t>();
    e->InsoleImuScanNumber = in.Take<int32_t>();

    Quelto_DataAvailableEventArgs native;
    if (Fuzz::Outcome([&] { native = Pipeline::CopyEventArgs(*e); })) Fuzz::Fail("a valid event failed to flatten");
#define QUELTO_FUZZ_BUFFER(M) CheckBuffer(native.M, e->M, #M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_BUFFER)
#undef QUELTO_FUZZ_BUFFER
    if (native.ScanNumber != e->ScanNumber || native.UsbLowPerformance != e->UsbLowPerformance ||
        native.StopAnalogTriggerScan != e->StopAnalogTriggerScan || native.AnalogSpare != 0) {
        Fuzz::Fail("scalars changed");
    }

    Quelto_DataAvailableEventArgs_C c;
    Bridge_FillC(native, c);
#define QUELTO_FUZZ_VIEW(M) CheckView(c.M, native.M, #M);
    QUELTO_FUZZ_ARRAYS(QUELTO_FUZZ_VIEW)
#undef QUELTO_FUZZ_VIEW

    Seen seen{&native};
    Bridge_Registration registration{&OnBlock, &seen};
    Bridge_DataThunk(native, &registration);
    if (seen.calls != 1) Fuzz::Fail("callback not called once");
    return 0;
}
