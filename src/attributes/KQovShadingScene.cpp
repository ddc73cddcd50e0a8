#include "attributes/KQovShadingScene.h"

#include "scene/KQovPropertyHandler.h"

namespace {
KQovShadingScene::Finder gFinder = nullptr;
}  // namespace

void KQovShadingScene::SetFinder(Finder finder) {
    gFinder = finder;
}

KQovShadingScene* KQovShadingScene::Of(KQovObject* object) {
    return object && gFinder ? gFinder(object) : nullptr;
}

KQovShadingScene* KQovShadingScene::OfNewDestination(const KObject* set, int code,
                                                     const KPlug* sender, KPlug* other) {
    if (code != KPlug::eDestinationAdded || sender != set) return nullptr;
    auto* handler = KObjectSafeCast<KQovPropertyHandler>(KObject::FromPlug(other));
    return handler ? Of(handler->GetOwner()) : nullptr;
}
