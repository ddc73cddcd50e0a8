#pragma once
// A geometry layer: up to six owned elements (normals, materials, textures, polygon groups,
// UVs, vertex colours) over the element storage records of the foundation.

#include <memory>

#include "foundation/KQovLayerElement.h"

class KQovLayer {
public:
    // Element kinds, also the slot order.
    enum : int {
        eNormal = 1,
        eMaterial = 2,
        eTexture = 3,
        ePolygonGroup = 4,
        eUV = 5,
        eVertexColor = 6,
    };
    // Mapping modes.
    enum : int { eNone = 0, eByControlPoint = 1, eByPolygonVertex = 2, eByPolygon = 3, eAllSame = 4 };
    // Reference modes.
    enum : int { eDirect = 0, eIndex = 1, eIndexToDirect = 2 };

    KQovLayer() = default;
    KQovLayer(const KQovLayer&) = delete;
    KQovLayer& operator=(const KQovLayer&) = delete;
    virtual ~KQovLayer() = default;

    KQovLayerElement* GetNormals() const { return mNormals.get(); }
    KQovLayerElementMaterial* GetMaterials() const { return mMaterials.get(); }
    KQovLayerElementTexture* GetTextures() const { return mTextures.get(); }
    KQovLayerElementPolygonGroup* GetPolygonGroups() const { return mPolygonGroups.get(); }
    KQovLayerElementUV* GetUVs() const { return mUVs.get(); }
    KQovLayerElementColor* GetVertexColors() const { return mVertexColors.get(); }
    // The element of a kind 1..6; type -1 stands for defaultType; null for any other number.
    KQovLayerElementBase* GetLayerElement(int type, int defaultType = -1) const;

    // Each setter takes the element over and hands back the one it replaces (null when empty).
    std::unique_ptr<KQovLayerElement> SetNormals(std::unique_ptr<KQovLayerElement> e);
    std::unique_ptr<KQovLayerElementMaterial> SetMaterials(std::unique_ptr<KQovLayerElementMaterial> e);
    std::unique_ptr<KQovLayerElementTexture> SetTextures(std::unique_ptr<KQovLayerElementTexture> e);
    std::unique_ptr<KQovLayerElementPolygonGroup> SetPolygonGroups(
        std::unique_ptr<KQovLayerElementPolygonGroup> e);
    std::unique_ptr<KQovLayerElementUV> SetUVs(std::unique_ptr<KQovLayerElementUV> e);
    std::unique_ptr<KQovLayerElementColor> SetVertexColors(std::unique_ptr<KQovLayerElementColor> e);

    // The slot's element, created empty (with the kind's construction modes) when missing.
    KQovLayerElement& MakeNormals();
    KQovLayerElementMaterial& MakeMaterials();
    KQovLayerElementTexture& MakeTextures();
    KQovLayerElementUV& MakeUVs();

    void Clear();
    // Clears this layer, then copies every element of the source (references stay references).
    void Copy(const KQovLayer& source);

private:
    std::unique_ptr<KQovLayerElement> mNormals;
    std::unique_ptr<KQovLayerElementMaterial> mMaterials;
    std::unique_ptr<KQovLayerElementTexture> mTextures;
    std::unique_ptr<KQovLayerElementPolygonGroup> mPolygonGroups;
    std::unique_ptr<KQovLayerElementUV> mUVs;
    std::unique_ptr<KQovLayerElementColor> mVertexColors;
};

// An element seen from its layer: type -1 or the element's own (default) type gives the element
// itself, even one its layer does not hold; any other type the layer's element of that type.
class KLayerElementLookup {
public:
    KLayerElementLookup(const KQovLayer* layer, KQovLayerElementBase* element, int defaultType)
        : mLayer(layer), mElement(element), mDefaultType(defaultType) {}

    KQovLayerElementBase* GetData(int type) const {
        if (type == -1 || type == mDefaultType) return mElement;
        return mLayer ? mLayer->GetLayerElement(type) : nullptr;
    }
    int GetDefaultType() const { return mDefaultType; }

private:
    const KQovLayer* mLayer;
    KQovLayerElementBase* mElement;
    int mDefaultType;
};
