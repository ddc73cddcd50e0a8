#include "animation/KFCurveSettings.h"

#include <atomic>

#include "animation/KFCurveFilterGimbleKiller.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveTimeWarpTable.h"

namespace {

KFCurveTimeWarpTable* gTimeWarpTable = nullptr;
std::atomic<bool> gApplyConstantKeyReducer{true};

int ValueCount(const KFCurveNode* node) {
    if (!node) return 0;
    int count = node->GetCount();
    return (count == 0 && node->GetCurve()) ? 1 : count;
}

}  // namespace

int GetRotationFilterMode() {
    return KFCURVE_ROTATION_FILTER_UNROLL;
}
bool GetApplyConstantKeyReducer() {
    return gApplyConstantKeyReducer.load(std::memory_order_relaxed);
}
void SetApplyConstantKeyReducer(bool apply) {
    gApplyConstantKeyReducer.store(apply, std::memory_order_relaxed);
}
double GetUnrollPrecision() {
    return 0.25;
}
bool GetUnrollPath() {
    return false;
}
KTime GetDefaultSamplingPeriod() {
    return KTime(1539538600);
}

void ApplyRotationFilter(KFCurveNode* node, KTime start, KTime stop) {
    if (!node) return;
    switch (GetRotationFilterMode()) {
        case KFCURVE_ROTATION_FILTER_UNROLL: {
            KFCurveFilterUnroll filter;
            filter.SetStart(start);
            filter.SetStop(stop);
            filter.Apply(*node, true);
            break;
        }
        case KFCURVE_ROTATION_FILTER_GIMBLE_KILLER: {
            KFCurveFilterGimbleKiller filter;
            filter.SetStart(start);
            filter.SetStop(stop);
            filter.Apply(*node, true);
            break;
        }
        default:
            break;
    }
}

void SetTimeWarpTable(KFCurveTimeWarpTable* table) {
    gTimeWarpTable = table;
}
KFCurveTimeWarpTable* GetTimeWarpTable() {
    return gTimeWarpTable;
}

KFCurveNode* FindTimeWarp(int id) {
    return gTimeWarpTable ? gTimeWarpTable->Find(id) : nullptr;
}

bool FindTimeWarpId(const KFCurveNode* node, int& id) {
    return gTimeWarpTable && gTimeWarpTable->FindId(node, id);
}

int KFCurveNodeValuesAdd(const KFCurveNode* node, double* out, const double* a, const double* b) {
    int count = ValueCount(node);
    for (int i = 0; i < count; ++i) out[i] = a[i] + b[i];
    return count;
}

int KFCurveNodeValuesMultiply(const KFCurveNode* node, double* out, const double* a,
                              const double* b) {
    int count = ValueCount(node);
    for (int i = 0; i < count; ++i) out[i] = a[i] * b[i];
    return count;
}
