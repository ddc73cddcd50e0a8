#include "animation/KFCurveFilterUnroll.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "animation/KEulerContinuity.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveFilterKeySync.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSettings.h"
#include "foundation/KMatrix.h"
#include "foundation/KQuaternion.h"

namespace {

const char* const kUnrollStatus[] = {"No key", "Left unchanged", "Need rotation curvenode",
                                     "Unexepected"};

const char* const kUnrollAxisNames[3] = {"X", "Y", "Z"};

// Index of the key at exactly the time, or -1; the hint follows the search.
int KeyAtTime(KFCurve& curve, KTime time, int& hint) {
    if (curve.KeyGetCount() == 0) return -1;
    const double index = curve.KeyFind(time, &hint);
    if (index < 0.0) return -1;
    const int k = static_cast<int>(index);
    return (k < curve.KeyGetCount() && curve.KeyGetTime(k) == time) ? k : -1;
}

}  // namespace

KFCurveFilterUnroll::KFCurveFilterUnroll() : KFCurveFilter("Unroll Filter", kUnrollStatus, 4) {
    Reset();
}

void KFCurveFilterUnroll::Reset() {
    mPrecision = GetUnrollPrecision();
    mPath = GetUnrollPath();
    KFCurveFilter::Reset();
}

double KFCurveFilterUnroll::PathMeasure(const double a[3], const double b[3]) {
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double dz = a[2] - b[2];
    const double distance2 = dx * dx + dy * dy + dz * dz;
    if (distance2 <= 2.220446049250313e-16) return 100.0;
    KMatrix ma;
    KMatrix mb;
    KMatrixSetRotationXYZ(ma, a[0], a[1], a[2]);
    KMatrixSetRotationXYZ(mb, b[0], b[1], b[2]);
    KMatrix relative;
    KMatrixMultiplyTransposed3x3(relative, ma, mb);
    KQuaternion q;
    KQuaternionFromMatrix(q, relative);
    // Rounding can take w a hair past 1.
    const double w = std::min(1.0, std::max(-1.0, q[3]));
    const double angle = std::acos(w) * 114.59155902616465;
    return angle * angle / distance2;
}

bool KFCurveFilterUnroll::RefuseNode() {
    mError.SetErrorWithText(2, "Unroll Filter, Works only on rotation CurveNodes.");
    return false;
}

bool KFCurveFilterUnroll::Apply(KFCurve&) {
    return RefuseNode();
}

bool KFCurveFilterUnroll::Apply(KFCurve** curves, int count) {
    if (count != 3 || !curves || !curves[0] || !curves[1] || !curves[2]) return RefuseNode();
    return ApplyRotationCurves(curves[0], curves[1], curves[2]);
}

bool KFCurveFilterUnroll::Apply(KFCurveNode& node, bool) {
    if (node.GetLayerType() != KFCURVENODE_LAYER_EULER_ROTATION) return RefuseNode();
    for (const char* name : kUnrollAxisNames) {
        KFCurveNode* axis = node.Find(name);
        if (axis && !axis->GetCurve()) return RefuseNode();
    }
    return Unroll(node);
}

bool KFCurveFilterUnroll::Unroll(KFCurveNode& node) {
    // Three children that all carry curves, or nothing to unroll.
    if (node.GetCount() != 3 || node.GetLayerType() != KFCURVENODE_LAYER_EULER_ROTATION) {
        return RefuseNode();
    }
    for (int i = 0; i < 3; ++i) {
        if (!node.Get(i) || !node.Get(i)->GetCurve()) return RefuseNode();
    }

    bool anyKey = false;
    KTime first = KTIME_INFINITE;
    KTime last = KTIME_MINUS_INFINITE;
    for (int i = 0; i < 3; ++i) {
        KFCurve* curve = node.Get(i)->GetCurve();
        const int count = curve->KeyGetCount();
        if (count == 0) continue;
        anyKey = true;
        first = std::min(first, curve->KeyGetTime(0));
        last = std::max(last, curve->KeyGetTime(count - 1));
    }
    if (!anyKey) {
        mError.SetErrorWithText(0, "Unroll Filter, No key to be filtered.");
        return false;
    }
    const KTime t0 = std::max(mStart, first);
    const KTime t1 = std::min(mStop, last);
    if (t1 < t0) {  // the span holds no key
        mError.SetErrorWithText(0, "Unroll Filter, No key to be filtered.");
        return false;
    }

    std::unique_ptr<KFCurveNode> copy(node.Clone(true));
    KFCurve* curves[3] = {copy->Get(0)->GetCurve(), copy->Get(1)->GetCurve(),
                          copy->Get(2)->GetCurve()};
    KFCurveFilterKeySync sync;
    sync.SetStart(mStart);
    sync.SetStop(mStop);
    if (sync.NeedApply(curves, 3)) sync.Apply(curves, 3);

    const int i0 = curves[0]->KeyGetCount() == 0 ? -1 : static_cast<int>(curves[0]->KeyFind(t0));
    const int i1 = curves[0]->KeyGetCount() == 0 ? -1 : static_cast<int>(curves[0]->KeyFind(t1));
    if (i0 == -1) {
        mError.SetErrorWithText(0, "Unroll Filter, No key to be filtered.");
        return false;
    }
    if (i0 == i1) return true;

    const int order = node.GetRotationOrder();
    double previous[3] = {0.0, 0.0, 0.0};
    // Triples are matched by key time: a key whose partners are missing is left alone.
    int hints[3] = {0, 0, 0};
    bool previousSet = false;
    for (int k = i0; k <= i1 && k < curves[0]->KeyGetCount(); ++k) {
        const KTime time = curves[0]->KeyGetTime(k);
        int index[3] = {k, KeyAtTime(*curves[1], time, hints[1]),
                        KeyAtTime(*curves[2], time, hints[2])};
        if (index[1] < 0 || index[2] < 0) continue;
        double current[3];
        for (int a = 0; a < 3; ++a) current[a] = curves[a]->KeyGetValue(index[a]);
        if (!previousSet) {
            previousSet = true;
            if (k > 0) std::copy(current, current + 3, previous);
        }
        double result[3];
        KRotationOrderClosestEquivalent(order, result, current, previous);
        for (int a = 0; a < 3; ++a) {
            curves[a]->KeySetValue(index[a], static_cast<float>(result[a]));
        }
        if (!(mPath && PathMeasure(previous, result) < mPrecision)) {
            std::copy(result, result + 3, previous);
        }
    }
    node.Replace(copy.get(), mStart, mStop);
    return true;
}
