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
    KStreamOptions* options = MakeReadOptions(
        {8, 1, 9, 0, 10, 0}, [](KMotionFileAmc& file, KStreamOptionsMotion& options) {
            return file.ReadOptions(options);
        });
    if (options) mStatus += mFile->GetRateNote().c_str();
    return options;
}

bool KQovReaderAmc::Read(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* motion = BeginRead(scene, base);
    if (!motion) return false;
    auto& options = *motion;
    KObject* stream = options.GetStream();
    if (!stream || !stream->IsA(KQovAsfScene::ClassId())) return Fail(eStreamOptionsNotSet);
    auto& skeleton = static_cast<KQovAsfScene&>(*stream);
    options.Progress(0, "Reading AMC animation frames", 0.0f);
    // Nothing reaches the scene unless every frame read.
    if (!skeleton.mRoot || !mFile->ReadFrames(skeleton, options) ||
        mFile->StoppedShort()) return Fail(eFileCorrupted);

    const KString name = KMotionTakeName(mFileName, mStatus);
    KString take = name;
    for (int n = 1; scene->FindTakeInfo(take.Buffer()); ++n) take = name + " " + KString(n);
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
    KMotionStoreTake(scene, take, options, false);
    return true;
}
