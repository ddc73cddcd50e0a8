#include "attributes/KQovLight.h"

#include "scene/KPropertyObjectList.h"
#include "scene/KQovTakeNodeContainer.h"

namespace {

const char* const kLightTypeNames[] = {"Point Light", "Infinite Light", "Spot Light", nullptr};

int LightPropertiesClassId() {
    return KQovLightProperties::ClassId();
}

// The gobo row's value is the owning light's gobo file name: SetValue takes
// the name's text (null allowed), GetValue stores a const char* (null when
// there is none) into the buffer.
class KQovGoboProperty : public KPropertyObjectList {
public:
    void GetValue(void* buffer) override {
        KQovLight* light = Light();
        *static_cast<const char**>(buffer) = light ? light->GetGoboFileName() : nullptr;
    }
    void SetValue(const void* value) override {
        if (KQovLight* light = Light()) light->SetGoboFileName(static_cast<const char*>(value));
    }

private:
    KQovLight* Light() const {
        auto* set = dynamic_cast<KQovLightProperties*>(GetOwnerObject());
        return set ? set->GetLight() : nullptr;
    }
};

KPropertyObjectList* MakeGoboProperty() {
    return new KQovGoboProperty();
}

const KQovPropertyDescriptor kLightRows[] = {
    KQovAttributeRows::Embedded("LightType", KProperty::eENUM, 0.0, 0.0, 0.0, kLightTypeNames),
    KQovAttributeRows::Embedded("CastLightOnObject", KProperty::eBOOL, 1.0),
    KQovAttributeRows::Embedded("DrawVolumetricLight", KProperty::eBOOL, 1.0),
    KQovAttributeRows::Embedded("DrawGroundProjection", KProperty::eBOOL, 1.0),
    KQovAttributeRows::Embedded("DrawFrontFacingVolumetricLight", KProperty::eBOOL),
    [] {
        KQovPropertyDescriptor d{"GoboProperty", KProperty::eOBJECT};
        d.form = KQovPropertyDescriptor::eObjectList;
        d.objectClass = &LightPropertiesClassId;
        d.objectWord = 1;
        d.objectDirection = KPlug::eAcceptsSources;
        d.makeObjectList = &MakeGoboProperty;
        return d;
    }(),
    KQovAttributeRows::Animatable("Color", "Color", 1.0, 1.0, 1.0),
    KQovAttributeRows::Animatable("Intensity", "Intensity", 100.0),
    KQovAttributeRows::Animatable("Cone angle", "Cone angle", 45.0),
    KQovAttributeRows::Animatable("Fog", "Fog", 50.0),
};

struct ChannelRow {
    int row;
    KQovAttributeChannel channel;
};

// The channels in creation order; "Color" shows its components red, green, blue.
const ChannelRow kLightChannelRows[] = {
    {KQovLightProperties::eColor, {"Color", 3}},
    {KQovLightProperties::eIntensity, {"Intensity", 1, nullptr, {0.97f, 0.91f, 0.11f}}},
    {KQovLightProperties::eConeAngle, {"Cone angle", 1, nullptr, {0.82f, 0.1f, 0.71f}}},
    {KQovLightProperties::eFog, {"Fog", 1, nullptr, {0.82f, 0.38f, 0.1f}}},
};

}  // namespace

KQovLightProperties::KQovLightProperties() : KQovAttributeProperties(kLightRows, eRowCount) {}

KQovLight::KQovLight(KQovObjectManager* manager)
    : KQovPropertySetAttribute(manager, new KQovLightProperties()) {
    LightSet()->SetLight(this);
}

KQovLight::~KQovLight() {
    KQovLeaveNode(this);
    LightSet()->SetLight(nullptr);  // the set outlives this part of the light
}

void KQovLight::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    for (const ChannelRow& entry : kLightChannelRows) {
        // Every take starts from the table's defaults, whatever the property holds.
        KQovInitAttributeChannel(this, takeNode, entry.channel, Row(entry.row),
                                 kLightRows[entry.row].defaultValue);
    }
}

void KQovLight::RemoveTakeNodeChannels(KQovTakeNode* takeNode) {
    for (const ChannelRow& entry : kLightChannelRows)
        KQovRemoveAttributeChannel(takeNode, entry.channel.name);
}

int KQovLight::GetLightType() const {
    return GetPropertySet()->GetInt(KQovLightProperties::eLightType);
}

void KQovLight::SetLightType(int type) {
    GetPropertySet()->SetNumber(KQovLightProperties::eLightType, type);
}

bool KQovLight::GetCastLightOnObject() const {
    return GetPropertySet()->GetBool(KQovLightProperties::eCastLightOnObject);
}

void KQovLight::SetCastLightOnObject(bool on) {
    GetPropertySet()->SetNumber(KQovLightProperties::eCastLightOnObject, on);
}

bool KQovLight::GetDrawVolumetricLight() const {
    return GetPropertySet()->GetBool(KQovLightProperties::eDrawVolumetricLight);
}

void KQovLight::SetDrawVolumetricLight(bool on) {
    GetPropertySet()->SetNumber(KQovLightProperties::eDrawVolumetricLight, on);
}

bool KQovLight::GetDrawGroundProjection() const {
    return GetPropertySet()->GetBool(KQovLightProperties::eDrawGroundProjection);
}

void KQovLight::SetDrawGroundProjection(bool on) {
    GetPropertySet()->SetNumber(KQovLightProperties::eDrawGroundProjection, on);
}

bool KQovLight::GetDrawFrontFacingVolumetricLight() const {
    return GetPropertySet()->GetBool(KQovLightProperties::eDrawFrontFacingVolumetricLight);
}

void KQovLight::SetDrawFrontFacingVolumetricLight(bool on) {
    GetPropertySet()->SetNumber(KQovLightProperties::eDrawFrontFacingVolumetricLight, on);
}

bool KQovLight::SetGoboFileName(const char* name) {
    mGoboFileName = name ? name : "";
    return true;
}

const char* KQovLight::GetGoboFileName() const {
    return mGoboFileName.IsEmpty() ? nullptr : mGoboFileName.Buffer();
}

double KQovLight::GetDefault(int row) const {
    return KQovGetDefaultValue(this, kLightRows[row].name, nullptr, Row(row));
}

void KQovLight::SetDefault(int row, double value) {
    KQovSetDefaultValue(this, kLightRows[row].name, nullptr, Row(row), 0, value);
}

void KQovLight::GetDefaultColor(double& r, double& g, double& b) const {
    double* out[3] = {&r, &g, &b};
    for (int i = 0; i < 3; ++i)
        *out[i] = KQovGetDefaultValue(this, "Color", KQovTakeNodeContainer::GetComponentName(i),
                                      Row(KQovLightProperties::eColor), i);
}

void KQovLight::SetDefaultColor(double r, double g, double b) {
    const double values[3] = {r, g, b};
    KQovSetDefaultValues(this, "Color", Row(KQovLightProperties::eColor), values, 3);
}

double KQovLight::GetDefaultIntensity() const {
    return GetDefault(KQovLightProperties::eIntensity);
}

double KQovLight::GetDefaultConeAngle() const {
    return GetDefault(KQovLightProperties::eConeAngle);
}

double KQovLight::GetDefaultFog() const {
    return GetDefault(KQovLightProperties::eFog);
}

void KQovLight::SetDefaultIntensity(double value) {
    SetDefault(KQovLightProperties::eIntensity, value);
}

void KQovLight::SetDefaultConeAngle(double value) {
    SetDefault(KQovLightProperties::eConeAngle, value);
}

void KQovLight::SetDefaultFog(double value) {
    SetDefault(KQovLightProperties::eFog, value);
}
