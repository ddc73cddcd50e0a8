#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "character/KQovSolverParameterStore.h"
#include "character/KQovSolverParameterTable.h"

namespace {

struct Row {
    int index;
    const char* name;
    int type, valueClass;
    double min, max;
    int defaultMode;
    double defaultValue;
    int parent, flagA, flagB;
};

// One line per row, expanded from the grouped listing of the solver parameters.
const Row kRows[] = {
    {0, "PullIterationCount", 0, 1, 0, 30, 0, 10, -1, 0, 0},
    {1, "Posture", 0, 5, 0, 2, 0, 0, -1, 0, 1},
    {2, "ForceActorSpace", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {3, "ScaleCompensation", 2, 1, 1, 1000, 1, 100, -1, 0, 0},
    {4, "HipsHeightCompensation", 2, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {5, "AnkleHeightCompensation", 2, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {6, "AnkleProximityCompensation", 2, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {7, "MassCenterCompensation", 1, 1, 0, 120, 1, 80, -1, 0, 0},
    {8, "ApplyLimits", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {9, "ChestReduction", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {10, "CollarReduction", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {11, "NeckReduction", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {12, "HeadReduction", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {13, "ReachActorLeftAnkle", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {14, "ReachActorRightAnkle", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {15, "ReachActorLeftKnee", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {16, "ReachActorRightKnee", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {17, "ReachActorChest", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {18, "ReachActorHead", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {19, "ReachActorLeftWrist", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {20, "ReachActorRightWrist", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {21, "ReachActorLeftElbow", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {22, "ReachActorRightElbow", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {23, "ReachActorLeftFingerBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {24, "ReachActorRightFingerBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {25, "ReachActorLeftToesBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {26, "ReachActorRightToesBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {27, "ReachActorLeftFingerBaseRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {28, "ReachActorRightFingerBaseRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {29, "ReachActorLeftToesBaseRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {30, "ReachActorRightToesBaseRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {31, "ReachActorLeftAnkleRotationRotation", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {32, "ReachActorRightAnkleRotation", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {33, "ReachActorHeadRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {34, "ReachActorLeftWristRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {35, "ReachActorRightWristRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {36, "ReachActorChestRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {37, "ReachActorLowerChestRotation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {38, "HipsTOffsetX", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {39, "HipsTOffsetY", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {40, "HipsTOffsetZ", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {41, "ChestTOffsetX", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {42, "ChestTOffsetY", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {43, "ChestTOffsetZ", 0, 3, -1000, 1000, 1, 0, -1, 0, 0},
    {44, "FloorContact", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {45, "FootBottomToAnkle", 0, 3, 0, 10000, 1, 7.5, 44, 0, 1},
    {46, "FootBackToAnkle", 0, 3, 0, 10000, 1, 4.5, 44, 0, 1},
    {47, "FootMiddleToAnkle", 0, 3, 0, 10000, 1, 13, 44, 0, 1},
    {48, "FootFrontToMiddle", 0, 3, 0, 10000, 1, 7, 44, 0, 1},
    {49, "FootInToAnkle", 0, 3, 0, 10000, 1, 5, 44, 0, 1},
    {50, "FootOutToAnkle", 0, 3, 0, 10000, 1, 5, 44, 0, 1},
    {51, "ContactSize", 0, 1, 10, 1000, 1, 100, 44, 0, 1},
    {52, "AutomaticToes", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {53, "FloorPivot", 0, 5, 0, 3, 0, 0, -1, 0, 0},
    {54, "ParamFootContactStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {55, "HandFloorContact", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {56, "HandBottomToWrist", 0, 3, 0, 10000, 1, 7.5, 55, 0, 1},
    {57, "HandBackToWrist", 0, 3, 0, 10000, 1, 4.5, 55, 0, 1},
    {58, "HandMiddleToWrist", 0, 3, 0, 10000, 1, 13, 55, 0, 1},
    {59, "HandFrontToMiddle", 0, 3, 0, 10000, 1, 7, 55, 0, 1},
    {60, "HandInToWrist", 0, 3, 0, 10000, 1, 5, 55, 0, 1},
    {61, "HandOutToWrist", 0, 3, 0, 10000, 1, 5, 55, 0, 1},
    {62, "HandContactSize", 0, 1, 10, 1000, 1, 100, 55, 0, 1},
    {63, "AutomaticFingers", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {64, "HandFloorPivot", 0, 5, 0, 3, 0, 0, -1, 0, 0},
    {65, "ParamHandContactStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {66, "RollExtractionMode", 0, 5, 0, 2, 0, 0, -1, 0, 0},
    {67, "LeftUpLegRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {68, "LeftLegRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {69, "RightUpLegRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {70, "RightLegRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {71, "LeftArmRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {72, "LeftForeArmRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {73, "RightArmRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {74, "RightForeArmRoll", 1, 1, 0, 100, 0, 60, -1, 0, 0},
    {75, "Damping", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {76, "Orientation", 2, 2, 0, 0.25, 1, 0, 75, 0, 0},
    {77, "Displacement", 2, 1, 0, 100, 1, 0, 75, 0, 0},
    {78, "DisplacementMemory", 3, 2, 0, 0.25, 0, 0, 77, 0, 0},
    {79, "HipsDisplacementDamping", 3, 1, 0, 100, 0, 0, 77, 0, 0},
    {80, "AnkleDisplacementDamping", 3, 1, 0, 100, 0, 0, 77, 0, 0},
    {81, "WristDisplacementDamping", 3, 1, 0, 100, 0, 0, 77, 0, 0},
    {82, "Stabilization", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {83, "AnkleStabilizationTime", 3, 2, 0, 1, 0, 0, 82, 1, 0},
    {84, "AnkleStabilizationPerimeter", 3, 3, 0, 15, 0, 0, 82, 0, 0},
    {85, "AnkleStabilizationAngularPerimeter", 2, 4, 0, 60, 1, 0, 82, 0, 0},
    {86, "AnkleStabilizationFloorProximity", 2, 3, 0, 10, 1, 0, 82, 0, 0},
    {87, "AnkleStabilizationDamping", 2, 2, 0, 10, 0, 0, 82, 0, 0},
    {88, "AnkleStabilizationRecoveryTime", 2, 2, 0, 1, 1, 0, 82, 0, 0},
    {89, "CtrlPullLeftToeBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {90, "CtrlPullLeftFoot", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {91, "CtrlPullLeftKnee", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {92, "CtrlPullRightToeBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {93, "CtrlPullRightFoot", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {94, "CtrlPullRightKnee", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {95, "CtrlPullLeftFingerBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {96, "CtrlPullLeftHand", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {97, "CtrlPullLeftElbow", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {98, "CtrlPullRightFingerBase", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {99, "CtrlPullRightHand", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {100, "CtrlPullRightElbow", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {101, "CtrlChestPullLeftHand", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {102, "CtrlChestPullRightHand", 0, 1, 0, 100, 0, 100, -1, 0, 0},
    {103, "CtrlPullHead", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {104, "CtrlResistHipsPosition", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {105, "CtrlEnforceGravity", 0, 1, 0, 100, 0, 60, -1, 0, 0},
    {106, "CtrlResistHipsOrientation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {107, "CtrlResistChestPosition", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {108, "CtrlResistChestOrientation", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {109, "CtrlResistLeftCollar", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {110, "CtrlResistRightCollar", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {111, "CtrlResistLeftKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {112, "CtrlResistMaximumExtensionLeftKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {113, "CtrlResistCompressionFactorLeftKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {114, "CtrlResistRightKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {115, "CtrlResistMaximumExtensionRightKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {116, "CtrlResistCompressionFactorRightKnee", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {117, "CtrlResistLeftElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {118, "CtrlResistMaximumExtensionLeftElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {119, "CtrlResistCompressionFactorLeftElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {120, "CtrlResistRightElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {121, "CtrlResistMaximumExtensionRightElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {122, "CtrlResistCompressionFactorRightElbow", 0, 1, 0, 100, 0, 50, -1, 0, 0},
    {123, "ParamCtrlSpineStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {124, "ParamCtrlNeckStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {125, "Mirror", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {126, "GameMode", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {127, "ShoulderCorrection", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {128, "LeftKneeKillPitch", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {129, "RightKneeKillPitch", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {130, "LeftElbowKillPitch", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {131, "RightElbowKillPitch", 1, 0, 0, 100, 0, 0, -1, 0, 0},
    {132, "HipsTranslationMode", 0, 5, 0, 2, 0, 0, -1, 0, 1},
    {133, "LeftShoulderFrontAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {134, "LeftShoulderBackAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {135, "LeftShoulderUpAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {136, "LeftShoulderDownAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {137, "RightShoulderFrontAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {138, "RightShoulderBackAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {139, "RightShoulderUpAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {140, "RightShoulderDownAngle", 0, 4, 0, 180, 0, 150, -1, 0, 1},
    {141, "LeftHandThumbTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {142, "LeftHandIndexTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {143, "LeftHandMiddleTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {144, "LeftHandRingTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {145, "LeftHandPinkyTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {146, "LeftHandExtraFingerTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {147, "RightHandThumbTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {148, "RightHandIndexTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {149, "RightHandMiddleTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {150, "RightHandRingTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {151, "RightHandPinkyTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {152, "RightHandExtraFingerTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {153, "LeftFootThumbTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {154, "LeftFootIndexTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {155, "LeftFootMiddleTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {156, "LeftFootRingTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {157, "LeftFootPinkyTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {158, "LeftFootExtraFingerTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {159, "RightFootThumbTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {160, "RightFootIndexTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {161, "RightFootMiddleTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {162, "RightFootRingTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {163, "RightFootPinkyTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {164, "RightFootExtraFingerTip", 0, 3, 0, 1000, 0, 0.5, -1, 0, 1},
    {165, "FingerSolving", 1, 0, 0, 0, 1, 0, -1, 0, 0},
    {166, "HandContactType", 0, 5, 0, 4, 0, 0, -1, 0, 1},
    {167, "HandFingerContact", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {168, "HandFingerContactMode", 0, 5, 0, 3, 0, 1, -1, 0, 0},
    {169, "ParamHandFingerContactRollStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {170, "FootContactType", 0, 5, 0, 4, 0, 0, -1, 0, 1},
    {171, "FootFingerContact", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {172, "FootFingerContactMode", 0, 5, 0, 3, 0, 1, -1, 0, 0},
    {173, "ParamFootFingerContactRollStiffness", 0, 1, 0, 100, 0, 0, -1, 0, 0},
    {174, "ContactBehaviour", 0, 5, 0, 3, 0, 0, -1, 0, 1},
    {175, "WriteReference", 1, 0, 0, 0, 0, 0, -1, 0, 0},
    {176, "SyncMode", 1, 0, 0, 0, 1, 0, -1, 0, 0},
};

struct Labels {
    KQovSolverLabelList list;
    std::vector<std::string> labels;
};

const Labels kLabels[] = {
    {KQovSolverLabelList::Posture, {"Biped", "Quadruped"}},
    {KQovSolverLabelList::CompensationMode, {"Off", "Auto", "User"}},
    {KQovSolverLabelList::AutoOrUser, {"Auto", "User"}},
    {KQovSolverLabelList::RollExtraction, {"Relative", "Absolute"}},
    {KQovSolverLabelList::FootFloorPivot, {"Auto", "Ankle", "Toes"}},
    {KQovSolverLabelList::HandFloorPivot, {"Auto", "Wrist", "Fingers"}},
    {KQovSolverLabelList::HandContactType, {"Normal", "Wrist", "FingerBase", "Hoof"}},
    {KQovSolverLabelList::FootContactType, {"Normal", "Ankle", "ToeBase", "Hoof"}},
    {KQovSolverLabelList::FingerContactMode, {"Sticky", "Spread", "Sticky & Spread"}},
    {KQovSolverLabelList::HipsTranslation, {"World Rigid", "Body Rigid"}},
    {KQovSolverLabelList::ContactBehaviour, {"Never Sync", "Sync On Key", "Always Sync"}},
};

bool Admits(int type, int mode) {
    if (type == 1 || type == 3) return mode == 0 || mode == 1;
    if (type == 2) return mode >= 0 && mode <= 2;
    return false;
}

}  // namespace

TEST(SolverParameterTable, EveryRowMatchesTheListing) {
    ASSERT_EQ(sizeof(kRows) / sizeof(kRows[0]), 177u);
    ASSERT_EQ(KQovSolverParameterTable::GetParameterCount(), 177);
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.name);
        const KQovSolverParameterDesc* d = KQovSolverParameterTable::GetParameter(r.index);
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(KQovSolverParameterTable::GetParameterName(r.index), r.name);
        EXPECT_EQ(d->mType, r.type);
        EXPECT_EQ(d->mValueClass, r.valueClass);
        EXPECT_EQ(KQovSolverParameterTable::GetParameterMin(r.index), r.min);
        EXPECT_EQ(KQovSolverParameterTable::GetParameterMax(r.index), r.max);
        EXPECT_EQ(d->mDefaultMode, r.defaultMode);
        EXPECT_EQ(d->mDefaultValue, r.defaultValue);
        EXPECT_EQ(d->mParent, r.parent);
        EXPECT_EQ(d->mFlagA, r.flagA);
        EXPECT_EQ(d->mFlagB, r.flagB);
        // Names are unique, so each finds its own row.
        EXPECT_EQ(KQovSolverParameterTable::FindParameter(r.name), r.index);
    }
}

TEST(SolverParameterTable, FindIsExactAndCaseSensitive) {
    const struct {
        const char* name;
        int index;
    } cases[] = {
        {"ReachActorLeftAnkleRotationRotation", 31},
        {"ReachActorLeftAnkleRotation", -1},
        {"ReachActorRightAnkleRotation", 32},
        {"pulliterationcount", -1},
        {"PullIterationCount ", -1},
        {"SyncMode", 176},
        {"", -1},
        {nullptr, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KQovSolverParameterTable::FindParameter(c.name), c.index)
            << (c.name ? c.name : "(null)");
}

TEST(SolverParameterTable, IndicesOutsideTheTableAnswerNeutrally) {
    KQovSolverParameterStore store;
    for (int index : {-1, 177, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(KQovSolverParameterTable::GetParameter(index), nullptr);
        EXPECT_STREQ(KQovSolverParameterTable::GetParameterName(index), "");
        EXPECT_EQ(KQovSolverParameterTable::GetParameterMin(index), 0.0);
        EXPECT_EQ(KQovSolverParameterTable::GetParameterMax(index), 0.0);
        EXPECT_EQ(KQovSolverParameterTable::GetParameterType(index), 0);
        store.SetMode(index, 1);
        store.SetValue(index, 5.0);
        EXPECT_EQ(store.GetMode(index), 0);
        EXPECT_EQ(store.GetValue(index), 0.0);
    }
}

TEST(SolverParameterStore, StartsAtTheDefaults) {
    KQovSolverParameterStore store;
    ASSERT_EQ(store.GetCount(), 177);
    for (const Row& r : kRows) {
        EXPECT_EQ(store.GetMode(r.index), r.defaultMode) << r.name;
        EXPECT_EQ(store.GetValue(r.index), r.defaultValue) << r.name;
    }
}

TEST(SolverParameterStore, ModesFollowTheRowType) {
    KQovSolverParameterStore store;
    for (const Row& r : kRows) {
        for (int mode : {-1, 0, 1, 2, 3, INT_MIN}) {
            int before = store.GetMode(r.index);
            store.SetMode(r.index, mode);
            EXPECT_EQ(store.GetMode(r.index), Admits(r.type, mode) ? mode : before)
                << r.name << " mode " << mode;
        }
    }
}

TEST(SolverParameterStore, ValuesAreKeptOutsideTheRange) {
    KQovSolverParameterStore store;
    store.SetValue(45, 20000.0);
    EXPECT_EQ(store.GetValue(45), 20000.0);
    store.SetValue(0, -3.5);
    EXPECT_EQ(store.GetValue(0), -3.5);
    // Each store is its own.
    KQovSolverParameterStore other;
    EXPECT_EQ(other.GetValue(45), 7.5);
}

TEST(SolverParameterTable, LabelLists) {
    std::set<KQovSolverLabelList> seen;
    for (const Labels& l : kLabels) {
        SCOPED_TRACE(int(l.list));
        seen.insert(l.list);
        int n = int(l.labels.size());
        ASSERT_EQ(KQovSolverGetLabelCount(l.list), n);
        for (int i = 0; i < n; ++i)
            EXPECT_STREQ(KQovSolverGetLabel(l.list, i), l.labels[size_t(i)].c_str());
        EXPECT_EQ(KQovSolverGetLabel(l.list, n), nullptr);
        EXPECT_EQ(KQovSolverGetLabel(l.list, -1), nullptr);
    }
    EXPECT_EQ(seen.size(), 11u);
    EXPECT_EQ(KQovSolverGetLabel(KQovSolverLabelList(11), 0), nullptr);
}
