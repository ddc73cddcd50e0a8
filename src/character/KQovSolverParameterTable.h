#pragma once
// The character solver's parameters: one fixed table of 177 rows (name, mode type, range,
// defaults), shared by every character. The row index is the parameter index everywhere;
// files carry the names.
//
// Indices outside 0..176 give neutral answers (null row, empty name, 0.0), never a fault.

#include <cstdint>

// Mode types: what a parameter's mode holds.
enum : int32_t {
    KQOV_SOLVER_MODE_NONE = 0,       // the value alone counts
    KQOV_SOLVER_MODE_SWITCH = 1,     // 0 or 1
    KQOV_SOLVER_MODE_THREE_WAY = 2,  // 0, 1 or 2, beside the value
    KQOV_SOLVER_MODE_TWO_WAY = 3,    // 0 or 1, beside the value
};

struct KQovSolverParameterDesc {
    int32_t mParent = -1;  // switch or group row this row belongs under
    const char* mName = "";
    int32_t mType = KQOV_SOLVER_MODE_NONE;
    int32_t mValueClass = 0;  // 0 switch, 1 number, 2 (rows 76, 78, 83, 87, 88), 3 length,
                              // 4 angle, 5 choice from a list
    double mMin = 0.0;
    double mMax = 0.0;
    uint8_t mFlagA = 0;
    uint8_t mFlagB = 0;
    int32_t mDefaultMode = 0;
    double mDefaultValue = 0.0;
};

class KQovSolverParameterTable {
public:
    static constexpr int kCount = 177;

    static int GetParameterCount() { return kCount; }
    // The row, null outside 0..176.
    static const KQovSolverParameterDesc* GetParameter(int index);
    static const char* GetParameterName(int index);
    // First row whose name equals name byte for byte; -1 when none (or for null).
    static int FindParameter(const char* name);
    static double GetParameterMin(int index);
    static double GetParameterMax(int index);
    // Mode type (KQOV_SOLVER_MODE_*), 0 outside 0..176.
    static int32_t GetParameterType(int index);
    // True when a row of the given type may hold the mode.
    static bool AcceptsMode(int32_t type, int32_t mode);
};

// Label lists of the character's list-valued properties.
enum class KQovSolverLabelList {
    Posture,            // "Biped", "Quadruped"
    CompensationMode,   // "Off", "Auto", "User"
    AutoOrUser,         // "Auto", "User"
    RollExtraction,     // "Relative", "Absolute"
    FootFloorPivot,     // "Auto", "Ankle", "Toes"
    HandFloorPivot,     // "Auto", "Wrist", "Fingers"
    HandContactType,    // "Normal", "Wrist", "FingerBase", "Hoof"
    FootContactType,    // "Normal", "Ankle", "ToeBase", "Hoof"
    FingerContactMode,  // "Sticky", "Spread", "Sticky & Spread"
    HipsTranslation,    // "World Rigid", "Body Rigid"
    ContactBehaviour,   // "Never Sync", "Sync On Key", "Always Sync"
};

// The label of an option, null for an index outside the list.
const char* KQovSolverGetLabel(KQovSolverLabelList list, int index);
// Number of labels of a list.
int KQovSolverGetLabelCount(KQovSolverLabelList list);
