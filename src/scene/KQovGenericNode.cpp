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
    if (mEntity) mEntity->RemoveGenericNode(this);
    mEntity = entity;
    if (mEntity) mEntity->AddGenericNode(this);
    return true;
}

void KQovGenericNode::ForgetEntity(KQovEntityContainer* entity) {
    if (entity != mEntity) return;
    mEntity->ForgetGenericNode(this);
    mEntity = nullptr;
}
