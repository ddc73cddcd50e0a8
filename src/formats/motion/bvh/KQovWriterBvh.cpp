#include "formats/motion/bvh/KQovWriterBvh.h"

#include <cstring>

#include "animation/KQovTakeNode.h"
#include "foundation/KMatrix.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovScene.h"

namespace {

bool HasKeys(KQovNode* node) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    return take && take != node->GetDefaultTakeNode() &&
           (take->HasKeys("Transform", "T", nullptr) || take->HasKeys("Transform", "R", nullptr));
}

// A leaf written as an end site rather than as a joint.
bool IsEndSite(KQovNode* node) {
    KQovNode* parent = node->GetParent();
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    return node->GetChildCount() == 0 && parent && parent->GetChildCount() == 1 && attribute &&
           attribute->GetAttributeType() == KQovNodeAttribute::eSkeleton && !HasKeys(node) &&
           strstr(node->GetNameWithoutPrefix().Buffer(), "_EndSite");
}

bool SixChannels(const KBvhJoint& joint) {
    return joint.channelCount == 6;
}

// Names with blanks, which the file cannot hold, each on a line of its own.
bool CheckBlanks(KQovNode* node, KString& message) {
    bool ok = !strchr(node->GetNameWithoutPrefix().Buffer(), ' ');
    if (!ok) message += KString("\n    ") + node->GetNameWithoutPrefix();
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
        ok = CheckBlanks(child, message) && ok;
    return ok;
}

}  // namespace

KQovWriterBvh::KQovWriterBvh(KQovObjectManager* manager) : KQovWriter(manager) {}

KQovWriterBvh::~KQovWriterBvh() = default;

bool KQovWriterBvh::Fail(int error, const char* text) {
    if (text)
        mError.SetErrorWithText(error, text);
    else
        mError.SetError(error);
    return false;
}

bool KQovWriterBvh::FileCreate(const char* fileName) {
    auto file = std::make_unique<KMotionFileBvh>(false);
    if (file->Open(fileName, "w") != 0) {
        // Nothing is kept that later writes could go to.
        KString text = KString("Cannot open file \"") + fileName + "\" for writing.";
        return Fail(eFileNotOpened, text.Buffer());
    }
    mFile = std::move(file);
    return true;
}

bool KQovWriterBvh::FileClose() {
    if (!mFile) return Fail(eFileNotOpened);
    mFile.reset();
    return true;
}

KStreamOptions* KQovWriterBvh::GetWriteOptions() {
    auto* options = new KStreamOptionsMotion;
    options->SetSetting(0, 0);
    options->SetSetting(13, 0);
    options->SetSetting(14, 1);
    return options;
}

void KQovWriterBvh::AddJoints(KQovNode* node, KBvhJoint* parent) {
    const bool endSite = parent && IsEndSite(node);
    KBvhJoint* joint = mFile->AddJoint(parent, node->GetNameWithoutPrefix().Buffer(), endSite);
    const KMatrix local = node->GetDefaultLocalMatrix();
    for (int i = 0; i < 3; ++i) joint->offset[i] = parent ? local[3][i] : 0.0;
    mNodes.push_back(endSite ? nullptr : node);
    if (endSite) return;
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i) AddJoints(child, joint);
    if (node->GetChildCount() == 0) {
        mFile->AddJoint(joint, "End", true);
        mNodes.push_back(nullptr);
    }
}

bool KQovWriterBvh::Write(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    KQovNode* sceneRoot = scene ? scene->GetRootNode() : nullptr;
    if (!sceneRoot || sceneRoot->GetChildCount() != 1)
        return Fail(eFileNotCreated, "Can not find root node.");
    KQovNode* root = sceneRoot->GetChild(0);
    if (!base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KString message = "Spaces are not allowed in BVH node names:";
    if (!CheckBlanks(root, message) || !CheckNodeNames(root, message)) {
        options.Message("Error", message.Buffer(), "OK");
        return Fail(eUnidentifiedError);
    }
    // Setting 0 at 1 gives every joint its translation channels.
    const bool translateAll = options.GetSetting(0) == 1;
    mNodes.clear();
    AddJoints(root, nullptr);
    const auto& joints = mFile->GetJoints();
    for (auto& joint : joints)
        if (!joint->endSite) joint->channelCount = translateAll ? 6 : 3;
    mFile->WriteHierarchy(SixChannels);
    const int frames = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    mFile->WriteMotionHeader(frames, period.GetSecondDouble());
    KTime time = options.GetStartTime();
    for (int f = 0; f < frames; ++f, time += period) {
        options.Progress(0, "Writing BVH nodes", float(f * 100 / frames));
        for (size_t i = 0; i < joints.size(); ++i) {
            if (!mNodes[i]) continue;
            const KMatrix local = mNodes[i]->GetLocalMatrix(time);
            joints[i]->translation = local.GetRow(3);
            KMatrixToEulerXYZ(joints[i]->rotation, local);
        }
        mFile->WriteFrame();
    }
    return true;
}
