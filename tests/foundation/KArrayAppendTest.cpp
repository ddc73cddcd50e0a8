// Appending items the caller fills in: the items before stay, a refused size changes nothing.

#include <gtest/gtest.h>

#include <climits>

#include "foundation/KArray.h"

TEST(KArrayAppend, UninitialisedItemsFollowTheOthers) {
    const struct {
        int before;
        int added;
        bool appended;
    } kCases[] = {{0, 0, false},   {0, -3, false},      {0, 1, true},
                  {5, 1000, true}, {3, INT_MAX, false}, {1000, 1, true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.before) + "+" + std::to_string(c.added));
        KArrayInt array(4);
        for (int i = 0; i < c.before; ++i) array.Add(i * 3);
        int32_t* at = array.AppendUninitialised(c.added);
        EXPECT_EQ(at != nullptr, c.appended);
        if (at) {
            EXPECT_EQ(at, array.GetArray() + c.before);
            for (int i = 0; i < c.added; ++i) at[i] = -i;
        }
        ASSERT_EQ(array.GetCount(), c.before + (c.appended ? c.added : 0));
        for (int i = 0; i < c.before; ++i) ASSERT_EQ(array.GetAt(i), i * 3);
        for (int i = c.before; i < array.GetCount(); ++i) ASSERT_EQ(array.GetAt(i), c.before - i);
    }
}
