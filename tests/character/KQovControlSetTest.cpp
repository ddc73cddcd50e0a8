#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovControlSet.h"
#include "character/KQovControlSetPlug.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

// Flags of an effector record: show, T, R, candidate T, candidate R.
std::array<int, 5> Flags(const KQovEffectorRecord& e) {
    return {e.show, e.translationActive, e.rotationActive, e.candidateTranslationActive,
            e.candidateRotationActive};
}

TEST(ControlSet, EffectorNames) {
    // The effectors in number order, as listed with the control set.
    const char* const listed =
        "HipsEffector LeftAnkleEffector RightAnkleEffector LeftWristEffector RightWristEffector "
        "LeftKneeEffector RightKneeEffector LeftElbowEffector RightElbowEffector "
        "ChestOriginEffector ChestEndEffector LeftFootEffector RightFootEffector "
        "LeftShoulderEffector RightShoulderEffector HeadEffector LeftHipEffector RightHipEffector "
        "LeftHandEffector RightHandEffector LeftHandThumbEffector LeftHandIndexEffector "
        "LeftHandMiddleEffector LeftHandRingEffector LeftHandPinkyEffector "
        "LeftHandExtraFingerEffector RightHandThumbEffector RightHandIndexEffector "
        "RightHandMiddleEffector RightHandRingEffector RightHandPinkyEffector "
        "RightHandExtraFingerEffector LeftFootThumbEffector LeftFootIndexEffector "
        "LeftFootMiddleEffector LeftFootRingEffector LeftFootPinkyEffector "
        "LeftFootExtraFingerEffector RightFootThumbEffector RightFootIndexEffector "
        "RightFootMiddleEffector RightFootRingEffector RightFootPinkyEffector "
        "RightFootExtraFingerEffector";
    std::istringstream in(listed);
    std::string name;
    int number = 0;
    for (; in >> name; ++number) {
        EXPECT_EQ(name, KQovControlSet::GetEffectorName(number));
        EXPECT_EQ(KQovControlSet::FindEffector(name.c_str()), number);
    }
    EXPECT_EQ(number, 44);
    EXPECT_EQ(KQovControlSet::FindEffector("hipseffector"), -1);
    EXPECT_EQ(KQovControlSet::GetEffectorName(44), nullptr);
    EXPECT_EQ(KQovControlSet::GetEffectorName(-1), nullptr);
}

TEST(ControlSet, DefaultFlagsApplyToRecordsWithoutModel) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovControlSet& set = *character.GetControlSet();
    KQovNode node(nullptr, "Model::A");
    EXPECT_FALSE(set.GetEffector(0, nullptr));
    struct Case {
        int effector;
        std::array<int, 5> flags;
    };
    const Case defaults[] = {
        {0, {1, 1, 1, 0, 0}}, {1, {1, 1, 1, 1, 1}}, {2, {1, 1, 1, 1, 1}},  {3, {1, 1, 0, 1, 0}},
        {4, {1, 1, 0, 1, 0}}, {5, {1, 0, 0, 0, 0}}, {43, {1, 0, 0, 0, 0}},
    };
    KQovEffectorRecord record;
    KQovEffectorRecord none{};
    none.show = 0;
    for (const Case& c : defaults) {
        // Setting a model with all flags 0 keeps those flags; a reset brings the defaults back.
        ASSERT_TRUE(set.SetEffector(c.effector, &node, none));
        ASSERT_TRUE(set.GetEffector(c.effector, &record));
        EXPECT_EQ(Flags(record), (std::array<int, 5>{0, 0, 0, 0, 0}));
        set.Reset();
        set.SetEffector(c.effector, &node, KQovEffectorRecord{});
        EXPECT_EQ(node.GetCharacterLinkCount(), 1);
        set.SetEffector(c.effector, nullptr, none);
        EXPECT_EQ(node.GetCharacterLinkCount(), 0);
    }
    EXPECT_FALSE(set.SetEffector(44, &node, none));
}

TEST(ControlSet, BackLinksOfEveryKind) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovControlSet& set = *character.GetControlSet();
    KQovNode node(nullptr, "Model::A");
    ASSERT_TRUE(set.SetFKLink(7, KQovControlSetLink{&node, KString("")}));
    ASSERT_TRUE(set.SetEffector(9, &node, KQovEffectorRecord{}));
    ASSERT_TRUE(set.SetAuxEffector(9, &node, 14));
    EXPECT_GE(node.FindCharacterLink(&character, 1, 7, 0), 0);
    EXPECT_GE(node.FindCharacterLink(&character, 2, 9, 0), 0);
    EXPECT_GE(node.FindCharacterLink(&character, 3, 9, 13), 0);
    for (int bad : {0, 15}) EXPECT_FALSE(set.SetAuxEffector(9, &node, bad));
    EXPECT_FALSE(set.SetFKLink(191, KQovControlSetLink{&node, KString("")}));
    EXPECT_EQ(node.GetCharacterLinkCount(), 3);

    set.SetFKLink(7, KQovControlSetLink{});
    EXPECT_FALSE(set.GetFKLink(7, nullptr));
    set.SetAuxEffector(9, nullptr, 14);
    EXPECT_FALSE(set.GetAuxEffector(9, nullptr, 14));
    EXPECT_EQ(node.GetCharacterLinkCount(), 1);
    set.SetEffector(9, nullptr, KQovEffectorRecord{});
    EXPECT_EQ(node.GetCharacterLinkCount(), 0);
}

TEST(ControlSet, ResetKeepsNameOnlyLinks) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovControlSet& set = *character.GetControlSet();
    KQovNode node(nullptr, "Model::A");
    set.SetType(2);
    set.SetLockPick(1);
    set.SetFKLink(1, KQovControlSetLink{nullptr, KString("Named")});
    set.SetFKLink(2, KQovControlSetLink{&node, KString("Both")});
    set.SetAuxEffector(0, &node, 1);
    set.Reset();
    KQovControlSetLink link;
    ASSERT_TRUE(set.GetFKLink(1, &link));
    EXPECT_STREQ(link.name.Buffer(), "Named");
    EXPECT_FALSE(set.GetFKLink(2, nullptr));
    EXPECT_EQ(node.GetCharacterLinkCount(), 0);
    EXPECT_EQ(set.GetType(), 0);
    EXPECT_EQ(set.GetLockPick(), 0);
}

TEST(ControlSet, FillFromPlug) {
    KQovCharacter character(nullptr, "Constraint::C"), stranger(nullptr, "Constraint::X");
    KQovControlSet& set = *character.GetControlSet();
    KQovControlSetPlug plug(nullptr, "ControlSetPlug::P");
    KQovControlSetPlugProperties* props = plug.GetPlugProperties();
    ASSERT_EQ(props->GetLinkPropertyCount(), 187);
    EXPECT_STREQ(props->GetLinkProperty(0)->GetName(), "Hips");
    EXPECT_EQ(props->GetLinkSlot(67), 67);
    EXPECT_EQ(props->GetLinkSlot(68), 70);  // 68 and 69 have no name
    set.FillFromPlug(&plug);
    EXPECT_EQ(set.GetType(), 0);
    EXPECT_EQ(set.GetUseAxis(), 1);

    KQovNode a(nullptr, "Model::A"), b(nullptr, "Model::B"), c(nullptr, "Model::C");
    props->SetControlSetType(3);
    props->SetUseAxis(false);
    KPropertyObjectList* wrist = props->GetEffectorProperty(3);
    EXPECT_STREQ(wrist->GetName(), "LeftWristEffector");
    for (KQovNode* node : {&a, &b, &c}) wrist->Add(node->GetPropertyHandler());
    props->GetLinkProperty(0)->Add(a.GetPropertyHandler());
    props->GetLinkProperty(1)->Add(stranger.GetPropertyHandler());  // not a node: no model
    set.SetLockTransform(1);
    set.FillFromPlug(&plug);
    EXPECT_EQ(set.GetType(), 3);
    EXPECT_EQ(set.GetUseAxis(), 0);
    EXPECT_EQ(set.GetLockTransform(), 0);
    KQovEffectorRecord record;
    ASSERT_TRUE(set.GetEffector(3, &record));
    EXPECT_EQ(record.model, &a);
    EXPECT_EQ(Flags(record), (std::array<int, 5>{1, 0, 0, 0, 0}));
    KQovNode* aux = nullptr;
    ASSERT_TRUE(set.GetAuxEffector(3, &aux, 1));
    EXPECT_EQ(aux, &b);
    ASSERT_TRUE(set.GetAuxEffector(3, &aux, 2));
    EXPECT_EQ(aux, &c);
    KQovControlSetLink link;
    ASSERT_TRUE(set.GetFKLink(0, &link));
    EXPECT_EQ(link.model, &a);
    EXPECT_FALSE(set.GetFKLink(1, nullptr));
    EXPECT_GE(c.FindCharacterLink(&character, 3, 3, 1), 0);
}

TEST(ControlSetPlug, Identity) {
    KQovControlSetPlug plug(nullptr, "ControlSetPlug::P");
    EXPECT_EQ(plug.GetObjectType(), KQovObject::eControlSetPlug);
    EXPECT_STREQ(plug.GetTypeName().Buffer(), "ControlSetPlug");
    KQovPropertyHandler* set = plug.GetPropertyHandler();
    EXPECT_EQ(set->GetPropertyCount(), 2 + 187 + 44);
    EXPECT_STREQ(set->GetProperty(0)->GetName(), "UseAxis");
    EXPECT_STREQ(set->GetProperty(1)->GetName(), "ControlSetType");
    EXPECT_STREQ(set->GetProperty(2 + 186)->GetName(), "RightFootExtraFinger4");
    EXPECT_STREQ(set->GetProperty(2 + 187)->GetName(), "HipsEffector");
}

// Stand-ins for the scene layer's private-scene hooks.
int gMade = 0, gDestroyed = 0;
KQovScene* MakeScene(KQovObjectManager*) {
    ++gMade;
    return reinterpret_cast<KQovScene*>(&gMade);
}
void DestroyScene(KQovObjectManager*, KQovScene* scene) {
    if (scene == reinterpret_cast<KQovScene*>(&gMade)) ++gDestroyed;
}
KQovScene* FailScene(KQovObjectManager*) {
    return nullptr;
}

TEST(CharacterPose, PrivateSceneHooks) {
    {
        KQovCharacterPose pose(nullptr, "Pose::P");  // no scene layer yet
        EXPECT_EQ(pose.GetObjectType(), KQovObject::eCharacterPose);
        EXPECT_EQ(pose.GetScene(), nullptr);
    }
    KQovCharacterPose::SetPrivateSceneHooks(FailScene, DestroyScene);
    { KQovCharacterPose failed(nullptr, "Pose::F"); }
    EXPECT_EQ(gDestroyed, 0);
    KQovCharacterPose::SetPrivateSceneHooks(MakeScene, DestroyScene);
    { KQovCharacterPose pose(nullptr, "Pose::P"); }
    KQovCharacterPose::SetPrivateSceneHooks(nullptr, nullptr);
    EXPECT_EQ(gMade, 1);
    EXPECT_EQ(gDestroyed, 1);
}

}  // namespace
