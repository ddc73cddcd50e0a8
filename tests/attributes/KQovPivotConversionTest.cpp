#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovPivotConversion.h"
#include "attributes/KQovSkeleton.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"

namespace {

std::vector<std::string> ChildNames(const KQovNode& node) {
    std::vector<std::string> names;
    for (int i = 0; KQovNode* child = node.GetChild(i); ++i) names.push_back(child->GetName());
    return names;
}

KVector4 Get(const KQovNode& node, void (KQovNode::*get)(KVector4&) const) {
    KVector4 v;
    (node.*get)(v);
    return v;
}

void ExpectXYZ(const KVector4& v, double x, double y, double z, const char* what) {
    EXPECT_NEAR(v[0], x, 1e-9) << what;
    EXPECT_NEAR(v[1], y, 1e-9) << what;
    EXPECT_NEAR(v[2], z, 1e-9) << what;
}

// Key values of the translation curves of a take, X then Y then Z.
std::vector<float> TranslationKeys(KQovNode& node, int take) {
    std::vector<float> values;
    KQovTakeNode* t = node.GetTakeNode(take);
    for (KFCurve* curve : {t->GetTranslationX(), t->GetTranslationY(), t->GetTranslationZ()})
        for (int k = 0; k < curve->KeyGetCount(); ++k) values.push_back(curve->KeyGetValue(k));
    return values;
}

TEST(KQovPivotConversion, NullsAndBackGiveTheSameNode) {
    KQovObjectManager manager;
    KQovNode* scene = manager.CreateNode("Scene");
    KQovNode* bone = manager.CreateNode("Bone");
    KQovNode* other = manager.CreateNode("Other");
    KQovNode* k1 = manager.CreateNode("K1");
    KQovNode* k2 = manager.CreateNode("K2");
    scene->AddChild(bone);
    scene->AddChild(other);
    bone->AddChild(k1);
    bone->AddChild(k2);
    KQovSkeleton* skeleton = manager.CreateSkeleton();
    skeleton->SetSkeletonType(KQovSkeleton::eLimb);
    skeleton->SetSize(3.0);
    bone->SetNodeAttribute(skeleton);
    bone->SetPivotState(0, 0);
    bone->SetPreRotation(0, 10, 20, 30);
    bone->SetPostRotation(0, 0, 45, 0);
    bone->SetLocalTranslation(1, 2, 3);
    bone->AddTakeNode("Walk");
    for (int take = 0; take < 2; ++take) {
        KFCurve* x = bone->GetTakeNode(take)->GetTranslationX();
        x->PrepareKeys(2);
        x->KeySet(0, KTime(0), 1.0f + take);
        x->KeySet(1, KTIME_ONE_SECOND, 4.0f);
        x->CommitKeys(2);
    }
    const std::vector<float> keys[2] = {TranslationKeys(*bone, 0), TranslationKeys(*bone, 1)};
    const int nodeCount = manager.GetNodeCount();

    // A root keeps its pre-rotation; "Other" has nothing to convert.
    scene->SetPreRotation(0, 5, 0, 0);
    ConvertPivotsToNulls(nullptr, &manager);
    ConvertPivotsToNulls(scene, &manager);
    EXPECT_EQ(manager.GetNodeCount(), nodeCount + 2);
    ExpectXYZ(*scene->GetPreRotation(0), 5, 0, 0, "root pre");
    EXPECT_EQ(ChildNames(*scene), (std::vector<std::string>{"Model::Bone__Pre_", "Model::Other"}));
    KQovNode* pre = scene->GetChild(0);
    EXPECT_EQ(pre->GetChild(0), bone);
    EXPECT_EQ(ChildNames(*bone), (std::vector<std::string>{"Model::Bone__Post_"}));
    KQovNode* post = bone->GetChild(0);
    EXPECT_EQ(ChildNames(*post), (std::vector<std::string>{"Model::K1", "Model::K2"}));
    ExpectXYZ(Get(*pre, &KQovNode::GetLocalRotation), 10, 20, 30, "pre null rotation");
    ExpectXYZ(Get(*pre, &KQovNode::GetLocalTranslation), 1, 2, 3, "pre null translation");
    ExpectXYZ(Get(*post, &KQovNode::GetLocalRotation), 0, 45, 0, "post null rotation");
    ExpectXYZ(Get(*bone, &KQovNode::GetLocalTranslation), 0, 0, 0, "node translation");
    ExpectXYZ(*bone->GetPreRotation(0), 0, 0, 0, "node pre");
    ExpectXYZ(*bone->GetPostRotation(0), 0, 0, 0, "node post");
    for (int take = 0; take < 2; ++take) {
        EXPECT_TRUE(TranslationKeys(*bone, take).empty());
        EXPECT_EQ(TranslationKeys(*pre, take), keys[take]);
        EXPECT_FLOAT_EQ(pre->GetTakeNode(take)->GetRotationZ()->GetValue(), 30.0f);
    }
    EXPECT_STREQ(pre->GetTakeNodeName(1), "Walk");
    for (KQovNode* null : {pre, post}) {
        const KQovSkeleton* limb = null->GetSkeleton();
        ASSERT_NE(limb, nullptr);
        EXPECT_EQ(limb->GetSkeletonType(), KQovSkeleton::eLimbNode);
        EXPECT_DOUBLE_EQ(limb->GetSize(), 3.0);
    }

    MergePivotNulls(scene);
    EXPECT_EQ(ChildNames(*scene), (std::vector<std::string>{"Model::Bone", "Model::Other"}));
    EXPECT_EQ(ChildNames(*bone), (std::vector<std::string>{"Model::K1", "Model::K2"}));
    ExpectXYZ(Get(*bone, &KQovNode::GetLocalTranslation), 1, 2, 3, "translation back");
    ExpectXYZ(*bone->GetPreRotation(0), 10, 20, 30, "pre back");
    ExpectXYZ(*bone->GetPostRotation(0), 0, 45, 0, "post back");
    EXPECT_EQ(bone->GetPivotState(0), 0);
    for (int take = 0; take < 2; ++take) EXPECT_EQ(TranslationKeys(*bone, take), keys[take]);
    EXPECT_EQ(pre->GetParent(), nullptr);
    EXPECT_EQ(post->GetParent(), nullptr);
    EXPECT_EQ(post->GetChildCount(), 0);

    bone->SetNodeAttribute(nullptr);
}

TEST(KQovPivotConversion, NullNamesKeepOnlyWellFormedClashSuffixes) {
    struct Row {
        const char* initial;
        const char* current;
        const char* expected;
    };
    const Row rows[] = {
        {"Model::Bone", "Model::Bone", "Model::Bone__Pre_"},
        {"Model::Bone", "Model::Bone_ncl1_12", "Model::Bone__Pre__ncl1_12"},
        {"Model::bONE", "Model::Bone_ncl2_ul1lu14", "Model::bONE__Pre__ncl2_ul1lu14"},
        {"Model::Bone", "Model::Bone_ncl2_lu3", "Model::Bone__Pre__ncl2_lu3"},
        {"Model::Bone", "Model::Bone_ncl1_", "Model::Bone_ncl1___Pre_"},
        {"Model::Bone", "Model::Bone_ncl1_4x", "Model::Bone_ncl1_4x__Pre_"},
        {"Model::Bone", "Model::Bone_ncl2_", "Model::Bone_ncl2___Pre_"},
        {"Model::Bone", "Model::Bone_ncl3_1", "Model::Bone_ncl3_1__Pre_"},
        {"Model::Uncle", "Model::Uncle", "Model::Uncle__Pre_"},
        {"", "", "__Pre_"},
    };
    for (const Row& row : rows) {
        KQovNode node(nullptr, row.initial);
        KQovNamePair names = node.GetNamePair();
        names.SetCurrentName(row.current);
        node.SetNamePair(names);
        EXPECT_STREQ(PivotNullName(node, "__Pre_").Buffer(), row.expected) << row.current;
    }
}

TEST(KQovPivotConversion, MalformedPivotNullsStayOrdinaryNodes) {
    KQovObjectManager manager;
    KQovNode* scene = manager.CreateNode("Scene");
    KQovNode* lonePre = manager.CreateNode("A__Pre_");
    KQovNode* lonePost = manager.CreateNode("B__Post_");
    KQovNode* crowdedPre = manager.CreateNode("C__Pre_");
    KQovNode* c1 = manager.CreateNode("C1");
    KQovNode* c2 = manager.CreateNode("C2");
    KQovNode* rootPre = manager.CreateNode("D__Pre_");
    KQovNode* d = manager.CreateNode("D");
    for (KQovNode* n : {lonePre, lonePost, crowdedPre}) scene->AddChild(n);
    crowdedPre->AddChild(c1);
    crowdedPre->AddChild(c2);
    rootPre->AddChild(d);
    crowdedPre->SetLocalTranslation(7, 0, 0);

    MergePivotNulls(scene);
    MergePivotNulls(rootPre);
    MergePivotNulls(nullptr);
    EXPECT_EQ(ChildNames(*scene),
              (std::vector<std::string>{"Model::A__Pre_", "Model::B__Post_", "Model::C__Pre_"}));
    EXPECT_EQ(ChildNames(*crowdedPre), (std::vector<std::string>{"Model::C1", "Model::C2"}));
    EXPECT_EQ(d->GetParent(), rootPre);
    ExpectXYZ(Get(*c1, &KQovNode::GetLocalTranslation), 0, 0, 0, "untouched");
}

}  // namespace
