// Counts this thread's allocations through the global operator new, which
// this test program replaces (AllocationCounter.cpp).
#pragma once

#include <cstddef>

class AllocationCount {
public:
    AllocationCount();
    ~AllocationCount();
    // Stops counting and returns the allocations seen since construction.
    std::size_t Stop();
};
