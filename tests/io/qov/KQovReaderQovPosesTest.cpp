// Bind, rest and character poses read from both layouts, including character poses that nest
// whole scenes.
#include <gtest/gtest.h>

#include <string>

#include "TextReadTestUtil.h"
#include "character/KQovCharacterPose.h"
#include "scene/KQovNode.h"
#include "scene/KQovPose.h"

namespace {

using qovtest::GoldenText;
using qovtest::QovText;
using qovtest::TextRead;

// A character pose whose scene holds another one, `depth` levels down.
std::string NestedPoses(int depth) {
    std::string inner;
    for (int level = depth; level >= 1; --level)
        inner = "SceneGenericPersistence:  {\n Pose: \"Pose::Level" + std::to_string(level) +
                "\" {\n  Type: \"CharacterPose\"\n  PoseScene:  {\n" + inner + "  }\n }\n}\n";
    return inner;
}

TEST(KQovReaderQovPoses, BindAndRestPoseEntries) {
    TextRead read(GoldenText("pose_v5.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_EQ(read.scene->GetPoseCount(), 2);  // an unknown pose type makes nothing
    KQovPose* bind = read.scene->GetPose(0);
    KQovPose* rest = read.scene->GetPose(1);
    ASSERT_TRUE(bind->IsBindPose());
    ASSERT_TRUE(rest->IsRestPose());
    ASSERT_EQ(bind->GetCount(), 2);
    ASSERT_EQ(rest->GetCount(), 1);
    struct Case {
        KQovPose* pose;
        int index;
        const char* node;
        double m03;
        bool local;
    } cases[] = {
        {bind, 0, "Model::Hip", 5.0, false},  // bind-pose entries are never local
        {bind, 1, "Model::Knee", 6.0, false},
        {rest, 0, "Model::Hip", 7.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.node);
        EXPECT_STREQ(c.pose->GetNodeName(c.index), c.node);
        EXPECT_EQ(c.pose->GetMatrix(c.index)[0][3], c.m03);
        EXPECT_EQ(c.pose->GetMatrix(c.index)[1][1], 1.0);
        EXPECT_EQ(c.pose->IsLocalMatrix(c.index), c.local);
    }
}

TEST(KQovReaderQovPoses, CharacterPosesFollowTheCharacterSwitch) {
    for (bool characters : {false, true}) {
        SCOPED_TRACE(characters);
        TextRead read(GoldenText("pose_v5.qov"), [&](KStreamOptionsQov& options) {
            options.SetSwitch(KStreamOptionsQov::eCharacters, characters);
        });
        ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
        EXPECT_EQ(read.scene->GetPoseCount(), 2);
        ASSERT_EQ(read.scene->GetCharacterPoseCount(), characters ? 1 : 0);
        if (!characters) continue;
        KQovCharacterPose* pose = read.scene->GetCharacterPose(0);
        EXPECT_STREQ(pose->GetName(), "Pose::Stance");
        ASSERT_NE(pose->GetScene(), nullptr);
        KQovNode* root = pose->GetScene()->GetRootNode();
        ASSERT_NE(root, nullptr);
        EXPECT_NE(root->FindChild("Hip"), nullptr);  // the nested scene was read
        EXPECT_EQ(read.scene->GetRootNode()->FindChild("Hip"), nullptr);
    }
}

TEST(KQovReaderQovPoses, Version6PoseObjectsInBothCharacterPoseForms) {
    TextRead read(GoldenText("pose_v6.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_EQ(read.scene->GetPoseCount(), 1);
    EXPECT_FALSE(read.scene->GetPose(0)->IsLocalMatrix(0));
    ASSERT_EQ(read.scene->GetCharacterPoseCount(), 2);
    for (int i = 0; i < 2; ++i) {
        KQovScene* nestedScene = read.scene->GetCharacterPose(i)->GetScene();
        ASSERT_NE(nestedScene, nullptr);
        EXPECT_NE(nestedScene->GetRootNode()->FindChild("Hip"), nullptr) << i;
    }
}

TEST(KQovReaderQovPoses, DeeplyNestedPoseScenesStopAtTheDepthLimit) {
    TextRead read(QovText(5000, NestedPoses(20)));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    // Follow the chain: each level's scene holds the next level's pose.
    int depth = 0;
    KQovScene* scene = read.scene;
    while (scene && scene->GetCharacterPoseCount() == 1) {
        ++depth;
        scene = scene->GetCharacterPose(0)->GetScene();
    }
    EXPECT_EQ(depth, KQovReaderQov::kMaxPoseSceneDepth);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->GetCharacterPoseCount(), 0);
}

}  // namespace
