#include "animation/KFCurveKeyPool.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/KPlatformSystem.h"

namespace {

constexpr size_t kAlignment = size_t(2) << 20;  // a large page, where the system has them
constexpr size_t kPieceAlignment = 64;

struct Chunk {
    char* base;
    size_t size;
    size_t used;    // pieces are carved from the start on, never handed out twice
    size_t pieces;  // pieces not yet given back
};

struct Pool {
    KPlatformMutex lock;
    std::vector<Chunk> chunks;  // the last one is carved from
};

// Made once and never destroyed: curves freed by static destructors still find it.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

size_t RoundUp(size_t value, size_t unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace

namespace KFCurveKeyPool {

void* Allocate(size_t bytes) {
    if (bytes < kSmallestPiece || bytes > (size_t(1) << 40)) return nullptr;
    bytes = RoundUp(bytes, kPieceAlignment);
    Pool& pool = ThePool();
    KPlatformLock hold(pool.lock);
    if (!pool.chunks.empty()) {
        Chunk& last = pool.chunks.back();
        if (last.size - last.used >= bytes) {
            char* piece = last.base + last.used;
            last.used += bytes;
            ++last.pieces;
            return piece;
        }
    }
    const size_t size = std::max(kChunkSize, RoundUp(bytes, kAlignment));
    pool.chunks.reserve(pool.chunks.size() + 1);  // before the chunk: nothing to leak
    void* base = ::operator new(size, std::align_val_t(kAlignment), std::nothrow);
    if (!base) return nullptr;
    KPlatformPreferLargePages(base, size);
    pool.chunks.push_back(Chunk{static_cast<char*>(base), size, bytes, 1});
    return base;
}

void Free(void* piece, size_t bytes) {
    if (!piece) return;
    Pool& pool = ThePool();
    KPlatformLock hold(pool.lock);
    char* at = static_cast<char*>(piece);
    // The newest chunks first: curves tend to go in the order they came.
    for (size_t i = pool.chunks.size(); i-- > 0;) {
        Chunk& chunk = pool.chunks[i];
        if (at < chunk.base || at >= chunk.base + chunk.used) continue;
        if (--chunk.pieces == 0) {
            ::operator delete(chunk.base, std::align_val_t(kAlignment));
            pool.chunks.erase(pool.chunks.begin() + std::ptrdiff_t(i));
            return;
        }
        // The whole pages inside the piece: they read as zeros if ever touched again.
        const size_t page = KPlatformPageSize();
        const size_t offset = size_t(at - chunk.base);
        const size_t end = std::min(offset + RoundUp(bytes, kPieceAlignment), chunk.used);
        const size_t from = RoundUp(offset, page), to = end / page * page;
        if (to > from) KPlatformDiscardPages(chunk.base + from, to - from);
        return;
    }
}

size_t GetChunkCount() {
    Pool& pool = ThePool();
    KPlatformLock hold(pool.lock);
    return pool.chunks.size();
}

}  // namespace KFCurveKeyPool
