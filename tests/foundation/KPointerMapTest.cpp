#include "foundation/KPointerMap.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

TEST(KPointerMap, EmptyAndOutOfRange) {
    KPointerMap map(20);
    int index = 7;
    EXPECT_EQ(map.Find(1, &index), 0u);
    EXPECT_EQ(index, -1);
    uintptr_t key = 99;
    EXPECT_EQ(map.GetAt(0, &key), 0u);
    EXPECT_EQ(map.Add(3, 30), 0);
    EXPECT_EQ(map.GetAt(-1, &key), 0u);
    EXPECT_EQ(map.GetAt(1, &key), 0u);
    EXPECT_EQ(key, 99u);
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_EQ(map.Find(3), 0u);
}

// Among equal keys the first one added is found, and positions keep the order of adding.
TEST(KPointerMap, DuplicateKeysKeepTheirOrder) {
    KPointerMap map;
    map.Add(50, 1);
    map.Add(10, 2);
    map.Add(50, 3);
    map.Add(90, 4);
    map.Add(50, 5);
    EXPECT_EQ(map.GetCount(), 5);
    int index = -1;
    EXPECT_EQ(map.Find(50, &index), 1u);
    EXPECT_EQ(index, 1);
    std::vector<uintptr_t> values;
    for (int i = 0; i < map.GetCount(); ++i) values.push_back(map.GetAt(i));
    EXPECT_EQ(values, (std::vector<uintptr_t>{2, 1, 3, 5, 4}));
    // Adding after a lookup sorts again.
    map.Add(50, 6);
    map.Add(0, 7);
    EXPECT_EQ(map.Find(50, &index), 1u);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(map.GetAt(5), 6u);
}

// Signed integer keys sign-extend, so they sort as their unsigned 32-bit values would.
TEST(KPointerMap, IntegerKeysKeepUnsigned32Order) {
    const int keys[] = {-1, 5, INT32_MAX, INT32_MIN, 0, -100};
    KPointerMap map;
    for (int k : keys) map.Add(k, uintptr_t(uint32_t(k)));
    uint32_t previous = 0;
    for (int i = 0; i < map.GetCount(); ++i) {
        uintptr_t key = 0;
        uint32_t asStored = uint32_t(map.GetAt(i, &key));
        EXPECT_EQ(uint32_t(key), asStored);
        EXPECT_GE(asStored, previous);
        previous = asStored;
    }
    EXPECT_EQ(map.Find(-100), uintptr_t(uint32_t(-100)));
}

TEST(KPointerMap, RealPointersAbove4GiB) {
    std::vector<std::unique_ptr<int>> objects;
    KPointerMap map;
    for (int i = 0; i < 200; ++i) {
        objects.push_back(std::make_unique<int>(i));
        map.Add(reinterpret_cast<uintptr_t>(objects.back().get()),
                reinterpret_cast<uintptr_t>(objects.back().get()));
    }
    uintptr_t high = 0;
    for (auto& o : objects) high |= reinterpret_cast<uintptr_t>(o.get()) >> 32;
    ASSERT_NE(high, 0u) << "no heap address above 4 GiB on this machine";
    for (int i = 0; i < 200; ++i) {
        auto* found =
            reinterpret_cast<int*>(map.Find(reinterpret_cast<uintptr_t>(objects[size_t(i)].get())));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, i);
    }
    // Addresses that share their low 32 bits stay distinct keys.
    uintptr_t base = reinterpret_cast<uintptr_t>(objects[0].get());
    KPointerMap alias;
    for (uintptr_t k = 0; k < 8; ++k) alias.Add(base + (k << 32), k + 1);
    for (uintptr_t k = 0; k < 8; ++k) EXPECT_EQ(alias.Find(base + (k << 32)), k + 1);
    EXPECT_EQ(alias.Find(base & 0xFFFFFFFFu), 0u);
}

// Cross-check against std::multimap, which also keeps equal keys in insertion order.
TEST(KPointerMap, MatchesMultimap) {
    std::mt19937 rng(7);
    KPointerMap map;
    std::multimap<uintptr_t, uintptr_t> model;
    for (int step = 0; step < 3000; ++step) {
        uintptr_t key = std::uniform_int_distribution<uintptr_t>(0, 300)(rng) << 28;
        map.Add(key, uintptr_t(step));
        model.emplace(key, uintptr_t(step));
        if (step % 97 == 0) {
            int i = 0;
            for (auto& [k, v] : model) {
                uintptr_t gotKey = 0;
                ASSERT_EQ(map.GetAt(i++, &gotKey), v);
                ASSERT_EQ(gotKey, k);
            }
            uintptr_t probe = std::uniform_int_distribution<uintptr_t>(0, 300)(rng) << 28;
            auto range = model.equal_range(probe);
            int index = 0;
            uintptr_t value = map.Find(probe, &index);
            if (range.first == range.second) {
                EXPECT_EQ(index, -1);
            } else {
                EXPECT_EQ(value, range.first->second);
                EXPECT_EQ(index, int(std::distance(model.begin(), range.first)));
            }
        }
    }
}

}  // namespace
