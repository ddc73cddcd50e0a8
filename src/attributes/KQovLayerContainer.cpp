#include "attributes/KQovLayerContainer.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <unordered_set>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovObject.h"

namespace {

bool Referenced(const KQovLayerElementBase* e) {
    return e && e->GetReferenceMode() != KQovLayer::eIndex;
}

// Distinct values of an index array; a hash set keeps large meshes linear.
int DistinctCount(const KArrayInt& indices) {
    std::unordered_set<int32_t> seen;
    const int32_t* items = indices.GetArray();
    for (int i = 0; i < indices.GetCount(); ++i) seen.insert(items[i]);
    return int(seen.size());
}

template <class Element, class Item>
int CountOf(const Element* e, const KQovNode* node, int (*connected)(const KQovNode*)) {
    if (!e) return 0;
    if (e->GetReferenceMode() != KQovLayer::eIndex) return e->GetDirectArray().GetCount();
    const int distinct = DistinctCount(e->GetIndexArray());
    const int linked = node && connected ? connected(node) : 0;
    return distinct < linked ? distinct : linked;
}

template <class Element, class Item>
Item* FetchOf(const Element* e, int index, const KQovNode* node, int (*count)(const KQovNode*),
              Item* (*fetch)(const KQovNode*, int)) {
    if (!e) return nullptr;
    if (e->GetReferenceMode() != KQovLayer::eIndex) return e->GetDirectArray().GetAt(index);
    if (!node || !count || !fetch || index < 0 || index >= count(node)) return nullptr;
    return fetch(node, index);
}

template <class Element>
int IndexOf(const Element* e, const char* name, const char* prefix) {
    if (!e || !name) return -1;
    const KString full = KMakePrefixedName(prefix, name);
    const auto& direct = e->GetDirectArray();
    for (int i = 0; i < direct.GetCount(); ++i) {
        const auto* item = direct.GetAt(i);
        const char* itemName = item ? item->GetName() : nullptr;
        if (itemName && KMakePrefixedName(prefix, itemName) == full) return i;
    }
    return -1;
}

// Takes every entry `going` answers true for out of the element; `release` drops the use each
// counted.
template <class Element, class Going, class Release>
void Drop(Element* e, Going going, Release release) {
    if (!e) return;
    auto& direct = e->GetDirectArray();
    // Index positions name the node's connected objects instead: the direct array is not theirs.
    const bool positions = e->GetReferenceMode() != KQovLayer::eIndex;
    for (int i = direct.GetCount() - 1; i >= 0; --i) {
        auto* item = direct.GetAt(i);
        if (!item || !going(static_cast<const KQovObject*>(item))) continue;
        if (positions) release(item);
        direct.RemoveAt(i);
        if (!positions) continue;
        int32_t* index = e->GetIndexArray().GetArray();
        for (int k = 0; k < e->GetIndexArray().GetCount(); ++k)
            index[k] = index[k] == i ? -1 : index[k] > i ? index[k] - 1 : index[k];
    }
}

// Replaces the element's entries `replacement` maps; `move` moves a counted use along.
template <class Element, class Item, class Move>
void ReplaceIn(Element* e, const std::function<Item*(Item*)>& replacement, Move move) {
    if (!e) return;
    auto& direct = e->GetDirectArray();
    for (int i = 0; i < direct.GetCount(); ++i) {
        Item* from = direct.GetAt(i);
        Item* to = from ? replacement(from) : nullptr;
        if (!to || to == from) continue;
        if (Referenced(e)) move(from, to);
        direct.SetAt(i, to);
    }
}

// The entry just added at `index` counted as a use of the scene by `count`, unless the element
// is in index mode (its array names the node's connections and is counted by no one). Out of
// memory, the entry goes again: never held uncounted.
template <class Element, class Count>
int KeepCounted(Element& element, int index, bool scene, Count count) {
    if (index < 0 || !scene || !Referenced(&element)) return index;
    try {
        count();
    } catch (...) {
        element.GetDirectArray().RemoveAt(index);
        throw;
    }
    return index;
}

}  // namespace

KQovLayerContainer::~KQovLayerContainer() {
    ClearLayers();
}

int KQovLayerContainer::CreateLayer() {
    mLayers.push_back(std::make_unique<KQovLayer>());
    return int(mLayers.size()) - 1;
}

KQovLayer* KQovLayerContainer::GetLayer(int index) const {
    return index >= 0 && index < GetLayerCount() ? mLayers[size_t(index)].get() : nullptr;
}

int KQovLayerContainer::GetLayerCount(int type) const {
    int n = 0;
    for (const auto& layer : mLayers) n += layer->GetLayerElement(type) ? 1 : 0;
    return n;
}

int KQovLayerContainer::GetLayerIndex(int n, int type) const {
    for (int i = 0; i < GetLayerCount(); ++i) {
        if (mLayers[size_t(i)]->GetLayerElement(type) && n-- == 0) return i;
    }
    return -1;
}

KQovLayer& KQovLayerContainer::GetLayer0() {
    if (mLayers.empty()) CreateLayer();
    return *mLayers.front();
}

void KQovLayerContainer::ClearLayers() {
    if (mScene) CountUses(false);
    while (!mLayers.empty()) mLayers.pop_back();
}

void KQovLayerContainer::CopyLayers(const KQovLayerContainer& source) {
    if (&source == this) return;
    ClearLayers();
    try {
        for (const auto& layer : source.mLayers) {
            auto copy = std::make_unique<KQovLayer>();
            copy->Copy(*layer);
            mLayers.push_back(std::move(copy));
        }
        if (mScene) CountUses(true);
    } catch (...) {
        // No copy is counted (a count that fails drops its own uses): they go untold.
        mLayers.clear();
        throw;
    }
}

void KQovLayerContainer::CountUses(bool add) const {
    // The first `limit` references, materials before textures layer by layer.
    auto each = [this](size_t limit, auto&& use) {
        size_t n = 0;
        for (const auto& layer : mLayers) {
            if (const KQovLayerElementMaterial* e = layer->GetMaterials(); Referenced(e))
                for (int i = 0; i < e->GetDirectArray().GetCount() && n < limit; ++i, ++n)
                    use(static_cast<KQovObject*>(e->GetDirectArray().GetAt(i)), true);
            if (const KQovLayerElementTexture* e = layer->GetTextures(); Referenced(e))
                for (int i = 0; i < e->GetDirectArray().GetCount() && n < limit; ++i, ++n)
                    use(static_cast<KQovObject*>(e->GetDirectArray().GetAt(i)), false);
        }
    };
    auto release = [this](KQovObject* object, bool material) {
        material ? mScene->RemoveMaterial(object) : mScene->RemoveTexture(object);
    };
    if (!add) {
        each(SIZE_MAX, release);
        return;
    }
    // Out of memory part of the way, the uses counted so far are dropped again: a scene counts
    // every reference of the container or none.
    size_t counted = 0;
    try {
        each(SIZE_MAX, [this, &counted](KQovObject* object, bool material) {
            material ? mScene->AddMaterial(object) : mScene->AddTexture(object);
            ++counted;
        });
    } catch (...) {
        each(counted, release);
        throw;
    }
}

void KQovLayerContainer::SetScene(KQovEntityContainer* scene) {
    if (scene == mScene) return;
    ReleaseScene();
    if (!scene) return;
    mScene = scene;
    try {
        CountUses(true);
    } catch (...) {
        mScene = nullptr;
        throw;
    }
}

void KQovLayerContainer::ForgetEntityContainer(const KQovEntityContainer* scene) {
    if (scene == mScene) mScene = nullptr;
}

void KQovLayerContainer::ForgetObjects(const KQovObject* const* going, size_t count) {
    if (count == 0) return;
    auto listed = [going, count](const KQovObject* object) {
        return std::binary_search(going, going + count, object, std::less<const KQovObject*>());
    };
    for (const auto& layer : mLayers) {
        Drop(layer->GetMaterials(), listed, [this](KQovMaterial* m) {
            if (mScene) mScene->RemoveMaterial(m);
        });
        Drop(layer->GetTextures(), listed, [this](KQovTexture* t) {
            if (mScene) mScene->RemoveTexture(t);
        });
    }
}

void KQovLayerContainer::Replace(const std::function<KQovMaterial*(KQovMaterial*)>& replacement) {
    for (const auto& layer : mLayers)
        ReplaceIn(layer->GetMaterials(), replacement, [this](KQovMaterial* from, KQovMaterial* to) {
            if (!mScene) return;
            mScene->AddMaterial(to);  // first: running out of memory changes nothing
            mScene->RemoveMaterial(from);
        });
}

void KQovLayerContainer::Replace(const std::function<KQovTexture*(KQovTexture*)>& replacement) {
    for (const auto& layer : mLayers)
        ReplaceIn(layer->GetTextures(), replacement, [this](KQovTexture* from, KQovTexture* to) {
            if (!mScene) return;
            mScene->AddTexture(to);
            mScene->RemoveTexture(from);
        });
}

void KQovLayerContainer::ReleaseScene() {
    if (!mScene) return;
    CountUses(false);
    mScene = nullptr;
}

int KQovLayerContainer::GetMaterialCount(int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return CountOf<KQovLayerElementMaterial, KQovMaterial>(
        l ? l->GetMaterials() : nullptr, GetNode(), &KQovShadingScene::ConnectedMaterialCount);
}

int KQovLayerContainer::GetTextureCount(int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return CountOf<KQovLayerElementTexture, KQovTexture>(l ? l->GetTextures() : nullptr, GetNode(),
                                                         &KQovShadingScene::ConnectedTextureCount);
}

KQovMaterial* KQovLayerContainer::GetMaterial(int index, int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return FetchOf(l ? l->GetMaterials() : nullptr, index, GetNode(),
                   &KQovShadingScene::ConnectedMaterialCount, &KQovShadingScene::ConnectedMaterial);
}

KQovTexture* KQovLayerContainer::GetTexture(int index, int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return FetchOf(l ? l->GetTextures() : nullptr, index, GetNode(),
                   &KQovShadingScene::ConnectedTextureCount, &KQovShadingScene::ConnectedTexture);
}

int KQovLayerContainer::GetMaterialIndex(const char* name, int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return IndexOf(l ? l->GetMaterials() : nullptr, name, "Material::");
}

int KQovLayerContainer::GetTextureIndex(const char* name, int layer) const {
    const KQovLayer* l = GetLayer(layer);
    return IndexOf(l ? l->GetTextures() : nullptr, name, "Texture::");
}

bool KQovLayerContainer::OfAnotherManager(const KQovObject* object) const {
    return object && object->GetObjectManager() && GetObjectManager() &&
           object->GetObjectManager() != GetObjectManager();
}

int KQovLayerContainer::AddMaterial(KQovMaterial* material, int layer) {
    if (layer < 0 || OfAnotherManager(material)) return -1;
    while (GetLayerCount() <= layer) CreateLayer();
    auto& element = GetLayer(layer)->MakeMaterials();
    auto& direct = element.GetDirectArray();
    if (direct.Find(material) >= 0) return -1;
    return KeepCounted(element, direct.Add(material), mScene != nullptr,
                       [&] { mScene->AddMaterial(material); });
}

int KQovLayerContainer::AddTexture(KQovTexture* texture, int layer) {
    if (layer < 0 || OfAnotherManager(texture)) return -1;
    while (GetLayerCount() <= layer) CreateLayer();
    auto& element = GetLayer(layer)->MakeTextures();
    auto& direct = element.GetDirectArray();
    if (const int found = direct.Find(texture); found >= 0) return found;
    return KeepCounted(element, direct.Add(texture), mScene != nullptr,
                       [&] { mScene->AddTexture(texture); });
}
