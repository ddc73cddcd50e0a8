#include <gtest/gtest.h>

#include <string>

#include "scene/KQovPose.h"
#include "KQovSceneFixture.h"

namespace {

KMatrix Translated(double x) {
    KMatrix m;
    KMatrixSetIdentity(m);
    m[3][0] = x;
    return m;
}

using KQovPoseTest = SceneTest;

TEST_F(KQovPoseTest, BindPosesAgreeAcrossScenesRestPosesTakeAnything) {
    KQovScene* other = manager.CreateScene();
    KQovPose* bind1 = manager.CreatePose("A", true);
    KQovPose* bind2 = manager.CreatePose("B", true);
    KQovPose* rest = manager.CreatePose("C", false);
    ASSERT_TRUE(scene->AddPose(bind1) && other->AddPose(bind2) && other->AddPose(rest));
    EXPECT_FALSE(scene->AddPose(bind1));

    const KMatrix m = Translated(1.0), n = Translated(2.0);
    struct Row {
        KQovPose* pose;
        const char* node;
        KMatrix matrix;
        bool local;
        int want;
    };
    const Row rows[] = {
        {bind1, "hip", m, true, 0},   {bind2, "hip", n, false, -1},  // conflicts with the other scene
        {bind2, "hip", m, false, 0},  {bind1, "hip", m, false, 0},   // existing entry, local flag kept
        {bind1, "hip", n, false, -1}, {rest, "hip", n, true, 0},     // rest poses are not checked
        {rest, "knee", m, false, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(r.pose->Add(r.node, r.matrix, r.local), r.want) << r.node;
    EXPECT_TRUE(bind1->IsLocalMatrix(0));
    EXPECT_EQ(rest->GetTypeName(), "RestPose");
    EXPECT_EQ(bind1->GetTypeName(), "BindPose");

    std::vector<KQovPose*> poses;
    std::vector<int> indices;
    EXPECT_TRUE(KQovPose::FindBindPosesOfNode({scene, other}, "hip", poses, indices));
    EXPECT_EQ(poses, (std::vector<KQovPose*>{bind1, bind2}));

    KMatrix identity;
    KMatrixSetIdentity(identity);
    EXPECT_TRUE(rest->GetMatrix(-1) == identity);
    EXPECT_STREQ(rest->GetNodeName(5), "");
    rest->Remove(0);  // the entry goes for good
    EXPECT_EQ(rest->GetCount(), 1);
    EXPECT_EQ(rest->Find("knee"), 0);
    EXPECT_EQ(rest->Find("hip"), -1);

    // A long pose finds the first entry of a name through renames, removals and additions.
    KQovPose* wide = manager.CreatePose("D", false);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(wide->Add(("n" + std::to_string(i)).c_str(), Translated(i)), i);
    EXPECT_EQ(wide->Add("n5", Translated(5)), 5);
    EXPECT_EQ(wide->Add("n5", Translated(6)), -1);
    wide->SetNodeName(5, "renamed");
    wide->SetNodeName(9, "n8");
    EXPECT_EQ(wide->Find("n5"), -1);
    EXPECT_EQ(wide->Find("renamed"), 5);
    EXPECT_EQ(wide->Find("n8"), 8);
    wide->Remove(0);
    EXPECT_EQ(wide->Find("n39"), 38);
    EXPECT_EQ(wide->Find("n8"), 7);
    EXPECT_EQ(wide->Add("n40", Translated(40)), 39);
    EXPECT_EQ(wide->Find("n40"), 39);
    EXPECT_EQ(wide->Find(nullptr), -1);
}

}  // namespace
