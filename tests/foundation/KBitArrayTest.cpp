#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <vector>

#include "foundation/KBitArray.h"
#include "foundation/KMemoryPool.h"
#include "foundation/KSparseIndexTable.h"

namespace {

// The reference: the next member of a std::set at or after `from`, or the next non-member.
int NextOf(const std::set<int>& bits, int from, bool value) {
    if (value) {
        auto it = bits.lower_bound(from);
        return it == bits.end() ? -1 : *it;
    }
    int n = from;
    while (bits.count(n)) ++n;
    return n;
}

void ExpectSame(const KBitArray& array, const std::set<int>& bits, std::mt19937& random) {
    EXPECT_EQ(array.FindLastSetBit(), bits.empty() ? -1 : *bits.rbegin());
    EXPECT_EQ(array.FindFirst(true), NextOf(bits, 0, true));
    EXPECT_EQ(array.FindFirst(false), NextOf(bits, 0, false));
    for (int probe = 0; probe < 20; ++probe) {
        int from = int(random() % 70000);
        EXPECT_EQ(array.FindNext(from, true), NextOf(bits, from, true)) << from;
        EXPECT_EQ(array.FindNext(from, false), NextOf(bits, from, false)) << from;
        EXPECT_EQ(array.GetBit(from), bits.count(from) == 1);
    }
    for (int bit : bits) ASSERT_TRUE(array.GetBit(bit)) << bit;
}

TEST(KBitArray, FarBitsMakeTwoBlocks) {
    KBitArray array;
    EXPECT_EQ(array.FindLastSetBit(), -1);
    bool found = true;
    EXPECT_EQ(array.FindFirst(true, &found), -1);
    EXPECT_FALSE(found);
    array.SetBit(0);
    array.SetBit(1000000);
    EXPECT_EQ(array.GetBlockCount(), 2);
    EXPECT_EQ(array.FindLastSetBit(), 1000000);
    EXPECT_EQ(array.FindNext(1, true, &found), 1000000);
    EXPECT_TRUE(found);
    // Bits within a few words of a block join it.
    array.SetBit(32 * 5);
    EXPECT_EQ(array.GetBlockCount(), 2);
    array.ClearBit(5000);  // outside every block: nothing changes
    EXPECT_EQ(array.GetBlockCount(), 2);
    array.ClearBit(-1);
    array.SetBit(-5);
    EXPECT_EQ(array.FindFirst(true), 0);
    array.SetBit(INT_MAX);
    EXPECT_EQ(array.FindLastSetBit(), INT_MAX);
    EXPECT_EQ(array.FindNext(INT_MAX, true), INT_MAX);
    EXPECT_EQ(array.FindNext(INT_MAX, false), -1);
}

TEST(KBitArray, BlocksBetweenNeighboursMerge) {
    KBitArray array;
    array.SetBit(32 * 5);
    array.SetBit(32 * 20);
    ASSERT_EQ(array.GetBlockCount(), 2);
    array.SetBit(32 * 12);  // within reach of both: one block holds all three
    EXPECT_EQ(array.GetBlockCount(), 1);
    EXPECT_TRUE(array.GetBit(32 * 5));
    EXPECT_TRUE(array.GetBit(32 * 12));
    EXPECT_TRUE(array.GetBit(32 * 20));
    array.SetBit(32 * 40);  // beyond reach: a block of its own
    EXPECT_EQ(array.GetBlockCount(), 2);
}

TEST(KBitArray, CopiesShareUntilWritten) {
    KBitArray a;
    a.SetBit(3);
    a.SetBit(400);
    KBitArray b(a);
    EXPECT_TRUE(b.SharesWith(a));
    b.SetBit(3);  // already set: no write, still shared
    EXPECT_TRUE(b.SharesWith(a));
    b.SetBit(5);
    EXPECT_FALSE(b.SharesWith(a));
    EXPECT_FALSE(a.GetBit(5));
    EXPECT_TRUE(b.GetBit(5));
    KBitArray c;
    c = b;
    c.ClearBit(400);
    EXPECT_TRUE(b.GetBit(400));
    EXPECT_FALSE(c.GetBit(400));
    c = c;
    EXPECT_TRUE(c.GetBit(5));
    b.FreeBlocks();
    EXPECT_EQ(b.FindLastSetBit(), -1);
    EXPECT_TRUE(c.GetBit(5));
}

// Random sets, clears and copies against std::set, with and without the pools.
TEST(KBitArray, RandomDifferential) {
    std::mt19937 random(11);
    for (int round = 0; round < 2; ++round) {
        if (round == 1) KMemoryPoolsInit();
        std::vector<KBitArray> arrays(3);
        std::vector<std::set<int>> sets(3);
        for (int step = 0; step < 6000; ++step) {
            size_t which = random() % 3;
            int op = int(random() % 10);
            // Clustered bits exercise growing and merging; far bits make new blocks.
            int bit = random() % 4 == 0 ? int(random() % 70000) : int(random() % 2000);
            if (op < 6) {
                arrays[which].SetBit(bit);
                sets[which].insert(bit);
            } else if (op < 9) {
                arrays[which].ClearBit(bit);
                sets[which].erase(bit);
            } else {
                size_t from = random() % 3;
                arrays[which] = arrays[from];
                sets[which] = sets[from];
            }
            if (step % 500 == 0)
                for (size_t i = 0; i < 3; ++i) ExpectSame(arrays[i], sets[i], random);
        }
        for (size_t i = 0; i < 3; ++i) ExpectSame(arrays[i], sets[i], random);
    }
    KMemoryPoolsShutdown();
}

TEST(KBitArray, SurvivesPoolShutdownAndRestart) {
    KMemoryPoolsInit();
    KBitArray a;
    for (int i = 0; i < 5000; i += 7) a.SetBit(i);
    KBitArray b(a);
    KMemoryPoolsShutdown();
    b.SetBit(1);  // copies blocks without a pool
    KMemoryPoolsInit();
    a.SetBit(100000);
    b.FreeBlocks();  // blocks of the first pools go back through the new one
    EXPECT_TRUE(a.GetBit(7));
    EXPECT_FALSE(a.GetBit(1));
    KMemoryPoolsShutdown();
}

struct Object : KSparseIndexed {
    explicit Object(int properties) : fields(properties, 0) {}
    void SetIndexTableEntry(KSparseIndexTable* t, int i) override {
        table = t;
        index = i;
    }
    int GetIndexTableIndex() const override { return index; }
    int GetIndexedPropertyCount() override { return int(fields.size()); }
    void* GetIndexedProperty(int i) override { return &fields[i]; }
    uint16_t& IndexedPropertyIndex(int i) override { return fields[i]; }
    KSparseIndexTable* table = nullptr;
    int index = -7;
    std::vector<uint16_t> fields;
};

TEST(KSparseIndexTable, ReusesTheSmallestFreeIndex) {
    KSparseIndexTable table;
    std::vector<Object> objects(5, Object(2));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(table.Add(&objects[i]), i);
    EXPECT_EQ(objects[3].table, &table);
    EXPECT_EQ(objects[2].fields[1], 5);
    EXPECT_EQ(table.GetProperty(5), &objects[2].fields[1]);
    table.Remove(&objects[2]);
    EXPECT_EQ(objects[2].table, nullptr);
    EXPECT_EQ(objects[2].index, -1);
    EXPECT_EQ(objects[2].fields[0], KSparseIndexTable::kNoPropertyIndex);
    EXPECT_EQ(table.GetObject(2), nullptr);
    EXPECT_EQ(table.Add(&objects[4]), 2);
    EXPECT_EQ(table.GetObject(2), &objects[4]);
    EXPECT_EQ(objects[4].fields[0], 4);
    EXPECT_EQ(objects[4].fields[1], 5);
}

TEST(KSparseIndexTable, PropertyIndexNeverWraps) {
    KSparseIndexTable table;
    Object many(0xFFFF + 3);
    table.Add(&many);
    EXPECT_EQ(many.fields[0], 0);
    EXPECT_EQ(many.fields[0xFFFE], 0xFFFE);
    EXPECT_EQ(many.fields[0xFFFF], KSparseIndexTable::kNoPropertyIndex);
    EXPECT_EQ(many.fields[0xFFFF + 2], KSparseIndexTable::kNoPropertyIndex);
    Object late(1);
    table.Add(&late);
    EXPECT_EQ(late.fields[0], KSparseIndexTable::kNoPropertyIndex);
    table.Remove(&many);
    table.AddProperties(&late);
    EXPECT_EQ(late.fields[0], 0);
}

}  // namespace
