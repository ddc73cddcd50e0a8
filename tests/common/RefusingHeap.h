// The throwing heap of a test program, which can be told to refuse its n-th allocation from now:
// set gThrowIn to n (0: the next one), and back to -1 for none. Replacing the global operator new,
// it is included by one source file of a program only.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long> gThrowIn{-1};  // allocations until the refused one; -1: none refused
// Set: memory stays exhausted, every allocation after the refused one is refused too.
inline std::atomic<bool> gKeepRefusing{false};

void* operator new(std::size_t size) {
    if (gThrowIn.load() >= 0 && gThrowIn.fetch_sub(1) == 0) {
        if (gKeepRefusing.load()) gThrowIn.store(0);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
