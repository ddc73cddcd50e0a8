#pragma once
// A texture ("Texture::"): an image file, or the media clip holding it, with
// its placement on the surface, its use, blend mode and alpha. Its take nodes
// hold "Translation", "Rotation", "Scaling" and "Alpha" channels, which are
// not linked to its properties: the setters write both.

#include <cstdint>
#include <string>

#include "foundation/KError.h"
#include "foundation/KString.h"
#include "foundation/KVector2.h"
#include "foundation/KVector4.h"
#include "scene/KQovTakeNodeContainer.h"

class KObject;
class KQovTextureProperties;

class KQovTexture : public KQovTakeNodeContainer {
public:
    enum : int { eAlphaNone = 0, eAlphaRGBIntensity = 1, eAlphaBlack = 2 };
    enum : int {
        eMappingNone = 0,
        eMappingPlanar = 1,
        eMappingSpherical = 2,
        eMappingCylindrical = 3,
        eMappingBox = 4,
        eMappingFace = 5,
        eMappingUV = 6,
        eMappingEnvironment = 7,
    };
    enum : int { eNormalX = 0, eNormalY = 1, eNormalZ = 2 };
    // Texture uses (file codes).
    enum : int {
        eUseStandard = 0,
        eUseShadowMap = 1,
        eUseLightMap = 2,
        eUseSphericalReflexionMap = 3,
        eUseSphereReflexionMap = 4,
        eUseBumpNormalMap = 5,
    };

    // `name` carries its class prefix.
    KQovTexture(KQovObjectManager* manager, const char* name);
    ~KQovTexture() override;

    void PrepareDestroy() override;
    int GetObjectType() const override { return eTexture; }
    KQovPropertyHandler* GetPropertyHandler() const override;
    KQovTextureProperties* GetTextureProperties() const { return mProperties; }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;
    // "Texture alpha" lives in the "Alpha" channel.
    const char* GetChannelName(const KProperty* property) const override;
    KError& GetTextureError() { return mError; }

    // Back to the values of a new texture.
    void Reset();

    // False (and nothing kept) for a null or empty name.
    bool SetFileName(const char* name);
    bool SetRelativeFileName(const char* name);
    const char* GetFileName() const { return mFileName.Buffer(); }
    const char* GetRelativeFileName() const { return mRelativeFileName.Buffer(); }
    void SetMediaName(const char* name) { mMediaName = name ? name : ""; }
    const char* GetMediaName() const { return mMediaName.Buffer(); }
    KString GetTypeName() const override { return mTypeName; }

    void SetUVTranslation(const KVector2& value) { mUVTranslation = value; }
    KVector2 GetUVTranslation() const { return mUVTranslation; }
    void SetUVScaling(const KVector2& value) { mUVScaling = value; }
    KVector2 GetUVScaling() const { return mUVScaling; }

    // The second and third arguments are c2 and c1, as callers pass them.
    void SetCropping(int32_t c0, int32_t c2, int32_t c1, int32_t c3);
    int32_t GetCroppingC0() const { return mCropping[0]; }
    int32_t GetCroppingC1() const { return mCropping[1]; }
    int32_t GetCroppingC2() const { return mCropping[2]; }
    int32_t GetCroppingC3() const { return mCropping[3]; }

    void SetAlphaSource(int32_t source) { mAlphaSource = source; }
    int32_t GetAlphaSource() const { return mAlphaSource; }
    // Both also set "CurrentMappingType" (a planar mapping by its normal).
    void SetMappingType(int32_t type);
    int32_t GetMappingType() const { return mMappingType; }
    void SetPlanarMappingNormal(int32_t axis);
    int32_t GetPlanarMappingNormal() const { return mPlanarNormal; }

    void SetSwapUV(bool on);
    bool GetSwapUV() const;
    // Mode 0 uses the material; the file keeps the inverse flag.
    void SetMaterialUse(int32_t mode);
    int32_t GetMaterialUse() const;
    // Use codes as above; "TextureTypeUse" keeps its own numbering.
    void SetTextureUse(int32_t use);
    int32_t GetTextureUse() const;
    void SetWrapMode(int32_t u, int32_t v);
    int32_t GetWrapModeU() const;
    int32_t GetWrapModeV() const;
    void SetBlendMode(int32_t mode);
    int32_t GetBlendMode() const;

    // The "Default" take's curves and the matching properties.
    void SetDefaultTranslation(double u, double v);
    void SetDefaultTranslation(const KVector4& value) { SetDefaultTranslation(value[0], value[1]); }
    void SetDefaultRotation(double u, double v, double w);
    void SetDefaultRotation(const KVector4& value) {
        SetDefaultRotation(value[0], value[1], value[2]);
    }
    void SetDefaultScale(double u, double v);
    void SetDefaultScale(const KVector4& value) { SetDefaultScale(value[0], value[1]); }
    double GetDefaultTranslationU() const;
    double GetDefaultTranslationV() const;
    double GetDefaultRotationU() const;
    double GetDefaultRotationV() const;
    double GetDefaultRotationW() const;
    double GetDefaultScaleU() const;
    double GetDefaultScaleV() const;
    KVector4 GetDefaultTranslation() const;
    KVector4 GetDefaultRotation() const;
    KVector4 GetDefaultScale() const;
    void SetDefaultAlpha(double alpha);
    // The "Texture alpha" property.
    double GetDefaultAlpha() const;

    // The connected media clip's property set, or null.
    KObject* GetMediaClip() const;

    // Same name once trailing digits and blanks are dropped, same placement,
    // alpha, cropping, mapping, use and files.
    bool IsEqual(const KQovTexture& other) const;
    // The same for two textures exactly when IsEqual takes them for equal (one of its own for
    // a texture equal to none): a search for equal ones among many compares few.
    std::string GetEqualityKey() const;

private:
    void SetChannel(const char* channel, int row, const double* xyz);
    KVector4 GetChannel(const char* channel, double neutral) const;

    KError mError;
    KQovTextureProperties* mProperties = nullptr;
    int32_t mCropping[4] = {0, 0, 0, 0};
    int32_t mAlphaSource = eAlphaNone;
    int32_t mMappingType = eMappingUV;
    int32_t mPlanarNormal = eNormalX;
    KString mFileName;
    KString mRelativeFileName;
    KString mMediaName;
    KString mTypeName;
    KVector2 mUVScaling{1.0, 1.0};
    KVector2 mUVTranslation{0.0, 0.0};
};
