#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "character/KQovCharacter.h"
#include "character/KQovCharacterProperties.h"
#include "character/KQovCharacterRoleTable.h"
#include "character/KQovControlSet.h"
#include "character/KQovControlSetPlug.h"
#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

// The value properties in order, as listed with the character properties: 'm'
// and 'v' push the mode or value of the solver row, '-' only stores, 'f' has
// no setter.
struct PropertyRow {
    const char* name;
    char push;
    int row;
};
const PropertyRow kValueProperties[] = {
    {"Active", '-', -1},
    {"Lock", '-', -1},
    {"Weight", '-', -1},
    {"PullIterationCount", 'v', 0},
    {"Posture", 'v', 1},
    {"ForceActorSpace", 'm', 2},
    {"ScaleCompensation", '-', -1},
    {"ScaleCompensationMode", 'm', 3},
    {"HipsHeightCompensation", '-', -1},
    {"HipsHeightCompensationMode", 'm', 4},
    {"AnkleHeightCompensation", '-', -1},
    {"AnkleHeightCompensationMode", 'm', 5},
    {"AnkleProximityCompensation", '-', -1},
    {"AnkleProximityCompensationMode", 'm', 6},
    {"MassCenterCompensation", 'f', -1},
    {"ApplyLimits", 'm', 8},
    {"ChestReduction", 'f', -1},
    {"CollarReduction", 'f', -1},
    {"NeckReduction", 'f', -1},
    {"HeadReduction", 'f', -1},
    {"ReachActorLeftAnkle", 'f', -1},
    {"ReachActorRightAnkle", 'f', -1},
    {"ReachActorLeftKnee", 'f', -1},
    {"ReachActorRightKnee", 'f', -1},
    {"ReachActorChest", 'f', -1},
    {"ReachActorHead", 'f', -1},
    {"ReachActorLeftWrist", 'f', -1},
    {"ReachActorRightWrist", 'f', -1},
    {"ReachActorLeftElbow", 'f', -1},
    {"ReachActorRightElbow", 'f', -1},
    {"ReachActorLeftFingerBase", 'f', -1},
    {"ReachActorRightFingerBase", 'f', -1},
    {"ReachActorLeftToesBase", 'f', -1},
    {"ReachActorRightToesBase", 'f', -1},
    {"ReachActorLeftFingerBaseRotation", 'f', -1},
    {"ReachActorRightFingerBaseRotation", 'f', -1},
    {"ReachActorLeftToesBaseRotation", 'f', -1},
    {"ReachActorRightToesBaseRotation", 'f', -1},
    {"ReachActorLeftAnkleRotation", 'f', -1},
    {"ReachActorRightAnkleRotation", 'f', -1},
    {"ReachActorHeadRotation", 'f', -1},
    {"ReachActorLeftWristRotation", 'f', -1},
    {"ReachActorRightWristRotation", 'f', -1},
    {"ReachActorChestRotation", 'f', -1},
    {"ReachActorLowerChestRotation", 'f', -1},
    {"HipsTOffset", 'f', -1},
    {"ChestTOffset", 'f', -1},
    {"LeftUpLegRoll", '-', -1},
    {"LeftUpLegRollMode", 'm', 67},
    {"LeftLegRoll", '-', -1},
    {"LeftLegRollMode", 'm', 68},
    {"RightUpLegRoll", '-', -1},
    {"RightUpLegRollMode", 'm', 69},
    {"RightLegRoll", '-', -1},
    {"RightLegRollMode", 'm', 70},
    {"LeftArmRoll", '-', -1},
    {"LeftArmRollMode", 'm', 71},
    {"LeftForeArmRoll", '-', -1},
    {"LeftForeArmRollMode", 'm', 72},
    {"RightArmRoll", '-', -1},
    {"RightArmRollMode", 'm', 73},
    {"RightForeArmRoll", '-', -1},
    {"RightForeArmRollMode", 'm', 74},
    {"RollExtractionMode", 'v', 66},
    {"FootFloorContact", 'm', 44},
    {"FootAutomaticToes", 'm', 52},
    {"FootFloorPivot", 'v', 53},
    {"FootBottomToAnkle", 'v', 45},
    {"FootBackToAnkle", 'v', 46},
    {"FootMiddleToAnkle", 'v', 47},
    {"FootFrontToMiddle", 'v', 48},
    {"FootInToAnkle", 'v', 49},
    {"FootOutToAnkle", 'v', 50},
    {"FootContactSize", 'v', 51},
    {"FootContactStiffness", 'f', -1},
    {"FootFingerContactRollStiffness", 'f', -1},
    {"HandFloorContact", 'm', 55},
    {"HandAutomaticFingers", 'm', 63},
    {"HandFloorPivot", 'v', 64},
    {"HandBottomToWrist", 'v', 56},
    {"HandBackToWrist", 'v', 57},
    {"HandMiddleToWrist", 'v', 58},
    {"HandFrontToMiddle", 'v', 59},
    {"HandInToWrist", 'v', 60},
    {"HandOutToWrist", 'v', 61},
    {"HandContactSize", 'v', 62},
    {"HandContactStiffness", 'f', -1},
    {"HandFingerContactRollStiffness", 'f', -1},
    {"CtrlPullLeftToeBase", 'f', -1},
    {"CtrlPullLeftFoot", 'f', -1},
    {"CtrlPullLeftKnee", 'f', -1},
    {"CtrlPullRightToeBase", 'f', -1},
    {"CtrlPullRightFoot", 'f', -1},
    {"CtrlPullRightKnee", 'f', -1},
    {"CtrlPullLeftFingerBase", 'f', -1},
    {"CtrlPullLeftHand", 'f', -1},
    {"CtrlPullLeftElbow", 'f', -1},
    {"CtrlPullRightFingerBase", 'f', -1},
    {"CtrlPullRightHand", 'f', -1},
    {"CtrlPullRightElbow", 'f', -1},
    {"CtrlChestPullLeftHand", 'f', -1},
    {"CtrlChestPullRightHand", 'f', -1},
    {"CtrlPullHead", 'f', -1},
    {"CtrlResistHipsPosition", 'f', -1},
    {"CtrlEnforceGravity", 'f', -1},
    {"CtrlResistHipsOrientation", 'f', -1},
    {"CtrlResistChestPosition", 'f', -1},
    {"CtrlResistChestOrientation", 'f', -1},
    {"CtrlResistLeftCollar", 'f', -1},
    {"CtrlResistRightCollar", 'f', -1},
    {"CtrlResistLeftKnee", 'f', -1},
    {"CtrlResistMaximumExtensionLeftKnee", 'f', -1},
    {"CtrlResistCompressionFactorLeftKnee", 'f', -1},
    {"CtrlResistRightKnee", 'f', -1},
    {"CtrlResistMaximumExtensionRightKnee", 'f', -1},
    {"CtrlResistCompressionFactorRightKnee", 'f', -1},
    {"CtrlResistLeftElbow", 'f', -1},
    {"CtrlResistMaximumExtensionLeftElbow", 'f', -1},
    {"CtrlResistCompressionFactorLeftElbow", 'f', -1},
    {"CtrlResistRightElbow", 'f', -1},
    {"CtrlResistMaximumExtensionRightElbow", 'f', -1},
    {"CtrlResistCompressionFactorRightElbow", 'f', -1},
    {"CtrlSpineStiffness", 'f', -1},
    {"CtrlNeckStiffness", 'f', -1},
    {"MirrorMode", 'm', 125},
    {"ShoulderCorrection", 'f', -1},
    {"LeftKneeKillPitch", 'm', 128},
    {"RightKneeKillPitch", 'm', 129},
    {"LeftElbowKillPitch", 'm', 130},
    {"RightElbowKillPitch", 'm', 131},
    {"HipsTranslationMode", 'v', 132},
    {"WriteReference", 'm', 175},
    {"SyncMode", 'm', 176},
    {"Damping", 'f', -1},
    {"OrientationDamping", '-', -1},
    {"OrientationDampingMode", 'm', 76},
    {"DisplacementDamping", '-', -1},
    {"DisplacementDampingMode", 'm', 77},
    {"DisplacementMemory", '-', -1},
    {"DisplacementMemoryMode", 'm', 78},
    {"HipsDisplacementDamping", '-', -1},
    {"HipsDisplacementDampingMode", 'm', 79},
    {"AnkleDisplacementDamping", '-', -1},
    {"AnkleDisplacementDampingMode", 'm', 80},
    {"WristDisplacementDamping", '-', -1},
    {"WristDisplacementDampingMode", 'm', 81},
    {"Stabilization", 'f', -1},
    {"AnkleStabilizationTime", '-', -1},
    {"AnkleStabilizationTimeMode", 'm', 83},
    {"AnkleStabilizationPerimeter", '-', -1},
    {"AnkleStabilizationPerimeterMode", 'm', 84},
    {"AnkleStabilizationAngularPerimeter", '-', -1},
    {"AnkleStabilizationAngularPerimeterMode", 'm', 85},
    {"AnkleStabilizationFloorProximity", '-', -1},
    {"AnkleStabilizationFloorProximityMode", 'm', 86},
    {"AnkleStabilizationDamping", '-', -1},
    {"AnkleStabilizationDampingMode", 'm', 87},
    {"AnkleStabilizationRecoveryTime", '-', -1},
    {"AnkleStabilizationRecoveryTimeMode", 'm', 88},
    {"LeftHandThumbTip", 'v', 141},
    {"LeftHandIndexTip", 'v', 142},
    {"LeftHandMiddleTip", 'v', 143},
    {"LeftHandRingTip", 'v', 144},
    {"LeftHandPinkyTip", 'v', 145},
    {"LeftHandExtraFingerTip", 'v', 146},
    {"RightHandThumbTip", 'v', 147},
    {"RightHandIndexTip", 'v', 148},
    {"RightHandMiddleTip", 'v', 149},
    {"RightHandRingTip", 'v', 150},
    {"RightHandPinkyTip", 'v', 151},
    {"RightHandExtraFingerTip", 'v', 152},
    {"LeftFootThumbTip", 'v', 153},
    {"LeftFootIndexTip", 'v', 154},
    {"LeftFootMiddleTip", 'v', 155},
    {"LeftFootRingTip", 'v', 156},
    {"LeftFootPinkyTip", 'v', 157},
    {"LeftFootExtraFingerTip", 'v', 158},
    {"RightFootThumbTip", 'v', 159},
    {"RightFootIndexTip", 'v', 160},
    {"RightFootMiddleTip", 'v', 161},
    {"RightFootRingTip", 'v', 162},
    {"RightFootPinkyTip", 'v', 163},
    {"RightFootExtraFingerTip", 'v', 164},
    {"FingerSolving", 'm', 165},
    {"FootFingerContact", 'm', 171},
    {"FootContactType", 'v', 170},
    {"FootFingerContactMode", 'v', 172},
    {"HandFingerContact", 'm', 167},
    {"HandContactType", 'v', 166},
    {"HandFingerContactMode", 'v', 168},
    {"ContactBehaviour", 'v', 174},
};

double Number(KProperty* property) {
    double v[4] = {0, 0, 0, 0};
    KQovGetPropertyNumbers(property, v);
    return v[0];
}

void SetNumber(KProperty* property, double value) {
    KQovSetPropertyNumbers(property, &value, 1);
}

std::vector<double> Snapshot(const KQovSolverParameterStore& store) {
    std::vector<double> out;
    for (int i = 0; i < store.GetCount(); ++i) {
        out.push_back(store.GetMode(i));
        out.push_back(store.GetValue(i));
    }
    return out;
}

TEST(CharacterProperties, PropertiesInOrder) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovCharacterProperties* set = character.GetCharacterProperties();
    ASSERT_EQ(std::size(kValueProperties), 191u);
    ASSERT_EQ(set->GetPropertyCount(), 191 + 187 + 5);
    int at = 0;
    for (const PropertyRow& row : kValueProperties) {
        KProperty* p = set->GetProperty(at++);
        EXPECT_STREQ(p->GetName(), row.name);
        EXPECT_EQ(p->TestUserFlag(KQovCharacterProperties::kNoSetterFlag), row.push == 'f')
            << row.name;
    }
    for (int slot = 0; slot < 191; ++slot) {
        const char* name = nullptr;
        if (!KQovCharacterRoleTable::GetSlotName(slot, name)) {
            EXPECT_EQ(character.GetLinkProperty(slot), nullptr);
            continue;
        }
        KProperty* p = set->GetProperty(at++);
        EXPECT_EQ(p, character.GetLinkProperty(slot));
        EXPECT_EQ(std::string(p->GetName()), std::string(name) + "Link");
    }
    for (const char* name :
         {"SourceObject", "DestinationObject", "Actor", "Character", "ControlSet"})
        EXPECT_STREQ(set->GetProperty(at++)->GetName(), name);
    EXPECT_EQ(set->FindProperty("LEFT_FLOORLink"), nullptr);
    EXPECT_EQ(set->FindProperty("ReferenceLink"), character.GetLinkProperty(67));
}

TEST(CharacterProperties, InitialValues) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovCharacterProperties* set = character.GetCharacterProperties();
    struct Case {
        const char* name;
        double value;
    };
    const Case cases[] = {
        {"Active", 1},
        {"Weight", 100},
        {"PullIterationCount", 10},
        {"ReachActorLeftAnkleRotation", 100},
        {"CtrlEnforceGravity", 60},
        {"SyncMode", 1},
        {"FingerSolving", 1},
        {"ScaleCompensation", 0},
        {"ScaleCompensationMode", 1},
        {"MassCenterCompensation", 80},
        {"LeftArmRoll", 60},
        {"FootContactSize", 100},
        {"AnkleStabilizationDampingMode", 0},
        {"AnkleStabilizationRecoveryTimeMode", 1},
        {"RightFootExtraFingerTip", 0.5},
        {"FootFingerContactMode", 1},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(Number(set->FindProperty(c.name)), c.value) << c.name;
}

TEST(CharacterProperties, SettersPushIntoTheStore) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovCharacterProperties* set = character.GetCharacterProperties();
    KQovSolverParameterStore& store = *character.GetSolverStore();
    for (const PropertyRow& row : kValueProperties) {
        SCOPED_TRACE(row.name);
        KProperty* p = set->FindProperty(row.name);
        const std::vector<double> before = Snapshot(store);
        double wanted = 5.5;
        if (row.push == 'm')
            wanted = store.GetMode(row.row) == 0 ? 1 : 0;
        else if (p->GetTypeCode() == KProperty::eENUM || p->GetTypeCode() == KProperty::eBOOL)
            wanted = Number(p) == 0 ? 1 : 0;
        SetNumber(p, wanted);
        EXPECT_DOUBLE_EQ(Number(p), wanted);
        if (row.push == 'm')
            EXPECT_EQ(store.GetMode(row.row), int(wanted));
        else if (row.push == 'v')
            EXPECT_DOUBLE_EQ(store.GetValue(row.row), wanted);
        else
            EXPECT_EQ(Snapshot(store), before);
    }
}

TEST(CharacterProperties, Clamps) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovCharacterProperties* set = character.GetCharacterProperties();
    struct Case {
        const char* name;
        int row;
        double given, kept;
    };
    const Case cases[] = {
        {"PullIterationCount", 0, 45, 30},   {"PullIterationCount", 0, -1, 0},
        {"FootBottomToAnkle", 45, 0, 0.01},  {"HandContactSize", 62, 1e6, 1000},
        {"LeftHandThumbTip", 141, -3, 0.01},
    };
    for (const Case& c : cases) {
        KProperty* p = set->FindProperty(c.name);
        SetNumber(p, c.given);
        EXPECT_DOUBLE_EQ(Number(p), c.kept) << c.name;
        EXPECT_DOUBLE_EQ(character.GetSolverStore()->GetValue(c.row), c.kept) << c.name;
    }
}

TEST(CharacterProperties, LinkPropertiesFollowConnections) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovNode a(nullptr, "Model::A"), b(nullptr, "Model::B");
    KPropertyObjectList* hips = character.GetLinkProperty(0);
    KQovCharacterLink named;
    named.name = "Hips";
    named.rotationOffset = KVector4(0, 90, 0, 1);
    character.SetCharacterLink(0, named, false);

    hips->SetSingle(a.GetPropertyHandler());
    KQovCharacterLink link;
    ASSERT_TRUE(character.GetCharacterLink(0, &link));
    EXPECT_EQ(link.model, &a);
    EXPECT_GE(a.FindCharacterLink(&character, 0, 0, 0), 0);

    hips->SetSingle(b.GetPropertyHandler());  // relinking moves the back-link
    EXPECT_EQ(a.GetCharacterLinkCount(), 0);
    EXPECT_GE(b.FindCharacterLink(&character, 0, 0, 0), 0);

    hips->Clear();
    ASSERT_TRUE(character.GetCharacterLink(0, &link));
    EXPECT_EQ(link.model, nullptr);
    EXPECT_STREQ(link.name.Buffer(), "Hips");
    EXPECT_DOUBLE_EQ(link.rotationOffset[1], 90.0);
    EXPECT_EQ(b.GetCharacterLinkCount(), 0);

    // A property set that is not a node's leaves the slot alone.
    KQovCharacter other(nullptr, "Constraint::D");
    hips->SetSingle(other.GetPropertyHandler());
    ASSERT_TRUE(character.GetCharacterLink(0, &link));
    EXPECT_EQ(link.model, nullptr);
}

TEST(CharacterProperties, DisconnectingAnotherNodeKeepsTheModel) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovNode a(nullptr, "Model::A"), b(nullptr, "Model::B");
    KPropertyObjectList* hips = character.GetLinkProperty(0);
    hips->Add(a.GetPropertyHandler());
    KQovCharacterLink link;
    link.model = &b;
    character.SetCharacterLink(0, link, false);  // the slot now names B, A stays connected
    hips->Remove(a.GetPropertyHandler());
    ASSERT_TRUE(character.GetCharacterLink(0, &link));
    EXPECT_EQ(link.model, &b);
}

TEST(CharacterProperties, ControlSetPlugFillsTheControlSet) {
    KQovCharacter character(nullptr, "Constraint::C");
    KQovControlSetPlug plug(nullptr, "ControlSetPlug::P");
    KQovNode node(nullptr, "Model::A");
    plug.GetPlugProperties()->SetControlSetType(3);
    plug.GetPlugProperties()->GetEffectorProperty(0)->Add(node.GetPropertyHandler());
    auto* list = static_cast<KPropertyObjectList*>(
        character.GetCharacterProperties()->FindProperty("ControlSet"));
    // A node's property set is no plug: nothing is filled.
    list->SetSingle(node.GetPropertyHandler());
    EXPECT_EQ(character.GetControlSet()->GetType(), 0);
    list->SetSingle(plug.GetPropertyHandler());
    EXPECT_EQ(character.GetControlSet()->GetType(), 3);
    EXPECT_TRUE(character.GetControlSet()->GetEffector(0, nullptr));
}

}  // namespace
