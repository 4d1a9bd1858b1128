// Replaces the global allocator of the test executable whose one source includes this header,
// so that tests can make allocations fail on the current thread.
#pragma once

#include <cstdlib>
#include <new>

namespace OmbrelTest {

struct AllocationFailures {
    bool armed = false;
    long count = 0;   // allocations made while armed
    long failAt = -1; // the armed allocation that throws, counted from 0; -1: every one
};

inline thread_local AllocationFailures allocationFailures;

inline void* allocateOrFail(std::size_t n) {
    AllocationFailures& a = allocationFailures;
    if (a.armed) {
        const long n_th = a.count++;
        if (a.failAt < 0 || n_th == a.failAt)
            throw std::bad_alloc();
    }
    if (void* p = std::malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace OmbrelTest

void* operator new(std::size_t n) {
    return OmbrelTest::allocateOrFail(n);
}
void* operator new[](std::size_t n) {
    return OmbrelTest::allocateOrFail(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
