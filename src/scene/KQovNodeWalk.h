#pragma once
// Walks of a node tree without recursion on the call stack: a chain of models as long as a
// file holds must not overflow it. Children in order, as GetChild gives them.

#include <vector>

#include "foundation/KTreeWalk.h"
#include "scene/KQovNode.h"

// `root` and every node below it, parents before children (the root first).
template <class Node>
std::vector<Node*> KQovListNodes(Node* root) {
    std::vector<Node*> nodes;
    KListTreePreOrder(
        root, [](Node* n) { return n->GetChildCount(); },
        [](Node* n, int i) -> Node* { return n->GetChild(i); }, nodes);
    return nodes;
}

// The nodes strictly below `root`, parents before children.
template <class Node>
std::vector<Node*> KQovListDescendants(Node* root) {
    std::vector<Node*> nodes = KQovListNodes(root);
    if (!nodes.empty()) nodes.erase(nodes.begin());
    return nodes;
}

// Depth first from `root`: `enter(node, depth)` before the children (false skips them),
// `leave(node, depth)` after them.
template <class Node, class Enter, class Leave>
void KQovWalkNodes(Node* root, Enter&& enter, Leave&& leave) {
    KWalkTree(
        root, [](Node* n) { return n->GetChildCount(); },
        [](Node* n, int i) -> Node* { return n->GetChild(i); }, enter, leave);
}
