#pragma once
// A surface material ("Material::"): colours and factors of a Phong-style
// surface, animatable per take. The curves of its "Default" take drive its
// property set; "Shininess" is kept on a 0 to 128 scale there and read and
// written on a 0 to 1 scale here.

#include <string>

#include "foundation/KColor.h"
#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KVector4.h"
#include "scene/KQovTakeNodeContainer.h"

class KQovMaterialProperties;

class KQovMaterial : public KQovTakeNodeContainer {
public:
    // `name` carries its class prefix.
    KQovMaterial(KQovObjectManager* manager, const char* name);
    ~KQovMaterial() override;

    void PrepareDestroy() override;
    int GetObjectType() const override { return eMaterial; }
    KQovPropertyHandler* GetPropertyHandler() const override;
    KQovMaterialProperties* GetMaterialProperties() const { return mProperties; }
    // Emissive, Ambient, Diffuse, Specular, Opacity, Reflectivity, Shininess,
    // each from its property; linked to it in "Default".
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    KError& GetMaterialError() { return mError; }

    // Colours of the "Default" take (alpha ignored on the way in, 1 on the way out).
    void SetDefaultEmissive(const KColor& color);
    void SetDefaultAmbient(const KColor& color);
    void SetDefaultDiffuse(const KColor& color);
    void SetDefaultSpecular(const KColor& color);
    KColor GetDefaultEmissive() const;
    KColor GetDefaultAmbient() const;
    KColor GetDefaultDiffuse() const;
    KColor GetDefaultSpecular() const;
    // The same through x, y, z.
    void SetEmissive(const KVector4& value);
    void SetAmbient(const KVector4& value);
    void SetDiffuse(const KVector4& value);
    void SetSpecular(const KVector4& value);
    void GetEmissive(KVector4& value) const;
    void GetAmbient(KVector4& value) const;
    void GetDiffuse(KVector4& value) const;
    void GetSpecular(KVector4& value) const;

    // Clamped to [0, 1] (a NaN counts as 0).
    void SetDefaultOpacity(double value);
    double GetDefaultOpacity() const;
    void SetDefaultReflectivity(double value);
    double GetDefaultReflectivity() const;
    // 0 to 1 here, times 128 in the curve.
    void SetDefaultShininess(double value);
    double GetDefaultShininess() const;

    void SetShadingModel(const char* model) { mShadingModel = model ? model : ""; }
    const KString& GetShadingModel() const { return mShadingModel; }
    void SetMultiLayer(bool on) { mMultiLayer = on; }
    bool GetMultiLayer() const { return mMultiLayer; }

    // Same prefixed name (case counts), same default colours and factors, same
    // shading model in any case.
    bool IsEqual(const KQovMaterial& other) const;
    // The same for two materials exactly when IsEqual takes them for equal (one of its own for
    // a material equal to none): a search for equal ones among many compares few.
    std::string GetEqualityKey() const;

private:
    void SetColorChannel(const char* channel, const double* rgb);
    void GetColorChannel(const char* channel, double* rgb) const;

    KError mError;
    KQovMaterialProperties* mProperties = nullptr;
    KString mShadingModel;
    bool mMultiLayer = false;
};
