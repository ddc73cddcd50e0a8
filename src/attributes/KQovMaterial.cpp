#include "attributes/KQovMaterial.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "animation/KQovTakeNode.h"
#include "attributes/KQovMaterialProperties.h"
#include "attributes/KQovEqualityKey.h"
#include "attributes/KQovShadingChannels.h"

namespace {

const char* const kMaterialErrors[] = {"Take node error"};
constexpr double kShininessScale = 128.0;
// The colours IsEqual compares.
const char* const kColours[] = {"Ambient", "Diffuse", "Specular", "Emissive"};

double Clamp01(double value) {
    return std::isnan(value) ? 0.0 : KClamp(value, 0.0, 1.0);
}

KColor ToColor(const double* rgb) {
    return KColor(rgb[0], rgb[1], rgb[2], 1.0);
}

}  // namespace

KQovMaterial::KQovMaterial(KQovObjectManager* manager, const char* name)
    : KQovTakeNodeContainer(manager, name, &mError),
      mError(kMaterialErrors, 1),
      mShadingModel("phong") {
    mProperties = new KQovMaterialProperties(this);
    try {
        AddDefaultTakeNode();
    } catch (...) {
        // No destructor runs for a material never made.
        std::exchange(mProperties, nullptr)->Destroy();
        throw;
    }
}

KQovMaterial::~KQovMaterial() {
    KQovMaterialProperties* properties = mProperties;
    mProperties = nullptr;
    properties->Destroy();
}

void KQovMaterial::PrepareDestroy() {
    if (mProperties) mProperties->PrepareDestroy();
}

KQovPropertyHandler* KQovMaterial::GetPropertyHandler() const {
    return mProperties;
}

void KQovMaterial::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    if (!takeNode || !mProperties) return;
    KQovTakeNodeContainer* linker = IsDefaultTakeName(takeNode->GetName()) ? this : nullptr;
    for (int row = 0; row < KQovMaterialProperties::eRowCount; ++row) {
        KProperty* property = mProperties->GetTableProperty(row);
        double values[4] = {0.0, 0.0, 0.0, 1.0};
        KQovGetPropertyNumbers(property, values);
        const char* name = mProperties->GetTableRow(row)->name;
        if (row < KQovMaterialProperties::eOpacity)
            KQovShadingChannels::AddVector(takeNode, name, "Color", values, linker, property);
        else
            KQovShadingChannels::AddSingle(takeNode, name, "Number", values[0], linker, property);
    }
}

void KQovMaterial::SetColorChannel(const char* channel, const double* rgb) {
    for (int c = 0; c < 3; ++c) KQovShadingChannels::SetDefault(*this, channel, c, rgb[c]);
}

void KQovMaterial::GetColorChannel(const char* channel, double* rgb) const {
    for (int c = 0; c < 3; ++c) rgb[c] = KQovShadingChannels::GetDefault(*this, channel, c, 0.0);
}

#define KQOV_MATERIAL_COLOR(Name)                                      \
    void KQovMaterial::SetDefault##Name(const KColor& color) {         \
        const double rgb[3] = {color.mRed, color.mGreen, color.mBlue}; \
        SetColorChannel(#Name, rgb);                                   \
    }                                                                  \
    KColor KQovMaterial::GetDefault##Name() const {                    \
        double rgb[3];                                                 \
        GetColorChannel(#Name, rgb);                                   \
        return ToColor(rgb);                                           \
    }                                                                  \
    void KQovMaterial::Set##Name(const KVector4& value) {              \
        SetColorChannel(#Name, value.mData);                           \
    }                                                                  \
    void KQovMaterial::Get##Name(KVector4& value) const {              \
        GetColorChannel(#Name, value.mData);                           \
    }
KQOV_MATERIAL_COLOR(Emissive)
KQOV_MATERIAL_COLOR(Ambient)
KQOV_MATERIAL_COLOR(Diffuse)
KQOV_MATERIAL_COLOR(Specular)
#undef KQOV_MATERIAL_COLOR

void KQovMaterial::SetDefaultOpacity(double value) {
    KQovShadingChannels::SetDefault(*this, "Opacity", -1, Clamp01(value));
}

double KQovMaterial::GetDefaultOpacity() const {
    return KQovShadingChannels::GetDefault(*this, "Opacity", -1, 0.0);
}

void KQovMaterial::SetDefaultReflectivity(double value) {
    KQovShadingChannels::SetDefault(*this, "Reflectivity", -1, Clamp01(value));
}

double KQovMaterial::GetDefaultReflectivity() const {
    return KQovShadingChannels::GetDefault(*this, "Reflectivity", -1, 0.0);
}

void KQovMaterial::SetDefaultShininess(double value) {
    KQovShadingChannels::SetDefault(*this, "Shininess", -1, Clamp01(value) * kShininessScale);
}

double KQovMaterial::GetDefaultShininess() const {
    return Clamp01(KQovShadingChannels::GetDefault(*this, "Shininess", -1, 0.0) / kShininessScale);
}

bool KQovMaterial::IsEqual(const KQovMaterial& other) const {
    if (std::strcmp(GetName(), other.GetName()) != 0) return false;
    for (const char* channel : kColours) {
        double mine[3], theirs[3];
        GetColorChannel(channel, mine);
        other.GetColorChannel(channel, theirs);
        for (int c = 0; c < 3; ++c)
            if (mine[c] != theirs[c]) return false;
    }
    return GetDefaultOpacity() == other.GetDefaultOpacity() &&
           GetDefaultShininess() == other.GetDefaultShininess() &&
           GetDefaultReflectivity() == other.GetDefaultReflectivity() &&
           mShadingModel.CompareNoCase(other.mShadingModel.Buffer()) == 0;
}

std::string KQovMaterial::GetEqualityKey() const {
    KQovEqualityKey key;
    key.AddText(GetName());
    for (const char* channel : kColours) {
        double rgb[3];
        GetColorChannel(channel, rgb);
        for (double v : rgb) key.Add(v);
    }
    for (double v : {GetDefaultOpacity(), GetDefaultShininess(), GetDefaultReflectivity()}) key.Add(v);
    key.AddText(mShadingModel.Buffer(), true);
    return key.Take(this);
}
