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

KQovNode::TransformCache& KQovNode::Cache() {
    if (!mCache) mCache = std::make_unique<TransformCache>();
    return *mCache;
}

const KMatrix& KQovNode::GetEvaluatedGlobalMatrix() const {
    static const KMatrix kIdentity;
    return mCache ? mCache->evaluatedGlobal : kIdentity;
}

void KQovNode::SetEvaluatedGlobalMatrix(const KMatrix& m) {
    Cache().evaluatedGlobal = m;
}

void KQovNode::InvalidateChannelTransforms() {
    if (mCache)
        mCache->defaultLocalValid = mCache->localValid = mCache->defaultGlobalValid =
            mCache->globalValid = false;
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
            channel->Evaluate(values, 3, *time, &Cache().channelHints[c]);
        } else {
            channel->GetDefaultValues(values, 3);
        }
        trs[c].Set(values[0], values[1], values[2], 1.0);
    }
}

KMatrix KQovNode::GetDefaultLocalMatrix() {
    TransformCache& cache = Cache();
    if (!cache.defaultLocalValid) {
        KVector4 trs[3];
        ReadTRS(GetDefaultTakeNode(), nullptr, trs);
        cache.defaultLocal = KMatrix();
        KMatrixSetTRS(cache.defaultLocal, trs[0], trs[1], trs[2]);
        cache.defaultLocalValid = true;
    }
    return cache.defaultLocal;
}

KMatrix KQovNode::GetLocalMatrix(KTime time) {
    TransformCache& cache = Cache();
    if (!cache.localValid || time != cache.localTime) {
        KVector4 trs[3];
        ReadTRS(GetCurrentTakeNode(), &time, trs);
        cache.localAtTime = KMatrix();
        KMatrixSetTRS(cache.localAtTime, trs[0], trs[1], trs[2]);
        cache.localTime = time;
        cache.localValid = true;
    }
    return cache.localAtTime;
}

KMatrix KQovNode::GetDefaultGlobalMatrix() {
    TransformCache& cache = Cache();
    if (!cache.defaultGlobalValid) {
        const KMatrix local = GetDefaultLocalMatrix();
        cache.defaultGlobal = KMatrix();
        if (KQovNode* parent = GetParent()) {
            KMatrixMultiply(cache.defaultGlobal, local, parent->GetDefaultGlobalMatrix());  // local first
        } else {
            KMatrixCopyAffine(cache.defaultGlobal, local);
        }
        cache.defaultGlobalValid = true;
    }
    return cache.defaultGlobal;
}

KMatrix KQovNode::GetGlobalMatrixAtTime(KTime time) {
    TransformCache& cache = Cache();
    if (!cache.globalValid || time != cache.globalTime) {
        const KMatrix local = GetLocalMatrix(time);
        cache.globalAtTime = KMatrix();
        if (KQovNode* parent = GetParent()) {
            KMatrixMultiply(cache.globalAtTime, local, parent->GetGlobalMatrixAtTime(time));
        } else {
            KMatrixCopyAffine(cache.globalAtTime, local);
        }
        cache.globalTime = time;
        cache.globalValid = true;
    }
    return cache.globalAtTime;
}

void KQovNode::SetEvaluatedLocalToDefault(bool recursive) {
    const KMatrix local = GetDefaultLocalMatrix();
    Cache().evaluatedLocal = local;
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->SetEvaluatedLocalToDefault(true);
}

void KQovNode::EvaluateLocalMatrix(KTime time, bool recursive) {
    const KMatrix local = GetCurrentTakeNode() == GetDefaultTakeNode() ? GetDefaultLocalMatrix()
                                                                       : GetLocalMatrix(time);
    Cache().evaluatedLocal = local;
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->EvaluateLocalMatrix(time, true);
}

void KQovNode::SetEvaluationId(int id, bool recursive) {
    Cache().evaluationId = id;
    if (!recursive) return;
    for (int i = 0; KQovNode* child = GetChild(i); ++i) child->SetEvaluationId(id, true);
}

void KQovNode::EvaluateGlobalMatrix(int id, bool recursive) {
    TransformCache& cache = Cache();
    if (id != cache.evaluationId) {
        cache.evaluationId = id;
        cache.evaluatedGlobal = KMatrix();
        if (KQovNode* parent = GetParent()) {
            parent->EvaluateGlobalMatrix(id, false);
            KMatrixMultiply(cache.evaluatedGlobal, cache.evaluatedLocal,
                            parent->GetEvaluatedGlobalMatrix());
        } else {
            KMatrixCopyAffine(cache.evaluatedGlobal, cache.evaluatedLocal);
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
