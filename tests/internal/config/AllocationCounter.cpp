// Replaced global allocation functions, kept in their own file so that no
// caller sees malloc and free inlined behind new and delete.
#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_counting = false;
thread_local std::size_t t_allocations = 0;
}  // namespace

AllocationCount::AllocationCount() {
    t_allocations = 0;
    t_counting = true;
}
AllocationCount::~AllocationCount() { t_counting = false; }
std::size_t AllocationCount::Stop() {
    t_counting = false;
    return t_allocations;
}

void* operator new(std::size_t size) {
    if (t_counting) ++t_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_counting) ++t_allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
