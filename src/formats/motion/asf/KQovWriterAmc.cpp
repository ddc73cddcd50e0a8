#include "formats/motion/asf/KQovWriterAmc.h"

#include <cmath>

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

KQovWriterAmc::KQovWriterAmc(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterAmc::~KQovWriterAmc() = default;

KStreamOptions* KQovWriterAmc::GetWriteOptions() {
    return KQovWriterAsf::MakeWriteOptions();
}

bool KQovWriterAmc::Write(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    KQovNode* root = scene ? FindSingleChildRoot(scene) : nullptr;
    if (!root) return Fail(eFileNotCreated, "Scene must have a single root node.");
    if (!base || !base->IsA(KStreamOptionsMotion::ClassId())) return Fail(eStreamOptionsNotSet);
    if (!KMotionHoldsSkeleton(root)) return FailNothingToWrite("an AMC", "skeleton motion");
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KObject* stream = options.GetStream();
    if (!stream || !stream->IsA(KQovAsfScene::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& skeleton = static_cast<KQovAsfScene&>(*stream);
    if (!skeleton.BindNodes(KQovWriterAsf::SkeletonTop(root)))
        return Fail(eUnidentifiedError, "A bone of the skeleton has no node of its name.");

    const int frames = options.GetFrameCount();
    const KTime period = options.GetFramePeriod();
    const double rate = options.GetFrameRate();
    const int first = int(std::rint(options.GetStartTime().GetSecondDouble() * rate));
    mFile->WriteHeader(options.GetSetting(15) != 0 ? rate : -1.0,
                       options.GetSetting(16) != 0 ? first : -1, first + frames - 1);
    const bool global = options.GetSetting(13) == 1;
    KTime time = options.GetStartTime();
    for (int f = 1; f <= frames; ++f, time += period) {
        options.Progress(0, "Writing AMC animation frames", float(f * 100 / frames));
        skeleton.SampleNodes(time, f, global);
        mFile->WriteFrame(skeleton, f);
    }
    for (KAsfBone* bone : skeleton.GetBones()) bone->keys.clear();
    return Finish();
}
