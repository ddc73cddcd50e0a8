#include "formats/motion/htr/KQovReaderHtr.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLimitsUtility.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KPath.h"
#include "foundation/KRotationOrder.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"

namespace {

KVector4 EulerAnglesXYZ(const KMatrix& m) {
    KVector4 angles;
    KMatrixToEulerXYZ(angles, m);
    return angles;
}

KMatrix Compose(const KVector4& t, const KVector4& r) {
    KMatrix m;
    KMatrixSetTRS(m, t, r, KVector4(1.0, 1.0, 1.0));
    return m;
}

// An end node: its translation is fixed, so translation and rotation limits hold it.
void SetEndLimits(KQovNode* node, const KVector4& translation) {
    KQovLimitsUtility limits(&node->GetLimits());
    limits.SetAuto(0, false);
    limits.SetAuto(1, false);
    limits.SetEnable(0, true);
    limits.SetDefault(0, translation);
    limits.SetAxisLength(0.0);
    KMotionSetRestTransform(node, translation, KVector4());
}

}  // namespace

KQovReaderHtr::KQovReaderHtr(KQovObjectManager* manager) : KMotionReaderBase(manager) {}

KQovReaderHtr::~KQovReaderHtr() = default;

KString KQovReaderHtr::RestPoseName(KQovNode* top) {
    return top->GetNameWithoutPrefix() + "_RESTPOSE";
}

KStreamOptions* KQovReaderHtr::GetReadOptions(bool) {
    KStreamOptions* options =
        MakeReadOptions({}, [](KMotionFileHtr& file, KStreamOptionsMotion& options) {
            return file.ReadOptions(options);
        });
    if (options) mStatus += mFile->GetRateNote().c_str();
    return options;
}

bool KQovReaderHtr::CreateNodes(KQovNode* reference, const char* take) {
    // One root, and no parents in a cycle, before any node is made.
    if (mFile->FindRootSegment() < 0) return false;
    for (const auto& segment : mFile->GetSegments()) {
        KQovNode* node = KMotionCreateLimbNode(mManager, segment->name.c_str());
        segment->node = node;
        KMotionSetRestTransform(node, segment->baseTranslation,
                                EulerAnglesXYZ(segment->baseRotation));
        node->AddTakeNode(take);
        node->SetCurrentTakeNode(take);
    }
    // Children are joined to a parent not yet attached itself, deepest parents first, so that
    // no join walks a long chain of ancestors; each parent keeps its children in file order.
    const auto& segments = mFile->GetSegments();
    std::unordered_map<std::string, size_t> byName;
    for (size_t i = 0; i < segments.size(); ++i) byName.emplace(segments[i]->name, i);
    std::vector<std::vector<size_t>> children(segments.size());
    size_t root = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto at = byName.find(segments[i]->parentName);
        if (at == byName.end())
            root = i;
        else
            children[at->second].push_back(i);
    }
    std::vector<size_t> order, pending{root};
    while (!pending.empty()) {
        const size_t i = pending.back();
        pending.pop_back();
        order.push_back(i);
        pending.insert(pending.end(), children[i].begin(), children[i].end());
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        for (size_t child : children[*it]) segments[*it]->node->AddChild(segments[child]->node);
    reference->AddChild(segments[root]->node);
    for (const auto& segment : mFile->GetSegments()) SetSegmentLimits(*segment);
    return true;
}

void KQovReaderHtr::SetSegmentLimits(KHtrSegment& segment) {
    KQovNode* node = segment.node;
    const KMatrix m = KMotionNormalizeAxes(node->GetDefaultGlobalMatrix());
    segment.restInverse = KMatrix();
    KMatrixTranspose3x3(segment.restInverse, m);
    KMatrix axis;
    KMatrixMultiply3x3(axis, mFile->GetBoneAxisMatrix(), m);
    const KVector4 angles = EulerAnglesXYZ(axis);
    KQovLimitsUtility limits(&node->GetLimits());
    limits.SetAuto(0, false);
    limits.SetAuto(1, false);
    limits.SetDefault(0, segment.baseTranslation);
    limits.SetDefault(1, angles);
    limits.SetRotationAxis(angles);
    limits.SetAxisLength(segment.boneLength);
    limits.SetRotationType(0);
    limits.SetMin(1, KVector4(-180.0, -150.0, -150.0));
    limits.SetMax(1, KVector4(180.0, 150.0, 150.0));
    if (node->GetChildCount() > 0) return;
    const std::string name = segment.name + "_End";
    KQovNode* end = KMotionCreateLimbNode(mManager, name.c_str());
    node->AddChild(end);
    KVector4 tip;
    tip[mFile->GetBoneAxis()] = segment.boneLength;
    SetEndLimits(end, tip);
}

void KQovReaderHtr::KeySegments(const KStreamOptionsMotion& options) {
    const KTime start = options.GetStartTime(), period = options.GetFramePeriod();
    for (const auto& segment : mFile->GetSegments()) {
        KQovTakeNode* take = segment->node->GetCurrentTakeNode();
        KFCurve* t[3] = {take->GetTranslationX(), take->GetTranslationY(), take->GetTranslationZ()};
        KFCurve* r[3] = {take->GetRotationX(), take->GetRotationY(), take->GetRotationZ()};
        const int frames = int(segment->rotations.size());
        for (int axis = 0; axis < 3; ++axis) {
            for (KFCurve* curve : {t[axis], r[axis]})
                if (curve) curve->PrepareKeys(frames);
            for (int f = 0; f < frames; ++f) {
                const KTime time = start + period * int64_t(f);
                KMotionSetKey(t[axis], f, time, segment->translations[size_t(f)][axis]);
                KMotionSetKey(r[axis], f, time, segment->rotations[size_t(f)][axis]);
            }
            for (KFCurve* curve : {t[axis], r[axis]})
                if (curve) curve->CommitKeys(frames);
        }
        KMotionFilterCurves(r, 3, true);
        KMotionFilterCurves(t, 3, false);
    }
}

// Each segment's frame re-expressed so that its rest orientation is the identity: global
// positions stay, the turn of the rest frame is taken off every frame.
void KQovReaderHtr::MinimizeRotationOffset(KQovNode* root, int frame, const KMatrix& p,
                                           const KMatrix& q) {
    // Parents before children on a stack of our own, each child given its parent's two
    // matrices: a long chain must not recurse.
    struct Pending {
        KQovNode* node;
        KMatrix p, q;
    };
    std::vector<Pending> stack{{root, p, q}};
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        KQovNode* node = pending.node;
        const auto found = mSegmentOfNode.find(node);
        KHtrSegment* segment = found == mSegmentOfNode.end() ? nullptr : found->second;
        if (!segment || node->GetChildCount() == 0) continue;
        KVector4& t = segment->translations[size_t(frame)];
        KVector4& r = segment->rotations[size_t(frame)];
        KMatrix g, h, local;
        KMatrixMultiply(g, Compose(t, r), pending.p);
        KMatrixMultiply(h, segment->restInverse, g);
        KMatrixMultiplyInverse(local, h, pending.q);
        t = local.GetRow(3);
        t[3] = 0.0;
        KMatrixGetEulerXYZ(r, local);
        for (int i = node->GetChildCount(); i-- > 0;)
            if (KQovNode* child = node->GetChild(i)) stack.push_back({child, g, h});
    }
}

void KQovReaderHtr::CreateRestPose(KQovScene* scene, KQovNode* top) {
    KQovPose* pose = mManager->CreatePose(RestPoseName(top).Buffer(), false);
    if (!pose) return;
    for (const auto& segment : mFile->GetSegments()) {
        const KMatrix m = Compose(segment->baseTranslation, EulerAnglesXYZ(segment->baseRotation));
        if (pose->Add(segment->node->GetName(), m, true) < 0) return;
    }
    scene->AddPose(pose);
}

bool KQovReaderHtr::Read(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* motion = BeginRead(scene, base);
    if (!motion) return false;
    auto& options = *motion;
    options.Progress(0, "Reading HTR nodes", 0.0f);
    if (!mFile->ReadHierarchy(nullptr) || mFile->StoppedShort()) return Fail(eFileCorrupted);
    const KString take = KMotionTakeName(mFileName, mStatus);
    KQovNode* reference = mManager->CreateNode("HTR:reference");
    if (!CreateNodes(reference, take.Buffer())) {
        mManager->DestroyNode(reference, true);
        return Fail(eFileCorrupted);
    }
    KQovNode* top = AttachHierarchy(scene, reference, options);
    if (!top) return false;
    if (!mFile->ReadAnimation(options) || mFile->StoppedShort()) return Fail(eFileCorrupted);
    mStatus += mFile->GetScaleNote().c_str();

    KQovNode* root = mFile->GetSegments()[size_t(mFile->FindRootSegment())]->node;
    if (mFile->GetMinimizeRotationOffset()) {
        mSegmentOfNode.clear();
        for (const auto& segment : mFile->GetSegments())
            mSegmentOfNode.emplace(segment->node, segment.get());
        for (int f = 0; f < options.GetFrameCount(); ++f)
            MinimizeRotationOffset(root, f, KMatrix(), KMatrix());
        // End nodes follow their bone, whose rest frame is now the scene's: along the bone
        // axis that the limits hold, at the bone's length.
        for (const auto& segment : mFile->GetSegments()) {
            for (int i = 0; KQovNode* child = segment->node->GetChild(i); ++i) {
                if (child->GetChildCount() > 0 || mSegmentOfNode.count(child)) continue;
                KMatrix axis;
                KMatrixSetRotationXYZ(
                    axis, KQovLimitsUtility(&segment->node->GetLimits()).GetRotationAxis());
                SetEndLimits(child, axis.GetRow(0) * segment->boneLength);
            }
        }
    }
    KeySegments(options);
    KMotionStoreTake(scene, take, options, false);
    CreateRestPose(scene, top);
    return true;
}
