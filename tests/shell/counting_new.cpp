// Replaces the global allocation functions with counting ones. Kept in a file of its own so that
// the compiler never sees a replaced new and delete inlined into one function.
#include "counting_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int64_t> allocations{0};
}

int64_t allocationCount() {
    return allocations.load();
}

void* operator new(size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
