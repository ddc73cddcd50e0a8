#include "formats/motion/bvh/KQovWriterBvh.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KMatrix.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovScene.h"

namespace {

// Translations this close are one: keys hold floats, and the file prints six digits.
bool SameTranslation(const KVector4& a, const KVector4& b) {
    for (int i = 0; i < 3; ++i)
        if (std::fabs(a[i] - b[i]) > 1e-6 * std::max(1.0, std::fabs(a[i]))) return false;
    return true;
}

bool SixChannels(const KBvhJoint& joint) {
    return joint.channelCount == 6;
}

// The child written as the joint's end site: the first that reads back as one. The reader
// names every end site of a joint alike, so a joint gets one at most.
KQovNode* EndSiteChild(KQovNode* node) {
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
        if (KMotionIsEndSite(child)) return child;
    return nullptr;
}

}  // namespace

KQovWriterBvh::KQovWriterBvh(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterBvh::~KQovWriterBvh() = default;

KStreamOptions* KQovWriterBvh::GetWriteOptions() {
    auto* options = new KStreamOptionsMotion;
    options->SetSetting(0, 0);
    options->SetSetting(13, 0);
    options->SetSetting(14, 1);
    return options;
}

// `scale` is the product of the ancestors' scalings, which the file cannot hold: offsets and
// translations carry it instead.
void KQovWriterBvh::AddJoints(KQovNode* top, KBvhJoint* topParent, const KVector4& topScale,
                              KQovWrittenNames& names) {
    // Joints in file order (parents before children) from a stack of our own: a deep
    // skeleton must not recurse.
    struct Pending {
        KQovNode* node;
        KBvhJoint* parent;
        KVector4 scale;
        bool endSite;
    };
    KQovNode* above = top->GetParent();
    const bool topEnds = topParent && above && EndSiteChild(above) == top;
    // The joints' names set aside first, in the order they are written.
    std::vector<KQovNode*> ahead;
    if (!topEnds) ahead.push_back(top);
    while (!ahead.empty()) {
        KQovNode* node = ahead.back();
        ahead.pop_back();
        names.SetAside(node->GetNameWithoutPrefix().Buffer());
        const KQovNode* end = EndSiteChild(node);
        for (int i = node->GetChildCount(); i-- > 0;)
            if (node->GetChild(i) != end) ahead.push_back(node->GetChild(i));
    }
    std::vector<Pending> stack{{top, topParent, topScale, topEnds}};
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        KQovNode* node = pending.node;
        KBvhJoint* parent = pending.parent;
        const KVector4& scale = pending.scale;
        const bool endSite = pending.endSite;
        // The reader names an end site after its joint: that name must be free too.
        const KQovNode* end = endSite ? nullptr : EndSiteChild(node);
        const bool ends = node->GetChildCount() == 0 || end;
        const std::string name =
            endSite ? std::string("End")
                    : names.Add(node->GetNameWithoutPrefix().Buffer(), ends ? "_End" : "");
        KBvhJoint* joint = mFile->AddJoint(parent, name.c_str(), endSite);
        const KMatrix local = node->GetDefaultLocalMatrix();
        for (int i = 0; i < 3; ++i) joint->offset[i] = parent ? local[3][i] * scale[i] : 0.0;
        mNodes.push_back(endSite ? nullptr : node);
        mScales.push_back(scale);
        if (endSite) continue;
        KVector4 own;
        node->GetLocalScaling(own);
        const KVector4 inner(scale[0] * own[0], scale[1] * own[1], scale[2] * own[2]);
        const size_t first = stack.size();
        for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
            stack.push_back({child, joint, inner, child == end});
        std::reverse(stack.begin() + long(first), stack.end());
        if (node->GetChildCount() == 0) {
            mFile->AddJoint(joint, "End", true);
            mNodes.push_back(nullptr);
            mScales.push_back(scale);
        }
    }
}

// A joint without translation channels stands at its offset in every frame: one whose
// translation in the take is another (a reader that keys translations, a rest frame taken off
// the rotations) stands at that one, and one whose translation moves gets the channels.
void KQovWriterBvh::SetTranslationChannels(KTime start, KTime period, int frames) {
    const auto& joints = mFile->GetJoints();
    const size_t count = joints.size();
    std::vector<KVector4> first(count);
    std::vector<char> atOffset(count, 1), still(count, 1);
    KTime time = start;
    for (int f = 0; f < frames; ++f, time += period) {
        for (size_t i = 1; i < count; ++i) {
            if (!mNodes[i] || joints[i]->channelCount == 6 || !still[i]) continue;
            KVector4 t, r;
            KMotionSampleNode(mNodes[i], time, false, t, r);
            const KVector4& s = mScales[i];
            t = KVector4(t[0] * s[0], t[1] * s[1], t[2] * s[2]);
            const double* o = joints[i]->offset;
            if (f == 0) first[i] = t;
            atOffset[i] = atOffset[i] && SameTranslation(KVector4(o[0], o[1], o[2]), t);
            still[i] = SameTranslation(first[i], t);
        }
    }
    for (size_t i = 1; i < count; ++i) {
        if (!mNodes[i] || joints[i]->channelCount == 6 || frames <= 0) continue;
        if (!still[i])
            joints[i]->channelCount = 6;
        else if (!atOffset[i])
            for (int a = 0; a < 3; ++a) joints[i]->offset[a] = first[i][a];
    }
}

namespace {
constexpr KMotionHolds kHolds{"a BVH", "skeletons"};
}  // namespace

bool KQovWriterBvh::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KQovNode* root = nullptr;
    KStreamOptionsMotion* motion = BeginWrite(scene, base, "Can not find root node.", kHolds, root);
    if (!motion) return false;
    if (!KMotionHoldsSkeleton(root)) return FailNothingToWrite(kHolds.format, kHolds.what);
    if (!CheckRate(*motion, false)) return false;
    auto& options = *motion;
    // Setting 0 at 1 gives every joint its translation channels.
    const bool translateAll = options.GetSetting(0) == 1;
    // Setting 13 at 1 takes the top node's values in the scene's space, above its parents.
    const bool global = options.GetSetting(13) == 1;
    mNodes.clear();
    mScales.clear();
    KQovWrittenNames names(KMotionFileBvh::NameTerms());
    AddJoints(root, nullptr, KVector4(1.0, 1.0, 1.0), names);
    mStatus += names.GetWarnings().c_str();
    const auto& joints = mFile->GetJoints();
    for (auto& joint : joints)
        if (!joint->endSite) joint->channelCount = translateAll ? 6 : 3;
    const int frames = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    SetTranslationChannels(options.GetStartTime(), period, frames);
    mFile->WriteHierarchy(SixChannels);
    mFile->WriteMotionHeader(frames, period.GetSecondDouble());
    KTime time = options.GetStartTime();
    for (int f = 0; f < frames; ++f, time += period) {
        options.Progress(0, "Writing BVH nodes", float(f * 100 / frames));
        for (size_t i = 0; i < joints.size(); ++i) {
            if (!mNodes[i]) continue;
            KVector4 t;
            KMotionSampleNode(mNodes[i], time, global && i == 0, t, joints[i]->rotation);
            const KVector4& s = mScales[i];
            joints[i]->translation = KVector4(t[0] * s[0], t[1] * s[1], t[2] * s[2]);
        }
        mFile->WriteFrame();
    }
    return Finish();
}
