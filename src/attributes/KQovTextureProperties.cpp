#include "attributes/KQovTextureProperties.h"

#include <algorithm>

#include "attributes/KQovShadingScene.h"
#include "scene/KQovEntityContainer.h"
#include "attributes/KQovTexture.h"
#include "scene/KPropertyObjectList.h"

namespace {

using D = KQovPropertyDescriptor;

const char* const kUseNames[] = {
    "Color",     "Spherical Reflection Map", "Sphere Map", "Shadow Map",
    "Light Map", "Bump Map (NormalMap)",     nullptr};
const char* const kBlendNames[] = {"Translucent", "Additive", "Modulate", "Modulate2", nullptr};
const char* const kMappingNames[] = {"UV",        "Z",           "X",           "Y",
                                     "Spherical", "Cylindrical", "Environment", "Projection",
                                     "Box",       "Face",        "None",        nullptr};
const char* const kWrapNames[] = {"Repeat", "Clamp", nullptr};

int VideoClassId() {
    return gKQovVideoPropertiesClassInfo.id;
}

D Created(const char* name, const char* dataType, double value) {
    D d{name, 0, dataType};
    d.form = D::eCreated;
    d.animatable = true;
    d.userFlags = 8;
    d.defaultValue[0] = d.defaultValue[1] = d.defaultValue[2] = value;
    return d;
}
D EnumRow(const char* name, const char* const* labels, double value = 0.0) {
    D d{name, KProperty::eENUM};
    d.enumLabels = labels;
    d.defaultValue[0] = value;
    return d;
}
D BoolRow(const char* name) {
    return D{name, KProperty::eBOOL};
}
D Vector(const char* name) {
    return D{name, KProperty::eVECTOR3D};
}
D Clip(const char* name) {
    D d{name, KProperty::eOBJECT};
    d.form = D::eObjectList;
    d.objectClass = &VideoClassId;
    d.objectWord = 1;  // one clip
    d.objectDirection = KPlug::eAcceptsSources;
    return d;
}

const D kTextureRows[KQovTextureProperties::eRowCount] = {
    Created("Translation", "Vector", 0.0),
    Created("Rotation", "Vector", 0.0),
    Created("Scaling", "Vector", 1.0),
    Created("Texture alpha", "Number", 1.0),
    EnumRow("TextureTypeUse", kUseNames),
    EnumRow("CurrentTextureBlendMode", kBlendNames, 1.0),
    BoolRow("UseMaterial"),
    BoolRow("UseMipMap"),
    EnumRow("CurrentMappingType", kMappingNames),
    BoolRow("UVSwap"),
    EnumRow("WrapModeU", kWrapNames),
    EnumRow("WrapModeV", kWrapNames),
    Vector("TextureRotationPivot"),
    Vector("TextureScalingPivot"),
    Clip("VideoProperty"),
};

template <size_t N>
const char* Label(const char* const (&labels)[N], int value) {
    return value >= 0 && size_t(value) + 1 < N ? labels[value] : nullptr;
}

}  // namespace

KQovTextureProperties::KQovTextureProperties(KQovTexture* texture) : KQovPropertyHandler(texture) {
    CreateTableProperties(kTextureRows, eRowCount);
}

bool KQovTextureProperties::Notify(const KPlugChain* chain, int code, KPlug* sender, int index,
                                   KPlug* other, int type, void* extra) {
    if (KQovEntityContainer* scene = KQovShadingScene::OfNewDestination(this, code, sender, other))
        KQovShadingScene::Register(scene, static_cast<KQovTexture*>(GetOwner()));
    return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
}

const KQovPropertyDescriptor* KQovTextureProperties::GetDescriptors() {
    return kTextureRows;
}

double KQovTextureProperties::GetNumber(int row) const {
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    GetVector(row, values);
    return values[0];
}

void KQovTextureProperties::SetNumber(int row, double value) {
    const double values[3] = {value, 0.0, 0.0};
    if (KQovEmbeddedProperty* p = GetEmbedded(row))
        p->SetNumbers(values, 1);
    else
        KQovSetPropertyNumbers(GetTableProperty(row), values, 1);
}

void KQovTextureProperties::GetVector(int row, double* xyz) const {
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    if (const KQovEmbeddedProperty* p = GetEmbedded(row))
        std::copy(p->GetNumbers(), p->GetNumbers() + 3, values);
    else
        KQovGetPropertyNumbers(GetTableProperty(row), values);
    std::copy(values, values + 3, xyz);
}

void KQovTextureProperties::SetVector(int row, const double* xyz) {
    if (KQovEmbeddedProperty* p = GetEmbedded(row))
        p->SetNumbers(xyz, 3);
    else
        KQovSetPropertyNumbers(GetTableProperty(row), xyz, 3);
}

KPropertyObjectList* KQovTextureProperties::GetVideoProperty() const {
    return static_cast<KPropertyObjectList*>(GetTableProperty(eVideoProperty));
}

KObject* KQovTextureProperties::GetMediaClip() const {
    KPropertyObjectList* list = GetVideoProperty();
    return list && list->GetCount() > 0 ? list->GetAt(0) : nullptr;
}

const char* KQovTextureProperties::GetTextureUseName(int value) {
    return Label(kUseNames, value);
}
const char* KQovTextureProperties::GetBlendModeName(int value) {
    return Label(kBlendNames, value);
}
const char* KQovTextureProperties::GetMappingTypeName(int value) {
    return Label(kMappingNames, value);
}
const char* KQovTextureProperties::GetWrapModeName(int value) {
    return Label(kWrapNames, value);
}
