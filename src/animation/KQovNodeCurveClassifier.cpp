#include "animation/KQovNodeCurveClassifier.h"

#include <algorithm>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

KQovNodeCurveClassifier::KQovNodeCurveClassifier() : mPeriod(KTIME_ONE_SECOND.Get() / 24) {}

void KQovNodeCurveClassifier::Clear() {
    for (NodeList* list : {&mNonUnitDefault, &mNonUnitCurrent, &mNegativeDefault,
                           &mNegativeCurrent, &mNonUniformDefault, &mNonUniformCurrent})
        list->clear();
    ClearAccepted();
}

void KQovNodeCurveClassifier::FindScalingCurves(KFCurveNode* curveNode, KFCurve* curves[3]) {
    curves[0] = curves[1] = curves[2] = nullptr;
    KFCurveNode* scaling = curveNode ? curveNode->Find("S") : nullptr;
    if (!scaling) return;
    const char* const axes[3] = {"X", "Y", "Z"};
    for (int a = 0; a < 3; ++a) {
        KFCurveNode* axis = scaling->Find(axes[a]);
        curves[a] = axis ? axis->GetCurve() : nullptr;
    }
}

int KQovNodeCurveClassifier::AnalyseValues(const double* values, int count) const {
    const double e = mTolerance;
    for (int i = 0; i < count; ++i) {
        const double v = values[i];
        if (mTestUnit && (v < 1.0 - e || v > 1.0 + e)) return eNonUnit;
        if (mTestNegative && v < 0.0) return eNegative;
        if (mTestVariation && (v < values[0] - e || v > values[0] + e)) return eNonUniform;
    }
    return eFine;
}

int KQovNodeCurveClassifier::AnalyseCurves(KFCurve* const curves[3]) const {
    double values[3];
    int count = 0;
    for (int a = 0; a < 3; ++a)
        if (curves[a]) values[count++] = curves[a]->GetValue();
    if (const int result = AnalyseValues(values, count)) return result;

    bool keyed = false;
    KTime start = KTIME_INFINITE, stop = KTIME_MINUS_INFINITE;
    for (int a = 0; a < 3; ++a) {
        const int keys = curves[a] ? curves[a]->KeyGetCount() : 0;
        if (keys == 0) continue;
        keyed = true;
        start = std::min(start, curves[a]->KeyGetTime(0));
        stop = std::max(stop, curves[a]->KeyGetTime(keys - 1));
    }
    if (!keyed) return eFine;

    // Period steps from start while not past stop; a span too long for the
    // period is covered by kMaxSamples wider steps.
    const __int128 span = static_cast<__int128>(stop.Get()) - start.Get();
    __int128 step = mPeriod.Get() > 0 ? mPeriod.Get() : 1;
    if (span / step >= kMaxSamples) step = span / (kMaxSamples - 1) + 1;
    bool nonUnit = false, nonUniform = false;
    for (__int128 offset = 0; offset <= span; offset += step) {
        const KTime time(static_cast<int64_t>(offset + start.Get()));
        count = 0;
        for (int a = 0; a < 3; ++a)
            if (curves[a]) values[count++] = curves[a]->Evaluate(time);
        const int result = AnalyseValues(values, count);
        if (result == eNegative) return eNegative;
        nonUniform |= result == eNonUniform;
        nonUnit |= result == eNonUnit;
    }
    return nonUniform ? eNonUniform : nonUnit ? eNonUnit : eFine;
}

bool KQovNodeCurveClassifier::Classify(KQovNode* node, KFCurveNode* curveNode, NodeList& nonUnit,
                                       NodeList& negative, NodeList& nonUniform) {
    KFCurve* curves[3];
    FindScalingCurves(curveNode, curves);
    const bool parent = node->GetChildCount() > 0;
    switch (AnalyseCurves(curves)) {
        case eNonUnit:
            if (!parent) return false;
            nonUnit.push_back(node);
            return true;
        case eNegative:
            negative.push_back(node);
            return true;
        case eNonUniform:
            if (!parent) return false;
            nonUniform.push_back(node);
            return true;
        default:
            return false;
    }
}

bool KQovNodeCurveClassifier::Accept(KQovNode* node) {
    const bool testUnit = mTestUnit;
    mTestUnit = testUnit && node->GetAttributeOfType(KQovNodeAttribute::eSkeleton);
    KQovTakeNode* defaultTake = node->GetDefaultTakeNode();
    KQovTakeNode* current = node->GetCurrentTakeNode();
    bool listed = defaultTake && Classify(node, defaultTake->GetRoot(), mNonUnitDefault,
                                          mNegativeDefault, mNonUniformDefault);
    if (current && current != defaultTake &&
        Classify(node, current->GetRoot(), mNonUnitCurrent, mNegativeCurrent, mNonUniformCurrent))
        listed = true;
    mTestUnit = testUnit;
    return listed;
}
