#include "formats/motion/asf/KQovWriterAsf.h"

#include <utility>
#include <vector>

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"

namespace {

bool IsRootName(const KQovNode* node) {
    return node->GetNameWithoutPrefix() == "root";
}

}  // namespace

KQovNode* KQovWriterAsf::SkeletonTop(KQovNode* top) {
    if (!top || IsRootName(top) || top->GetChildCount() != 1) return top;
    // A joint is no reference node, whatever its only child is named; the skeleton's root is
    // a joint.
    auto type = [](const KQovNode* node) {
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        return attribute ? attribute->GetAttributeType() : int(KQovNodeAttribute::eNull);
    };
    KQovNode* child = top->GetChild(0);
    const bool reference = type(top) == KQovNodeAttribute::eNull;
    return reference && IsRootName(child) && type(child) == KQovNodeAttribute::eSkeleton ? child
                                                                                         : top;
}

KQovWriterAsf::KQovWriterAsf(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterAsf::~KQovWriterAsf() = default;

bool KQovWriterAsf::DoFileCreate(const char* fileName) {
    mPath = fileName ? fileName : "";
    mLeft = KWeakRef();
    return KMotionWriterBase::DoFileCreate(fileName);
}

bool KQovWriterAsf::DoFileClose() {
    const KWeakRef left = std::exchange(mLeft, KWeakRef());
    if (!KMotionWriterBase::DoFileClose()) return false;
    if (auto* written = dynamic_cast<KQovAcclaimWrittenSkeleton*>(KObject::FromPlug(left.Resolve())))
        written->SetPlaced();
    return true;
}

void KQovWriterAsf::DoFileDiscard() {
    mLeft = KWeakRef();
    KMotionWriterBase::DoFileDiscard();
}

KStreamOptions* KQovWriterAsf::MakeWriteOptions() {
    auto* options = new KStreamOptionsMotion;
    options->SetSetting(0, 0);
    options->SetSetting(13, 0);
    options->SetSetting(14, 1);
    options->SetSetting(15, 1);
    options->SetSetting(16, 0);
    return options;
}

KStreamOptions* KQovWriterAsf::GetWriteOptions() {
    return MakeWriteOptions();
}

bool KQovWriterAsf::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KQovNode* root = nullptr;
    // The skeleton file of an Acclaim pair (written by the motion writer) is refused as the
    // motion file it serves.
    const KMotionHolds holds = mPairOfMotion ? kAmcHolds : kAsfHolds;
    KStreamOptionsMotion* motion =
        BeginWrite(scene, base, "Scene must have a single root node.", holds, root);
    if (!motion) return false;
    auto& options = *motion;
    // A reference node holding only the skeleton's "root" (as the skeleton reader builds it)
    // is left out: "root" is the file's root bone. Any other node of that name is renamed.
    root = SkeletonTop(root);
    if (!KMotionHoldsSkeleton(root)) return FailNothingToWrite(holds.format, holds.what);
    // Options that ask for pairs keep asking; a skeleton file exported on its own is the one
    // a motion file written next with these options is written on, alone.
    KQovAsfScene* skeleton = nullptr;
    if (mPairOfMotion) {
        skeleton = new KQovAcclaimPairSkeleton;
    } else {
        auto* written = new KQovAcclaimWrittenSkeleton(mPath);
        written->KeepBefore(options);
        skeleton = written;
    }
    options.SetStream(skeleton, true);
    skeleton->BuildFromNodes(root);
    mStatus += skeleton->GetNameWarnings().c_str();
    options.Progress(0, "Writing ASF node hierarchy", 0.0f);
    mFile->WriteSkeleton(*skeleton);
    if (!Finish()) return false;
    mLeft = skeleton->GetWeakRef();
    return true;
}
