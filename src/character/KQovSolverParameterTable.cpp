#include "character/KQovSolverParameterTable.h"

#include <array>
#include <cstring>

namespace {

using DescTable = std::array<KQovSolverParameterDesc, KQovSolverParameterTable::kCount>;

// Row names in index order. Row 31's doubled word is what files carry.
const char* const kNames[KQovSolverParameterTable::kCount] = {
    "PullIterationCount",
    "Posture",
    "ForceActorSpace",
    "ScaleCompensation",
    "HipsHeightCompensation",
    "AnkleHeightCompensation",
    "AnkleProximityCompensation",
    "MassCenterCompensation",
    "ApplyLimits",
    "ChestReduction",
    "CollarReduction",
    "NeckReduction",
    "HeadReduction",
    "ReachActorLeftAnkle",
    "ReachActorRightAnkle",
    "ReachActorLeftKnee",
    "ReachActorRightKnee",
    "ReachActorChest",
    "ReachActorHead",
    "ReachActorLeftWrist",
    "ReachActorRightWrist",
    "ReachActorLeftElbow",
    "ReachActorRightElbow",
    "ReachActorLeftFingerBase",
    "ReachActorRightFingerBase",
    "ReachActorLeftToesBase",
    "ReachActorRightToesBase",
    "ReachActorLeftFingerBaseRotation",
    "ReachActorRightFingerBaseRotation",
    "ReachActorLeftToesBaseRotation",
    "ReachActorRightToesBaseRotation",
    "ReachActorLeftAnkleRotationRotation",
    "ReachActorRightAnkleRotation",
    "ReachActorHeadRotation",
    "ReachActorLeftWristRotation",
    "ReachActorRightWristRotation",
    "ReachActorChestRotation",
    "ReachActorLowerChestRotation",
    "HipsTOffsetX",
    "HipsTOffsetY",
    "HipsTOffsetZ",
    "ChestTOffsetX",
    "ChestTOffsetY",
    "ChestTOffsetZ",
    "FloorContact",
    "FootBottomToAnkle",
    "FootBackToAnkle",
    "FootMiddleToAnkle",
    "FootFrontToMiddle",
    "FootInToAnkle",
    "FootOutToAnkle",
    "ContactSize",
    "AutomaticToes",
    "FloorPivot",
    "ParamFootContactStiffness",
    "HandFloorContact",
    "HandBottomToWrist",
    "HandBackToWrist",
    "HandMiddleToWrist",
    "HandFrontToMiddle",
    "HandInToWrist",
    "HandOutToWrist",
    "HandContactSize",
    "AutomaticFingers",
    "HandFloorPivot",
    "ParamHandContactStiffness",
    "RollExtractionMode",
    "LeftUpLegRoll",
    "LeftLegRoll",
    "RightUpLegRoll",
    "RightLegRoll",
    "LeftArmRoll",
    "LeftForeArmRoll",
    "RightArmRoll",
    "RightForeArmRoll",
    "Damping",
    "Orientation",
    "Displacement",
    "DisplacementMemory",
    "HipsDisplacementDamping",
    "AnkleDisplacementDamping",
    "WristDisplacementDamping",
    "Stabilization",
    "AnkleStabilizationTime",
    "AnkleStabilizationPerimeter",
    "AnkleStabilizationAngularPerimeter",
    "AnkleStabilizationFloorProximity",
    "AnkleStabilizationDamping",
    "AnkleStabilizationRecoveryTime",
    "CtrlPullLeftToeBase",
    "CtrlPullLeftFoot",
    "CtrlPullLeftKnee",
    "CtrlPullRightToeBase",
    "CtrlPullRightFoot",
    "CtrlPullRightKnee",
    "CtrlPullLeftFingerBase",
    "CtrlPullLeftHand",
    "CtrlPullLeftElbow",
    "CtrlPullRightFingerBase",
    "CtrlPullRightHand",
    "CtrlPullRightElbow",
    "CtrlChestPullLeftHand",
    "CtrlChestPullRightHand",
    "CtrlPullHead",
    "CtrlResistHipsPosition",
    "CtrlEnforceGravity",
    "CtrlResistHipsOrientation",
    "CtrlResistChestPosition",
    "CtrlResistChestOrientation",
    "CtrlResistLeftCollar",
    "CtrlResistRightCollar",
    "CtrlResistLeftKnee",
    "CtrlResistMaximumExtensionLeftKnee",
    "CtrlResistCompressionFactorLeftKnee",
    "CtrlResistRightKnee",
    "CtrlResistMaximumExtensionRightKnee",
    "CtrlResistCompressionFactorRightKnee",
    "CtrlResistLeftElbow",
    "CtrlResistMaximumExtensionLeftElbow",
    "CtrlResistCompressionFactorLeftElbow",
    "CtrlResistRightElbow",
    "CtrlResistMaximumExtensionRightElbow",
    "CtrlResistCompressionFactorRightElbow",
    "ParamCtrlSpineStiffness",
    "ParamCtrlNeckStiffness",
    "Mirror",
    "GameMode",
    "ShoulderCorrection",
    "LeftKneeKillPitch",
    "RightKneeKillPitch",
    "LeftElbowKillPitch",
    "RightElbowKillPitch",
    "HipsTranslationMode",
    "LeftShoulderFrontAngle",
    "LeftShoulderBackAngle",
    "LeftShoulderUpAngle",
    "LeftShoulderDownAngle",
    "RightShoulderFrontAngle",
    "RightShoulderBackAngle",
    "RightShoulderUpAngle",
    "RightShoulderDownAngle",
    "LeftHandThumbTip",
    "LeftHandIndexTip",
    "LeftHandMiddleTip",
    "LeftHandRingTip",
    "LeftHandPinkyTip",
    "LeftHandExtraFingerTip",
    "RightHandThumbTip",
    "RightHandIndexTip",
    "RightHandMiddleTip",
    "RightHandRingTip",
    "RightHandPinkyTip",
    "RightHandExtraFingerTip",
    "LeftFootThumbTip",
    "LeftFootIndexTip",
    "LeftFootMiddleTip",
    "LeftFootRingTip",
    "LeftFootPinkyTip",
    "LeftFootExtraFingerTip",
    "RightFootThumbTip",
    "RightFootIndexTip",
    "RightFootMiddleTip",
    "RightFootRingTip",
    "RightFootPinkyTip",
    "RightFootExtraFingerTip",
    "FingerSolving",
    "HandContactType",
    "HandFingerContact",
    "HandFingerContactMode",
    "ParamHandFingerContactRollStiffness",
    "FootContactType",
    "FootFingerContact",
    "FootFingerContactMode",
    "ParamFootFingerContactRollStiffness",
    "ContactBehaviour",
    "WriteReference",
    "SyncMode",
};

// Rows first..last share these values.
struct RowGroup {
    int mFirst, mLast;
    int32_t mType, mValueClass;
    double mMin, mMax;
    int32_t mDefaultMode;
    double mDefaultValue;
    int32_t mParent;
};

const RowGroup kSolverGroups[] = {
    {0, 0, 0, 1, 0, 30, 0, 10, -1},        {1, 1, 0, 5, 0, 2, 0, 0, -1},
    {2, 2, 1, 0, 0, 0, 0, 0, -1},          {3, 3, 2, 1, 1, 1000, 1, 100, -1},
    {4, 6, 2, 3, -1000, 1000, 1, 0, -1},   {7, 7, 1, 1, 0, 120, 1, 80, -1},
    {8, 8, 1, 0, 0, 100, 0, 0, -1},        {9, 12, 0, 1, 0, 100, 0, 0, -1},
    {13, 14, 0, 1, 0, 100, 0, 100, -1},    {15, 30, 0, 1, 0, 100, 0, 0, -1},
    {31, 32, 0, 1, 0, 100, 0, 100, -1},    {33, 37, 0, 1, 0, 100, 0, 0, -1},
    {38, 43, 0, 3, -1000, 1000, 1, 0, -1}, {44, 44, 1, 0, 0, 0, 0, 0, -1},
    {45, 45, 0, 3, 0, 10000, 1, 7.5, 44},  {46, 46, 0, 3, 0, 10000, 1, 4.5, 44},
    {47, 47, 0, 3, 0, 10000, 1, 13, 44},   {48, 48, 0, 3, 0, 10000, 1, 7, 44},
    {49, 50, 0, 3, 0, 10000, 1, 5, 44},    {51, 51, 0, 1, 10, 1000, 1, 100, 44},
    {52, 52, 1, 0, 0, 0, 0, 0, -1},        {53, 53, 0, 5, 0, 3, 0, 0, -1},
    {54, 54, 0, 1, 0, 100, 0, 0, -1},      {55, 55, 1, 0, 0, 0, 0, 0, -1},
    {56, 56, 0, 3, 0, 10000, 1, 7.5, 55},  {57, 57, 0, 3, 0, 10000, 1, 4.5, 55},
    {58, 58, 0, 3, 0, 10000, 1, 13, 55},   {59, 59, 0, 3, 0, 10000, 1, 7, 55},
    {60, 61, 0, 3, 0, 10000, 1, 5, 55},    {62, 62, 0, 1, 10, 1000, 1, 100, 55},
    {63, 63, 1, 0, 0, 0, 0, 0, -1},        {64, 64, 0, 5, 0, 3, 0, 0, -1},
    {65, 65, 0, 1, 0, 100, 0, 0, -1},      {66, 66, 0, 5, 0, 2, 0, 0, -1},
    {67, 74, 1, 1, 0, 100, 0, 60, -1},     {75, 75, 0, 1, 0, 100, 0, 0, -1},
    {76, 76, 2, 2, 0, 0.25, 1, 0, 75},     {77, 77, 2, 1, 0, 100, 1, 0, 75},
    {78, 78, 3, 2, 0, 0.25, 0, 0, 77},     {79, 81, 3, 1, 0, 100, 0, 0, 77},
    {82, 82, 0, 1, 0, 100, 0, 0, -1},      {83, 83, 3, 2, 0, 1, 0, 0, 82},
    {84, 84, 3, 3, 0, 15, 0, 0, 82},       {85, 85, 2, 4, 0, 60, 1, 0, 82},
    {86, 86, 2, 3, 0, 10, 1, 0, 82},       {87, 87, 2, 2, 0, 10, 0, 0, 82},
    {88, 88, 2, 2, 0, 1, 1, 0, 82},        {89, 124, 0, 1, 0, 100, 0, 0, -1},
    {125, 126, 1, 0, 0, 100, 0, 0, -1},    {127, 127, 0, 1, 0, 100, 0, 0, -1},
    {128, 131, 1, 0, 0, 100, 0, 0, -1},    {132, 132, 0, 5, 0, 2, 0, 0, -1},
    {133, 140, 0, 4, 0, 180, 0, 150, -1},  {141, 164, 0, 3, 0, 1000, 0, 0.5, -1},
    {165, 165, 1, 0, 0, 0, 1, 0, -1},      {166, 166, 0, 5, 0, 4, 0, 0, -1},
    {167, 167, 1, 0, 0, 0, 0, 0, -1},      {168, 168, 0, 5, 0, 3, 0, 1, -1},
    {169, 169, 0, 1, 0, 100, 0, 0, -1},    {170, 170, 0, 5, 0, 4, 0, 0, -1},
    {171, 171, 1, 0, 0, 0, 0, 0, -1},      {172, 172, 0, 5, 0, 3, 0, 1, -1},
    {173, 173, 0, 1, 0, 100, 0, 0, -1},    {174, 174, 0, 5, 0, 3, 0, 0, -1},
    {175, 175, 1, 0, 0, 0, 0, 0, -1},      {176, 176, 1, 0, 0, 0, 1, 0, -1},
};

// Default values of the control rows 89-124 that are not 0.
struct RowDefault {
    int mIndex;
    double mValue;
};
const RowDefault kControlDefaults[] = {
    {90, 100}, {93, 100}, {96, 100}, {99, 100}, {101, 100}, {102, 100}, {105, 60},
};
constexpr int kResistFirst = 109, kResistLast = 122, kResistDefault = 50;

// Rows with flag B, as inclusive ranges.
const int kFlagBRanges[][2] = {{1, 1},     {45, 51},   {56, 62},  {132, 164},
                               {166, 166}, {170, 170}, {174, 174}};
constexpr int kFlagARow = 83;

DescTable Build() {
    DescTable table{};
    for (const RowGroup& g : kSolverGroups) {
        for (int i = g.mFirst; i <= g.mLast; ++i) {
            KQovSolverParameterDesc& row = table[size_t(i)];
            row.mType = g.mType;
            row.mValueClass = g.mValueClass;
            row.mMin = g.mMin;
            row.mMax = g.mMax;
            row.mDefaultMode = g.mDefaultMode;
            row.mDefaultValue = g.mDefaultValue;
            row.mParent = g.mParent;
        }
    }
    for (const RowDefault& d : kControlDefaults) table[size_t(d.mIndex)].mDefaultValue = d.mValue;
    for (int i = kResistFirst; i <= kResistLast; ++i)
        table[size_t(i)].mDefaultValue = kResistDefault;
    for (const auto& r : kFlagBRanges)
        for (int i = r[0]; i <= r[1]; ++i) table[size_t(i)].mFlagB = 1;
    table[size_t(kFlagARow)].mFlagA = 1;
    for (size_t i = 0; i < table.size(); ++i) table[i].mName = kNames[i];
    return table;
}

const DescTable& GetTable() {
    static const DescTable sTable = Build();
    return sTable;
}

}  // namespace

const KQovSolverParameterDesc* KQovSolverParameterTable::GetParameter(int index) {
    if (index < 0 || index >= kCount) return nullptr;
    return &GetTable()[size_t(index)];
}

const char* KQovSolverParameterTable::GetParameterName(int index) {
    const KQovSolverParameterDesc* row = GetParameter(index);
    return row ? row->mName : "";
}

int KQovSolverParameterTable::FindParameter(const char* name) {
    if (!name) return -1;
    const DescTable& table = GetTable();
    for (size_t i = 0; i < table.size(); ++i)
        if (std::strcmp(table[i].mName, name) == 0) return int(i);
    return -1;
}

double KQovSolverParameterTable::GetParameterMin(int index) {
    const KQovSolverParameterDesc* row = GetParameter(index);
    return row ? row->mMin : 0.0;
}

double KQovSolverParameterTable::GetParameterMax(int index) {
    const KQovSolverParameterDesc* row = GetParameter(index);
    return row ? row->mMax : 0.0;
}

int32_t KQovSolverParameterTable::GetParameterType(int index) {
    const KQovSolverParameterDesc* row = GetParameter(index);
    return row ? row->mType : 0;
}

bool KQovSolverParameterTable::AcceptsMode(int32_t type, int32_t mode) {
    switch (type) {
        case KQOV_SOLVER_MODE_SWITCH:
        case KQOV_SOLVER_MODE_TWO_WAY:
            return mode == 0 || mode == 1;
        case KQOV_SOLVER_MODE_THREE_WAY:
            return mode >= 0 && mode <= 2;
        default:
            return false;
    }
}

namespace {

struct LabelList {
    const char* const* mLabels;
    int mCount;
};

template <size_t N>
constexpr LabelList LabelsOf(const char* const (&labels)[N]) {
    return {labels, int(N)};
}

const char* const kPosture[] = {"Biped", "Quadruped"};
const char* const kCompensation[] = {"Off", "Auto", "User"};
const char* const kAutoOrUser[] = {"Auto", "User"};
const char* const kRollExtraction[] = {"Relative", "Absolute"};
const char* const kFootFloorPivot[] = {"Auto", "Ankle", "Toes"};
const char* const kHandFloorPivot[] = {"Auto", "Wrist", "Fingers"};
const char* const kHandContactType[] = {"Normal", "Wrist", "FingerBase", "Hoof"};
const char* const kFootContactType[] = {"Normal", "Ankle", "ToeBase", "Hoof"};
const char* const kFingerContact[] = {"Sticky", "Spread", "Sticky & Spread"};
const char* const kHipsTranslation[] = {"World Rigid", "Body Rigid"};
const char* const kContactBehaviour[] = {"Never Sync", "Sync On Key", "Always Sync"};

// In KQovSolverLabelList order.
const LabelList kLabelLists[] = {
    LabelsOf(kPosture),         LabelsOf(kCompensation),     LabelsOf(kAutoOrUser),
    LabelsOf(kRollExtraction),  LabelsOf(kFootFloorPivot),   LabelsOf(kHandFloorPivot),
    LabelsOf(kHandContactType), LabelsOf(kFootContactType),  LabelsOf(kFingerContact),
    LabelsOf(kHipsTranslation), LabelsOf(kContactBehaviour),
};

const LabelList* FindList(KQovSolverLabelList list) {
    size_t i = size_t(list);
    return i < sizeof(kLabelLists) / sizeof(kLabelLists[0]) ? &kLabelLists[i] : nullptr;
}

}  // namespace

const char* KQovSolverGetLabel(KQovSolverLabelList list, int index) {
    const LabelList* l = FindList(list);
    if (!l || index < 0 || index >= l->mCount) return nullptr;
    return l->mLabels[index];
}

int KQovSolverGetLabelCount(KQovSolverLabelList list) {
    const LabelList* l = FindList(list);
    return l ? l->mCount : 0;
}
