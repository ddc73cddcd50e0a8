#pragma once
// The property set of a texture: its placement (translation, rotation,
// scaling, alpha: animatable), its use, blend mode, mapping and wrap modes,
// the two pivots, and the media clip it shows.

#include "scene/KQovPropertyHandler.h"

class KPropertyObjectList;
class KQovTexture;

class KQovTextureProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovTextureProperties)
public:
    enum : int {
        eTranslation,
        eRotation,
        eScaling,
        eTextureAlpha,
        eTextureTypeUse,
        eCurrentTextureBlendMode,
        eUseMaterial,
        eUseMipMap,
        eCurrentMappingType,
        eUVSwap,
        eWrapModeU,
        eWrapModeV,
        eTextureRotationPivot,
        eTextureScalingPivot,
        eVideoProperty,
        eRowCount
    };
    // "CurrentMappingType" values.
    enum : int {
        eMapUV = 0,
        eMapZ = 1,
        eMapX = 2,
        eMapY = 3,
        eMapSpherical = 4,
        eMapCylindrical = 5,
        eMapEnvironment = 6,
        eMapProjection = 7,
        eMapBox = 8,
        eMapFace = 9,
        eMapNone = 10,
    };

    explicit KQovTextureProperties(KQovTexture* texture);
    // Connected to an object of a scene, the texture registers with that scene
    // unless the scene already holds a texture of its name.
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;
    static const KQovPropertyDescriptor* GetDescriptors();

    // The stored value of a row (its first component), read and written
    // without events; the animatable rows go through their property.
    double GetNumber(int row) const;
    void SetNumber(int row, double value);
    // x, y, z of a vector row.
    void GetVector(int row, double* xyz) const;
    void SetVector(int row, const double* xyz);

    // The media clip "VideoProperty" refers to (its property set), or null.
    KObject* GetMediaClip() const;
    KPropertyObjectList* GetVideoProperty() const;

    // Labels of the enum rows; null past their ends.
    static const char* GetTextureUseName(int value);
    static const char* GetBlendModeName(int value);
    static const char* GetMappingTypeName(int value);
    static const char* GetWrapModeName(int value);
};
