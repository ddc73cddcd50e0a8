#pragma once
// Process-wide curve processing settings (fixed values) and the time-warp table in use.

#include "foundation/KTime.h"

class KFCurveNode;
class KFCurveTimeWarpTable;

enum : int {
    KFCURVE_ROTATION_FILTER_GIMBLE_KILLER = 1,
    KFCURVE_ROTATION_FILTER_UNROLL = 2,
};

int GetRotationFilterMode();
bool GetApplyConstantKeyReducer();
// On by default. A conversion that must carry every recorded sample turns it off.
void SetApplyConstantKeyReducer(bool apply);
double GetUnrollPrecision();
bool GetUnrollPath();
KTime GetDefaultSamplingPeriod();

// Runs the rotation filter of the current mode over the node and its children.
void ApplyRotationFilter(KFCurveNode* node, KTime start, KTime stop);

// The table is the caller's; null removes it.
void SetTimeWarpTable(KFCurveTimeWarpTable* table);
KFCurveTimeWarpTable* GetTimeWarpTable();
KFCurveNode* FindTimeWarp(int id);
bool FindTimeWarpId(const KFCurveNode* node, int& id);

// Element-wise sum (product) of two value arrays of a node: its child count, or one element
// for a leaf with a curve. Return the number of elements written.
int KFCurveNodeValuesAdd(const KFCurveNode* node, double* out, const double* a, const double* b);
int KFCurveNodeValuesMultiply(const KFCurveNode* node, double* out, const double* a,
                              const double* b);
