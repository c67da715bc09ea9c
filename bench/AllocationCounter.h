// Counts the allocations made through the global operator new, per thread.
// The replaced operators live in AllocationCounter.cpp of the bench program.
#pragma once

#include <cstdint>

namespace Bench {

// Allocations made so far by the calling thread.
uint64_t ThreadAllocations();

}  // namespace Bench
