// The node's transforms: from its channels, stored by evaluation walks, and
// from its properties under a pivot set. Row vectors throughout: a point p maps
// to p x M, so in KMatrixMultiply(out, a, b) the matrix a acts first.

#include <cmath>

#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeTransformMath.h"

namespace {

const char* const kTRS[3] = {"T", "R", "S"};

}  // namespace

void KQovNode::InvalidateChannelTransforms() {
    mDefaultLocalValid = mLocalValid = mDefaultGlobalValid = mGlobalValid = false;
}

// A node's pivot-set global depends on its ancestors', so the subtree goes stale too.
void KQovNode::InvalidatePivotSet(int set) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return;
    pivots->globalMatrixValid = 0;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->InvalidatePivotSet(set);
}

void KQovNode::ReadTRS(KQovTakeNode* takeNode, const KTime* time, KVector4 trs[3]) {
    trs[0].Set(0.0, 0.0, 0.0, 1.0);
    trs[1].Set(0.0, 0.0, 0.0, 1.0);
    trs[2].Set(1.0, 1.0, 1.0, 1.0);
    KFCurveNode* root = takeNode ? takeNode->GetRoot() : nullptr;
    KFCurveNode* transform = root ? root->Find("Transform") : nullptr;
    if (!transform) transform = root;
    for (int c = 0; c < 3 && transform; ++c) {
        KFCurveNode* channel = transform->Find(kTRS[c]);
        if (!channel) continue;
        double values[3] = {trs[c][0], trs[c][1], trs[c][2]};
        if (time) {
            channel->Evaluate(values, 3, *time, &mChannelHints[c]);
        } else {
            channel->GetDefaultValues(values, 3);
        }
        trs[c].Set(values[0], values[1], values[2], 1.0);
    }
}

KMatrix KQovNode::GetDefaultLocalMatrix() {
    if (!mDefaultLocalValid) {
        KVector4 trs[3];
        ReadTRS(GetDefaultTakeNode(), nullptr, trs);
        mDefaultLocal = KMatrix();
        KMatrixSetTRS(mDefaultLocal, trs[0], trs[1], trs[2]);
        mDefaultLocalValid = true;
    }
    return mDefaultLocal;
}

KMatrix KQovNode::GetLocalMatrix(KTime time) {
    if (!mLocalValid || time != mLocalTime) {
        KVector4 trs[3];
        ReadTRS(GetCurrentTakeNode(), &time, trs);
        mLocalAtTime = KMatrix();
        KMatrixSetTRS(mLocalAtTime, trs[0], trs[1], trs[2]);
        mLocalTime = time;
        mLocalValid = true;
    }
    return mLocalAtTime;
}

KMatrix KQovNode::GetDefaultGlobalMatrix() {
    if (!mDefaultGlobalValid) {
        const KMatrix local = GetDefaultLocalMatrix();
        mDefaultGlobal = KMatrix();
        if (KQovNode* parent = GetParent()) {
            KMatrixMultiply(mDefaultGlobal, local, parent->GetDefaultGlobalMatrix());  // local first
        } else {
            KMatrixCopyAffine(mDefaultGlobal, local);
        }
        mDefaultGlobalValid = true;
    }
    return mDefaultGlobal;
}

KMatrix KQovNode::GetGlobalMatrixAtTime(KTime time) {
    if (!mGlobalValid || time != mGlobalTime) {
        const KMatrix local = GetLocalMatrix(time);
        mGlobalAtTime = KMatrix();
        if (KQovNode* parent = GetParent()) {
            KMatrixMultiply(mGlobalAtTime, local, parent->GetGlobalMatrixAtTime(time));
        } else {
            KMatrixCopyAffine(mGlobalAtTime, local);
        }
        mGlobalTime = time;
        mGlobalValid = true;
    }
    return mGlobalAtTime;
}

void KQovNode::SetEvaluatedLocalToDefault(bool recursive) {
    mEvaluatedLocal = GetDefaultLocalMatrix();
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->SetEvaluatedLocalToDefault(true);
}

void KQovNode::EvaluateLocalMatrix(KTime time, bool recursive) {
    mEvaluatedLocal = GetCurrentTakeNode() == GetDefaultTakeNode() ? GetDefaultLocalMatrix()
                                                                   : GetLocalMatrix(time);
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->EvaluateLocalMatrix(time, true);
}

void KQovNode::SetEvaluationId(int id, bool recursive) {
    mEvaluationId = id;
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->SetEvaluationId(id, true);
}

void KQovNode::EvaluateGlobalMatrix(int id, bool recursive) {
    if (id != mEvaluationId) {
        mEvaluationId = id;
        mEvaluatedGlobal = KMatrix();
        if (KQovNode* parent = GetParent()) {
            parent->EvaluateGlobalMatrix(id, false);
            KMatrixMultiply(mEvaluatedGlobal, mEvaluatedLocal, parent->mEvaluatedGlobal);
        } else {
            KMatrixCopyAffine(mEvaluatedGlobal, mEvaluatedLocal);
        }
    }
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->EvaluateGlobalMatrix(id, true);
}

void KQovNode::ComputeGlobalMatrix(int set) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return;
    KQovNode* parent = GetParent();
    KMatrix parentGlobal;
    if (parent) parentGlobal.SetAffine(parent->GetGlobalMatrix(set, false));

    const bool inUse = pivots->pivotState == 0;
    KVector4 t;
    GetLocalTranslation(t);
    if (inUse) t += pivots->rotationPivot;
    // The parent's frame sits at its rotation pivot: step back from it.
    const KQovPivotSet* parentPivots = parent ? parent->GetPivotSet(set) : nullptr;
    if (parentPivots && parentPivots->pivotState == 0)
        t = t - KQovUnrotateVector(parentPivots->rotationPivot, parentPivots->postRotation);
    KMatrix pre, post;
    if (inUse) {
        t += pivots->rotationOffset;
        pre = KMatrix(pivots->preRotation);
        post = KMatrix(pivots->postRotation);
    }
    KVector4 r, s;
    GetLocalRotation(r);
    GetLocalScaling(s);

    // S x Post x R x Pre x Translate(t) x parent: each step below acts before the ones so far.
    KMatrix m = KQovTranslationMatrix(t);
    KMatrixMultiply(m, pre, m);
    KMatrixMultiply(m, KMatrix(r), m);
    KMatrixMultiply(m, post, m);
    KMatrixMultiply(m, KQovScalingMatrix(s), m);
    KMatrixMultiply(pivots->globalMatrix, m, parentGlobal);
    pivots->globalMatrixValid = 1;

    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->ComputeGlobalMatrix(set);
}

KMatrix KQovNode::GetGlobalMatrix(int set, bool force) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return KMatrix();
    if (!pivots->globalMatrixValid || force) {
        KQovNode* top = this;
        while (KQovNode* parent = top->GetParent()) top = parent;
        top->ComputeGlobalMatrix(set);
    }
    return pivots->globalMatrix;
}

KVector4 KQovNode::GetGlobalTranslation(int set, bool force) {
    return GetGlobalMatrix(set, force).GetRow(3);
}

KVector4 KQovNode::GetGlobalRotation(int set, bool force) {
    KVector4 out;
    KMatrixGetEulerXYZ(out, GetGlobalMatrix(set, force));
    return out;
}

KVector4 KQovNode::GetGlobalScaling(int set, bool force) {
    KVector4 out;
    KMatrixGetScaling(out, GetGlobalMatrix(set, force));
    return out;
}

void KQovNode::ResetPivotSet(int set) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return;
    pivots->rotationOrder = 0;
    for (KVector4* v : {&pivots->preRotation, &pivots->postRotation, &pivots->rotationPivot,
                        &pivots->scalingPivot, &pivots->rotationOffset, &pivots->scalingOffset,
                        &pivots->geometricTranslation, &pivots->geometricRotation})
        v->Set(0.0, 0.0, 0.0, 1.0);
    pivots->geometricScaling.Set(1.0, 1.0, 1.0, 1.0);
    pivots->rotationSpaceForLimitOnly = 0;
    // Unlike the update offsets and the state, the stored matrix cannot survive this.
    pivots->globalMatrixValid = 0;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->ResetPivotSet(set);
}

void KQovNode::ResetPivots() {
    ResetPivotSet(1);
    ConvertPivotAnimation(1, 30.0, false);
    ResetPivotSet(0);
}
