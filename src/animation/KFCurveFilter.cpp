#include "animation/KFCurveFilter.h"

#include <cmath>
#include <memory>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

KFCurveFilter::KFCurveFilter(const char* name, const char* const* statusTable, int statusCount)
    : mName(name), mStart(0), mStop(0), mError(statusTable, statusCount) {}

bool KFCurveFilter::NeedApply(KFCurve&) {
    return true;
}

bool KFCurveFilter::NeedApply(KFCurve** curves, int count) {
    bool result = true;
    for (int i = 0; curves && i < count; ++i) {
        if (curves[i]) result = NeedApply(*curves[i]) || result;
    }
    return result;
}

void KFCurveFilter::Reset() {
    mStart = KTIME_MINUS_INFINITE;
    mStop = KTIME_INFINITE;
}

int KFCurveFilter::GetStartKeyIndex(KFCurve& curve) const {
    if (curve.KeyGetCount() == 0) return -1;
    KTime first = curve.KeyGetTime(0);
    KTime t = mStart > first ? mStart : first;
    double index = curve.KeyFind(t) - 1.0;
    if (index < 0.0) index = 0.0;
    return static_cast<int>(index);
}

int KFCurveFilter::GetStopKeyIndex(KFCurve& curve) const {
    int count = curve.KeyGetCount();
    if (count == 0) return -1;
    KTime last = curve.KeyGetTime(count - 1);
    KTime t = mStop < last ? mStop : last;
    return static_cast<int>(curve.KeyFind(t)) + 1;
}

bool KFCurveFilter::ApplyCurveArray(KFCurve** curves, int count) {
    // Every curve is visited; a refused curve does not stop the walk.
    bool result = true;
    for (int i = 0; curves && i < count; ++i) {
        if (curves[i]) result = Apply(*curves[i]) || result;
    }
    return result;
}

bool KFCurveFilter::NeedApply(KFCurveNode& node, bool recursive) {
    bool result = true;
    if (recursive) {
        for (int i = 0; i < node.GetCount(); ++i) {
            if (KFCurveNode* child = node.Get(i)) result = NeedApply(*child, recursive) || result;
        }
    }
    if (KFCurve* curve = node.GetCurve()) result = NeedApply(&curve, 1) || result;
    return result;
}

bool KFCurveFilter::ApplyCurveNode(KFCurveNode& node, bool recursive) {
    bool result = true;
    if (recursive) {
        for (int i = 0; i < node.GetCount(); ++i) {
            if (KFCurveNode* child = node.Get(i)) result = Apply(*child, recursive) || result;
        }
    }
    if (KFCurve* curve = node.GetCurve()) result = Apply(*curve) || result;
    return result;
}

bool KFCurveFilter::ApplyRotationCurves(KFCurve* x, KFCurve* y, KFCurve* z) {
    std::unique_ptr<KFCurveNode> rotation(
        KFCurveNode::Create("R", nullptr, KFCURVENODE_LAYER_EULER_ROTATION));
    // The curves are the caller's: handed back however the filter ends (a refused allocation
    // too), or the node would delete them.
    struct Lent {
        KFCurveNode& node;
        ~Lent() {
            for (int i = 0; i < node.GetCount(); ++i) node.Get(i)->SetCurve(nullptr, false);
        }
    } lent{*rotation};
    KFCurve* curves[3] = {x, y, z};
    const char* const names[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<KFCurveNode> axis(KFCurveNode::Create(names[i]));
        rotation->Add(axis.get());
        axis.release()->SetCurve(curves[i], false);
    }
    return Apply(*rotation, true);
}
