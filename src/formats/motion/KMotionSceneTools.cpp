#include "formats/motion/KMotionSceneTools.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovSkeleton.h"
#include "formats/motion/KMotionVector.h"
#include "foundation/KLocale.h"
#include "foundation/KMatrix.h"
#include "foundation/KPath.h"
#include "foundation/KQuaternion.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeNames.h"

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

KVector4 KMotionAxisAngles(const KVector4& direction) {
    const double length = KVectorLength3(direction);
    if (length == 0.0) return KVector4();
    const double d[4] = {direction[0] / length, direction[1] / length, direction[2] / length, 0.0};
    double q[4];
    KMotionQuaternionFromXAxis(q, d);
    if (std::fabs(q[3]) < 1e-09) {
        q[1] = q[3] = 0.0;
        q[2] = 1.0;
    }
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    KMatrix m;
    KQuaternionToMatrix(m, KQuaternion(q[0] / n, q[1] / n, q[2] / n, q[3] / n));
    KVector4 angles;
    KMatrixToEulerXYZ(angles, m);
    return angles;
}

bool KMotionHasTransformKeys(KQovNode* node) {
    // The "Default" take (index 0) is never asked for: a node whose takes are not made yet
    // would make them, some kilobytes a node, only to be told it holds no keys.
    const int current = node->GetCurrentTakeNodeIndex();
    if (current <= 0 || current >= node->GetTakeNodeCount()) return false;
    KQovTakeNode* take = node->GetCurrentTakeNode();
    if (!take) return false;
    // The keys are on the axes' curves; the channel itself holds none.
    for (const char* channel : {"T", "R"})
        for (const char* axis : {"X", "Y", "Z"})
            if (take->HasKeys("Transform", channel, axis)) return true;
    return false;
}

bool KMotionHoldsSkeleton(KQovNode* root) {
    if (!root) return false;
    for (KQovNode* node : KQovListNodes(root)) {
        KQovNodeAttribute* attribute = node->GetNodeAttribute();
        if (attribute && attribute->GetAttributeType() == KQovNodeAttribute::eSkeleton) return true;
        if (KMotionHasTransformKeys(node)) return true;
    }
    return false;
}

bool KMotionIsReaderEndNode(KQovNode* node) {
    KQovNode* parent = node->GetParent();
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    return node->GetChildCount() == 0 && parent && attribute &&
           attribute->GetAttributeType() == KQovNodeAttribute::eSkeleton &&
           !KMotionHasTransformKeys(node) &&
           node->GetNameWithoutPrefix() == parent->GetNameWithoutPrefix() + "_End";
}

bool KMotionIsEndSite(KQovNode* node) {
    if (KMotionIsReaderEndNode(node)) return true;
    KQovNode* parent = node->GetParent();
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    return node->GetChildCount() == 0 && parent && parent->GetChildCount() == 1 && attribute &&
           attribute->GetAttributeType() == KQovNodeAttribute::eSkeleton &&
           !KMotionHasTransformKeys(node) &&
           strstr(node->GetNameWithoutPrefix().Buffer(), "_EndSite");
}

void KMotionSampleNode(KQovNode* node, KTime time, bool global, KVector4& translation,
                       KVector4& rotation) {
    KMotionDecompose(global ? node->GetGlobalMatrixAtTime(time) : node->GetLocalMatrix(time),
                     translation, rotation);
}

void KMotionDecompose(KMatrix m, KVector4& translation, KVector4& rotation) {
    translation = KVector4(m[3][0], m[3][1], m[3][2]);
    // The decomposition reads sines straight off the matrix, so a scaled node's axes are
    // brought back to unit length first.
    KMatrixToEulerXYZ(rotation, KMotionNormalizeAxes(m));
}

KMatrix KMotionNormalizeAxes(KMatrix m) {
    for (int r = 0; r < 3; ++r) {
        const double length = std::sqrt(m[r][0] * m[r][0] + m[r][1] * m[r][1] + m[r][2] * m[r][2]);
        if (length > 0.0)
            for (int c = 0; c < 3; ++c) m[r][c] /= length;
    }
    return m;
}

namespace {

// The last frame whose time is held: one frame still needs its length held, so that the next
// one would be.
double LastFrameHeld(double first, int frames) {
    return std::fabs(first) + std::max(frames - 1, 1);
}

}  // namespace

std::string KMotionRateProblem(double rate, double first, int frames, bool reading) {
    if (!(rate > 0.0) || !std::isfinite(rate)) return "it is no rate";
    if (rate > kMotionFastestRate * (reading ? 1.0 + kMotionRateSlack : 1.0))
        return "rates above 1000000 frames a second are not kept";
    if (LastFrameHeld(first, frames) / rate >
        kMotionLongestClip * (reading ? 1.0 + kMotionRateSlack : 1.0))
        return std::to_string(std::max(frames, 0)) +
               " frames at that rate run past the longest time held";
    return std::string();
}

std::string KMotionSetFileRate(KStreamOptionsMotion& options, double rate, double first, int frames,
                               const std::string& what) {
    std::string problem = KMotionRateProblem(rate, first, frames, true);
    if (problem.empty()) {
        // Past a limit by no more than the slack (six digits of a rate written at it) is at the
        // limit: read as more, no writer could write it again.
        const double slowest =
            std::nextafter(LastFrameHeld(first, frames) / kMotionLongestClip, HUGE_VAL);
        const double kept = std::max(std::min(rate, kMotionFastestRate), slowest);
        options.SetFrameRate(0, kept);
        problem = KMotionRateProblem(options.GetFrameRate(), first, frames, false);
        if (problem.empty()) return problem;
    }
    options.SetFrameRate(KTime::GetGlobalTimeMode(), 0.0);
    return what + ": " + problem + "; read at " + KDecimalText(options.GetFrameRate()) +
           " frames a second\n";
}

std::string KMotionUnwritableRate(const KStreamOptionsMotion& options, bool start) {
    const double rate = options.GetFrameRate();
    const double first = start ? options.GetStartTime().GetSecondDouble() * rate : 0.0;
    const std::string problem = KMotionRateProblem(rate, first, options.GetFrameCount(), false);
    if (problem.empty()) return problem;
    return "The rate of " + KDecimalText(rate) + " frames a second cannot be written: " + problem;
}

KString KMotionTakeName(const KString& fileName, KString& status) {
    const KString name = KExtractFileName(fileName.Buffer(), false);
    KQovTakeNames names;
    KQovTakeNames::Clash clash;
    const std::string made = names.Add(name.Buffer(), clash);
    if (clash != KQovTakeNames::eNone)
        status += KQovTakeNames::Warning("read", name.Buffer(), made, clash).c_str();
    return made.c_str();
}
