#pragma once
// Storage of geometry layer elements: how the values map onto the geometry (mapping mode), how
// they are referenced (reference mode), a direct array of values and an index array into it.
// The meaning of the modes belongs to the geometry layers. Elements copy by value; material and
// texture references are copied as references, never owned.

#include <cstdint>

#include "foundation/KArray.h"
#include "foundation/KArrayVector4.h"

class KQovMaterial;
class KQovTexture;

class KQovLayerElementBase {
public:
    int32_t GetMappingMode() const { return mMappingMode; }
    void SetMappingMode(int32_t mode) { mMappingMode = mode; }
    int32_t GetReferenceMode() const { return mReferenceMode; }
    void SetReferenceMode(int32_t mode) { mReferenceMode = mode; }

protected:
    KQovLayerElementBase() = default;

private:
    int32_t mMappingMode = 0;
    int32_t mReferenceMode = 0;
};

template <class Item, class DirectArray = KArrayOf<Item>>
class KQovLayerElementTemplate : public KQovLayerElementBase {
public:
    DirectArray& GetDirectArray() { return mDirect; }
    const DirectArray& GetDirectArray() const { return mDirect; }
    KArrayInt& GetIndexArray() { return mIndex; }
    const KArrayInt& GetIndexArray() const { return mIndex; }

private:
    // Declared in this order so the index array is released before the direct array.
    DirectArray mDirect{16};
    KArrayInt mIndex{16};
};

// Normals.
class KQovLayerElement : public KQovLayerElementTemplate<KVector4, KArrayVector4> {};
class KQovLayerElementMaterial : public KQovLayerElementTemplate<KQovMaterial*> {};
class KQovLayerElementPolygonGroup : public KQovLayerElementTemplate<int32_t, KArrayInt> {};
class KQovLayerElementUV : public KQovLayerElementTemplate<KVector2> {};
class KQovLayerElementColor : public KQovLayerElementTemplate<KColor> {};

class KQovLayerElementTexture : public KQovLayerElementTemplate<KQovTexture*> {
public:
    // Textures are referenced index-to-direct unless told otherwise.
    KQovLayerElementTexture() { SetReferenceMode(2); }

    int32_t GetBlendMode() const { return mBlendMode; }
    void SetBlendMode(int32_t mode) { mBlendMode = mode; }
    double GetAlpha() const { return mAlpha; }
    void SetAlpha(double alpha) { mAlpha = alpha; }

private:
    int32_t mBlendMode = 0;
    double mAlpha = 1.0;
};
