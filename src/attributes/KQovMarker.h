#pragma once
// The marker attribute: a locator that is a plain marker, an optical marker or
// an IK or FK effector. Its kind decides its type name and the channels its
// node's takes carry (curves that belong to no property).

#include "attributes/KQovAttributeCommon.h"
#include "foundation/KVector4.h"

class KQovMarkerProperties : public KQovAttributeProperties {
    KQOV_CLASS(KQovMarkerProperties)
public:
    enum : int { eLook, eSize, eColor, eShowLabel, eIKPivot, eRowCount };
    KQovMarkerProperties();
};

class KQovMarker : public KQovPropertySetAttribute {
public:
    enum : int { eStandard = 0, eOptical = 1, eIKEffector = 2, eFKEffector = 3 };
    enum : int { eCube = 0, eHardCross = 1, eLightCross = 2, eSphere = 3 };

    explicit KQovMarker(KQovObjectManager* manager);
    ~KQovMarker() override { KQovLeaveNode(this); }

    int GetAttributeType() const override { return eMarker; }
    int GetMarkerKind() const override { return mKind; }
    // "Marker", "OpticalMarker", "IKEffector", "FKEffector"; "Marker" for other kinds.
    KString GetTypeName() const override;
    KStringList GetTypeNames() const override { return KQovTypeNames({"Marker"}); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override;

    // A new kind replaces the old kind's channels in every take of the node.
    void SetType(int kind);
    int GetType() const { return mKind; }

    void SetLook(int look);
    int GetLook() const;
    void SetSize(double size);
    double GetSize() const;
    void SetColor(double r, double g, double b, double a = 1.0);
    void SetColorFromKColor(const KColor& color);
    KColor GetColor() const;
    void SetShowLabel(bool show);
    bool GetShowLabel() const;
    void SetIKPivot(const KVector4& pivot);
    KVector4 GetIKPivot() const;

    // IK effectors only: the default value of the default take's reach curve.
    // 0.0 (and a setter does nothing) for other kinds or without node or curve.
    double GetDefaultIKReachTranslation() const;
    double GetDefaultIKReachRotation() const;
    void SetDefaultIKReachTranslation(double value);
    void SetDefaultIKReachRotation(double value);

    void Reset();

private:
    double GetReach(const char* channel) const;
    void SetReach(const char* channel, double value);

    KQovMarkerProperties* mProperties;
    int32_t mKind = eStandard;
};
