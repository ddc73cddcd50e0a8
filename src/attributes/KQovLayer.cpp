#include "attributes/KQovLayer.h"

#include <utility>

namespace {

template <class T>
std::unique_ptr<T> Swap(std::unique_ptr<T>& slot, std::unique_ptr<T> e) {
    std::swap(slot, e);
    return e;
}

template <class T>
T& Make(std::unique_ptr<T>& slot) {
    if (!slot) slot = std::make_unique<T>();
    return *slot;
}

template <class T>
void CopySlot(std::unique_ptr<T>& slot, const std::unique_ptr<T>& source) {
    if (source) slot = std::make_unique<T>(*source);
}

}  // namespace

KQovLayerElementBase* KQovLayer::GetLayerElement(int type, int defaultType) const {
    if (type == -1) type = defaultType;
    switch (type) {
        case eNormal: return mNormals.get();
        case eMaterial: return mMaterials.get();
        case eTexture: return mTextures.get();
        case ePolygonGroup: return mPolygonGroups.get();
        case eUV: return mUVs.get();
        case eVertexColor: return mVertexColors.get();
        default: return nullptr;
    }
}

std::unique_ptr<KQovLayerElement> KQovLayer::SetNormals(std::unique_ptr<KQovLayerElement> e) {
    return Swap(mNormals, std::move(e));
}
std::unique_ptr<KQovLayerElementMaterial> KQovLayer::SetMaterials(
    std::unique_ptr<KQovLayerElementMaterial> e) {
    return Swap(mMaterials, std::move(e));
}
std::unique_ptr<KQovLayerElementTexture> KQovLayer::SetTextures(
    std::unique_ptr<KQovLayerElementTexture> e) {
    return Swap(mTextures, std::move(e));
}
std::unique_ptr<KQovLayerElementPolygonGroup> KQovLayer::SetPolygonGroups(
    std::unique_ptr<KQovLayerElementPolygonGroup> e) {
    return Swap(mPolygonGroups, std::move(e));
}
std::unique_ptr<KQovLayerElementUV> KQovLayer::SetUVs(std::unique_ptr<KQovLayerElementUV> e) {
    return Swap(mUVs, std::move(e));
}
std::unique_ptr<KQovLayerElementColor> KQovLayer::SetVertexColors(
    std::unique_ptr<KQovLayerElementColor> e) {
    return Swap(mVertexColors, std::move(e));
}

KQovLayerElement& KQovLayer::MakeNormals() { return Make(mNormals); }
KQovLayerElementMaterial& KQovLayer::MakeMaterials() { return Make(mMaterials); }
KQovLayerElementTexture& KQovLayer::MakeTextures() { return Make(mTextures); }
KQovLayerElementUV& KQovLayer::MakeUVs() { return Make(mUVs); }

void KQovLayer::Clear() {
    mNormals.reset();
    mMaterials.reset();
    mTextures.reset();
    mPolygonGroups.reset();
    mUVs.reset();
    mVertexColors.reset();
}

void KQovLayer::Copy(const KQovLayer& source) {
    if (&source == this) return;
    Clear();
    CopySlot(mNormals, source.mNormals);
    CopySlot(mMaterials, source.mMaterials);
    CopySlot(mTextures, source.mTextures);
    CopySlot(mPolygonGroups, source.mPolygonGroups);
    CopySlot(mUVs, source.mUVs);
    CopySlot(mVertexColors, source.mVertexColors);
}
