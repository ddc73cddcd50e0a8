#include "scene/KQovGenericNode.h"

#include "scene/KQovEntityContainer.h"

namespace {
const char* const kGenericNodeErrors[] = {"Error"};
}

KQovGenericNode::KQovGenericNode(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError),
      mError(kGenericNodeErrors, 1),
      mProperties(new KQovGenericNodeProperties(this)) {
    AddDefaultTakeNode();
}

KQovGenericNode::~KQovGenericNode() {
    if (mEntity) mEntity->ForgetGenericNode(this);
    mProperties->Destroy();
}

bool KQovGenericNode::SetEntity(KQovEntityContainer* entity) {
    if (entity == mEntity) return true;
    // Listed first: a refused allocation leaves the node where it was, never pointing at a
    // container that does not list it (and would not tell it when it goes).
    if (entity) entity->AddGenericNode(this);
    if (mEntity) mEntity->RemoveGenericNode(this);
    mEntity = entity;
    return true;
}

void KQovGenericNode::ForgetEntity(KQovEntityContainer* entity) {
    if (entity != mEntity) return;
    mEntity->ForgetGenericNode(this);
    mEntity = nullptr;
}
