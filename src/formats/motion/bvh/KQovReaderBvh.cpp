#include "formats/motion/bvh/KQovReaderBvh.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLimitsUtility.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KPath.h"
#include "foundation/KRotationOrder.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// Keys made room for before the first frame is read; more as frames come.
constexpr int kFirstKeys = 4096;

// A joint with a single child off its origin points its limits' rotation axis (X) at it.
void SetRotationAxis(KQovNode* node, const KBvhJoint& joint) {
    if (joint.children.size() != 1) return;
    const double* o = joint.children[0]->offset;
    const KVector4 toward(o[0], o[1], o[2]);
    if (KVectorLength3(toward) == 0.0) return;
    KQovLimitsUtility(&node->GetLimits()).SetRotationAxis(KMotionAxisAngles(toward));
}

// Any position channel moves the joint; the coordinates without one keep its offset.
bool HasPositionChannel(const KBvhJoint& joint) {
    return std::any_of(joint.channels, joint.channels + joint.channelCount,
                       [](int code) { return code < kBvhXRotation; });
}

}  // namespace

KQovReaderBvh::KQovReaderBvh(KQovObjectManager* manager) : KMotionReaderBase(manager) {}

KQovReaderBvh::~KQovReaderBvh() = default;

KStreamOptions* KQovReaderBvh::GetReadOptions(bool) {
    KStreamOptions* options =
        MakeReadOptions({}, [](KMotionFileBvh& file, KStreamOptionsMotion& options) {
            return file.ReadOptions(options);
        });
    if (options) mStatus += mFile->GetRateNote().c_str();
    return options;
}

bool KQovReaderBvh::Read(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* motion = BeginRead(scene, base);
    if (!motion) return false;
    auto& options = *motion;
    options.Progress(0, "Reading BVH nodes", 0.0f);
    if (!mFile->ReadHierarchy() || mFile->StoppedShort()) return Fail(eFileCorrupted);

    const KString take = KMotionTakeName(mFileName, mStatus);
    KQovNode* reference = mManager->CreateNode("BVH:reference");
    mNodes.clear();
    std::unordered_map<const KBvhJoint*, KQovNode*> nodeOf;
    for (const auto& joint : mFile->GetJoints()) {
        const std::string name = joint->endSite ? joint->parent->name + "_End" : joint->name;
        KQovNode* node = KMotionCreateLimbNode(mManager, name.c_str());
        KQovNode* parent = reference;
        if (joint->parent) {
            const auto at = nodeOf.find(joint->parent);
            if (at != nodeOf.end()) parent = at->second;
        }
        // A root without position channels stands at its offset, as every other joint does.
        if (joint->parent || !HasPositionChannel(*joint)) {
            const double* o = joint->offset;
            KMotionSetRestTransform(node, KVector4(o[0], o[1], o[2]), KVector4());
        }
        parent->AddChild(node);
        SetRotationAxis(node, *joint);
        node->AddTakeNode(take.Buffer());
        node->SetCurrentTakeNode(take.Buffer());
        mNodes.push_back(node);
        nodeOf.emplace(joint.get(), node);
    }

    if (!AttachHierarchy(scene, reference, options)) return false;
    if (!ReadMotion(options) || mFile->StoppedShort()) return Fail(eFileCorrupted);

    KMotionStoreTake(scene, take, options, false);
    return true;
}

bool KQovReaderBvh::ReadMotion(KStreamOptionsMotion& options) {
    if (options.GetFrameCount() > mFile->GetFrameCount())
        options.SetFrameCount(mFile->GetFrameCount());
    const int frames = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    struct Curves {
        KFCurve* t[3];
        KFCurve* r[3];
    };
    std::vector<Curves> curves(mNodes.size());
    const auto& joints = mFile->GetJoints();
    for (size_t i = 0; i < joints.size(); ++i) {
        if (joints[i]->endSite) continue;
        KQovTakeNode* takeNode = mNodes[i]->GetCurrentTakeNode();
        Curves& c = curves[i];
        const bool translate = HasPositionChannel(*joints[i]);
        c.t[0] = translate ? takeNode->GetTranslationX() : nullptr;
        c.t[1] = translate ? takeNode->GetTranslationY() : nullptr;
        c.t[2] = translate ? takeNode->GetTranslationZ() : nullptr;
        c.r[0] = takeNode->GetRotationX();
        c.r[1] = takeNode->GetRotationY();
        c.r[2] = takeNode->GetRotationZ();
    }
    // Room for keys grows with the frames read: the header's count is never an allocation.
    int room = 0;
    auto prepare = [&](int keys) {
        room = keys;
        for (size_t i = 0; i < joints.size(); ++i) {
            if (joints[i]->endSite) continue;
            for (KFCurve* curve : curves[i].t)
                if (curve) curve->PrepareKeys(room);
            for (KFCurve* curve : curves[i].r)
                if (curve) curve->PrepareKeys(room);
        }
    };
    prepare(std::min(frames, kFirstKeys));
    bool ok = true;
    KTime time = options.GetStartTime();
    int read = 0;
    for (; read < frames; ++read, time += period) {
        options.Progress(0, nullptr, float(read * 100 / frames));
        if (!mFile->ReadFrame(read == 0)) {
            ok = false;
            break;
        }
        if (read == room) prepare(int(std::min<int64_t>(frames, int64_t(room) * 2)));
        for (size_t i = 0; i < joints.size(); ++i) {
            if (joints[i]->endSite) continue;
            for (int a = 0; a < 3; ++a) {
                KMotionSetKey(curves[i].t[a], read, time, joints[i]->translation[a]);
                KMotionSetKey(curves[i].r[a], read, time, joints[i]->rotation[a]);
            }
        }
    }
    // The header's count is the file's own, not the caller's choice: lines past it are told.
    if (ok && frames == mFile->GetFrameCount()) mFile->WarnUnreadValues(read);
    // What was keyed stays, also after a short file.
    for (size_t i = 0; i < joints.size(); ++i) {
        if (joints[i]->endSite) continue;
        for (KFCurve* curve : curves[i].t)
            if (curve) curve->CommitKeys(read);
        for (KFCurve* curve : curves[i].r)
            if (curve) curve->CommitKeys(read);
        KMotionFilterCurves(curves[i].t, 3, false);
        KMotionFilterCurves(curves[i].r, 3, true);
    }
    return ok;
}
