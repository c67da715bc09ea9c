#include "BlockGenerator.h"

#include <cmath>

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

std::chrono::microseconds BlockPeriod(D::DataAvailableEventPeriod period) {
    switch (static_cast<int32_t>(period)) {
        case 1: return std::chrono::microseconds(50000);
        case 2: return std::chrono::microseconds(25000);
        case 3: return std::chrono::microseconds(10000);
        default: return std::chrono::microseconds(100000);
    }
}

BlockGenerator::BlockGenerator(uint64_t seed) : seed_(seed) {}

void BlockGenerator::Reset(std::chrono::microseconds period) {
    period_ = period;
    scan_ = 0;
}

Runtime::Ref<D::DataAvailableEventArgs> BlockGenerator::Next() {
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    const int samples = static_cast<int>(EmgRateHz * period_.count() / 1000000);
    e->ScanNumber = scan_;
    e->EmgSamples = Runtime::NewArray<float>(SensorCount, samples);
    for (int s = 0; s < SensorCount; ++s) {
        for (int i = 0; i < samples; ++i) {
            const double t = static_cast<double>(scan_ + i) / EmgRateHz;
            (*e->EmgSamples)(s, i) = static_cast<float>(1e-4 * std::sin(2 * M_PI * (50.0 + s + static_cast<double>(seed_ % 7)) * t));
        }
    }
    e->SensorStates = Runtime::NewArray<int16_t>(SensorCount);
    scan_ += samples;
    return e;
}

}  // namespace QueltoSim
