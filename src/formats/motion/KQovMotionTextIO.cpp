#include "formats/motion/KQovMotionTextIO.h"

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterGimbleKiller.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KFCurveSettings.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovOpticalReference.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

constexpr uint32_t kTangentMode = 0x100;

void CollectMarked(KQovNode* root, std::vector<KQovNode*>& out) {
    for (KQovNode* node : KQovListNodes(root))
        if (node->IsMarked() && !node->GetOpticalReference()) out.push_back(node);
}

}  // namespace

KQovNode* KMotionCreateMarkerNode(KQovObjectManager* manager, const char* name) {
    KQovNode* node = manager->CreateNode(name);
    KQovMarker* marker = manager->CreateMarker();
    marker->SetType(KQovMarker::eOptical);
    node->SetNodeAttribute(marker);
    return node;
}

KQovNode* KMotionCreateMarkerParent(KQovObjectManager* manager, const char* prefix,
                                    const KStreamOptionsMotion& options) {
    const KString name = KString(prefix) + (options.GetSetting(4) == 1 ? ":optical" : ":reference");
    KQovNode* parent = manager->CreateNode(name.Buffer());
    parent->SetNodeAttribute(manager->CreateOpticalReference());
    return parent;
}

KQovTakeNode* KMotionAddTake(KQovNode* node, const KString& take, KFCurve* curves[3][3]) {
    node->AddTakeNode(take.Buffer());
    node->SetCurrentTakeNode(take.Buffer());
    KQovTakeNode* t = node->GetCurrentTakeNode();
    KFCurve* found[3][3] = {{t->GetTranslationX(), t->GetTranslationY(), t->GetTranslationZ()},
                            {t->GetRotationX(), t->GetRotationY(), t->GetRotationZ()},
                            {t->GetScalingX(), t->GetScalingY(), t->GetScalingZ()}};
    for (int g = 0; g < 3; ++g)
        for (int a = 0; a < 3; ++a) curves[g][a] = found[g][a];
    return t;
}

void KMotionSetKey(KFCurve* curve, int index, KTime time, double value, bool constant) {
    if (curve)
        curve->KeySet(index, time, float(value),
                      constant ? KFCURVE_INTERPOLATION_CONSTANT : KFCURVE_INTERPOLATION_CUBIC,
                      kTangentMode);
}

void KMotionFilterCurves(KFCurve* const* curves, int count, bool rotation) {
    KFCurve* list[3] = {};
    for (int i = 0; i < count && i < 3; ++i)
        if (!(list[i] = curves[i])) return;
    count = count < 3 ? count : 3;
    rotation = rotation && count == 3;
    if (rotation && GetRotationFilterMode() == 2) {
        KFCurveFilterUnroll filter;
        filter.Apply(list, 3);
    } else if (rotation && GetRotationFilterMode() == 1) {
        KFCurveFilterGimbleKiller filter;
        filter.Apply(list, 3);
    }
    if (GetApplyConstantKeyReducer()) {
        KFCurveFilterConstantKeyReducer reducer;
        // A flat curve left keyless would fall back to 0, losing a constant value.
        reducer.SetKeepFirstKey(true);
        reducer.Apply(list, count);
    }
}

void KMotionStoreTake(KQovScene* scene, const KString& take, const KStreamOptionsMotion& options,
                      bool timeMode) {
    const KTime start = options.GetStartTime();
    const int frames = options.GetFrameCount();
    const KTime stop = frames > 0 ? start + options.GetFramePeriod() * int64_t(frames - 1) : start;
    KQovTakeInfo info;
    info.name = take;
    info.secondName = take;
    info.localTimeSpan.Set(start, stop);
    info.referenceTimeSpan.Set(start, stop);
    scene->SetTakeInfo(info);
    scene->SetCurrentTake(take.Buffer());
    if (timeMode && options.GetTimeMode() != 0)
        scene->GetGlobalTimeSettings().SetTimeMode(options.GetTimeMode());
}

KStreamOptionsMotion* KMotionAsOptions(KQovScene* scene, KStreamOptions* options) {
    if (!scene || !options || !options->IsA(KStreamOptionsMotion::ClassId())) return nullptr;
    return static_cast<KStreamOptionsMotion*>(options);
}

void KMotionMarkerSampler::Collect(KQovScene* scene, KQovNode* singleChildRoot,
                                   const KStreamOptionsMotion& options) {
    mTop = options.GetSetting(13) == 1 || !singleChildRoot ? scene->GetRootNode() : singleChildRoot;
    mNodes.clear();
    CollectMarked(mTop, mNodes);
}

void KMotionMarkerSampler::Evaluate(KTime time) {
    mTop->EvaluateLocalMatrix(time, true);
    // The top node's own transform never enters: positions are relative to it.
    mTop->SetEvaluatedGlobalMatrix(KMatrix());
    mTop->SetEvaluationId(0, true);
    mTop->SetEvaluationId(1, false);
    for (KQovNode* node : mNodes) node->EvaluateGlobalMatrix(1, false);
}

KAffineMatrix KMotionMarkerSampler::GetMatrix(size_t k) const {
    return KAffineMatrix(mNodes[k]->GetEvaluatedGlobalMatrix());
}
