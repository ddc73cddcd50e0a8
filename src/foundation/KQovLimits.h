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

    void SetMinActive(bool x, bool y, bool z) {
        minActiveX = x;
        minActiveY = y;
        minActiveZ = z;
    }
    void GetMinActive(bool& x, bool& y, bool& z) const {
        x = minActiveX;
        y = minActiveY;
        z = minActiveZ;
    }
    void SetMaxActive(bool x, bool y, bool z) {
        maxActiveX = x;
        maxActiveY = y;
        maxActiveZ = z;
    }
    void GetMaxActive(bool& x, bool& y, bool& z) const {
        x = maxActiveX;
        y = maxActiveY;
        z = maxActiveZ;
    }
    // Any of the six flags.
    bool IsActive() const {
        return minActiveX || minActiveY || minActiveZ || maxActiveX || maxActiveY || maxActiveZ;
    }
    void SetMin(const KVector4& v) { min = v; }
    const KVector4& GetMin() const { return min; }
    void SetMax(const KVector4& v) { max = v; }
    const KVector4& GetMax() const { return max; }
};

struct KQovNodeLimits {
    KQovLimits translation;
    KQovLimits rotation;
    KQovLimits scaling;
    KQovNode* node = nullptr;  // the owning node, not owned; may be null
    bool translationActive = false;
    bool rotationActive = false;
    bool scalingActive = false;

    void SetTranslationActive(bool on) { translationActive = on; }
    bool GetTranslationActive() const { return translationActive; }
    // Also the bound node's "RotationActive" value (defined with the node).
    void SetRotationActive(bool on);
    bool GetRotationActive() const { return rotationActive; }
    void SetScalingActive(bool on) { scalingActive = on; }
    bool GetScalingActive() const { return scalingActive; }
    KQovNode* GetNode() const { return node; }
};
