// Replaced global allocation functions, kept in their own file so that no
// caller sees malloc and free inlined behind new and delete. Every thread of
// the process counts, the SDK libraries' threads included.
#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
// Per thread only: a shared atomic would slow every allocation of the
// micro benchmarks.
thread_local uint64_t t_allocations = 0;

void Count() { ++t_allocations; }
}  // namespace

namespace Bench {
uint64_t ThreadAllocations() { return t_allocations; }
}  // namespace Bench

void* operator new(std::size_t size) {
    Count();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size) {
    Count();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
