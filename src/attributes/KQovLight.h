#pragma once
// The light attribute: kind, display options, an optional gobo image (named by
// file) and four animated values (colour, intensity, cone angle, fog) with a
// channel each in every take of the light's node.

#include "attributes/KQovAttributeCommon.h"

class KQovLight;

class KQovLightProperties : public KQovAttributeProperties {
    KQOV_CLASS(KQovLightProperties)
public:
    enum : int {
        eLightType,
        eCastLightOnObject,
        eDrawVolumetricLight,
        eDrawGroundProjection,
        eDrawFrontFacingVolumetricLight,
        eGoboProperty,
        eColor,
        eIntensity,
        eConeAngle,
        eFog,
        eRowCount
    };
    KQovLightProperties();

    // The light owning the set: "GoboProperty" reads and writes its gobo.
    KQovLight* GetLight() const { return mLight; }
    void SetLight(KQovLight* light) { mLight = light; }

private:
    KQovLight* mLight = nullptr;
};

class KQovLight : public KQovPropertySetAttribute {
public:
    enum : int { ePoint = 0, eInfinite = 1, eSpot = 2 };

    explicit KQovLight(KQovObjectManager* manager);
    ~KQovLight() override;

    int GetAttributeType() const override { return eLight; }
    KString GetTypeName() const override { return KString("Light"); }
    KStringList GetTypeNames() const override { return KQovTypeNames({"Light"}); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override;

    int GetLightType() const;
    void SetLightType(int type);
    bool GetCastLightOnObject() const;
    void SetCastLightOnObject(bool on);
    bool GetDrawVolumetricLight() const;
    void SetDrawVolumetricLight(bool on);
    bool GetDrawGroundProjection() const;
    void SetDrawGroundProjection(bool on);
    bool GetDrawFrontFacingVolumetricLight() const;
    void SetDrawFrontFacingVolumetricLight(bool on);

    bool SetGoboFileName(const char* name);
    // Null when the light has no gobo.
    const char* GetGoboFileName() const;

    // The default take's curves; the property's value when the light has no
    // node or the curve is missing.
    void GetDefaultColor(double& r, double& g, double& b) const;
    double GetDefaultIntensity() const;
    double GetDefaultConeAngle() const;
    double GetDefaultFog() const;
    // The default take's curves when there is a node, and always the property.
    void SetDefaultColor(double r, double g, double b);
    void SetDefaultIntensity(double value);
    void SetDefaultConeAngle(double value);
    void SetDefaultFog(double value);

private:
    KProperty* Row(int row) const { return GetPropertySet()->GetTableProperty(row); }
    KQovLightProperties* LightSet() const { return static_cast<KQovLightProperties*>(GetPropertySet()); }
    double GetDefault(int row) const;
    void SetDefault(int row, double value);

    KString mGoboFileName;
};
