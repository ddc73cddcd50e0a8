#include "foundation/KBitArray.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "foundation/KMemoryPool.h"

namespace {

const int kWordShift = 5;  // log2 of the 32 bits of a word
const int64_t kLargeBlock = (256 >> kWordShift) + 1;
const int64_t kSmallBlock = (64 >> kWordShift) + 1;

}  // namespace

struct KBitArray::Block {
    uint32_t first;  // first word index
    uint32_t count;  // words
    uint32_t refs;   // directories holding the block
    uint32_t* Words() { return reinterpret_cast<uint32_t*>(this + 1); }
    int64_t End() const { return int64_t(first) + count; }
};

struct KBitArray::Directory {
    uint32_t refs = 1;
    std::vector<Block*> blocks;  // sorted by first word, disjoint
};

namespace {

void* AllocWords(size_t bytes) {
    if (KMemoryPool* pool = KMemoryPoolBitArray()) return pool->AllocDefault(bytes);
    KDefaultAllocator allocator;
    return KMemoryPool::AllocUnpooled(allocator, bytes, 2);
}

// Every block carries a pool header, so it can be released with or without the pool.
void FreeWords(void* memory) {
    if (KMemoryPool* pool = KMemoryPoolBitArray()) {
        pool->FreeDefault(memory);
    } else {
        KDefaultAllocator allocator;
        KMemoryPool::FreeUnpooled(allocator, memory);
    }
}

}  // namespace

KBitArray::Block* KBitArray::NewBlock(int64_t firstWord, int64_t wordCount) {
    size_t bytes = sizeof(Block) + size_t(wordCount) * sizeof(uint32_t);
    Block* block = static_cast<Block*>(AllocWords(bytes));
    if (!block) return nullptr;
    block->first = uint32_t(firstWord);
    block->count = uint32_t(wordCount);
    block->refs = 1;
    memset(block->Words(), 0, size_t(wordCount) * sizeof(uint32_t));
    return block;
}

void KBitArray::ReleaseBlock(Block* block) {
    if (block && --block->refs == 0) FreeWords(block);
}

// A unique copy of `block` covering [firstWord, endWord) (which holds the block's range),
// new words zero; the old block loses one reference.
KBitArray::Block* KBitArray::ResizeBlock(Block* block, int64_t firstWord, int64_t endWord) {
    Block* grown = NewBlock(firstWord, endWord - firstWord);
    if (!grown) return nullptr;
    memcpy(grown->Words() + (block->first - firstWord), block->Words(),
           block->count * sizeof(uint32_t));
    ReleaseBlock(block);
    return grown;
}

KBitArray::KBitArray(const KBitArray& other) : mDirectory(other.mDirectory) {
    if (mDirectory) ++mDirectory->refs;
}

KBitArray& KBitArray::operator=(const KBitArray& other) {
    if (mDirectory != other.mDirectory) {
        FreeBlocks();
        mDirectory = other.mDirectory;
        if (mDirectory) ++mDirectory->refs;
    }
    mCachedIndex = -1;
    return *this;
}

KBitArray::~KBitArray() {
    FreeBlocks();
}

void KBitArray::FreeBlocks() {
    mCachedIndex = -1;
    if (!mDirectory) return;
    if (--mDirectory->refs == 0) {
        for (Block* block : mDirectory->blocks) ReleaseBlock(block);
        delete mDirectory;
    }
    mDirectory = nullptr;
}

int KBitArray::GetBlockCount() const {
    return mDirectory ? int(mDirectory->blocks.size()) : 0;
}

bool KBitArray::SharesWith(const KBitArray& other) const {
    return mDirectory && mDirectory == other.mDirectory;
}

void KBitArray::MakeDirectoryUnique() {
    if (!mDirectory) {
        mDirectory = new Directory;
        return;
    }
    if (mDirectory->refs < 2) return;
    Directory* copy = new Directory;
    copy->blocks = mDirectory->blocks;
    for (Block* block : copy->blocks) ++block->refs;
    --mDirectory->refs;
    mDirectory = copy;
}

KBitArray::Block* KBitArray::MakeBlockUnique(int slot) {
    Block*& block = mDirectory->blocks[slot];
    if (block->refs > 1) {
        Block* copy = ResizeBlock(block, block->first, block->End());
        if (!copy) return nullptr;
        block = copy;
    }
    return block;
}

int KBitArray::FindBlock(int64_t word) const {
    if (!mDirectory) return -1;
    const std::vector<Block*>& blocks = mDirectory->blocks;
    if (mCachedIndex >= 0 && mCachedIndex < int(blocks.size())) {
        const Block* b = blocks[mCachedIndex];
        if (word >= b->first && word < b->End()) return mCachedIndex;
    }
    auto it = std::upper_bound(blocks.begin(), blocks.end(), word,
                               [](int64_t w, const Block* b) { return w < int64_t(b->first); });
    if (it == blocks.begin()) return -1;
    --it;
    if (word >= (*it)->End()) return -1;
    mCachedIndex = int(it - blocks.begin());
    return mCachedIndex;
}

KBitArray::Block* KBitArray::GetBlockFor(int64_t firstWord, int64_t wordCount) {
    MakeDirectoryUnique();
    mCachedIndex = -1;
    std::vector<Block*>& blocks = mDirectory->blocks;
    int64_t endWord = firstWord + wordCount;
    for (size_t slot = 0; slot < blocks.size(); ++slot)
        if (blocks[slot]->first <= firstWord && endWord <= blocks[slot]->End())
            return MakeBlockUnique(int(slot));

    // Words near an existing block extend it, so that runs of bits share one block.
    int64_t from = std::max<int64_t>(firstWord - kLargeBlock, 0);
    int64_t to = from + std::max<int64_t>(wordCount + 2 * kLargeBlock, kSmallBlock);
    int target = -1;
    for (size_t slot = 0; slot < blocks.size();) {
        Block* block = blocks[slot];
        if (block->End() <= from) {
            ++slot;
            continue;
        }
        if (block->first >= to) break;
        if (target < 0) {
            int64_t first = std::min<int64_t>(block->first, firstWord);
            int64_t end = std::max<int64_t>(block->End(), endWord);
            Block* grown = ResizeBlock(block, first, end);
            if (!grown) return nullptr;
            blocks[slot] = grown;
            target = int(slot);
            ++slot;
        } else {
            Block* into = blocks[target];
            if (block->End() > into->End()) {
                into = ResizeBlock(into, into->first, block->End());
                if (!into) return nullptr;
                blocks[target] = into;
            }
            uint32_t* words = into->Words() + (block->first - into->first);
            for (uint32_t i = 0; i < block->count; ++i) words[i] |= block->Words()[i];
            ReleaseBlock(block);
            blocks.erase(blocks.begin() + slot);
        }
        const Block* into = blocks[target];
        from = std::max<int64_t>(int64_t(into->first) - kLargeBlock, 0);
        to = from + std::max<int64_t>(into->count + 2 * kLargeBlock, kSmallBlock);
    }
    if (target >= 0) return blocks[target];

    Block* fresh = NewBlock(firstWord, wordCount);
    if (!fresh) return nullptr;
    auto at = std::upper_bound(blocks.begin(), blocks.end(), firstWord,
                               [](int64_t w, const Block* b) { return w < int64_t(b->first); });
    blocks.insert(at, fresh);
    return fresh;
}

void KBitArray::SetBit(int n) {
    if (n < 0) return;
    int64_t word = n >> kWordShift;
    uint32_t mask = uint32_t(1) << (n & 31);
    int slot = FindBlock(word);
    if (slot >= 0 &&
        (mDirectory->blocks[slot]->Words()[word - mDirectory->blocks[slot]->first] & mask))
        return;  // already set: no write, no copy
    Block* block = GetBlockFor(word, 1);
    if (block) block->Words()[word - block->first] |= mask;
    mCachedIndex = -1;
}

void KBitArray::ClearBit(int n) {
    if (n < 0) return;
    int64_t word = n >> kWordShift;
    uint32_t mask = uint32_t(1) << (n & 31);
    int slot = FindBlock(word);
    if (slot < 0) return;
    if (!(mDirectory->blocks[slot]->Words()[word - mDirectory->blocks[slot]->first] & mask)) return;
    MakeDirectoryUnique();
    Block* block = MakeBlockUnique(slot);
    if (block) block->Words()[word - block->first] &= ~mask;
    mCachedIndex = -1;
}

bool KBitArray::GetBit(int n) const {
    if (n < 0) return false;
    int64_t word = n >> kWordShift;
    int slot = FindBlock(word);
    if (slot < 0) return false;
    Block* block = mDirectory->blocks[slot];
    return (block->Words()[word - block->first] >> (n & 31)) & 1;
}

int KBitArray::FindFirst(bool value, bool* found) const {
    return FindNext(0, value, found);
}

namespace {

// The first bit at or after `position` in the block's words that differs from `skip`
// (all ones to look for clear bits, zero for set bits); -1 when there is none in the block.
int64_t ScanWords(const uint32_t* words, int64_t first, int64_t end, int64_t position,
                  uint32_t skip) {
    for (int64_t word = std::max<int64_t>(position >> 5, first); word < end; ++word) {
        uint32_t bits = words[word - first] ^ skip;
        if (word == (position >> 5)) bits &= ~uint32_t(0) << (position & 31);
        if (bits) return word * 32 + __builtin_ctz(bits);
    }
    return -1;
}

}  // namespace

int KBitArray::FindNext(int from, bool value, bool* found) const {
    if (found) *found = false;
    int64_t position = std::max(from, 0);
    int64_t bit = -1;
    if (value) {
        if (!mDirectory) return -1;
        // Blocks are sorted and disjoint: start at the first one that ends past the position,
        // so walking every set bit does not rescan the blocks before it.
        const std::vector<Block*>& blocks = mDirectory->blocks;
        auto it = std::partition_point(blocks.begin(), blocks.end(), [&](const Block* b) {
            return b->End() <= (position >> 5);
        });
        for (; it != blocks.end() && bit < 0; ++it)
            bit = ScanWords((*it)->Words(), (*it)->first, (*it)->End(), position, 0);
    } else {
        while (bit < 0 && position <= INT_MAX) {
            int slot = FindBlock(position >> kWordShift);
            if (slot < 0) {
                bit = position;  // a gap between blocks holds clear bits
                break;
            }
            Block* block = mDirectory->blocks[slot];
            bit = ScanWords(block->Words(), block->first, block->End(), position, ~uint32_t(0));
            position = block->End() * 32;
        }
    }
    if (bit < 0 || bit > INT_MAX) return -1;
    if (found) *found = true;
    return int(bit);
}

int KBitArray::FindLastSetBit() const {
    if (!mDirectory) return -1;
    const std::vector<Block*>& blocks = mDirectory->blocks;
    for (size_t slot = blocks.size(); slot-- > 0;) {
        Block* block = blocks[slot];
        for (uint32_t i = block->count; i-- > 0;) {
            uint32_t bits = block->Words()[i];
            if (bits) return int((int64_t(block->first) + i) * 32 + 31 - __builtin_clz(bits));
        }
    }
    return -1;
}
