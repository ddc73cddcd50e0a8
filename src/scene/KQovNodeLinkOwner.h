#pragma once
// Objects that keep node slots (characters, through their control sets; cluster links): the
// node clears the slot a back-link names when it goes.

class KQovNode;

class KQovNodeLinkOwner {
public:
    virtual void ClearNodeLink(KQovNode* node, int kind, int slot, int subIndex) = 0;

protected:
    ~KQovNodeLinkOwner() = default;
};
