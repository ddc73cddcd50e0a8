#include "formats/motion/asf/KQovReaderAsf.h"

#include "formats/motion/asf/KQovAsfScene.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

KQovReaderAsf::KQovReaderAsf(KQovObjectManager* manager) : KMotionReaderBase(manager) {}

KQovReaderAsf::~KQovReaderAsf() = default;

KString KQovReaderAsf::ReferenceName(const KQovAsfScene& skeleton) {
    return KString(skeleton.mName.empty() ? "ASF" : skeleton.mName.c_str()) + ":reference";
}

KStreamOptions* KQovReaderAsf::GetReadOptions(bool) {
    if (!mFile) {
        Fail(eFileNotOpened);
        return nullptr;
    }
    auto* options = new KStreamOptionsMotion;
    options->SetSetting(8, 1);
    options->SetSetting(9, 0);
    options->SetSetting(10, 0);
    return options;
}

bool KQovReaderAsf::Read(KQovScene* scene, KStreamOptions* base) {
    if (!mFile) return Fail(eFileNotOpened);
    if (!scene || !base || !base->IsA(KStreamOptionsMotion::ClassId()))
        return Fail(eStreamOptionsNotSet);
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    options.Progress(0, "Reading ASF node hierarchy", 0.0f);
    auto* skeleton = new KQovAsfScene;
    // The options own the skeleton from here on, whatever becomes of the reading.
    options.SetStream(skeleton, true);
    if (!mFile->ReadSkeleton(*skeleton, options.GetSetting(9) != 1)) {
        options.SetStream(nullptr, false);
        return Fail(eFileCorrupted);
    }

    KQovNode* reference = mManager->CreateNode(ReferenceName(*skeleton).Buffer());
    KQovNode* top = skeleton->BuildNodes(mManager, *skeleton->mRoot, options.GetSetting(10) == 1);
    reference->AddChild(top);
    KString message =
        KString("Duplicate names found in ") + KExtractFileName(mFileName.Buffer(), true) + ":";
    if (!CheckDuplicateNames(reference, message)) {
        options.Message("Error", message.Buffer(), "Ok");
        mManager->DestroyNode(reference, true);
        options.SetStream(nullptr, false);
        return Fail(eFileCorrupted);
    }
    KQovNode* sceneRoot = scene->GetRootNode();
    if (options.GetSetting(8) == 1) {
        sceneRoot->AddChild(reference);
    } else {
        reference->RemoveChild(top);
        sceneRoot->AddChild(top);
        mManager->DestroyNode(reference, true);
    }
    return true;
}
