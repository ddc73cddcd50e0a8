#include "formats/motion/asf/KQovReaderAmc.h"

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "formats/motion/asf/KQovReaderAsf.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

KQovReaderAmc::KQovReaderAmc(KQovObjectManager* manager) : KMotionReaderBase(manager) {}

KQovReaderAmc::~KQovReaderAmc() = default;

KStreamOptions* KQovReaderAmc::GetReadOptions(bool) {
    if (!mFile) {
        Fail(eFileNotOpened);
        return nullptr;
    }
    auto options = std::make_unique<KStreamOptionsMotion>();
    options->SetSetting(8, 1);
    options->SetSetting(9, 0);
    options->SetSetting(10, 0);
    if (!mFile->ReadOptions(*options)) {
        Fail(eFileCorrupted);
        return nullptr;
    }
    return options.release();
}

bool KQovReaderAmc::Read(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!scene || !base || !base->IsA(KStreamOptionsMotion::ClassId()))
        return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    KObject* stream = options.GetStream();
    if (!stream || !stream->IsA(KQovAsfScene::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& skeleton = static_cast<KQovAsfScene&>(*stream);
    options.Progress(0, "Reading AMC animation frames", 0.0f);
    // Nothing reaches the scene unless every frame read.
    if (!skeleton.mRoot || !mFile->ReadFrames(skeleton, options)) return Fail(eFileCorrupted);

    const KString name = KExtractFileName(mFileName.Buffer(), false);
    KString take = name;
    for (int n = 1; scene->GetTakeInfo(take.Buffer()); ++n) take = name + " " + KString(n);
    KQovNode* parent = scene->GetRootNode();
    if (options.GetSetting(8) == 1) {
        const KString reference = KQovReaderAsf::ReferenceName(skeleton);
        KQovNode* found = parent->FindChild(reference.Buffer(), true);
        if (!found) {
            found = mManager->CreateNode(reference.Buffer());
            parent->AddChild(found);
        }
        parent = found;
    }
    skeleton.ApplyMotion(mManager, parent, take.Buffer(), options.GetStartTime(),
                         options.GetFramePeriod(), options.GetSetting(10) == 1);
    KMotionStoreTake(scene, take, options);
    return true;
}
