#include "scene/KQovNodeAttribute.h"

#include "scene/KQovNode.h"

KQovNodeAttribute::~KQovNodeAttribute() {
    if (mNode) mNode->ForgetAttribute(this);
}

void KQovNodeAttribute::SetNode(KQovNode* node) {
    mNode = node;
    if (!node || !HasTakeNodeChannels()) return;
    // The count is read again after each call: a callee may add takes.
    for (int i = 0; i < node->GetTakeNodeCount(); ++i) InitTakeNodeChannels(node->GetTakeNode(i));
}

void KQovNodeAttribute::ClearNode() {
    if (!mNode) return;
    if (HasTakeNodeChannels()) {
        for (int i = 0; i < mNode->GetTakeNodeCount(); ++i) {
            // A deferred "Default" take holds no channel yet: it is not made only to be
            // emptied (a manager taken apart out of memory would throw).
            if (i == 0 && mNode->IsDefaultTakeDeferred()) continue;
            RemoveTakeNodeChannels(mNode->GetTakeNode(i));
        }
    }
    mNode = nullptr;
}
