#include "formats/motion/asf/KQovWriterAsf.h"

#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace {

bool NamedRoot(KQovNode* node) {
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i)
        if (child->GetNameWithoutPrefix() == "root" || NamedRoot(child)) return true;
    return false;
}

}  // namespace

KQovWriterAsf::KQovWriterAsf(KQovObjectManager* manager) : KMotionWriterBase(manager) {}

KQovWriterAsf::~KQovWriterAsf() = default;

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

bool KQovWriterAsf::Write(KQovScene* scene, KStreamOptions* base) {
    KQovNode* root = nullptr;
    KStreamOptionsMotion* motion =
        BeginWrite(scene, base, "Scene must have a single root node.",
                   "Spaces are not allowed in ASF node names:", "Ok", root);
    if (!motion) return false;
    auto& options = *motion;
    // The file's own root bone is "root"; a node of that name below would clash with it.
    if (NamedRoot(root)) {
        options.Message("Error", "Model name \"root\" is only allowed for the ASF root node.",
                        "Ok");
        return Fail(eUnidentifiedError);
    }
    auto* skeleton = new KQovAsfScene;
    options.SetStream(skeleton, true);
    skeleton->BuildFromNodes(root);
    options.Progress(0, "Writing ASF node hierarchy", 0.0f);
    mFile->WriteSkeleton(*skeleton);
    return Finish();
}
