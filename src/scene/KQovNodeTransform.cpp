// The node's transforms: from its channels, stored by evaluation walks, and
// from its properties under a pivot set. Row vectors throughout: a point p maps
// to p x M, so in KMatrixMultiply(out, a, b) the matrix a acts first.

#include <cmath>
#include <memory>

#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KInlineStack.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeTransformMath.h"
#include "scene/KQovNodeWalk.h"

namespace {

const char* const kTRS[3] = {"T", "R", "S"};

// A node and the ancestors to compute with it, the highest last: most chains are short.
using StaleChain = KInlineStack<KQovNode*, 32>;

// `root` and every node below it, parents before children; the tree must not change meanwhile.
template <class Visit>
void ForEachNode(KQovNode* root, Visit&& visit) {
    KQovWalkNodes(
        root,
        [&visit](KQovNode* node, int) {
            visit(node);
            return true;
        },
        [](KQovNode*, int) {});
}

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

// A node's pivot-set global depends on its ancestors', so the subtree goes stale too. A
// subtree already all stale is not walked again: setting the pivots of every node of a chain
// would otherwise walk the rest of the chain each time.
void KQovNode::InvalidatePivotSet(int set) {
    KQovWalkNodes(
        this,
        [set](KQovNode* node, int) {
            KQovPivotSet* pivots = node->GetPivotSet(set);
            if (!pivots || pivots->subtreeStale) return false;
            pivots->globalMatrixValid = 0;
            pivots->subtreeStale = 1;
            return true;
        },
        [](KQovNode*, int) {});
}

void KQovNode::ClearStaleAbove(int set) {
    // Above a node not marked, none is (a mark covers the whole subtree).
    for (KQovNode* node = this; node; node = node->GetParent()) {
        KQovPivotSet* pivots = node->mProperties ? node->mProperties->FindPivotSet(set) : nullptr;
        if (!pivots || !pivots->subtreeStale) return;
        pivots->subtreeStale = 0;
    }
}

void KQovNode::ChildJoined(KQovNode* child) {
    // A child not all stale (or never marked) may bring computed matrices along.
    for (int set = 0; set < 2; ++set) {
        const KQovPivotSet* pivots =
            child && child->mProperties ? child->mProperties->FindPivotSet(set) : nullptr;
        if (!pivots || !pivots->subtreeStale) ClearStaleAbove(set);
    }
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

// The stale ones among a node and its ancestors are computed from the highest down, so that a
// deep chain does not recurse.
KMatrix KQovNode::GetDefaultGlobalMatrix() {
    StaleChain stale;
    for (KQovNode* node = this; node && !node->Cache().defaultGlobalValid; node = node->GetParent())
        stale.push_back(node);
    for (; !stale.empty(); stale.pop_back()) {
        KQovNode* node = stale.back();
        const KMatrix local = node->GetDefaultLocalMatrix();
        node->Cache().defaultGlobal = KMatrix();
        if (KQovNode* parent = node->GetParent()) {
            KMatrixMultiply(node->Cache().defaultGlobal, local,
                            parent->Cache().defaultGlobal);  // local first
        } else {
            KMatrixCopyAffine(node->Cache().defaultGlobal, local);
        }
        node->Cache().defaultGlobalValid = true;
    }
    return Cache().defaultGlobal;
}

KMatrix KQovNode::GetGlobalMatrixAtTime(KTime time) {
    StaleChain stale;
    for (KQovNode* node = this;
         node && (!node->Cache().globalValid || time != node->Cache().globalTime);
         node = node->GetParent())
        stale.push_back(node);
    for (; !stale.empty(); stale.pop_back()) {
        KQovNode* node = stale.back();
        const KMatrix local = node->GetLocalMatrix(time);
        node->Cache().globalAtTime = KMatrix();
        if (KQovNode* parent = node->GetParent()) {
            KMatrixMultiply(node->Cache().globalAtTime, local, parent->Cache().globalAtTime);
        } else {
            KMatrixCopyAffine(node->Cache().globalAtTime, local);
        }
        node->Cache().globalTime = time;
        node->Cache().globalValid = true;
    }
    return Cache().globalAtTime;
}

void KQovNode::SetEvaluatedLocalToDefault(bool recursive) {
    if (!recursive) {
        Cache().evaluatedLocal = GetDefaultLocalMatrix();
        return;
    }
    ForEachNode(
        this, [](KQovNode* node) { node->Cache().evaluatedLocal = node->GetDefaultLocalMatrix(); });
}

void KQovNode::EvaluateLocalMatrix(KTime time, bool recursive) {
    const auto evaluate = [time](KQovNode* node) {
        node->Cache().evaluatedLocal = node->GetCurrentTakeNode() == node->GetDefaultTakeNode()
                                           ? node->GetDefaultLocalMatrix()
                                           : node->GetLocalMatrix(time);
    };
    if (recursive)
        ForEachNode(this, evaluate);
    else
        evaluate(this);
}

void KQovNode::SetEvaluationId(int id, bool recursive) {
    Cache().evaluationId = id;
    if (!recursive) return;
    ForEachNode(this, [id](KQovNode* node) { node->Cache().evaluationId = id; });
}

void KQovNode::EvaluateGlobalMatrix(int id, bool recursive) {
    // Stale ancestors from the highest down; below, each parent is done before its children.
    const auto evaluate = [id](KQovNode* node) {
        if (node->Cache().evaluationId == id) return;
        node->Cache().evaluationId = id;
        node->Cache().evaluatedGlobal = KMatrix();
        if (KQovNode* parent = node->GetParent()) {
            KMatrixMultiply(node->Cache().evaluatedGlobal, node->Cache().evaluatedLocal,
                            parent->Cache().evaluatedGlobal);
        } else {
            KMatrixCopyAffine(node->Cache().evaluatedGlobal, node->Cache().evaluatedLocal);
        }
    };
    StaleChain stale;
    for (KQovNode* node = this; node && node->Cache().evaluationId != id; node = node->GetParent())
        stale.push_back(node);
    for (; !stale.empty(); stale.pop_back()) evaluate(stale.back());
    if (recursive)
        ForEachNode(this, [this, &evaluate](KQovNode* node) {
            if (node != this) evaluate(node);
        });
}

bool KQovNode::ComputeOwnGlobalMatrix(int set) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return false;
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
    ClearStaleAbove(set);
    return true;
}

void KQovNode::ComputeGlobalMatrix(int set) {
    // Parents before children, skipping below a node without the set.
    KQovWalkNodes(
        this, [set](KQovNode* node, int) { return node->ComputeOwnGlobalMatrix(set); },
        [](KQovNode*, int) {});
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
    KQovWalkNodes(
        this, [set](KQovNode* node, int) { return node->ResetOwnPivotSet(set); },
        [](KQovNode*, int) {});
}

bool KQovNode::ResetOwnPivotSet(int set) {
    KQovPivotSet* pivots = GetPivotSet(set);
    if (!pivots) return false;
    pivots->rotationOrder = 0;
    for (KVector4* v : {&pivots->preRotation, &pivots->postRotation, &pivots->rotationPivot,
                        &pivots->scalingPivot, &pivots->rotationOffset, &pivots->scalingOffset,
                        &pivots->geometricTranslation, &pivots->geometricRotation})
        v->Set(0.0, 0.0, 0.0, 1.0);
    pivots->geometricScaling.Set(1.0, 1.0, 1.0, 1.0);
    pivots->rotationSpaceForLimitOnly = 0;
    // Unlike the update offsets and the state, the stored matrix cannot survive this.
    pivots->globalMatrixValid = 0;
    return true;
}

void KQovNode::ResetPivots() {
    ResetPivotSet(1);
    ConvertPivotAnimation(1, 30.0, false);
    ResetPivotSet(0);
}
