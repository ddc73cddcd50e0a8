// Re-expressing a node's animation from one pivot set to the other: constant
// differences go into the translation curves, the rest through the matrix
// converter. Row vectors: in KMatrixMultiply(out, a, b) the matrix a acts first.

#include <cmath>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterMatrixConverter.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeTransformMath.h"
#include "scene/KQovNodeWalk.h"

namespace {

KMatrix Inverse(const KMatrix& m) {
    KMatrix out;
    KMatrixInverseOrthogonal(out, m);
    return out;
}

bool AnyNonZero(const KVector4& v, double tolerance = 0.0) {
    return std::fabs(v[0]) > tolerance || std::fabs(v[1]) > tolerance ||
           std::fabs(v[2]) > tolerance;
}

KVector4 Difference(const KVector4& a, const KVector4& b) {
    KVector4 out = a - b;
    out[3] = 1.0;
    return out;
}

// A set's values as the transform sees them: neutral when the set is not in use.
struct SetView {
    const KQovPivotSet* set;
    bool inUse;
    KVector4 Vector(KVector4 KQovPivotSet::*field) const {
        return inUse ? set->*field : KVector4(0.0, 0.0, 0.0, 1.0);
    }
    // Pre- and post-rotations also drop out when they only orient the limits.
    KVector4 Rotation(KVector4 KQovPivotSet::*field) const {
        return inUse && !set->rotationSpaceForLimitOnly ? set->*field : KVector4(0.0, 0.0, 0.0, 1.0);
    }
    int Order() const { return set->rotationSpaceForLimitOnly ? 0 : set->rotationOrder; }
};

SetView View(const KQovNode& node, int set) {
    const KQovPivotSet* pivots = node.GetPivotSet(set);
    return {pivots, pivots->pivotState == 0};
}

// Translation, then rotation, then the axes scaled: S x R x T for a geometric transform.
KMatrix GeometricMatrix(const SetView& view) {
    KMatrix m;
    KMatrixMultiply(m, KMatrix(view.Vector(&KQovPivotSet::geometricRotation)),
                    KQovTranslationMatrix(view.Vector(&KQovPivotSet::geometricTranslation)));
    KVector4 s = view.inUse ? view.set->geometricScaling : KVector4(1.0, 1.0, 1.0, 1.0);
    KMatrixScaleAxes(m, s);
    return m;
}

void ConfigureConverter(KFCurveFilterMatrixConverter& converter, double framesPerSecond,
                        bool reduceKeys) {
    KTime period;
    period.SetSecondDouble(framesPerSecond > 0.0 ? 1.0 / framesPerSecond : 0.0);
    converter.SetResamplingPeriod(period);
    converter.SetSampleAtStop(true);
    converter.SetApplyUnroll(true);
    converter.SetApplyConstantKeyReducer(reduceKeys);
    converter.SetConvertTranslation(false);
}

// Adds offset to the default value and every key of the translation curves, then
// converts the take's channels when asked.
void ApplyToTakes(KQovNode& node, const KVector4& offset, KFCurveFilterMatrixConverter* converter) {
    static const char* const kAxes[3] = {"X", "Y", "Z"};
    for (int i = 0; i < node.GetTakeNodeCount(); ++i) {
        KQovTakeNode* take = node.GetTakeNode(i);
        KFCurveNode* root = take ? take->GetRoot() : nullptr;
        if (!root) continue;
        if (KFCurveNode* translation = root->Find("T")) {
            for (int a = 0; a < 3; ++a) {
                KFCurveNode* axis = translation->Find(kAxes[a]);
                KFCurve* curve = axis ? axis->GetCurve() : nullptr;
                if (!curve || offset[a] == 0.0) continue;
                curve->SetValue(float(curve->GetValue() + offset[a]));
                for (int k = 0; k < curve->KeyGetCount(); ++k)
                    curve->KeySetValue(k, float(curve->KeyGetValue(k) + offset[a]));
            }
        }
        if (converter) converter->Apply(*root, true);
    }
}

}  // namespace

void KQovNode::ConvertPivotAnimation(int targetSet, double framesPerSecond, bool reduceKeys) {
    KQovWalkNodes(
        this,
        [&](KQovNode* node, int) {
            return node->ConvertOwnPivotAnimation(targetSet, framesPerSecond, reduceKeys, false);
        },
        [](KQovNode*, int) {});
}

void KQovNode::ConvertPivotAnimationInHierarchy(int targetSet, double framesPerSecond,
                                                bool reduceKeys) {
    KQovWalkNodes(
        this,
        [&](KQovNode* node, int) {
            return node->ConvertOwnPivotAnimation(targetSet, framesPerSecond, reduceKeys, true);
        },
        [](KQovNode*, int) {});
}

bool KQovNode::ConvertOwnPivotAnimation(int targetSet, double framesPerSecond, bool reduceKeys,
                                        bool inHierarchy) {
    if (inHierarchy) return ConvertOwnPivotAnimationInHierarchy(targetSet, framesPerSecond, reduceKeys);
    if ((targetSet != 0 && targetSet != 1) || !mProperties) return false;
    const SetView source = View(*this, 1 - targetSet);
    const SetView target = View(*this, targetSet);
    KFCurveFilterMatrixConverter converter;
    bool needed = false;

    const KVector4 d = Difference(source.Vector(&KQovPivotSet::rotationPivot),
                                  target.Vector(&KQovPivotSet::rotationPivot));
    if (AnyNonZero(d)) {
        converter.SetSourceMatrix(11, KQovTranslationMatrix(d));
        needed = true;
    }

    KMatrix pivot;
    if (IsGeometry() && mAttribute->GetPivotMatrix(pivot)) {
        // G x A x B^-1: the points through the pivot and the source geometric
        // transform, then back out of the target's (B^-1 first would turn the
        // offset by the source rotation).
        KMatrix g;
        KMatrixMultiply(g, pivot, GeometricMatrix(source));
        KMatrixMultiply(g, g, Inverse(GeometricMatrix(target)));
        mAttribute->SetPivotMatrix(g, true);
    }

    const KVector4 e = Difference(source.Vector(&KQovPivotSet::scalingPivot),
                                  target.Vector(&KQovPivotSet::scalingPivot));
    if (AnyNonZero(e, 1e-6)) {
        converter.SetSourceMatrix(12, KQovTranslationMatrix(e));
        needed = true;
    }
    const KVector4 r = Difference(source.Vector(&KQovPivotSet::rotationOffset),
                                  target.Vector(&KQovPivotSet::rotationOffset));
    const KVector4 s = Difference(source.Vector(&KQovPivotSet::scalingOffset),
                                  target.Vector(&KQovPivotSet::scalingOffset));
    if (AnyNonZero(s, 1e-6)) {
        converter.SetSourceMatrix(8, KQovTranslationMatrix(s));
        needed = true;
    }

    if (mProperties->GetBool(KQovNodeProperties::eRotationActive)) {
        static const KMatrix identity;
        const KVector4 preS = source.Rotation(&KQovPivotSet::preRotation);
        const KVector4 preT = target.Rotation(&KQovPivotSet::preRotation);
        if (AnyNonZero(preS) || AnyNonZero(preT)) {
            const KMatrix qs(preS), qt(preT);
            KMatrix y;
            KMatrixMultiply(y, qs, Inverse(qt));  // Qs x Qt^-1
            KVector4 angles;
            KMatrixGetEulerXYZ(angles, y);
            if (KMatrixCompareAffine(KMatrix(angles), identity, 1e-6) != 0) {
                converter.SetSourceMatrix(3, y);
                needed = true;
            } else {
                converter.SetSourceMatrix(9, qs);
            }
        }
        const KVector4 postS = source.Rotation(&KQovPivotSet::postRotation);
        const KVector4 postT = target.Rotation(&KQovPivotSet::postRotation);
        if (AnyNonZero(postS) || AnyNonZero(postT)) {
            const KMatrix ps(postS), pt(postT);
            // Pt^-1 x Ps: the post-rotation acts first, not inverted, in the
            // pivot-set transform (the reverse order would turn the wrong way).
            KMatrix x;
            KMatrixMultiply(x, Inverse(pt), ps);
            KVector4 angles;
            KMatrixGetEulerXYZ(angles, x);
            if (KMatrixCompareAffine(KMatrix(angles), identity, 1e-6) != 0) {
                converter.SetSourceMatrix(4, x);
                needed = true;
            } else {
                converter.SetSourceMatrix(10, Inverse(pt));
            }
        }
        converter.SetSourceRotationOrder(source.Order());
        converter.SetDestinationRotationOrder(target.Order());
        if (source.Order() != target.Order()) needed = true;
    }

    ConfigureConverter(converter, framesPerSecond, reduceKeys);
    ApplyToTakes(*this, r, needed ? &converter : nullptr);
    return true;
}

bool KQovNode::ConvertOwnPivotAnimationInHierarchy(int targetSet, double framesPerSecond,
                                                   bool reduceKeys) {
    if ((targetSet != 0 && targetSet != 1) || !mProperties) return false;
    const SetView source = View(*this, 1 - targetSet);
    const SetView target = View(*this, targetSet);
    KFCurveFilterMatrixConverter converter;
    bool needed = false;

    KVector4 t = Difference(source.Vector(&KQovPivotSet::rotationPivot),
                            target.Vector(&KQovPivotSet::rotationPivot));
    KMatrix pivot;
    if (IsGeometry() && mAttribute->GetPivotMatrix(pivot)) {
        KVector4 s;
        GetLocalScaling(s);
        KVector4 u;
        for (int c = 0; c < 3; ++c) u[c] = -t[c] / (s[c] == 0.0 ? 1.0 : s[c]);
        u = KQovUnrotateVector(u, source.Vector(&KQovPivotSet::postRotation));
        for (int c = 0; c < 3; ++c) pivot[3][c] += u[c];
        mAttribute->SetPivotMatrix(pivot, false);
    }
    t += Difference(source.Vector(&KQovPivotSet::rotationOffset),
                    target.Vector(&KQovPivotSet::rotationOffset));
    if (KQovNode* parent = GetParent()) {
        const SetView parentSource = View(*parent, 1 - targetSet);
        const SetView parentTarget = View(*parent, targetSet);
        if (parentSource.inUse)
            t = t - KQovUnrotateVector(parentSource.set->rotationPivot, parentSource.set->postRotation);
        if (parentTarget.inUse)
            t += KQovUnrotateVector(parentTarget.set->rotationPivot, parentTarget.set->postRotation);
    }

    const KVector4 preS = source.Rotation(&KQovPivotSet::preRotation);
    const KVector4 preT = target.Rotation(&KQovPivotSet::preRotation);
    if (AnyNonZero(preS) || AnyNonZero(preT)) {
        KMatrix y;
        KMatrixMultiply(y, KMatrix(preS), Inverse(KMatrix(preT)));  // Qs x Qt^-1
        converter.SetSourceMatrix(3, y);
        needed = true;
    }
    const KVector4 postS = source.Rotation(&KQovPivotSet::postRotation);
    const KVector4 postT = target.Rotation(&KQovPivotSet::postRotation);
    if (AnyNonZero(postS) || AnyNonZero(postT)) {
        KMatrix x;
        KMatrixMultiply(x, Inverse(KMatrix(postT)), KMatrix(postS));  // Pt^-1 x Ps
        converter.SetSourceMatrix(4, x);
        needed = true;
    }

    ConfigureConverter(converter, framesPerSecond, reduceKeys);
    ApplyToTakes(*this, t, needed ? &converter : nullptr);
    return true;
}
