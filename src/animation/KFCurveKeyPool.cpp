#include "animation/KFCurveKeyPool.h"

#include <algorithm>
#include <cstdint>
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
    // On large pages: pieces not yet given back on each large page of the chunk. A large page
    // goes back whole once none is left on it, never split by giving back a piece's pages.
    // Empty on small pages, where a piece's pages go back as soon as it is freed.
    std::vector<uint32_t> live;
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

// Counts a piece in, or out of, the large pages it lies on; the large pages left with none
// that no piece will be carved from any more are given back (`carving`: pieces are still
// carved from the chunk).
void Count(Chunk& chunk, size_t offset, size_t bytes, bool in, bool carving) {
    if (chunk.live.empty()) return;
    const size_t first = offset / kAlignment, last = (offset + bytes - 1) / kAlignment;
    for (size_t r = first; r <= last && r < chunk.live.size(); ++r) {
        if (in) {
            ++chunk.live[r];
        } else if (--chunk.live[r] == 0 && (!carving || (r + 1) * kAlignment <= chunk.used)) {
            KPlatformDiscardPages(chunk.base + r * kAlignment, kAlignment);
        }
    }
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
            const size_t offset = last.used;
            last.used += bytes;
            ++last.pieces;
            Count(last, offset, bytes, true, true);
            return last.base + offset;
        }
    }
    // Chunks come from the system, not the heap: freed, they go back whole, and a new one is
    // fresh memory the system can back with large pages.
    const size_t size = std::max(kChunkSize, RoundUp(bytes, kAlignment));
    pool.chunks.reserve(pool.chunks.size() + 1);  // before the chunk: nothing to leak
    Chunk chunk{nullptr, size, bytes, 1, std::vector<uint32_t>(size / kAlignment, 0)};
    void* base = KPlatformAllocatePages(size, kAlignment);
    if (!base) return nullptr;
    chunk.base = static_cast<char*>(base);
    if (KPlatformPreferLargePages(base, size) == 0) chunk.live.clear();
    // The large pages past the first piece (or the second half of a piece alone) are made
    // present beside the fill of the first: the next pieces of a file's curves land there.
    const size_t aside = RoundUp(bytes < size ? bytes : size / 2, kAlignment);
    if (aside < size) KPlatformPrefaultAside(chunk.base + aside, size - aside);
    Count(chunk, 0, bytes, true, true);
    pool.chunks.push_back(std::move(chunk));
    return base;
}

void Free(void* piece, size_t bytes) {
    if (!piece) return;
    bytes = RoundUp(bytes, kPieceAlignment);
    Pool& pool = ThePool();
    KPlatformLock hold(pool.lock);
    char* at = static_cast<char*>(piece);
    // The newest chunks first: curves tend to go in the order they came.
    for (size_t i = pool.chunks.size(); i-- > 0;) {
        Chunk& chunk = pool.chunks[i];
        if (at < chunk.base || at >= chunk.base + chunk.used) continue;
        if (--chunk.pieces == 0) {
            KPlatformFreePages(chunk.base, chunk.size);
            pool.chunks.erase(pool.chunks.begin() + std::ptrdiff_t(i));
            return;
        }
        const size_t offset = size_t(at - chunk.base);
        const size_t end = std::min(offset + bytes, chunk.used);
        if (!chunk.live.empty()) {
            Count(chunk, offset, end - offset, false, i + 1 == pool.chunks.size());
            return;
        }
        // The whole pages inside the piece: they read as zeros if ever touched again.
        KPlatformDiscardPagesInside(chunk.base + offset, end - offset);
        return;
    }
}

size_t GetChunkCount() {
    Pool& pool = ThePool();
    KPlatformLock hold(pool.lock);
    return pool.chunks.size();
}

}  // namespace KFCurveKeyPool
