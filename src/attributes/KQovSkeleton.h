#pragma once
// The skeleton segment attribute (root, limb or limb node); it has no channels.

#include "attributes/KQovAttributeCommon.h"

class KQovSkeletonProperties : public KQovAttributeProperties {
    KQOV_CLASS(KQovSkeletonProperties)
public:
    enum : int { eSize, eLimbLength, eColor, eRowCount };
    KQovSkeletonProperties();
};

class KQovSkeleton : public KQovPropertySetAttribute {
public:
    enum : int { eRoot = 0, eLimb = 1, eLimbNode = 2, eRootAlternate = 3 };
    // Persistent flag of "Color" while the kind shows no colour.
    enum : uint32_t { eColorHidden = 16 };

    explicit KQovSkeleton(KQovObjectManager* manager);
    ~KQovSkeleton() override { KQovLeaveNode(this); }

    int GetAttributeType() const override { return eSkeleton; }
    bool HasTakeNodeChannels() const override { return false; }
    // "Root" for kinds 0 and 3, "Limb", "LimbNode"; empty for other kinds.
    KString GetTypeName() const override;
    KStringList GetTypeNames() const override;

    void SetSkeletonType(int kind);
    int GetSkeletonType() const { return mKind; }
    // Only a limb has a length: false and nothing changed for other kinds.
    bool SetLimbLength(double length);
    double GetLimbLength() const;
    void SetSize(double size);
    double GetSize() const;
    // Only limbs and limb nodes have a colour: false for other kinds.
    bool SetColor(double r, double g, double b);
    KColor GetColor() const;
    static KColor GetDefaultColor() { return KColor(0.8, 0.8, 0.8, 1.0); }
    void Reset();

    bool IsLimbLengthSet() const { return mLimbLengthSet; }
    bool IsSizeSet() const { return mSizeSet; }
    bool IsColorSet() const { return mColorSet; }
    bool IsKindSet() const { return mKindSet; }

private:
    static bool HasColor(int kind) { return kind == eLimb || kind == eLimbNode; }
    void UpdateColorFlag();

    KQovSkeletonProperties* mProperties;
    int32_t mKind = eRoot;
    bool mLimbLengthSet = false;
    bool mSizeSet = false;
    bool mColorSet = false;
    bool mKindSet = false;
};
