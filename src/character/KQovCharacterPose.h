#pragma once
// A character pose ("Pose::"): a scene object owning a private scene that
// holds one character, "PoseCharacter".
//
// The scene layer provides the making and the destruction of that scene
// through SetPrivateSceneHooks; until it does, a pose has no private scene,
// which every user of a pose tolerates.

#include "scene/KQovObject.h"

class KQovScene;

class KQovCharacterPose : public KQovObject {
public:
    // Makes the private scene: a new, emptied scene of the manager holding the
    // character "PoseCharacter"; null when that fails.
    using PrivateSceneMaker = KQovScene* (*)(KQovObjectManager* manager);
    // Destroys a scene the maker made.
    using PrivateSceneDestroyer = void (*)(KQovObjectManager* manager, KQovScene* scene);
    static void SetPrivateSceneHooks(PrivateSceneMaker maker, PrivateSceneDestroyer destroyer);

    KQovCharacterPose(KQovObjectManager* manager, const char* name);
    ~KQovCharacterPose() override;

    int GetObjectType() const override { return eCharacterPose; }
    // Null when no private scene could be made.
    KQovScene* GetScene() const { return mScene; }

private:
    KQovScene* mScene = nullptr;
    PrivateSceneDestroyer mDestroyer = nullptr;  // the one that goes with the maker
};
