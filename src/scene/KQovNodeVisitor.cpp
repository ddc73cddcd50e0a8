#include "scene/KQovNodeVisitor.h"

#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"

void KQovNodeVisitor::Visit(KQovNode* node) {
    // Depth first on a stack of its own; a child's count is read again after each child.
    KQovWalkNodes(
        node,
        [this](KQovNode* n, int) {
            if (Accept(n)) mAccepted.push_back(n);
            return true;
        },
        [](KQovNode*, int) {});
}

std::vector<KQovNode*>& KQovNodeVisitor::Collect(KQovNode* root) {
    mRoot = root;
    Visit(root);
    return mAccepted;
}
