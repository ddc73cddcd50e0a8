#pragma once
// Size-class pools of small heap blocks. Each block carries an 8-byte header in front of the
// user pointer (rounded size and alignment offset), so a released block goes back to the
// free list of its size class, or to its allocator, without a lookup.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class KPlatformMutex;

class KMemoryAllocator {
public:
    virtual ~KMemoryAllocator() = default;
    virtual void* Malloc(size_t size) = 0;
    virtual void* Realloc(void* pointer, size_t size) = 0;
    virtual void Free(void* pointer) = 0;
};

// The C heap.
class KDefaultAllocator : public KMemoryAllocator {
public:
    void* Malloc(size_t size) override;
    void* Realloc(void* pointer, size_t size) override;
    void Free(void* pointer) override;
};

class KMemoryPool {
public:
    // Blocks whose rounded size is below `largestSize` are pooled, in classes that are
    // multiples of 2^bucketShift bytes; user pointers are aligned to 2^alignmentShift bytes;
    // with a `byteCeiling` (0 = none), releases while more bytes than that are out go back
    // to the allocator. A pool built with impossible settings (see IsValid) never pools and
    // its Alloc returns null.
    KMemoryPool(size_t largestSize, int bucketShift, unsigned alignmentShift, size_t byteCeiling);
    ~KMemoryPool();
    KMemoryPool(const KMemoryPool&) = delete;
    KMemoryPool& operator=(const KMemoryPool&) = delete;

    // Alignment shift at most 8 (the header keeps 8 bits of offset), bucket shift 0..16, and
    // no more than 2^24 size classes.
    static bool SettingsValid(size_t largestSize, int bucketShift, unsigned alignmentShift);
    bool IsValid() const { return mValid; }

    void* Alloc(KMemoryAllocator& allocator, size_t size);
    void Free(KMemoryAllocator& allocator, void* pointer);  // null is ignored
    // A null pointer allocates; a failed allocation leaves the old block untouched.
    void* Realloc(KMemoryAllocator& allocator, void* pointer, size_t size);

    void* AllocDefault(size_t size);
    void FreeDefault(void* pointer);
    void* ReallocDefault(void* pointer, size_t size);

    // Frees every block on the free lists to the C heap; the counters drop by what was freed.
    void FreeAll();

    // Rounded size for a request (0 when it overflows); the size class of the block.
    size_t RoundedSize(size_t size) const;
    size_t GetBytesOut() const { return mBytesOut; }
    size_t GetBlocksOut() const { return mBlocksOut; }
    // Blocks waiting on the free lists.
    size_t GetFreeBlockCount() const;

    // Usable bytes of a block handed out by any pool (its rounded size less header and
    // padding).
    static size_t UsableSize(const void* pointer);
    // Returns a block to `allocator` directly, for blocks whose pool is gone.
    static void FreeUnpooled(KMemoryAllocator& allocator, void* pointer);
    // A block with a pool header, straight from `allocator` (alignment 0, the given class
    // shift); null on failure.
    static void* AllocUnpooled(KMemoryAllocator& allocator, size_t size, int bucketShift);

private:
    bool Pooled(size_t rounded) const;

    std::unique_ptr<KPlatformMutex> mLock;
    std::vector<void*> mBuckets;
    size_t mLargestSize;
    int mBucketShift;
    size_t mBucketMask;
    unsigned mAlignmentShift;
    size_t mByteCeiling;
    size_t mBytesOut = 0;
    size_t mBlocksOut = 0;
    bool mValid;
};

// The global pool list. Creating a pool before KMemoryPoolsInit (or after the shutdown)
// returns null, as do impossible settings.
KMemoryPool* KMemoryPoolCreate(size_t largestSize, int bucketShift, unsigned alignmentShift,
                               size_t byteCeiling);
void KMemoryPoolsInit();
// Empties and deletes every pool; pointers obtained from KMemoryPoolDefault and
// KMemoryPoolBitArray are invalid afterwards (ask again: they answer null until the next
// init). Blocks still out remain valid and can be released with FreeUnpooled.
void KMemoryPoolsShutdown();
bool KMemoryPoolsActive();
KMemoryPool* KMemoryPoolDefault();
// The pool of bit-array blocks, created on first use while the pools are active; null
// otherwise.
KMemoryPool* KMemoryPoolBitArray();
