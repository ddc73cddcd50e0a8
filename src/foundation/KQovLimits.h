#pragma once
// Transform-limit records: one minimum/maximum limit, and a node's three of them. Copies are
// member by member and share nothing but the node pointer.

#include "foundation/KVector4.h"

class KQovNode;

struct KQovLimits {
    bool minActiveX = false;
    bool minActiveY = false;
    bool minActiveZ = false;
    bool maxActiveX = false;
    bool maxActiveY = false;
    bool maxActiveZ = false;
    KVector4 min;  // x, y, z used
    KVector4 max;
};

struct KQovNodeLimits {
    KQovLimits translation;
    KQovLimits rotation;
    KQovLimits scaling;
    KQovNode* node = nullptr;  // the owning node, not owned; may be null
    bool translationActive = false;
    bool rotationActive = false;
    bool scalingActive = false;
};
