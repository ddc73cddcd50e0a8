#include "scene/KQovScene.h"

#include "scene/KQovEntityContainer.h"

KQovScene::KQovScene(KQovObjectManager* manager)
    : mManager(manager), mEntity(std::make_unique<KQovEntityContainer>(manager)) {}

KQovScene::~KQovScene() = default;

KQovNode* KQovScene::GetRootNode() const { return mEntity->GetRootNode(); }
