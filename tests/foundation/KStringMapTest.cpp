#include "foundation/KStringMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "common/RefusingHeap.h"
#include "foundation/KArray.h"
#include "foundation/KLocale.h"
#include "foundation/KPointerMap.h"
#include "foundation/KString.h"
#include "foundation/KStringArray.h"

namespace {

void* V(intptr_t v) {
    return reinterpret_cast<void*>(v);
}

std::vector<std::string> Keys(const KStringMap& map) {
    std::vector<std::string> keys;
    for (int i = 0; i < map.GetCount(); ++i) {
        const char* key = nullptr;
        map.GetAt(i, &key);
        keys.push_back(key);
    }
    return keys;
}

TEST(KStringMap, IgnoresCaseByDefault) {
    KStringMap map;
    EXPECT_FALSE(map.IsCaseSensitive());
    EXPECT_EQ(map.Add("Model::Hips", V(1)), 1);
    EXPECT_EQ(map.Add("Alpha", V(2)), 2);
    int index = -1;
    EXPECT_EQ(map.Find("model::HIPS", &index), V(1));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(map.Find("Model::Hip", &index), nullptr);
    EXPECT_EQ(index, -1);
    // Ordered as lower case: '_' (0x5F) sorts before 'z' whatever the case of the letter.
    KStringMap order;
    order.Add("aZb", V(1));
    order.Add("a_b", V(2));
    order.Add("A", V(3));
    EXPECT_EQ(Keys(order), (std::vector<std::string>{"A", "a_b", "aZb"}));
}

TEST(KStringMap, CaseSensitiveComparesUnsignedBytes) {
    KStringMap map(20, true);
    map.Add("b", V(1));
    map.Add("\xE9t\xE9", V(2));
    map.Add("B", V(3));
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"B", "b", "\xE9t\xE9"}));
    EXPECT_EQ(map.Find("B"), V(3));
    EXPECT_EQ(map.Find("b"), V(1));
    map.SetCaseSensitive(false);
    EXPECT_EQ(map.Find("b"), V(1));  // first added of the two equal keys
    map.SetCaseSensitive(true);
    EXPECT_EQ(map.Find("B"), V(3));
}

TEST(KStringMap, DuplicatesAreKeptAndTheFirstAddedIsFound) {
    KStringMap map;
    map.Add("Take", V(1));
    map.Add("other", V(2));
    map.Add("TAKE", V(3));
    map.Add("take", V(4));
    EXPECT_EQ(map.GetCount(), 4);
    int index = -1;
    EXPECT_EQ(map.Find("take", &index), V(1));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(map.GetAt(2), V(3));
    EXPECT_EQ(map.GetAt(3), V(4));
    EXPECT_TRUE(map.Remove("tAkE"));
    EXPECT_EQ(map.Find("take"), V(3));
    EXPECT_TRUE(map.Remove("take"));
    EXPECT_TRUE(map.Remove("take"));
    EXPECT_FALSE(map.Remove("take"));
    EXPECT_EQ(map.GetCount(), 1);
}

TEST(KStringMap, PositionsAndValueSlots) {
    KStringMap map;
    EXPECT_EQ(map.GetAt(0), nullptr);
    map.Add("c", V(3));
    map.Add(nullptr, V(9));
    map.Add("a", V(1));
    const char* key = "untouched";
    EXPECT_EQ(map.GetAt(-1, &key), nullptr);
    EXPECT_EQ(map.GetAt(3, &key), nullptr);
    EXPECT_STREQ(key, "untouched");
    EXPECT_EQ(map.GetAt(0, &key), V(9));
    EXPECT_STREQ(key, "");
    EXPECT_EQ(map.Find(nullptr), V(9));
    EXPECT_EQ(map.GetValueAt(3), nullptr);
    void** slot = map.GetValueAt(2);
    ASSERT_NE(slot, nullptr);
    *slot = V(30);
    EXPECT_EQ(map.Find("C"), V(30));
    EXPECT_FALSE(map.RemoveAt(3));
    EXPECT_TRUE(map.RemoveAt(0));
    EXPECT_EQ(Keys(map), (std::vector<std::string>{"a", "c"}));
    map.Clear();
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_EQ(map.Find("a"), nullptr);
}

// Cross-check against a stable sort of the same entries by an independent comparator.
TEST(KStringMap, MatchesStableSortedModel) {
    std::mt19937 rng(11);
    const char alphabet[] = "aAbB_z";
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        return s;
    };
    KStringMap map;
    std::vector<std::pair<std::string, intptr_t>> model;
    for (int step = 0; step < 1500; ++step) {
        std::string key;
        for (int n = std::uniform_int_distribution<int>(0, 3)(rng); n > 0; --n)
            key += alphabet[std::uniform_int_distribution<int>(0, 5)(rng)];
        if (step % 5 == 4 && !model.empty()) {
            int index = std::uniform_int_distribution<int>(0, int(model.size()) - 1)(rng);
            std::stable_sort(model.begin(), model.end(),
                             [&](auto& a, auto& b) { return lower(a.first) < lower(b.first); });
            ASSERT_TRUE(map.RemoveAt(index));
            model.erase(model.begin() + index);
            continue;
        }
        map.Add(key.c_str(), V(step));
        model.emplace_back(key, step);
        if (step % 50 != 0) continue;
        std::stable_sort(model.begin(), model.end(),
                         [&](auto& a, auto& b) { return lower(a.first) < lower(b.first); });
        for (size_t i = 0; i < model.size(); ++i) {
            const char* k = nullptr;
            ASSERT_EQ(map.GetAt(int(i), &k), V(model[i].second));
            ASSERT_EQ(k, model[i].first);
        }
        auto first = std::find_if(model.begin(), model.end(),
                                  [&](auto& e) { return lower(e.first) == lower(key); });
        int index = -1;
        EXPECT_EQ(map.Find(key.c_str(), &index), V(first->second));
        EXPECT_EQ(index, int(first - model.begin()));
    }
}

// Replacing values in one pass orders the entries as removing and adding each one again did,
// equal keys (of either case) included; entries added after it merge in by the same order.
TEST(KStringMap, ReplaceValuesMatchesRemoveAndAdd) {
    const char* keys[] = {"m", "M", "a", "m", "b", "A", "m", "c"};
    const std::vector<std::pair<void*, void*>> pairs = {
        {V(2), V(1)}, {V(9), V(1)}, {V(4), V(3)}, {V(6), V(5)}};
    const intptr_t values[] = {2, 4, 6, 2, 4, 6, 1, 3};
    KStringMap fast, slow;
    for (int i = 0; i < 8; ++i) {
        fast.Add(keys[i], V(values[i]));
        slow.Add(keys[i], V(values[i]));
    }
    fast.ReplaceValues(pairs);
    for (const auto& [removed, kept] : pairs) {
        std::vector<std::string> renewed;
        for (int i = slow.GetCount(); i-- > 0;) {
            const char* key = nullptr;
            if (slow.GetAt(i, &key) != removed) continue;
            renewed.emplace_back(key);
            slow.RemoveAt(i);
        }
        for (const std::string& key : renewed) slow.Add(key.c_str(), kept);
    }
    fast.Add("m", V(7));
    slow.Add("m", V(7));
    ASSERT_EQ(Keys(fast), Keys(slow));
    for (int i = 0; i < slow.GetCount(); ++i) EXPECT_EQ(fast.GetAt(i), slow.GetAt(i)) << i;
    int a = -1, b = -2;
    EXPECT_EQ(fast.Find("M", &a), slow.Find("M", &b));
    EXPECT_EQ(a, b);
    EXPECT_TRUE(fast.Remove("m"));
    EXPECT_TRUE(slow.Remove("m"));
    EXPECT_EQ(Keys(fast), Keys(slow));
}

TEST(KDeleteStringArray, DeletesAndEmpties) {
    KArrayPtr<KString> names;
    for (const char* text : {"Take 001", "Take 002", "Default"}) names.Add(new KString(text));
    KDeleteStringArray(names);  // the leak checker sees any string left behind
    EXPECT_EQ(names.GetCount(), 0);
    KDeleteStringArray(names);

    KArrayInt ints;
    ints.Add(5);
    KDeleteStringArray(ints);
    EXPECT_EQ(ints.GetCount(), 1);
}

}  // namespace

// Each allocation of an add refused in turn: the containers throw and stay as they were, never
// answering with a failure a caller could read as "not added" and go on with less.
TEST(KStringMap, ARefusedAllocationIsThrownNotSwallowed) {
    const std::string longKey(100, 'k');  // past any inline buffer
    int thrown = 0;
    for (long n = 0; n < 8; ++n) {
        KStringMap strings;
        KPointerMap pointers;
        KArrayInt ints;
        for (int i = 0; i < 4; ++i) {  // full: the next add grows each
            strings.Add(("k" + std::to_string(i)).c_str(), V(i));
            pointers.Add(uintptr_t(i), uintptr_t(i));
            ints.Add(i);
        }
        const auto tryAdd = [&](auto add, auto count) {
            const int before = count();
            gThrowIn = n;
            try {
                EXPECT_GE(add(), 0);
                gThrowIn = -1;
                EXPECT_EQ(count(), before + 1);
            } catch (const std::bad_alloc&) {
                gThrowIn = -1;
                EXPECT_EQ(count(), before);
                ++thrown;
            }
        };
        tryAdd([&] { return strings.Add(longKey.c_str(), V(9)); }, [&] { return strings.GetCount(); });
        tryAdd([&] { return pointers.Add(9, 9); }, [&] { return pointers.GetCount(); });
        // An item of its own is copied out first, through the heap.
        tryAdd([&] { return ints.Add(ints.GetArray()[2]); }, [&] { return ints.GetCount(); });
    }
    EXPECT_GE(thrown, 3);
}
