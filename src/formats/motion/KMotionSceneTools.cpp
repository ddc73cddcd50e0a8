#include "formats/motion/KMotionSceneTools.h"

#include <cmath>
#include <cstring>

#include "animation/KFCurve.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterGimbleKiller.h"
#include "animation/KFCurveFilterUnroll.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSettings.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovSkeleton.h"
#include "foundation/KMatrix.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

// Motion keys: cubic, tangent mode 0x100, default weights.
constexpr uint32_t kTangentMode = 0x100;

}  // namespace

KQovNode* KMotionCreateLimbNode(KQovObjectManager* manager, const char* name) {
    KQovNode* node = manager->CreateNode(name);
    KQovSkeleton* skeleton = manager->CreateSkeleton();
    skeleton->SetSkeletonType(KQovSkeleton::eLimbNode);
    node->SetNodeAttribute(skeleton);
    return node;
}

void KMotionSetRestTransform(KQovNode* node, const KVector4& translation,
                             const KVector4& rotation) {
    node->SetLocalTranslation(translation[0], translation[1], translation[2]);
    node->SetLocalRotation(rotation[0], rotation[1], rotation[2]);
    KQovTakeNode* take = node->GetDefaultTakeNode();
    KFCurveNode* transform = take && take->GetRoot() ? take->GetRoot()->Find("Transform") : nullptr;
    if (!transform) return;
    const double t[3] = {translation[0], translation[1], translation[2]};
    const double r[3] = {rotation[0], rotation[1], rotation[2]};
    if (KFCurveNode* channel = transform->Find("T")) channel->SetDefaultValues(t, 3);
    if (KFCurveNode* channel = transform->Find("R")) channel->SetDefaultValues(r, 3);
}

void KMotionSetKey(KFCurve* curve, int index, KTime time, double value) {
    if (curve) curve->KeySet(index, time, float(value), KFCURVE_INTERPOLATION_CUBIC, kTangentMode);
}

void KMotionFilterCurves(KFCurve** curves, bool rotation) {
    if (!curves[0] || !curves[1] || !curves[2]) return;
    if (rotation && GetRotationFilterMode() == KFCURVE_ROTATION_FILTER_UNROLL) {
        KFCurveFilterUnroll filter;
        filter.Apply(curves, 3);
    } else if (rotation && GetRotationFilterMode() == KFCURVE_ROTATION_FILTER_GIMBLE_KILLER) {
        KFCurveFilterGimbleKiller filter;
        filter.Apply(curves, 3);
    }
    if (GetApplyConstantKeyReducer()) {
        KFCurveFilterConstantKeyReducer reducer;
        // A flat curve left keyless would fall back to 0, losing a constant angle or offset.
        reducer.SetKeepFirstKey(true);
        reducer.Apply(curves, 3);
    }
}

void KMotionStoreTake(KQovScene* scene, const KString& name, const KStreamOptionsMotion& options) {
    KQovTakeInfo info;
    info.name = name;
    info.secondName = name;
    const KTime start = options.GetStartTime();
    const int frames = options.GetFrameCount();
    const KTime stop = frames > 0 ? start + options.GetFramePeriod() * int64_t(frames - 1) : start;
    info.localTimeSpan.Set(start, stop);
    info.referenceTimeSpan.Set(start, stop);
    scene->SetTakeInfo(info);
    scene->SetCurrentTake(name.Buffer());
}

bool KMotionCheckBlanks(KQovNode* node, KString& message) {
    bool ok = !strchr(node->GetNameWithoutPrefix().Buffer(), ' ');
    if (!ok) message += KString("\n    ") + node->GetNameWithoutPrefix();
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
        ok = KMotionCheckBlanks(child, message) && ok;
    return ok;
}

void KMotionSampleNode(KQovNode* node, KTime time, bool global, KVector4& translation,
                       KVector4& rotation) {
    KMatrix m = global ? node->GetGlobalMatrixAtTime(time) : node->GetLocalMatrix(time);
    translation = KVector4(m[3][0], m[3][1], m[3][2]);
    // The decomposition reads sines straight off the matrix, so a scaled node's axes are
    // brought back to unit length first.
    for (int r = 0; r < 3; ++r) {
        const double length = std::sqrt(m[r][0] * m[r][0] + m[r][1] * m[r][1] + m[r][2] * m[r][2]);
        if (length > 0.0)
            for (int c = 0; c < 3; ++c) m[r][c] /= length;
    }
    KMatrixToEulerXYZ(rotation, m);
}
