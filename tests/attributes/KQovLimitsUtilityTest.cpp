#include <gtest/gtest.h>

#include <string>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLimitsUtility.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovSkeleton.h"
#include "foundation/KMatrix.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"

namespace {

KVector4 V(double x, double y, double z) {
    return KVector4(x, y, z, 1.0);
}

void ExpectXYZ(const KVector4& got, const KVector4& want, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << what << " " << i;
}

TEST(KQovLimitsUtility, IndexedAccess) {
    KQovNode node(nullptr, "Model::Joint");
    KQovLimitsUtility limits(&node.GetLimits());
    // Enable follows any of the six flags; a change sets or clears all six.
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(limits.GetEnable(i));
        limits.SetEnable(i, false);
        EXPECT_FALSE(limits.GetEnable(i));
        limits.SetEnable(i, true);
        KQovLimits copy = i == 0 ? node.GetLimits().translation
                          : i == 1 ? node.GetLimits().rotation : node.GetLimits().scaling;
        bool x, y, z;
        copy.GetMaxActive(x, y, z);
        EXPECT_TRUE(copy.minActiveX && copy.minActiveY && copy.minActiveZ && x && y && z) << i;
        limits.SetEnable(i, true);  // same state: no change
        EXPECT_TRUE(limits.GetEnable(i));
    }
    node.GetLimits().scaling.SetMinActive(false, true, false);
    node.GetLimits().scaling.SetMaxActive(false, false, false);
    EXPECT_TRUE(limits.GetEnable(2));
    limits.SetEnable(2, false);
    EXPECT_FALSE(node.GetLimits().scaling.minActiveY);

    limits.SetDefault(0, V(1, 2, 3));
    ExpectXYZ(node.GetLimits().translation.max, V(1, 2, 3), "translation default");
    limits.SetDefault(1, V(10, 20, 30));
    ExpectXYZ(*node.GetPreRotation(0), V(10, 20, 30), "rotation default");
    ExpectXYZ(limits.GetDefault(1), V(10, 20, 30), "rotation default read");
    limits.SetMin(2, V(0.5, 0.5, 0.5));
    limits.SetMax(2, V(2, 2, 2));
    ExpectXYZ(limits.GetMin(2), V(0.5, 0.5, 0.5), "min");
    ExpectXYZ(limits.GetMax(2), V(2, 2, 2), "max");

    // Outside 0-2: nothing changes, neutral reads.
    for (int bad : {-1, 3}) {
        limits.SetAuto(bad, false);
        limits.SetEnable(bad, true);
        limits.SetDefault(bad, V(9, 9, 9));
        limits.SetMin(bad, V(9, 9, 9));
        EXPECT_FALSE(limits.GetAuto(bad));
        EXPECT_FALSE(limits.GetEnable(bad));
        ExpectXYZ(limits.GetDefault(bad), KVector4(), "bad default");
        ExpectXYZ(limits.GetMin(bad), KVector4(), "bad min");
        ExpectXYZ(limits.GetMax(bad), KVector4(), "bad max");
    }
    ExpectXYZ(node.GetLimits().translation.min, V(1, 2, 3), "untouched");

    // Rotation auto off: active, forwarded to the property, limit-only space.
    EXPECT_TRUE(limits.GetAuto(1));
    limits.SetAuto(1, false);
    EXPECT_TRUE(node.GetLimits().rotationActive);
    EXPECT_TRUE(node.GetNodeProperties()->GetBool(KQovNodeProperties::eRotationActive));
    EXPECT_TRUE(node.GetRotationSpaceForLimitOnly(0));
    limits.SetAuto(1, true);
    EXPECT_FALSE(node.GetNodeProperties()->GetBool(KQovNodeProperties::eRotationActive));
    EXPECT_TRUE(node.GetRotationSpaceForLimitOnly(0));

    limits.SetRotationType(0);
    EXPECT_TRUE(limits.IsSphericRotation());
    EXPECT_FALSE(limits.GetRotationType());
    EXPECT_EQ(node.GetRotationOrder(0), 6);
    limits.SetRotationType(5);
    EXPECT_TRUE(limits.GetRotationType());
    EXPECT_EQ(node.GetRotationOrder(0), 0);
}

// root -> bone (at +3 Y) -> tip (at +5 Y, plus a farther marker beside it).
struct Bones {
    KQovNode root{nullptr, "Model::Root"};
    KQovNode bone{nullptr, "Model::Bone"};
    KQovNode tip{nullptr, "Model::Tip"};
    KQovNode marker{nullptr, "Model::Marker"};
    KQovSkeleton boneLimb{nullptr};
    KQovSkeleton tipLimb{nullptr};
    KQovMarker markerAttribute{nullptr};
    Bones(const KVector4& boneAt, const KVector4& tipAt) {
        root.AddChild(&bone);
        bone.AddChild(&tip);
        bone.AddChild(&marker);
        boneLimb.SetSkeletonType(KQovSkeleton::eLimb);
        tipLimb.SetSkeletonType(KQovSkeleton::eLimbNode);
        bone.SetNodeAttribute(&boneLimb);
        tip.SetNodeAttribute(&tipLimb);
        marker.SetNodeAttribute(&markerAttribute);
        Place(bone, boneAt);
        Place(tip, tipAt);
        Place(marker, V(7, 0, 0));
    }
    ~Bones() {
        for (KQovNode* n : {&bone, &tip, &marker}) n->SetNodeAttribute(nullptr);
    }
    static void Place(KQovNode& node, const KVector4& t) {
        for (int a = 0; a < 3; ++a)
            node.GetDefaultTakeNode()->GetRoot()->Find(std::string("Transform/T/") + "XYZ"[a])
                ->GetCurve()->SetValue(float(t[a]));
    }
};

TEST(KQovLimitsUtility, AutoLimitsAlongTheBone) {
    struct Case {
        const char* name;
        KVector4 boneAt, tipAt;
        KMatrix frame;  // expected bone frame: pre = its inverse (parents are unrotated)
        double axisLength;
        int order;
    };
    const Case cases[] = {
        {"along +Y", V(0, 3, 0), V(0, 5, 0), KMatrix(0.0, 0.0, 90.0), 5.0, 0},
        {"along -X", V(-3, 0, 0), V(-4, 0, 0), KMatrix(0.0, 180.0, 0.0), 4.0, 0},
        {"bent", V(0, 3, 0), V(2, 0, 0), KMatrix(180.0, 0.0, 0.0), 2.0, 0},
        {"on the parent", V(0, 0, 0), V(0, 5, 0), KMatrix(0.0, 0.0, 90.0), 5.0, 6},
    };
    for (const Case& c : cases) {
        Bones bones(c.boneAt, c.tipAt);
        KQovLimitsUtility limits(&bones.bone.GetLimits());
        limits.ApplyAutoLimits(&bones.bone);
        KMatrix pre(*bones.bone.GetPreRotation(0));
        KMatrix inverse;
        KMatrixTranspose3x3(inverse, c.frame);
        EXPECT_EQ(KMatrixCompare3x3(pre, inverse, 1e-9), 0) << c.name;
        EXPECT_EQ(KMatrixCompare3x3(KMatrix(limits.GetRotationAxis()), inverse, 1e-9), 0) << c.name;
        EXPECT_DOUBLE_EQ(limits.GetAxisLength(), c.axisLength) << c.name;
        EXPECT_EQ(bones.bone.GetRotationOrder(0), c.order) << c.name;
        ExpectXYZ(bones.bone.GetLimits().translation.min, c.boneAt, c.name);
        ExpectXYZ(bones.bone.GetLimits().scaling.max, V(1, 1, 1), c.name);
    }

    // A leaf keeps its own axes: no direction, pre-rotation = parent relative to it.
    Bones bones(V(0, 3, 0), V(0, 5, 0));
    for (int a = 0; a < 3; ++a)
        bones.tip.GetDefaultTakeNode()->GetRoot()->Find(std::string("Transform/R/") + "XYZ"[a])
            ->GetCurve()->SetValue(a == 2 ? 30.0f : 0.0f);
    KQovLimitsUtility leaf(&bones.tip.GetLimits());
    ExpectXYZ(KQovLimitsUtility::GetChildDirection(&bones.tip), V(0, 0, 0), "leaf direction");
    leaf.ApplyAutoLimits(&bones.tip);
    ExpectXYZ(*bones.tip.GetPreRotation(0), V(0, 0, -30), "leaf pre");
    EXPECT_EQ(leaf.GetAxisLength(), 0.0);

    // Active limits, roots and other nodes' records are left alone.
    KQovLimitsUtility root(&bones.root.GetLimits());
    root.ApplyAutoLimits(&bones.root);
    leaf.ApplyAutoLimits(&bones.bone);
    bones.bone.GetLimits().translationActive = true;
    bones.bone.GetLimits().rotationActive = true;
    bones.bone.GetLimits().scalingActive = true;
    KQovLimitsUtility active(&bones.bone.GetLimits());
    active.ApplyAutoLimits(&bones.bone);
    for (KQovNode* n : {&bones.root, &bones.bone}) {
        ExpectXYZ(*n->GetPreRotation(0), V(0, 0, 0), "untouched");
        ExpectXYZ(n->GetLimits().scaling.max, KVector4(), "untouched");
    }
}

}  // namespace
