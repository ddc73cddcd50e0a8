#include "formats/geometry/KQovStillPose.h"

#include <cstring>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "io/KQovWriteOptions.h"
#include "scene/KQovNode.h"
#include "scene/KQovScene.h"

namespace {

// The node's take node of the scene's current take (its own current one when it has none of
// that name); null for a "Default" take not made yet, which holds no keys.
KQovTakeNode* TakeOf(KQovNode& node, const std::string& take) {
    int index = node.GetCurrentTakeNodeIndex();
    for (int i = 0; !take.empty() && i < node.GetTakeNodeCount(); ++i) {
        const char* name = node.GetTakeNodeName(i);
        if (name && take == name) {
            index = i;
            break;
        }
    }
    if (index == 0 && node.IsDefaultTakeDeferred()) return nullptr;
    return node.GetTakeNode(index);
}

// Components of channel "T", "R" or "S" keyed in the take, evaluated at `time`.
void Evaluate(KQovTakeNode& take, const char* channel, KTime time, KVector4& value) {
    static const char* const kAxes[3] = {"X", "Y", "Z"};
    KFCurve* curves[3];
    for (int i = 0; i < 3; ++i) {
        curves[i] = take.FindCurve("Transform", channel, kAxes[i]);
        if (!curves[i]) return;
    }
    for (int i = 0; i < 3; ++i)
        if (curves[i]->KeyGetCount() > 0) value[i] = curves[i]->Evaluate(time);
}

}  // namespace

KQovStillPose::KQovStillPose(KQovScene& scene, LocalBuilder build)
    : mBuild(build), mTime(KQovGetTakeStart(scene)), mTake(scene.GetCurrentTakeName()) {}

KAffineMatrix KQovStillPose::Local(KQovNode* node) {
    KVector4 t, r, s(1.0, 1.0, 1.0);
    node->GetLocalTranslation(t);
    node->GetLocalRotation(r);
    node->GetLocalScaling(s);
    if (KQovTakeNode* take = TakeOf(*node, mTake)) {
        Evaluate(*take, "T", mTime, t);
        Evaluate(*take, "R", mTime, r);
        Evaluate(*take, "S", mTime, s);
    }
    return mBuild(t, r, s);
}

const KAffineMatrix& KQovStillPose::Global(KQovNode* node) {
    auto found = mGlobals.find(node);
    if (found != mGlobals.end()) return found->second;
    // The ancestors not placed yet, nearest first; then each from its parent's, top down.
    std::vector<KQovNode*> chain;
    const KAffineMatrix* above = nullptr;
    for (KQovNode* n = node; n; n = n->GetParent()) {
        auto known = mGlobals.find(n);
        if (known != mGlobals.end()) {
            above = &known->second;
            break;
        }
        chain.push_back(n);
    }
    for (size_t i = chain.size(); i-- > 0;) {
        // Row vectors: the node's own transform acts first, then its parent's.
        const KAffineMatrix local = Local(chain[i]);
        KAffineMatrix global = above ? local * *above : local;
        above = &mGlobals.emplace(chain[i], global).first->second;
    }
    return *above;
}
