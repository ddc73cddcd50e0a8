#include "scene/KQovNodeVisitor.h"

#include "scene/KQovNode.h"

void KQovNodeVisitor::Visit(KQovNode* node) {
    if (!node) return;
    if (Accept(node)) mAccepted.push_back(node);
    for (int i = 0; i < node->GetChildCount(); ++i) Visit(node->GetChild(i));
}

std::vector<KQovNode*>& KQovNodeVisitor::Collect(KQovNode* root) {
    mRoot = root;
    Visit(root);
    return mAccepted;
}
