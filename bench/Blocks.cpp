#include "Blocks.h"

#include "Quelto_DataLayout.h"

#include <type_traits>

namespace Bench {

namespace D = Quelto::Common::Definitions;

namespace {

struct Rng {
    uint32_t state;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) * (1.0f / 16777216.0f) - 0.5f;
    }
};

int PerBlock(int rateHz, int period_us) { return static_cast<int>(static_cast<int64_t>(rateHz) * period_us / 1000000); }

template <class A>
void Fill(A& array, Rng& rng) {
    auto* p = array->Data();
    for (std::size_t i = 0; i < array->Length(); ++i) p[i] = static_cast<std::remove_reference_t<decltype(*p)>>(rng.Next() * 64);
}

}  // namespace

BlockShape RealisticShape() { return BlockShape{"realistic", 10000}; }
BlockShape FullRateShape() { return BlockShape{"full rate", 10000, 2000, 300, 2000, 100, 2000}; }
BlockShape LargeShape() { return BlockShape{"large", 100000, 2000, 300, 2000, 100, 2000}; }

EventRef MakeEvent(const BlockShape& s, unsigned seed) {
    constexpr int sensors = QUELTO_LAYOUT_SENSORS, switches = QUELTO_LAYOUT_FOOTSWITCHES,
                  insoles = QUELTO_LAYOUT_INSOLES;
    const int emg = PerBlock(s.emgHz, s.period_us), imu = PerBlock(s.inertialHz, s.period_us),
              fsw = PerBlock(s.footSwHz, s.period_us), ins = PerBlock(s.insoleHz, s.period_us),
              an = PerBlock(s.analogHz, s.period_us);
    Rng rng{seed * 2654435761u + 1};
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    e->ScanNumber = static_cast<int32_t>(seed) * emg;
    e->EmgSamples = Runtime::NewArray<float>(sensors, emg);
    e->ImuSamples = Runtime::NewArray<float>(sensors, imu, QUELTO_LAYOUT_QUATERNION);
    e->AccelerometerSamples = Runtime::NewArray<float>(sensors, imu, QUELTO_LAYOUT_AXES);
    e->GyroscopeSamples = Runtime::NewArray<float>(sensors, imu, QUELTO_LAYOUT_AXES);
    e->MagnetometerSamples = Runtime::NewArray<float>(sensors, imu, QUELTO_LAYOUT_AXES);
    e->SyncSamples = Runtime::NewArray<float>(emg);
    e->SensorStates = Runtime::NewArray<int16_t>(sensors);
    e->FootSwSamples = Runtime::NewArray<float>(switches, fsw);
    e->FootSwRawSamples = Runtime::NewArray<float>(switches, fsw, QUELTO_LAYOUT_TRANSDUCERS);
    e->FootSwSensorStates = Runtime::NewArray<int16_t>(switches);
    e->RemoteControlEvents = Runtime::NewArray<uint16_t>(0);
    e->InsoleSamples = Runtime::NewArray<float>(insoles, ins, QUELTO_LAYOUT_INSOLE_CELLS);
    e->InsoleImuSamples = Runtime::NewArray<float>(insoles, ins, QUELTO_LAYOUT_QUATERNION);
    e->InsoleAccelerometerSamples = Runtime::NewArray<float>(insoles, ins, QUELTO_LAYOUT_AXES);
    e->InsoleGyroscopeSamples = Runtime::NewArray<float>(insoles, ins, QUELTO_LAYOUT_AXES);
    e->InsoleStates = Runtime::NewArray<int16_t>(insoles);
    e->AnalogSamples = Runtime::NewArray<float>(QUELTO_LAYOUT_ANALOG_CHANNELS, an);
    e->AnalogStates = Runtime::NewArray<int16_t>(QUELTO_LAYOUT_ANALOG_CHANNELS);
    Fill(e->EmgSamples, rng);
    Fill(e->ImuSamples, rng);
    Fill(e->AccelerometerSamples, rng);
    Fill(e->GyroscopeSamples, rng);
    Fill(e->MagnetometerSamples, rng);
    Fill(e->SyncSamples, rng);
    Fill(e->SensorStates, rng);
    Fill(e->FootSwSamples, rng);
    Fill(e->FootSwRawSamples, rng);
    Fill(e->FootSwSensorStates, rng);
    Fill(e->InsoleSamples, rng);
    Fill(e->InsoleImuSamples, rng);
    Fill(e->InsoleAccelerometerSamples, rng);
    Fill(e->InsoleGyroscopeSamples, rng);
    Fill(e->InsoleStates, rng);
    Fill(e->AnalogSamples, rng);
    Fill(e->AnalogStates, rng);
    e->InsoleScanNumber = static_cast<int32_t>(seed) * ins;
    e->InsoleImuScanNumber = e->InsoleScanNumber;
    e->DataTransferRate = static_cast<int32_t>(PayloadBytes(*e) * 1000000ull / static_cast<unsigned>(s.period_us));
    return e;
}

std::vector<EventRef> MakePool(const BlockShape& shape, std::size_t count) {
    std::vector<EventRef> pool;
    pool.reserve(count);
    for (std::size_t i = 0; i < count; ++i) pool.push_back(MakeEvent(shape, static_cast<unsigned>(i)));
    return pool;
}

std::size_t PayloadBytes(const D::DataAvailableEventArgs& e) {
    std::size_t total = 0;
    ForEachArray(e, [&](const void*, std::size_t bytes) { total += bytes; });
    return total;
}

int NonEmptyArrays(const D::DataAvailableEventArgs& e) {
    int n = 0;
    ForEachArray(e, [&](const void*, std::size_t) { ++n; });
    return n;
}

}  // namespace Bench
