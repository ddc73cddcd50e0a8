#pragma once
// Depth-first walks of a tree on an explicit stack, so that a tree as deep as a file makes it
// costs heap, not call stack. Children come in order; the visiting order is that of the
// plain recursion the walks replace.

#include <utility>
#include <vector>

#include "foundation/KInlineStack.h"

// `count(node)` gives the number of children and `child(node, i)` the i-th (null ones are
// skipped). `enter(node, depth)` runs before the node's children and returns whether to go
// into them; `leave(node, depth)` runs after them (also for a node whose children were
// skipped). The root has depth 0.
template <class Node, class Count, class Child, class Enter, class Leave>
void KWalkTree(Node* root, Count&& count, Child&& child, Enter&& enter, Leave&& leave) {
    if (!root) return;
    struct Frame {
        Node* node;
        int next;
    };
    KInlineStack<Frame, 32> stack;
    if (enter(root, 0))
        stack.push_back({root, 0});
    else
        leave(root, 0);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= count(top.node)) {
            Node* done = top.node;
            stack.pop_back();
            leave(done, int(stack.size()));
            continue;
        }
        Node* next = child(top.node, top.next++);
        if (!next) continue;
        const int depth = int(stack.size());
        if (enter(next, depth))
            stack.push_back({next, 0});
        else
            leave(next, depth);
    }
}

// Every node of the tree, parents before children, into `out` (the root first).
template <class Node, class Count, class Child>
void KListTreePreOrder(Node* root, Count&& count, Child&& child, std::vector<Node*>& out) {
    KInlineStack<Node*, 32> pending;
    if (root) pending.push_back(root);
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        out.push_back(node);
        for (int i = count(node); i-- > 0;)
            if (Node* c = child(node, i)) pending.push_back(c);
    }
}

// The first node strictly below `root`, parents before children (a grandchild before a later
// child), for which `match(node)` holds; null when none does.
template <class Node, class Count, class Child, class Match>
Node* KFindBelow(Node* root, Count&& count, Child&& child, Match&& match) {
    if (!root) return nullptr;
    struct Frame {
        Node* node;
        int next;
    };
    KInlineStack<Frame, 16> stack;
    stack.push_back({root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= count(top.node)) {
            stack.pop_back();
            continue;
        }
        Node* next = child(top.node, top.next++);
        if (!next) continue;
        if (match(next)) return next;
        stack.push_back({next, 0});
    }
    return nullptr;
}
