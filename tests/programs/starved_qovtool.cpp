// qovtool with a heap that holds at most QOV_HEAP_LIMIT bytes at once: an allocation past that
// throws std::bad_alloc (the no-throw forms give null), as under an address-space limit, which
// the sanitizers' own reservations leave no room for. With QOV_HEAP_PEAK set, the most the heap
// held at once is written to stderr at exit ("heap peak N"). The tool's own sources are built
// in beside this file.
#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> gHeld{0};
std::atomic<size_t> gPeak{0};

size_t Limit() {
    static const size_t limit = [] {
        const char* text = std::getenv("QOV_HEAP_LIMIT");
        return text && *text ? size_t(std::strtoull(text, nullptr, 10)) : SIZE_MAX;
    }();
    return limit;
}

void* Take(size_t size, size_t alignment) {
    const size_t limit = Limit();
    if (size == 0) size = 1;
    void* p = alignment > alignof(std::max_align_t)
                  ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                  : std::malloc(size);
    if (!p) return nullptr;
    const size_t got = malloc_usable_size(p);
    const size_t held = gHeld.fetch_add(got) + got;
    if (held > limit) {
        gHeld.fetch_sub(got);
        std::free(p);
        return nullptr;
    }
    size_t peak = gPeak.load();
    while (held > peak && !gPeak.compare_exchange_weak(peak, held)) {
    }
    return p;
}

void Give(void* p) {
    if (!p) return;
    gHeld.fetch_sub(malloc_usable_size(p));
    std::free(p);
}

void* TakeOrThrow(size_t size, size_t alignment) {
    void* p = Take(size, alignment);
    if (!p) throw std::bad_alloc();
    return p;
}

struct PeakReport {
    ~PeakReport() {
        if (std::getenv("QOV_HEAP_PEAK")) std::fprintf(stderr, "heap peak %zu\n", gPeak.load());
    }
} gPeakReport;

}  // namespace

void* operator new(size_t size) {
    return TakeOrThrow(size, 0);
}
void* operator new[](size_t size) {
    return TakeOrThrow(size, 0);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return Take(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return Take(size, 0);
}
void* operator new(size_t size, std::align_val_t a) {
    return TakeOrThrow(size, size_t(a));
}
void* operator new[](size_t size, std::align_val_t a) {
    return TakeOrThrow(size, size_t(a));
}
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Take(size, size_t(a));
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Take(size, size_t(a));
}
void operator delete(void* p) noexcept {
    Give(p);
}
void operator delete[](void* p) noexcept {
    Give(p);
}
void operator delete(void* p, size_t) noexcept {
    Give(p);
}
void operator delete[](void* p, size_t) noexcept {
    Give(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Give(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Give(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    Give(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    Give(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    Give(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    Give(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    Give(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    Give(p);
}
