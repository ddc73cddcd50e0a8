#pragma once
// Walks a node tree depth first and keeps the nodes its accept test chooses.

#include <vector>

class KQovNode;

class KQovNodeVisitor {
public:
    KQovNodeVisitor() = default;
    KQovNodeVisitor(const KQovNodeVisitor&) = delete;
    KQovNodeVisitor& operator=(const KQovNodeVisitor&) = delete;
    virtual ~KQovNodeVisitor() = default;

    // Empties what the visitor gathered, the accepted list included.
    virtual void Clear() = 0;
    // Accepts the node or not, then visits each child in order (the count is
    // read again after each child).
    virtual void Visit(KQovNode* node);
    virtual bool Accept(KQovNode* node) = 0;

    // Stores the root, visits it and returns the accepted nodes.
    std::vector<KQovNode*>& Collect(KQovNode* root);
    KQovNode* GetRoot() const { return mRoot; }
    const std::vector<KQovNode*>& GetAccepted() const { return mAccepted; }

protected:
    void ClearAccepted() { mAccepted.clear(); }

private:
    KQovNode* mRoot = nullptr;
    std::vector<KQovNode*> mAccepted;
};
