// Replaces the global allocator of the test executable whose one source includes this header,
// so that tests can make allocations fail on the current thread, and count the blocks allocated
// while counting is on (on the thread that turned it on) that are not freed yet, wherever they
// are freed.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace OmbrelTest {

struct AllocationFailures {
    bool armed = false;
    long count = 0;   // allocations made while armed
    long failAt = -1; // the armed allocation that throws, counted from 0; -1: every one
};

inline thread_local AllocationFailures allocationFailures;
inline thread_local bool countingAllocations = false;
// When set, blocks allocated while it answers true are not counted.
inline bool (*uncountedNow)() = nullptr;
inline std::atomic<long> countedBlocksLive{0};

// Every block carries a header saying whether it is counted; 16 bytes keep the alignment.
constexpr std::size_t kBlockHeader = 16;

inline void* allocateOrFail(std::size_t n) {
    AllocationFailures& a = allocationFailures;
    if (a.armed) {
        const long n_th = a.count++;
        if (a.failAt < 0 || n_th == a.failAt)
            throw std::bad_alloc();
    }
    auto* block = static_cast<unsigned char*>(std::malloc(n + kBlockHeader));
    if (block == nullptr)
        throw std::bad_alloc();
    const bool counted = countingAllocations && (uncountedNow == nullptr || !uncountedNow());
    *block = counted ? 1 : 0;
    if (counted)
        ++countedBlocksLive;
    return block + kBlockHeader;
}

inline void freeBlock(void* p) noexcept {
    if (p == nullptr)
        return;
    auto* block = static_cast<unsigned char*>(p) - kBlockHeader;
    if (*block == 1)
        --countedBlocksLive;
    std::free(block);
}

} // namespace OmbrelTest

void* operator new(std::size_t n) {
    return OmbrelTest::allocateOrFail(n);
}
void* operator new[](std::size_t n) {
    return OmbrelTest::allocateOrFail(n);
}
void operator delete(void* p) noexcept {
    OmbrelTest::freeBlock(p);
}
void operator delete[](void* p) noexcept {
    OmbrelTest::freeBlock(p);
}
void operator delete(void* p, std::size_t) noexcept {
    OmbrelTest::freeBlock(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    OmbrelTest::freeBlock(p);
}
