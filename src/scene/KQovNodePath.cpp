#include "scene/KQovNodePath.h"

#include "scene/KQovNode.h"

KQovNodePath::KQovNodePath(KQovNode* node) {
    std::vector<int> upward;
    for (KQovNode* at = node; at;) {
        KQovNode* parent = at->GetParent();
        if (!parent) {
            mRoot = at;
            break;
        }
        int index = 0;
        const int count = parent->GetChildCount();
        if (count >= 2)
            while (index < count && parent->GetChild(index) != at) ++index;
        upward.push_back(index);
        at = parent;
    }
    mChildIndices.assign(upward.rbegin(), upward.rend());
}

KQovNode* KQovNodePath::GetNode(int depth) const {
    if (depth < 0 || depth > GetDepth()) return nullptr;
    KQovNode* at = mRoot;
    for (int i = 0; i < depth && at; ++i) at = at->GetChild(mChildIndices[size_t(i)]);
    return at;
}

KString KQovNodePath::GetNodeName(int depth) const {
    const KQovNode* node = GetNode(depth);
    return KString(node ? node->GetName() : "");
}
