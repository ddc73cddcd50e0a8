// Replaces the global operator new and delete of the programs it is linked into.
#include "common/RefusingHeap.h"

#include <cstdlib>
#include <new>

std::atomic<long> gThrowIn{-1};
std::atomic<bool> gKeepRefusing{false};
std::atomic<bool> gRefuseAll{false};
std::atomic<long> gNoThrowRefuseIn{-1};

namespace {

// Null when this allocation is refused.
void* Take(std::size_t size) {
    if (gRefuseAll.load()) return nullptr;
    if (gThrowIn.load() >= 0 && gThrowIn.fetch_sub(1) == 0) {
        if (gKeepRefusing.load()) gRefuseAll = true;
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

void* TakeOrThrow(std::size_t size) {
    if (void* p = Take(size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return TakeOrThrow(size);
}
void* operator new[](std::size_t size) {
    return TakeOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (gNoThrowRefuseIn.load() >= 0 && gNoThrowRefuseIn.fetch_sub(1) == 0) return nullptr;
    return Take(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (gNoThrowRefuseIn.load() >= 0 && gNoThrowRefuseIn.fetch_sub(1) == 0) return nullptr;
    return Take(size);
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
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
