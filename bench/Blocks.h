// SDK data events shaped like the simulated device's blocks, for the bench.
#pragma once

#include "SdkContract.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Bench {

using EventRef = Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs>;

// What one block holds: 36 sensors (EMG, orientation, accelerometer,
// gyroscope, magnetometer), sync, foot switches, two insoles with their
// inertial units, 32 analog channels. Rates in samples per second.
struct BlockShape {
    const char* name;
    int period_us;
    int emgHz = 2000;
    int inertialHz = 100;
    int footSwHz = 500;
    int insoleHz = 100;
    int analogHz = 2000;
};

// The device's defaults with 10 ms blocks.
BlockShape RealisticShape();
// Every stream at its highest rate, 10 ms blocks.
BlockShape FullRateShape();
// Every stream at its highest rate, 100 ms blocks.
BlockShape LargeShape();

// A fresh event of `shape` with pseudo-random samples (`seed`).
EventRef MakeEvent(const BlockShape& shape, unsigned seed);
// `count` distinct events, so that flattening does not always read the
// same memory.
std::vector<EventRef> MakePool(const BlockShape& shape, std::size_t count);

// Bytes of sample data in the event's arrays (what flattening reads).
std::size_t PayloadBytes(const Quelto::Common::Definitions::DataAvailableEventArgs& e);
// Arrays of the event with at least one element (buffers a record fills).
int NonEmptyArrays(const Quelto::Common::Definitions::DataAvailableEventArgs& e);

// Calls `f(data, bytes)` for every array of the event that has elements.
template <class F>
void ForEachArray(const Quelto::Common::Definitions::DataAvailableEventArgs& e, F&& f) {
    auto one = [&](const auto& a) {
        if (a && a->Length() > 0) f(static_cast<const void*>(a->Data()), a->Length() * sizeof(*a->Data()));
    };
    one(e.EmgSamples);
    one(e.ImuSamples);
    one(e.AccelerometerSamples);
    one(e.GyroscopeSamples);
    one(e.MagnetometerSamples);
    one(e.SyncSamples);
    one(e.SensorStates);
    one(e.FootSwSamples);
    one(e.FootSwRawSamples);
    one(e.FootSwSensorStates);
    one(e.RemoteControlEvents);
    one(e.AnalogSamples);
    one(e.AnalogStates);
    one(e.InsoleSamples);
    one(e.InsoleImuSamples);
    one(e.InsoleAccelerometerSamples);
    one(e.InsoleGyroscopeSamples);
    one(e.InsoleStates);
}

}  // namespace Bench
