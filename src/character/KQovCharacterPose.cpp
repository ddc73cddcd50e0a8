#include "character/KQovCharacterPose.h"

namespace {
KQovCharacterPose::PrivateSceneMaker gMaker = nullptr;
KQovCharacterPose::PrivateSceneDestroyer gDestroyer = nullptr;
}  // namespace

void KQovCharacterPose::SetPrivateSceneHooks(PrivateSceneMaker maker,
                                             PrivateSceneDestroyer destroyer) {
    gMaker = maker;
    gDestroyer = destroyer;
}

KQovCharacterPose::KQovCharacterPose(KQovObjectManager* manager, const char* name)
    : KQovObject(manager, name) {
    if (gMaker) mScene = gMaker(manager);
    if (mScene) mDestroyer = gDestroyer;
}

KQovCharacterPose::~KQovCharacterPose() {
    // A pose without a private scene has nothing to give back.
    if (mScene && mDestroyer) mDestroyer(GetObjectManager(), mScene);
    mScene = nullptr;
}
