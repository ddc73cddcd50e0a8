#include "foundation/KMemoryPool.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/KPlatformSystem.h"

namespace {

const size_t kHeaderSize = 8;
const unsigned kMaxAlignmentShift = 8;  // the header keeps 8 bits of offset
const int kMaxBucketShift = 16;
const size_t kMaxBuckets = size_t(1) << 24;

// Header: rounded size in the upper 56 bits, alignment offset in the low 8 bits.
void WriteHeader(void* block, size_t rounded, size_t offset) {
    uint64_t packed = (uint64_t(rounded) << 8) | uint64_t(offset & 0xFF);
    memcpy(static_cast<char*>(block) + offset, &packed, sizeof(packed));
}

void ReadHeader(const void* user, size_t& rounded, size_t& offset) {
    uint64_t packed;
    memcpy(&packed, static_cast<const char*>(user) - kHeaderSize, sizeof(packed));
    rounded = size_t(packed >> 8);
    offset = size_t(packed & 0xFF);
}

// Places the header so that the user pointer is aligned to 2^alignmentShift.
void* Finish(void* block, size_t rounded, unsigned alignmentShift) {
    uintptr_t alignment = uintptr_t(1) << alignmentShift;
    uintptr_t p = reinterpret_cast<uintptr_t>(block) + kHeaderSize;
    size_t offset = size_t((alignment - p % alignment) % alignment);
    WriteHeader(block, rounded, offset);
    return static_cast<char*>(block) + offset + kHeaderSize;
}

void* BlockStart(void* user, size_t offset) {
    return static_cast<char*>(user) - kHeaderSize - offset;
}

size_t Round(size_t size, int bucketShift, unsigned alignmentShift) {
    size_t extra = kHeaderSize - 1 + (size_t(1) << alignmentShift);
    size_t granule = size_t(1) << bucketShift;
    if (size > SIZE_MAX - extra - granule) return 0;
    size_t raw = size + extra;
    return (raw + granule - 1) & ~(granule - 1);
}

struct PoolList {
    std::vector<std::unique_ptr<KMemoryPool>> pools;
    KMemoryPool* defaultPool = nullptr;
    KMemoryPool* bitArrayPool = nullptr;
};

PoolList* gPools = nullptr;

}  // namespace

void* KDefaultAllocator::Malloc(size_t size) {
    return std::malloc(size);
}
void* KDefaultAllocator::Realloc(void* pointer, size_t size) {
    return std::realloc(pointer, size);
}
void KDefaultAllocator::Free(void* pointer) {
    std::free(pointer);
}

bool KMemoryPool::SettingsValid(size_t largestSize, int bucketShift, unsigned alignmentShift) {
    if (alignmentShift > kMaxAlignmentShift) return false;
    if (bucketShift < 0 || bucketShift > kMaxBucketShift) return false;
    return largestSize == 0 || ((largestSize - 1) >> bucketShift) < kMaxBuckets;
}

KMemoryPool::KMemoryPool(size_t largestSize, int bucketShift, unsigned alignmentShift,
                         size_t byteCeiling)
    : mLock(new KPlatformMutex),
      mLargestSize(largestSize),
      mBucketShift(bucketShift),
      mBucketMask(0),
      mAlignmentShift(alignmentShift),
      mByteCeiling(byteCeiling),
      mValid(SettingsValid(largestSize, bucketShift, alignmentShift)) {
    if (!mValid) return;
    mBucketMask = (size_t(1) << bucketShift) - 1;
    if (largestSize > 0) mBuckets.assign(((largestSize - 1) >> bucketShift) + 1, nullptr);
}

KMemoryPool::~KMemoryPool() {
    FreeAll();
}

size_t KMemoryPool::RoundedSize(size_t size) const {
    return mValid ? Round(size, mBucketShift, mAlignmentShift) : 0;
}

bool KMemoryPool::Pooled(size_t rounded) const {
    return !mBuckets.empty() && rounded >= kHeaderSize && rounded < mLargestSize;
}

void* KMemoryPool::Alloc(KMemoryAllocator& allocator, size_t size) {
    size_t rounded = RoundedSize(size);
    if (rounded == 0) return nullptr;
    if (Pooled(rounded)) {
        KPlatformLock lock(*mLock);
        void*& head = mBuckets[rounded >> mBucketShift];
        if (head) {
            void* block = head;
            memcpy(&head, block, sizeof(void*));
            return Finish(block, rounded, mAlignmentShift);
        }
    }
    void* block = allocator.Malloc(rounded);
    if (!block) return nullptr;
    {
        KPlatformLock lock(*mLock);
        mBytesOut += rounded;
        ++mBlocksOut;
    }
    return Finish(block, rounded, mAlignmentShift);
}

void KMemoryPool::Free(KMemoryAllocator& allocator, void* pointer) {
    if (!pointer) return;
    size_t rounded, offset;
    ReadHeader(pointer, rounded, offset);
    void* block = BlockStart(pointer, offset);
    {
        KPlatformLock lock(*mLock);
        if (Pooled(rounded) && !(mByteCeiling && mBytesOut > mByteCeiling)) {
            void*& head = mBuckets[rounded >> mBucketShift];
            memcpy(block, &head, sizeof(void*));
            head = block;
            return;
        }
        // A block from a pool that was shut down is not in these counters.
        mBytesOut -= rounded <= mBytesOut ? rounded : mBytesOut;
        if (mBlocksOut) --mBlocksOut;
    }
    allocator.Free(block);
}

void* KMemoryPool::Realloc(KMemoryAllocator& allocator, void* pointer, size_t size) {
    void* fresh = Alloc(allocator, size);
    if (!fresh || !pointer) return fresh;
    size_t old = UsableSize(pointer);
    memcpy(fresh, pointer, old < size ? old : size);
    Free(allocator, pointer);
    return fresh;
}

void* KMemoryPool::AllocDefault(size_t size) {
    KDefaultAllocator allocator;
    return Alloc(allocator, size);
}

void KMemoryPool::FreeDefault(void* pointer) {
    KDefaultAllocator allocator;
    Free(allocator, pointer);
}

void* KMemoryPool::ReallocDefault(void* pointer, size_t size) {
    KDefaultAllocator allocator;
    return Realloc(allocator, pointer, size);
}

void KMemoryPool::FreeAll() {
    KPlatformLock lock(*mLock);
    for (size_t index = 0; index < mBuckets.size(); ++index) {
        void* block = mBuckets[index];
        while (block) {
            void* next;
            memcpy(&next, block, sizeof(void*));
            std::free(block);
            size_t rounded = index << mBucketShift;
            mBytesOut -= rounded <= mBytesOut ? rounded : mBytesOut;
            if (mBlocksOut) --mBlocksOut;
            block = next;
        }
        mBuckets[index] = nullptr;
    }
}

size_t KMemoryPool::GetFreeBlockCount() const {
    KPlatformLock lock(*mLock);
    size_t count = 0;
    for (void* block : mBuckets) {
        while (block) {
            ++count;
            memcpy(&block, block, sizeof(void*));
        }
    }
    return count;
}

size_t KMemoryPool::UsableSize(const void* pointer) {
    if (!pointer) return 0;
    size_t rounded, offset;
    ReadHeader(pointer, rounded, offset);
    return rounded - kHeaderSize - offset;
}

void KMemoryPool::FreeUnpooled(KMemoryAllocator& allocator, void* pointer) {
    if (!pointer) return;
    size_t rounded, offset;
    ReadHeader(pointer, rounded, offset);
    allocator.Free(BlockStart(pointer, offset));
}

void* KMemoryPool::AllocUnpooled(KMemoryAllocator& allocator, size_t size, int bucketShift) {
    if (bucketShift < 0 || bucketShift > kMaxBucketShift) return nullptr;
    size_t rounded = Round(size, bucketShift, 0);
    if (rounded == 0) return nullptr;
    void* block = allocator.Malloc(rounded);
    return block ? Finish(block, rounded, 0) : nullptr;
}

KMemoryPool* KMemoryPoolCreate(size_t largestSize, int bucketShift, unsigned alignmentShift,
                               size_t byteCeiling) {
    if (!gPools || !KMemoryPool::SettingsValid(largestSize, bucketShift, alignmentShift))
        return nullptr;
    // Owned before the list grows: a list that cannot grow leaves no pool behind.
    std::unique_ptr<KMemoryPool> pool(
        new KMemoryPool(largestSize, bucketShift, alignmentShift, byteCeiling));
    gPools->pools.push_back(std::move(pool));
    return gPools->pools.back().get();
}

void KMemoryPoolsInit() {
    if (gPools) return;
    gPools = new PoolList;
    gPools->defaultPool = KMemoryPoolCreate(0x20000, 2, 0, 0);
}

void KMemoryPoolsShutdown() {
    delete gPools;  // each pool empties its free lists as it goes
    gPools = nullptr;
}

bool KMemoryPoolsActive() {
    return gPools != nullptr;
}

KMemoryPool* KMemoryPoolDefault() {
    return gPools ? gPools->defaultPool : nullptr;
}

KMemoryPool* KMemoryPoolBitArray() {
    if (!gPools) return nullptr;
    if (!gPools->bitArrayPool) gPools->bitArrayPool = KMemoryPoolCreate(0x20000, 2, 0, 0x200000);
    return gPools->bitArrayPool;
}
