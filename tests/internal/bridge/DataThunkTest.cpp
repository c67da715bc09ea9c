#include "DataThunk.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Received {
    int calls = 0;
    void* context = nullptr;
    unsigned char bytes[sizeof(Quelto_DataAvailableEventArgs_C)];
    Quelto_DataAvailableEventArgs_C record;
    std::vector<float> emg;
};

void QUELTO_CALL Capture(const Quelto_DataAvailableEventArgs_C* args, void* context) {
    auto* r = static_cast<Received*>(context);
    ++r->calls;
    r->context = context;
    std::memcpy(r->bytes, args, sizeof r->bytes);
    r->record = *args;
    r->emg.assign(args->EmgSamples.data, args->EmgSamples.data + args->EmgSamples.count);
}

Quelto_DataAvailableEventArgs Sample() {
    Quelto_DataAvailableEventArgs n;
    n.ScanNumber = 77;
    n.EmgSamples = {1, 2, 3, 4, 5, 6};
    n.RemoteControlEvents = {1, 65535, 3};
    n.AnalogStates = {-32768, 0, 32767};
    n.StopTriggerDetected = true;
    n.UsbLowPerformance = true;
    n.InsoleImuScanNumber = 12;
    n.AnalogSpare = 5;
    return n;
}

}  // namespace

TEST(DataThunk, PaddingBytesAreZeroAndViewsPointIntoTheNativeRecord) {
    const Quelto_DataAvailableEventArgs n = Sample();
    Quelto_DataAvailableEventArgs_C c;
    std::memset(&c, 0xAB, sizeof c);  // garbage the fill must overwrite
    FillCView(n, c);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&c);
    const std::pair<int, int> padding[] = {{4, 8},     {198, 200}, {210, 212}, {222, 224},
                                           {241, 244}, {252, 256}, {340, 344}};
    for (auto [from, to] : padding)
        for (int i = from; i < to; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
    // The 4 padding bytes inside every view are zero too.
    for (int view = 8; view < 168; view += 16)
        for (int i = 12; i < 16; ++i) EXPECT_EQ(bytes[view + i], 0) << "view at " << view;
    EXPECT_EQ(c.EmgSamples.data, n.EmgSamples.data());
    EXPECT_EQ(c.EmgSamples.count, 6u);
    EXPECT_EQ(c.RemoteControlEvents.count, 3u);
    EXPECT_EQ(c.RemoteControlEvents.data[1], 65535);
    EXPECT_EQ(c.AnalogStates.count, 3u);
    EXPECT_EQ(c.AnalogStates.data[0], -32768);
    EXPECT_EQ(c.ImuSamples.data, nullptr);  // empty buffer
    EXPECT_EQ(c.ImuSamples.count, 0u);
    EXPECT_EQ(c.ScanNumber, 77);
    EXPECT_TRUE(c.StopTriggerDetected);
    EXPECT_FALSE(c.StartTriggerDetected);
    EXPECT_TRUE(c.UsbLowPerformance);
    EXPECT_EQ(c.InsoleImuScanNumber, 12);
    EXPECT_EQ(c.AnalogSpare, 5);
}

TEST(DataThunk, CallsTheHostWithItsContextAndNullCallbackCallsNothing) {
    Received r;
    CRegistration registration{&Capture, &r};
    Bridge_DataThunk(Sample(), &registration);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.context, &r);
    EXPECT_EQ(r.emg, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r.record.AnalogStates.count, 3u);

    CRegistration none{nullptr, &r};
    Bridge_DataThunk(Sample(), &none);
    EXPECT_EQ(r.calls, 1);
}
