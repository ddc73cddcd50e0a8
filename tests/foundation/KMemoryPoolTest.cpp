#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "foundation/KMemoryPool.h"

namespace {

// Counts what reaches the heap, to see which requests bypass the free lists.
class CountingAllocator : public KMemoryAllocator {
public:
    void* Malloc(size_t size) override {
        ++mallocs;
        return std::malloc(size);
    }
    void* Realloc(void* p, size_t size) override { return std::realloc(p, size); }
    void Free(void* p) override {
        ++frees;
        std::free(p);
    }
    int mallocs = 0;
    int frees = 0;
};

TEST(KMemoryPool, SizeClassesAndReuse) {
    KMemoryPool pool(0x20000, 2, 0, 0);
    EXPECT_EQ(pool.RoundedSize(100), 108u);
    CountingAllocator heap;
    void* a = pool.Alloc(heap, 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(KMemoryPool::UsableSize(a), 100u);
    pool.Free(heap, a);
    EXPECT_EQ(heap.frees, 0);
    void* b = pool.Alloc(heap, 99);  // same class: the released block comes back
    EXPECT_EQ(b, a);
    EXPECT_EQ(heap.mallocs, 1);
    EXPECT_EQ(pool.GetBytesOut(), 108u);
    EXPECT_EQ(pool.GetBlocksOut(), 1u);
    pool.Free(heap, b);
    pool.Free(heap, nullptr);

    // At the largest size the free lists are bypassed both ways.
    void* big = pool.Alloc(heap, 0x20000 - 8);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(heap.mallocs, 2);
    pool.Free(heap, big);
    EXPECT_EQ(heap.frees, 1);
    EXPECT_EQ(pool.GetBlocksOut(), 1u);  // the pooled 108-byte block

    pool.FreeAll();
    EXPECT_EQ(pool.GetBytesOut(), 0u);
    EXPECT_EQ(pool.GetBlocksOut(), 0u);
}

TEST(KMemoryPool, FreeAllCountsOnlyWhatItFrees) {
    KMemoryPool pool(0x1000, 3, 0, 0);
    void* kept = pool.AllocDefault(40);
    void* released = pool.AllocDefault(40);
    pool.FreeDefault(released);
    pool.FreeAll();
    EXPECT_EQ(pool.GetBlocksOut(), 1u);
    EXPECT_EQ(pool.GetBytesOut(), pool.RoundedSize(40));
    pool.FreeDefault(kept);
    pool.FreeAll();
    EXPECT_EQ(pool.GetBlocksOut(), 0u);
}

TEST(KMemoryPool, CeilingSendsBlocksBack) {
    KMemoryPool pool(0x1000, 2, 0, 256);
    CountingAllocator heap;
    std::vector<void*> blocks;
    for (int i = 0; i < 10; ++i) blocks.push_back(pool.Alloc(heap, 50));  // 10 x 60 bytes
    for (void* p : blocks) pool.Free(heap, p);
    // Releases go to the heap while more than 256 bytes are out: 600 -> 240 after 6.
    EXPECT_EQ(heap.frees, 6);
    EXPECT_EQ(pool.GetFreeBlockCount(), 4u);
    EXPECT_EQ(pool.GetBytesOut(), 240u);
}

TEST(KMemoryPool, AlignmentAndRefusedSettings) {
    for (unsigned shift = 0; shift <= 8; ++shift) {
        KMemoryPool pool(0x1000, 2, shift, 0);
        ASSERT_TRUE(pool.IsValid());
        std::vector<void*> blocks;
        for (size_t n : {1, 3, 17, 100, 5000}) {
            void* p = pool.AllocDefault(n);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (uintptr_t(1) << shift), 0u);
            EXPECT_GE(KMemoryPool::UsableSize(p), n);
            memset(p, 0xAB, n);
            blocks.push_back(p);
        }
        for (void* p : blocks) pool.FreeDefault(p);
    }
    KMemoryPool bad(0x1000, 2, 9, 0);
    EXPECT_FALSE(bad.IsValid());
    EXPECT_EQ(bad.AllocDefault(10), nullptr);
    KMemoryPool pool(0x1000, 2, 0, 0);
    EXPECT_EQ(pool.AllocDefault(SIZE_MAX - 4), nullptr);
    EXPECT_EQ(pool.RoundedSize(SIZE_MAX), 0u);
}

TEST(KMemoryPool, ReallocKeepsContent) {
    KMemoryPool pool(0x1000, 2, 0, 0);
    char* p = static_cast<char*>(pool.ReallocDefault(nullptr, 10));
    ASSERT_NE(p, nullptr);
    memcpy(p, "0123456789", 10);
    p = static_cast<char*>(pool.ReallocDefault(p, 3000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(memcmp(p, "0123456789", 10), 0);
    p = static_cast<char*>(pool.ReallocDefault(p, 4));
    EXPECT_EQ(memcmp(p, "0123", 4), 0);
    pool.FreeDefault(p);
}

// Random allocations and releases against plain bookkeeping: every block keeps its own bytes
// and the counters match what is out.
TEST(KMemoryPool, RandomDifferential) {
    std::mt19937 random(7);
    for (unsigned alignment : {0u, 4u}) {
        KMemoryPool pool(0x800, 3, alignment, 4096);
        CountingAllocator heap;
        std::map<unsigned char*, std::pair<size_t, unsigned char>> live;
        for (int step = 0; step < 4000; ++step) {
            if (live.empty() || random() % 3 != 0) {
                size_t n = random() % 3 == 0 ? random() % 5000 : random() % 200;
                unsigned char* p = static_cast<unsigned char*>(pool.Alloc(heap, n));
                ASSERT_NE(p, nullptr);
                ASSERT_EQ(live.count(p), 0u);
                unsigned char fill = static_cast<unsigned char>(random());
                memset(p, fill, n);
                live[p] = {n, fill};
            } else {
                auto it = live.begin();
                std::advance(it, random() % live.size());
                for (size_t i = 0; i < it->second.first; ++i)
                    ASSERT_EQ(it->first[i], it->second.second);
                pool.Free(heap, it->first);
                live.erase(it);
            }
        }
        EXPECT_EQ(pool.GetBlocksOut(), size_t(heap.mallocs - heap.frees));
        for (auto& block : live) pool.Free(heap, block.first);
        EXPECT_EQ(pool.GetBlocksOut(), size_t(heap.mallocs - heap.frees));
        pool.FreeAll();  // everything was released: nothing is out any more
        EXPECT_EQ(pool.GetBlocksOut(), 0u);
        EXPECT_EQ(pool.GetBytesOut(), 0u);
    }
}

TEST(KMemoryPool, GlobalListLifecycle) {
    KMemoryPoolsShutdown();
    EXPECT_EQ(KMemoryPoolCreate(0x100, 2, 0, 0), nullptr);
    EXPECT_EQ(KMemoryPoolDefault(), nullptr);
    EXPECT_EQ(KMemoryPoolBitArray(), nullptr);
    KMemoryPoolsInit();
    ASSERT_NE(KMemoryPoolDefault(), nullptr);
    KMemoryPool* extra = KMemoryPoolCreate(0x100, 2, 0, 0);
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(KMemoryPoolCreate(0x100, 2, 12, 0), nullptr);
    void* p = KMemoryPoolDefault()->AllocDefault(20);
    KMemoryPoolDefault()->FreeDefault(p);
    void* outstanding = extra->AllocDefault(30);
    KMemoryPoolsShutdown();
    EXPECT_FALSE(KMemoryPoolsActive());
    KDefaultAllocator heap;
    KMemoryPool::FreeUnpooled(heap, outstanding);  // its pool is gone; the block is not
}

}  // namespace
