#pragma once
// Key storage of a curve: fixed blocks of key records that never move once
// allocated, so growing a curve copies no key and a record's address stays
// valid while keys are appended. Only a table of block pointers grows. The
// blocks made by one Reserve come from one allocation, so a curve sized once
// (as a file read sizes it) walks its keys as one contiguous run. Long curves sized for a
// file read take their records from KFCurveKeyPool.

#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

#include "animation/KFCurveKeyPool.h"

template <typename Key>
class KFCurveKeyBlocks {
    // Records are plain data: copied with =, their memory freed without destructors.
    static_assert(std::is_trivially_copyable<Key>::value, "key records are plain data");
    static_assert(std::is_trivially_destructible<Key>::value, "key records are plain data");

public:
    static constexpr size_t kShift = 5;
    static constexpr size_t kBlockSize = size_t(1) << kShift;

    KFCurveKeyBlocks() = default;
    ~KFCurveKeyBlocks() { Release(); }
    KFCurveKeyBlocks(const KFCurveKeyBlocks&) = delete;
    KFCurveKeyBlocks& operator=(const KFCurveKeyBlocks&) = delete;

    size_t size() const { return mBlocks.size() << kShift; }

    Key& operator[](size_t i) { return mBlocks[i >> kShift].keys[i & (kBlockSize - 1)]; }
    const Key& operator[](size_t i) const {
        return mBlocks[i >> kShift].keys[i & (kBlockSize - 1)];
    }

    // Makes at least n value-initialised records addressable; never shrinks.
    void Reserve(size_t n) { Grow(n, 0); }
    // As Reserve, but the new records below n are left unset for a caller that writes each
    // one whole before reading it; the records from n on are value-initialised as usual.
    void ReserveForOverwrite(size_t n) { Grow(n, n); }

    // Records i .. the end of the contiguous memory holding it, at most `limit` of them.
    size_t Run(size_t i, size_t limit) const {
        size_t block = i >> kShift;
        size_t end = (block + 1) << kShift;
        while (end < limit && block + 1 < mBlocks.size() && mBlocks[block + 1].owner == kShared) {
            ++block;
            end += kBlockSize;
        }
        return (end < limit ? end : limit) - i;
    }

    void Swap(KFCurveKeyBlocks& other) { mBlocks.swap(other.mBlocks); }

    void Release() {
        for (size_t b = 0; b < mBlocks.size();) {
            size_t end = b + 1;
            while (end < mBlocks.size() && mBlocks[end].owner == kShared) ++end;
            if (mBlocks[b].owner == kHeap) ::operator delete(static_cast<void*>(mBlocks[b].keys));
            if (mBlocks[b].owner == kPool)
                KFCurveKeyPool::Free(mBlocks[b].keys, ((end - b) << kShift) * sizeof(Key));
            b = end;
        }
        std::vector<Block>().swap(mBlocks);
    }

    // Moves records [first, last) to end at dest (dest >= last), last record first.
    void MoveBackward(size_t first, size_t last, size_t dest) {
        while (last > first) (*this)[--dest] = (*this)[--last];
    }
    // Moves records [first, last) down to start at dest (dest <= first).
    void MoveForward(size_t first, size_t last, size_t dest) {
        while (first < last) (*this)[dest++] = (*this)[first++];
    }

private:
    // The first block of each allocation owns it (from the heap or the pool); the blocks
    // after it share it.
    enum Owner : unsigned char { kShared, kHeap, kPool };
    struct Block {
        Key* keys;
        Owner owner;
    };

    // New records from index `unsetBelow` on are value-initialised; those below it are not.
    void Grow(size_t n, size_t unsetBelow) {
        const size_t old = size();
        if (n <= old) return;
        const size_t blocks = (n - old + kBlockSize - 1) >> kShift;
        const size_t records = blocks << kShift;
        mBlocks.reserve(mBlocks.size() + blocks);  // before the allocation: nothing to leak
        void* pooled = unsetBelow > old ? KFCurveKeyPool::Allocate(records * sizeof(Key)) : nullptr;
        Key* at = static_cast<Key*>(pooled ? pooled : ::operator new(records * sizeof(Key)));
        const size_t from = unsetBelow > old ? unsetBelow - old : 0;
        for (size_t r = from; r < records; ++r) new (at + r) Key();
        const Owner first = pooled ? kPool : kHeap;
        for (size_t b = 0; b < blocks; ++b)
            mBlocks.push_back(Block{at + (b << kShift), b == 0 ? first : kShared});
    }

    std::vector<Block> mBlocks;
};
