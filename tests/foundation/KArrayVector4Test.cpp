#include "foundation/KArrayVector4.h"

#include <gtest/gtest.h>

#include "foundation/KQovLayerElement.h"
#include "foundation/KQovLimits.h"

namespace {

TEST(KArrayVector4, FindComparesXyzWithinTolerance) {
    KArrayVector4 a(4);
    EXPECT_EQ(a.Add(1, 2, 3, 1), 0);
    EXPECT_EQ(a.Add(KVector4(5, 5, 5, 0)), 1);
    EXPECT_EQ(a.Add(1, 2, 3 + 5e-7, 9), 2);
    EXPECT_EQ(a.Find(KVector4(1, 2, 3, -4)), 0);
    EXPECT_EQ(a.Find(KVector4(1, 2, 3.00001, 1)), -1);
    EXPECT_EQ(a.FindAfter(0, KVector4(1, 2, 3)), 2);
    EXPECT_EQ(a.FindAfter(2, KVector4(1, 2, 3)), -1);
    EXPECT_EQ(a.FindAfter(-7, KVector4(1, 2, 3)), 0);
    EXPECT_EQ(a.FindAfter(INT_MAX, KVector4(1, 2, 3)), -1);
    KArrayVector4 empty;
    EXPECT_EQ(empty.Find(KVector4()), -1);
    EXPECT_EQ(empty.FindAfter(3, KVector4()), -1);
}

TEST(KArrayVector4, RemoveGivesTheItemAndAssignmentCopies) {
    KArrayVector4 a(3);
    for (int i = 0; i < 5; ++i) a.Add(i, i * 2, i * 3, 1);
    KVector4 removed = a.RemoveAt(1);
    EXPECT_EQ(removed[1], 2.0);
    EXPECT_EQ(a.GetCount(), 4);
    KVector4 last = a.RemoveLast();
    EXPECT_EQ(last[2], 12.0);
    EXPECT_EQ(a.RemoveAt(9)[0], 0.0);
    EXPECT_EQ(a.GetCount(), 3);

    KArrayVector4 b(16);
    b.Add(9, 9, 9, 9);
    b = a;
    EXPECT_EQ(b.GetGrowStep(), 3);
    ASSERT_EQ(b.GetCount(), 3);
    b.SetAt(0, KVector4(7, 7, 7, 7));
    EXPECT_EQ(a.GetAt(0)[0], 0.0);
    EXPECT_EQ(b.GetAt(2)[0], 3.0);
    EXPECT_EQ(b.GetAt(3)[3], 0.0);
}

TEST(KArrayVector4, ColourAndUvArrays) {
    KArrayColor colours;
    colours.Add(KColor(0.25, 2.0, -1.0, 0.5));
    KColor c = colours.GetAt(0);
    EXPECT_EQ(c.mGreen, 1.0);
    EXPECT_EQ(c.mBlue, 0.0);
    EXPECT_EQ(c.mAlpha, 0.5);
    KColor outside = colours.GetAt(1);
    EXPECT_EQ(outside.mRed, 0.0);
    EXPECT_EQ(outside.mAlpha, 0.0);

    KArrayVector2 uvs;
    uvs.Add(KVector2(0.5, 0.75));
    uvs.InsertAt(0, KVector2().Set(1, 2));
    EXPECT_EQ(uvs.GetAt(1), KVector2(0.5, 0.75));
    EXPECT_NE(uvs.GetAt(0), KVector2(1, 2.5));
    EXPECT_EQ(uvs.GetAt(5), KVector2());
}

TEST(KQovLayerElement, DefaultsAndIndependentCopies) {
    KQovLayerElementTexture texture;
    EXPECT_EQ(texture.GetMappingMode(), 0);
    EXPECT_EQ(texture.GetReferenceMode(), 2);
    EXPECT_EQ(texture.GetBlendMode(), 0);
    EXPECT_EQ(texture.GetAlpha(), 1.0);
    EXPECT_EQ(texture.GetDirectArray().GetCount(), 0);
    EXPECT_EQ(texture.GetIndexArray().GetCount(), 0);
    EXPECT_EQ(texture.GetDirectArray().GetGrowStep(), 16);
    EXPECT_EQ(texture.GetDirectArray().GetItemSize(), int(sizeof(void*)));

    KQovLayerElementUV uv;
    EXPECT_EQ(uv.GetReferenceMode(), 0);
    EXPECT_EQ(uv.GetDirectArray().GetItemSize(), 16);
    KQovLayerElementColor colour;
    EXPECT_EQ(colour.GetDirectArray().GetItemSize(), 32);

    KQovLayerElement normals;
    normals.SetMappingMode(2);
    normals.GetDirectArray().Add(0, 0, 1);
    normals.GetIndexArray().Add(0);
    KQovLayerElement copy(normals);
    copy.GetDirectArray().SetAt(0, KVector4(1, 0, 0));
    copy.GetIndexArray().Add(0);
    EXPECT_EQ(copy.GetMappingMode(), 2);
    EXPECT_EQ(normals.GetDirectArray().GetAt(0)[2], 1.0);
    EXPECT_EQ(normals.GetIndexArray().GetCount(), 1);
}

TEST(KQovLimits, CopiesAreIndependent) {
    KQovNodeLimits limits;
    EXPECT_FALSE(limits.rotation.maxActiveY);
    EXPECT_EQ(limits.node, nullptr);
    limits.rotation.maxActiveY = true;
    limits.rotation.max = KVector4(10, 20, 30);
    limits.scalingActive = true;
    KQovNodeLimits copy(limits);
    copy.rotation.max[1] = -5;
    EXPECT_EQ(limits.rotation.max[1], 20.0);
    EXPECT_TRUE(copy.rotation.maxActiveY);
    EXPECT_TRUE(copy.scalingActive);
    KQovNodeLimits assigned;
    assigned = copy;
    assigned.translation.min[0] = 3;
    EXPECT_EQ(copy.translation.min[0], 0.0);
    EXPECT_EQ(assigned.rotation.max[1], -5.0);
}

}  // namespace
