#pragma once

class KQovTakeNode;

// Told of a rename of the take nodes it holds, before and after (what keeps take nodes by name).
class KQovTakeNameWatcher {
public:
    virtual void TakeRenaming(const KQovTakeNode* take) = 0;
    virtual void TakeRenamed(const KQovTakeNode* take) = 0;

protected:
    ~KQovTakeNameWatcher() = default;
};
