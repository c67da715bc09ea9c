// Makes the data blocks of the simulated device.
#pragma once

#include "SdkContract.h"

#include <chrono>
#include <cstdint>

namespace QueltoSim {

// Block period of each DataAvailableEventPeriod number: 0 -> 100 ms,
// 1 -> 50 ms, 2 -> 25 ms, 3 -> 10 ms; other numbers -> 100 ms.
std::chrono::microseconds BlockPeriod(Quelto::Common::Definitions::DataAvailableEventPeriod period);

class BlockGenerator {
public:
    static constexpr int SensorCount = 36;
    static constexpr int EmgRateHz = 2000;

    explicit BlockGenerator(uint64_t seed = 1);

    void Reset(std::chrono::microseconds period);
    // The next block; scan numbers count samples without gaps.
    Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> Next();

private:
    uint64_t seed_;
    std::chrono::microseconds period_{100000};
    int32_t scan_ = 0;
};

}  // namespace QueltoSim
