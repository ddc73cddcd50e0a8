#pragma once
// A node's address: the child indices that lead from its root down to it.

#include <vector>

#include "foundation/KString.h"

class KQovNode;

class KQovNodePath {
public:
    explicit KQovNodePath(KQovNode* node);

    KQovNode* GetRoot() const { return mRoot; }
    int GetDepth() const { return int(mChildIndices.size()); }
    // The node reached from the root through the first `depth` indices; null
    // for a depth outside 0..GetDepth() or an index that no longer leads anywhere.
    KQovNode* GetNode(int depth) const;
    // Its class-prefixed name; empty when there is no such node.
    KString GetNodeName(int depth) const;

private:
    KQovNode* mRoot = nullptr;
    std::vector<int> mChildIndices;
};
