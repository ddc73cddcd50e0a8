#pragma once
// A set of non-negative integers kept as 32-bit words in sorted blocks of consecutive words.
// Copies share the block directory and the blocks until one of them writes (copy-on-write).
// Block memory comes from the bit-array memory pool when the pools are active.

#include <cstdint>

class KBitArray {
public:
    KBitArray() = default;
    KBitArray(const KBitArray& other);
    KBitArray& operator=(const KBitArray& other);
    ~KBitArray();

    // Negative indices are ignored.
    void SetBit(int n);
    void ClearBit(int n);
    bool GetBit(int n) const;

    // The first bit from 0 with the wanted value; -1 (found false) when there is none.
    int FindFirst(bool value, bool* found = nullptr) const;
    // The first bit at or after `from` with the wanted value; the gaps between blocks are
    // clear bits.
    int FindNext(int from, bool value, bool* found = nullptr) const;
    // The highest set bit; -1 when none.
    int FindLastSetBit() const;

    // Empties the array (drops one reference when the directory is shared).
    void FreeBlocks();

    // Inspection for tests and statistics.
    int GetBlockCount() const;
    bool SharesWith(const KBitArray& other) const;

private:
    struct Block;
    struct Directory;

    static Block* NewBlock(int64_t firstWord, int64_t wordCount);
    static void ReleaseBlock(Block* block);
    static Block* ResizeBlock(Block* block, int64_t firstWord, int64_t endWord);

    Block* GetBlockFor(int64_t firstWord, int64_t wordCount);
    int FindBlock(int64_t word) const;
    void MakeDirectoryUnique();
    Block* MakeBlockUnique(int slot);

    Directory* mDirectory = nullptr;
    mutable int mCachedIndex = -1;  // last block found; reset by every change
};
