#pragma once
// Reads and sets a node's transform limits by index (0 translation, 1 rotation,
// 2 scaling), as the file readers and writers see them, and derives the limits
// and the bone orientation of a node from its default pose.

#include "foundation/KQovLimits.h"
#include "foundation/KVector4.h"

class KQovNode;

class KQovLimitsUtility {
public:
    enum : int { eTranslation = 0, eRotation = 1, eScaling = 2 };

    explicit KQovLimitsUtility(KQovNodeLimits* limits) : mLimits(limits) {}

    // Any index outside 0-2 changes nothing and reads false or a zero vector.
    // Auto is the negation of the limit's active flag; turning rotation auto off
    // keeps set 0's rotation space for the limits only.
    void SetAuto(int index, bool on);
    bool GetAuto(int index) const;
    // Enabled when any of the six min/max flags is set; a change sets all six.
    void SetEnable(int index, bool on);
    bool GetEnable(int index) const;
    // Translation and scaling: min and max together; rotation: set 0's pre-rotation.
    void SetDefault(int index, const KVector4& value);
    KVector4 GetDefault(int index) const;
    void SetMin(int index, const KVector4& value);
    KVector4 GetMin(int index) const;
    void SetMax(int index, const KVector4& value);
    KVector4 GetMax(int index) const;

    // Nonzero: Euler XYZ (order 0); zero: Spheric XYZ (order 6), on set 0.
    void SetRotationType(int type);
    bool GetRotationType() const;
    bool IsSphericRotation() const;
    // Set 0's post-rotation.
    void SetRotationAxis(const KVector4& angles);
    KVector4 GetRotationAxis() const;
    void SetAxisLength(double length) { mAxisLength = length; }
    double GetAxisLength() const { return mAxisLength; }

    // The geometry's control point farthest from the origin; (0, 0, 0, 1) without one.
    static KVector4 FarthestControlPoint(KQovNode* node);
    // The translation of the child the bone points at, chosen by attribute kind.
    static KVector4 GetChildDirection(KQovNode* node);
    // Fills every limit that is not active from the node's default pose, and
    // orients the rotation limits along the bone. Only for the bound node, below a parent.
    void ApplyAutoLimits(KQovNode* node);

private:
    KQovLimits* Limit(int index) const;
    bool* Active(int index) const;
    KQovNode* Node() const { return mLimits ? mLimits->node : nullptr; }

    KQovNodeLimits* mLimits;
    double mAxisLength = 1.0;
};
