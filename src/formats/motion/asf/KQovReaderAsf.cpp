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
    // The skeleton file tells nothing of frames.
    return MakeReadOptions({8, 1, 9, 0, 10, 0},
                           [](KMotionFileAsf&, KStreamOptionsMotion&) { return true; });
}

bool KQovReaderAsf::Read(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* motion = BeginRead(scene, base);
    if (!motion) return false;
    auto& options = *motion;
    options.Progress(0, "Reading ASF node hierarchy", 0.0f);
    auto* skeleton = new KQovAsfScene;
    // The options own the skeleton from here on, whatever becomes of the reading.
    options.SetStream(skeleton, true);
    if (!mFile->ReadSkeleton(*skeleton, options.GetSetting(9) != 1) || mFile->StoppedShort()) {
        options.SetStream(nullptr, false);
        return Fail(eFileCorrupted);
    }

    KQovNode* reference = mManager->CreateNode(ReferenceName(*skeleton).Buffer());
    reference->AddChild(
        skeleton->BuildNodes(mManager, *skeleton->mRoot, options.GetSetting(10) == 1));
    if (AttachHierarchy(scene, reference, options)) return true;
    options.SetStream(nullptr, false);
    return false;
}
