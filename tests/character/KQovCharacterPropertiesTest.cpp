#include <gtest/gtest.h>

#include <sstream>
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

// The value properties in order, as listed with the character properties,
// "name:kind[row]": 'm' and 'v' push the mode or value of the solver row, '-'
// only stores, 'f' has no setter.
const char* const kListed =
    "Active:- Lock:- Weight:- PullIterationCount:v0 Posture:v1 ForceActorSpace:m2 "
    "ScaleCompensation:- ScaleCompensationMode:m3 HipsHeightCompensation:- "
    "HipsHeightCompensationMode:m4 AnkleHeightCompensation:- AnkleHeightCompensationMode:m5 "
    "AnkleProximityCompensation:- AnkleProximityCompensationMode:m6 MassCenterCompensation:f "
    "ApplyLimits:m8 ChestReduction:f CollarReduction:f NeckReduction:f HeadReduction:f "
    "ReachActorLeftAnkle:f ReachActorRightAnkle:f ReachActorLeftKnee:f ReachActorRightKnee:f "
    "ReachActorChest:f ReachActorHead:f ReachActorLeftWrist:f ReachActorRightWrist:f "
    "ReachActorLeftElbow:f ReachActorRightElbow:f ReachActorLeftFingerBase:f "
    "ReachActorRightFingerBase:f ReachActorLeftToesBase:f ReachActorRightToesBase:f "
    "ReachActorLeftFingerBaseRotation:f ReachActorRightFingerBaseRotation:f "
    "ReachActorLeftToesBaseRotation:f ReachActorRightToesBaseRotation:f "
    "ReachActorLeftAnkleRotation:f ReachActorRightAnkleRotation:f ReachActorHeadRotation:f "
    "ReachActorLeftWristRotation:f ReachActorRightWristRotation:f ReachActorChestRotation:f "
    "ReachActorLowerChestRotation:f HipsTOffset:f ChestTOffset:f LeftUpLegRoll:- "
    "LeftUpLegRollMode:m67 LeftLegRoll:- LeftLegRollMode:m68 RightUpLegRoll:- "
    "RightUpLegRollMode:m69 RightLegRoll:- RightLegRollMode:m70 LeftArmRoll:- LeftArmRollMode:m71 "
    "LeftForeArmRoll:- LeftForeArmRollMode:m72 RightArmRoll:- RightArmRollMode:m73 "
    "RightForeArmRoll:- RightForeArmRollMode:m74 RollExtractionMode:v66 FootFloorContact:m44 "
    "FootAutomaticToes:m52 FootFloorPivot:v53 FootBottomToAnkle:v45 FootBackToAnkle:v46 "
    "FootMiddleToAnkle:v47 FootFrontToMiddle:v48 FootInToAnkle:v49 FootOutToAnkle:v50 "
    "FootContactSize:v51 FootContactStiffness:f FootFingerContactRollStiffness:f "
    "HandFloorContact:m55 HandAutomaticFingers:m63 HandFloorPivot:v64 HandBottomToWrist:v56 "
    "HandBackToWrist:v57 HandMiddleToWrist:v58 HandFrontToMiddle:v59 HandInToWrist:v60 "
    "HandOutToWrist:v61 HandContactSize:v62 HandContactStiffness:f "
    "HandFingerContactRollStiffness:f CtrlPullLeftToeBase:f CtrlPullLeftFoot:f CtrlPullLeftKnee:f "
    "CtrlPullRightToeBase:f CtrlPullRightFoot:f CtrlPullRightKnee:f CtrlPullLeftFingerBase:f "
    "CtrlPullLeftHand:f CtrlPullLeftElbow:f CtrlPullRightFingerBase:f CtrlPullRightHand:f "
    "CtrlPullRightElbow:f CtrlChestPullLeftHand:f CtrlChestPullRightHand:f CtrlPullHead:f "
    "CtrlResistHipsPosition:f CtrlEnforceGravity:f CtrlResistHipsOrientation:f "
    "CtrlResistChestPosition:f CtrlResistChestOrientation:f CtrlResistLeftCollar:f "
    "CtrlResistRightCollar:f CtrlResistLeftKnee:f CtrlResistMaximumExtensionLeftKnee:f "
    "CtrlResistCompressionFactorLeftKnee:f CtrlResistRightKnee:f "
    "CtrlResistMaximumExtensionRightKnee:f CtrlResistCompressionFactorRightKnee:f "
    "CtrlResistLeftElbow:f CtrlResistMaximumExtensionLeftElbow:f "
    "CtrlResistCompressionFactorLeftElbow:f CtrlResistRightElbow:f "
    "CtrlResistMaximumExtensionRightElbow:f CtrlResistCompressionFactorRightElbow:f "
    "CtrlSpineStiffness:f CtrlNeckStiffness:f MirrorMode:m125 ShoulderCorrection:f "
    "LeftKneeKillPitch:m128 RightKneeKillPitch:m129 LeftElbowKillPitch:m130 "
    "RightElbowKillPitch:m131 HipsTranslationMode:v132 WriteReference:m175 SyncMode:m176 "
    "Damping:f OrientationDamping:- OrientationDampingMode:m76 DisplacementDamping:- "
    "DisplacementDampingMode:m77 DisplacementMemory:- DisplacementMemoryMode:m78 "
    "HipsDisplacementDamping:- HipsDisplacementDampingMode:m79 AnkleDisplacementDamping:- "
    "AnkleDisplacementDampingMode:m80 WristDisplacementDamping:- WristDisplacementDampingMode:m81 "
    "Stabilization:f AnkleStabilizationTime:- AnkleStabilizationTimeMode:m83 "
    "AnkleStabilizationPerimeter:- AnkleStabilizationPerimeterMode:m84 "
    "AnkleStabilizationAngularPerimeter:- AnkleStabilizationAngularPerimeterMode:m85 "
    "AnkleStabilizationFloorProximity:- AnkleStabilizationFloorProximityMode:m86 "
    "AnkleStabilizationDamping:- AnkleStabilizationDampingMode:m87 "
    "AnkleStabilizationRecoveryTime:- AnkleStabilizationRecoveryTimeMode:m88 "
    "LeftHandThumbTip:v141 LeftHandIndexTip:v142 LeftHandMiddleTip:v143 LeftHandRingTip:v144 "
    "LeftHandPinkyTip:v145 LeftHandExtraFingerTip:v146 RightHandThumbTip:v147 "
    "RightHandIndexTip:v148 RightHandMiddleTip:v149 RightHandRingTip:v150 RightHandPinkyTip:v151 "
    "RightHandExtraFingerTip:v152 LeftFootThumbTip:v153 LeftFootIndexTip:v154 "
    "LeftFootMiddleTip:v155 LeftFootRingTip:v156 LeftFootPinkyTip:v157 "
    "LeftFootExtraFingerTip:v158 RightFootThumbTip:v159 RightFootIndexTip:v160 "
    "RightFootMiddleTip:v161 RightFootRingTip:v162 RightFootPinkyTip:v163 "
    "RightFootExtraFingerTip:v164 FingerSolving:m165 FootFingerContact:m171 FootContactType:v170 "
    "FootFingerContactMode:v172 HandFingerContact:m167 HandContactType:v166 "
    "HandFingerContactMode:v168 ContactBehaviour:v174";

struct PropertyRow {
    std::string name;
    char push;
    int row;
};

std::vector<PropertyRow> ValueProperties() {
    std::vector<PropertyRow> rows;
    std::istringstream in(kListed);
    std::string token;
    while (in >> token) {
        const size_t colon = token.find(':');
        const std::string row = token.substr(colon + 2);
        rows.push_back(
            {token.substr(0, colon), token[colon + 1], row.empty() ? -1 : std::stoi(row)});
    }
    return rows;
}

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
    ASSERT_EQ(ValueProperties().size(), 191u);
    ASSERT_EQ(set->GetPropertyCount(), 191 + 187 + 5);
    int at = 0;
    for (const PropertyRow& row : ValueProperties()) {
        KProperty* p = set->GetProperty(at++);
        EXPECT_EQ(row.name, p->GetName());
        EXPECT_EQ(p->TestUserFlag(KQovCharacterProperties::kNoSetterFlag), row.push == 'f')
            << row.name;
        // Animatable properties carry user flag 8, the others none.
        EXPECT_EQ(p->TestUserFlag(KQovCharacterProperties::kAnimatableFlag), p->IsAnimatable())
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
    for (const PropertyRow& row : ValueProperties()) {
        SCOPED_TRACE(row.name);
        KProperty* p = set->FindProperty(row.name.c_str());
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
