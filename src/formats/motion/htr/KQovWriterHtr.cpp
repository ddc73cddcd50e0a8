#include "formats/motion/htr/KQovWriterHtr.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "attributes/KQovLimitsUtility.h"
#include "formats/motion/KMotionSceneTools.h"
#include "foundation/KLocale.h"
#include "foundation/KRotationOrder.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"

namespace {

// Millimetres per centimetre.
constexpr double kToFile = 10.0;

KVector4 Scaling(const KMatrix& m) {
    KVector4 s;
    KMatrixGetScaling(s, m);
    return s;
}

KVector4 Times(const KVector4& a, const KVector4& b) {
    return KVector4(a[0] * b[0], a[1] * b[1], a[2] * b[2]);
}

// The node's global matrix at `time` below `top` (whose own transform is left out), without
// scaling, translation in millimetres.
KMatrix Evaluated(KQovNode* node, KQovNode* top, KTime time) {
    KMatrix m;
    if (node != top)
        KMatrixMultiplyInverse(m, node->GetGlobalMatrixAtTime(time),
                               KMotionNormalizeAxes(top->GetGlobalMatrixAtTime(time)));
    m = KMotionNormalizeAxes(m);
    for (int c = 0; c < 3; ++c) m[3][c] *= kToFile;
    return m;
}

KMatrix Base(const KHtrSegment& segment) {
    KMatrix m = segment.baseRotation;
    const KVector4 t = segment.baseTranslation * kToFile;
    for (int c = 0; c < 3; ++c) m[3][c] = t[c];
    return m;
}

// Whether `tip`, a point in `parent`'s frame, lies along the bone its limits' rotation axis
// points along (a tip at the origin does).
bool AlongBone(KQovNode* parent, KVector4 tip) {
    tip[3] = 0.0;
    const double length = KVectorLength3(tip);
    if (length <= 0.0) return true;
    KMatrix axis;
    KMatrixSetRotationXYZ(axis, KQovLimitsUtility(&parent->GetLimits()).GetRotationAxis());
    const KVector4 along = axis.GetRow(0);
    for (int c = 0; c < 3; ++c)
        if (std::abs(tip[c] / length - along[c]) > 1e-4) return false;
    return true;
}

// A node without children whose limits hold it fixed at its parent's bone end (its translation
// limits on, its rotation not automatic): the end node the HTR reader makes.
bool HeldAtBoneEnd(KQovNode* node) {
    const KQovLimitsUtility limits(&node->GetLimits());
    return node->GetChildCount() == 0 && !limits.GetAuto(1) && limits.GetEnable(0);
}

// Another reader's end node that is its joint's only child: the joint's bone then runs to it,
// and reading the file makes it again.
bool OnlyReaderEnd(KQovNode* node) {
    return !HeldAtBoneEnd(node) && KMotionIsReaderEndNode(node) &&
           node->GetParent()->GetChildCount() == 1;
}

// Euler X, Y, Z angles of the direction `node`'s bone runs along (X turned by them): its
// limits' rotation axis, or towards its end node when that lies off the axis.
KVector4 BoneAngles(KQovNode* node) {
    const KVector4 axis = KQovLimitsUtility(&node->GetLimits()).GetRotationAxis();
    KQovNode* end = node->GetChild(0);
    if (!end || !OnlyReaderEnd(end)) return axis;
    const KVector4 tip = end->GetDefaultLocalMatrix().GetRow(3);
    return AlongBone(node, tip) ? axis : KMotionAxisAngles(tip);
}

}  // namespace

KQovWriterHtr::KQovWriterHtr(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterHtr::~KQovWriterHtr() = default;

KStreamOptions* KQovWriterHtr::GetWriteOptions() {
    auto* options = new KStreamOptionsMotion;
    options->SetSetting(13, 0);
    options->SetSetting(14, 1);
    return options;
}

bool KQovWriterHtr::IsEndSite(KQovNode* node) {
    return HeldAtBoneEnd(node) || OnlyReaderEnd(node);
}

void KQovWriterHtr::ComputeBasePositions(KQovNode* top, int topParent, const KMatrix& topP,
                                         bool topHasP, KQovPose* restPose,
                                         KQovWrittenNames& names) {
    // Parents before children, in child order, on a stack of our own: a chain of segments as
    // long as a file holds must not overflow the call stack.
    struct Pending {
        KQovNode* node;
        int parent;
        KMatrix p;
        bool hasP;
    };
    // The segments' names set aside first, in the order they are written.
    std::vector<KQovNode*> ahead{top};
    while (!ahead.empty()) {
        KQovNode* node = ahead.back();
        ahead.pop_back();
        if (IsEndSite(node)) continue;
        names.SetAside(node->GetNameWithoutPrefix().Buffer());
        for (int i = node->GetChildCount(); i-- > 0;) ahead.push_back(node->GetChild(i));
    }
    std::vector<Pending> pending{{top, topParent, topP, topHasP}};
    while (!pending.empty()) {
        const Pending at = pending.back();
        pending.pop_back();
        KQovNode* node = at.node;
        if (IsEndSite(node)) continue;
        const int parent = at.parent;
        const KMatrix& p = at.p;
        const bool hasP = at.hasP;
        const KQovLimitsUtility limits(&node->GetLimits());
        KQovNode* parentNode = node->GetParent();
        const KVector4 sp =
            parentNode ? Scaling(parentNode->GetDefaultGlobalMatrix()) : KVector4(1.0, 1.0, 1.0);
        const KVector4 sn = Scaling(node->GetDefaultGlobalMatrix());
        const KVector4 t = Times(limits.GetDefault(0) * kToFile, sp);
        KMatrix axis;
        KMatrixSetRotationXYZ(axis, BoneAngles(node));
        // The bone reaches the node's end site; a segment without one has no length of its own.
        double length = 0.0;
        for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
            if (IsEndSite(child)) length = KVectorLength3(child->GetDefaultLocalMatrix().GetRow(3));
        const KVector4 bone = Times(axis.GetRow(0) * (kToFile * length), sn);
        // The bone runs along the file's Y axis.
        KMatrix b, toY = KMotionFileHtr::BoneAxisMatrix(1), turned;
        KMatrixTranspose3x3(b, toY);
        KMatrixMultiply3x3(turned, b, axis);
        KVector4 angles;
        KMatrixToEulerXYZ(angles, turned);
        KMatrix n;
        KMatrixSetTRS(n, t, angles, KVector4(1.0, 1.0, 1.0));
        KMatrix v = n;
        if (hasP) KMatrixMultiplyInverse(v, n, KMotionNormalizeAxes(p));
        const int index = restPose ? restPose->Find(node->GetName()) : -1;
        if (index >= 0 && restPose->IsLocalMatrix(index)) {
            // The pose holds centimetres; base positions are written in millimetres.
            v = restPose->GetMatrix(index);
            for (int c = 0; c < 3; ++c) v[3][c] *= kToFile;
        }
        // The reader gives a segment without children an end node named after it.
        bool leaf = true;
        for (int i = 0; leaf && i < node->GetChildCount(); ++i) leaf = IsEndSite(node->GetChild(i));
        const std::string name =
            names.Add(node->GetNameWithoutPrefix().Buffer(), leaf ? "_End" : "");
        KHtrSegment* segment = mFile->AddSegment(
            name.c_str(),
            parent >= 0 ? mFile->GetSegments()[size_t(parent)]->name.c_str() : nullptr);
        segment->baseTranslation = v.GetRow(3) * (1.0 / kToFile);
        segment->baseTranslation[3] = 0.0;
        segment->baseRotation = KMotionNormalizeAxes(v);
        for (int c = 0; c < 3; ++c) segment->baseRotation[3][c] = 0.0;
        segment->boneLength = KVectorLength3(bone) / kToFile;
        mSegments.push_back({node, parent, p, hasP, bone});
        const int self = int(mSegments.size()) - 1;
        for (int i = node->GetChildCount(); i-- > 0;)
            pending.push_back({node->GetChild(i), self, n, true});
    }
}

bool KQovWriterHtr::RestLeftOnNodes(KQovNode* top) {
    std::vector<KQovNode*> pending{top};
    while (!pending.empty()) {
        KQovNode* root = pending.back();
        pending.pop_back();
        for (int i = 0; KQovNode* child = root->GetChild(i); ++i) {
            if (!IsEndSite(child)) {
                pending.push_back(child);
                continue;
            }
            // Another reader's end node sets the bone's direction itself.
            if (!HeldAtBoneEnd(child)) continue;
            if (!AlongBone(root, child->GetDefaultLocalMatrix().GetRow(3))) return true;
        }
    }
    return false;
}

int KQovWriterHtr::BoneAxis() const {
    const auto& segments = mFile->GetSegments();
    std::vector<KMatrix> global(segments.size());
    int found = -1;
    for (size_t i = 0; i < segments.size(); ++i) {
        const int parent = mSegments[i].parent;
        if (parent >= 0)
            KMatrixMultiply3x3(global[i], segments[i]->baseRotation, global[size_t(parent)]);
        else
            global[i] = segments[i]->baseRotation;
        const KVector4& bone = mSegments[i].bone;
        const double length = KVectorLength3(bone);
        if (length <= 0.0) continue;
        // The bone in the base position's own axes: its rows are those axes in the scene's.
        int along = -1;
        for (int a = 0; a < 3; ++a) {
            const KVector4 row = global[i].GetRow(a);
            const double share = (bone[0] * row[0] + bone[1] * row[1] + bone[2] * row[2]) / length;
            if (share > 1.0 - 1e-8) along = a;
        }
        if (along < 0 || (found >= 0 && along != found)) return 1;
        found = along;
    }
    return found < 0 ? 1 : found;
}

void KQovWriterHtr::ConvertFrame(KQovNode* top, KTime time, int frame) {
    // The matrix each segment hands its children (W), in segment order.
    std::vector<KMatrix> handed(mSegments.size());
    for (size_t i = 0; i < mSegments.size(); ++i) {
        const Segment& s = mSegments[i];
        KHtrSegment& segment = *mFile->GetSegments()[i];
        const KMatrix base = Base(segment);
        const KMatrix input = s.parent >= 0 ? handed[size_t(s.parent)] : s.input;
        const bool hasInput = s.parent >= 0 || s.hasInput;
        // W turns the node's frame into the segment's: the base positions down the chain when
        // the keys have the rest orientations taken off, nothing when they still hold them
        // (the base rotation is then taken off once, below, and not twice).
        KMatrix e = Evaluated(s.node, top, time), w = mRestOnNodes ? KMatrix() : base, l;
        if (hasInput) {
            if (!mRestOnNodes) KMatrixMultiply(w, base, KMotionNormalizeAxes(input));
            KQovNode* parentNode = s.parent >= 0 ? mSegments[size_t(s.parent)].node : top;
            KMatrix q = Evaluated(parentNode, top, time);
            KMatrixMultiply3x3(q, KMotionNormalizeAxes(input), KMatrix(q));
            KMatrixMultiply3x3(e, w, KMatrix(e));
            KMatrixMultiplyInverse(l, e, q);
        } else {
            KMatrixMultiply3x3(e, w, KMatrix(e));
            l = e;
        }
        handed[i] = w;
        KVector4 translation = l.GetRow(3) * (1.0 / kToFile);
        translation[3] = 0.0;
        KVector4 rotation;
        KMatrixToEulerXYZ(rotation, l);
        segment.translations[size_t(frame)] = translation;
        segment.rotations[size_t(frame)] = rotation;
    }
}

namespace {
constexpr KMotionHolds kHolds{"an HTR", "skeletons"};
}  // namespace

bool KQovWriterHtr::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KQovNode* root = nullptr;
    KStreamOptionsMotion* motion = BeginWrite(scene, base, "Can not find root node.", kHolds, root);
    if (!motion) return false;
    if (!KMotionHoldsSkeleton(root)) return FailNothingToWrite(kHolds.format, kHolds.what);
    // Whole rates are written whole (1 / (1/30 s) may come out a hair below 30); 29.97 gives 29.
    // A period too short for any int rate writes the largest. The file holds no rate below
    // one frame a second: its reader refuses one.
    const KTime period = motion->GetFramePeriod();
    const double seconds = period.GetSecondDouble();
    const double rate = seconds > 0.0 ? std::min(1.0 / seconds + 1e-6, double(INT_MAX)) : 0.0;
    if (rate < 1.0) {
        const std::string text =
            "An HTR file holds frame rates of 1 a second and above; "
            "the scene's is " +
            KDecimalText(motion->GetFrameRate()) + " a second";
        return Fail(eUnidentifiedError, text.c_str());
    }
    if (!CheckRate(*motion, false)) return false;
    auto& options = *motion;
    KQovNode* top = root->GetParent();
    // Under setting 13 the root is taken in the top node's space as it stands; otherwise its
    // frame starts at the top node's origin.
    const bool hasP = options.GetSetting(13) != 1;
    KMatrix p;
    if (hasP) {
        const KVector4 t = top->GetDefaultGlobalMatrix().GetRow(3);
        for (int c = 0; c < 3; ++c) p[3][c] = t[c] * kToFile;
    }
    KQovPose* restPose = nullptr;
    const KString poseName = top->GetNameWithoutPrefix() + "_RESTPOSE";
    for (int i = 0; i < scene->GetPoseCount(); ++i) {
        KQovPose* pose = scene->GetPose(i);
        if (pose && pose->IsRestPose() && KString(pose->GetNameWithoutPrefix()) == poseName)
            restPose = pose;
    }
    mFile->ClearSegments();
    mSegments.clear();
    // Only a rest pose gives the base positions such keys are measured from.
    mRestOnNodes = restPose && RestLeftOnNodes(root);
    KQovWrittenNames names(KMotionFileHtr::NameTerms());
    ComputeBasePositions(root, -1, p, hasP, restPose, names);
    mStatus += names.GetWarnings().c_str();

    const int frames = options.GetFrameCount();
    for (const auto& segment : mFile->GetSegments()) {
        segment->translations.assign(size_t(frames), KVector4());
        segment->rotations.assign(size_t(frames), KVector4());
    }
    KTime time = options.GetStartTime();
    for (int f = 0; f < frames; ++f, time += period) {
        options.Progress(0, "Converting HTR nodes", float(f * 50 / frames));
        ConvertFrame(top, time, f);
    }
    options.Progress(0, "Writing HTR nodes", 50.0f);
    mFile->WriteSegments(frames, int(rate), BoneAxis());
    mFile->ClearSegments();
    mSegments.clear();
    return Finish();
}
