#include "attributes/KQovShadingScene.h"

#include <unordered_set>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMaterialProperties.h"
#include "attributes/KQovTexture.h"
#include "attributes/KQovTextureProperties.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

int ConnectedCount(const KQovNode* node, int classId) {
    KQovPropertyHandler* set = node ? node->GetPropertyHandler() : nullptr;
    return set ? set->GetConnectedObjectCount(classId) : 0;
}

KQovObject* Connected(const KQovNode* node, int index, int classId) {
    if (index < 0 || index >= ConnectedCount(node, classId)) return nullptr;
    auto* set = KObjectSafeCast<KQovPropertyHandler>(
        node->GetPropertyHandler()->GetConnectedObject(index, classId));
    return set ? set->GetOwner() : nullptr;
}

}  // namespace

KQovEntityContainer* KQovShadingScene::OfNewDestination(const KObject* set, int code,
                                                        const KPlug* sender, KPlug* other) {
    if (code != KPlug::eDestinationAdded || sender != set) return nullptr;
    auto* handler = KObjectSafeCast<KQovPropertyHandler>(KObject::FromPlug(other));
    auto* node = handler ? dynamic_cast<KQovNode*>(handler->GetOwner()) : nullptr;
    return node ? node->GetEntityContainer() : nullptr;
}

void KQovShadingScene::Register(KQovEntityContainer* container, KQovMaterial* material) {
    if (container && material && !container->FindMaterial(KString(material->GetName())))
        container->AddMaterial(material);
}

void KQovShadingScene::Register(KQovEntityContainer* container, KQovTexture* texture) {
    if (container && texture && !container->FindTexture(KString(texture->GetName())))
        container->AddTexture(texture);
}

int KQovShadingScene::ConnectedMaterialCount(const KQovNode* node) {
    return ConnectedCount(node, KQovMaterialProperties::ClassId());
}

KQovMaterial* KQovShadingScene::ConnectedMaterial(const KQovNode* node, int index) {
    return static_cast<KQovMaterial*>(Connected(node, index, KQovMaterialProperties::ClassId()));
}

int KQovShadingScene::ConnectedTextureCount(const KQovNode* node) {
    return ConnectedCount(node, KQovTextureProperties::ClassId());
}

KQovTexture* KQovShadingScene::ConnectedTexture(const KQovNode* node, int index) {
    return static_cast<KQovTexture*>(Connected(node, index, KQovTextureProperties::ClassId()));
}

namespace {

// The items a node's property set has connected that no layer of its geometry names, in
// connection order.
template <class Item>
std::vector<Item*> OfModelOnly(const KQovNode* node, int (*count)(const KQovNode*),
                               Item* (*connected)(const KQovNode*, int),
                               int (KQovLayerContainer::*layerCount)(int) const,
                               Item* (KQovLayerContainer::*layerItem)(int, int) const) {
    std::vector<Item*> loose;
    const int n = count(node);
    const KQovGeometry* geometry = n > 0 ? node->GetGeometry() : nullptr;
    if (!geometry) return loose;
    std::unordered_set<const Item*> seen;
    for (int layer = 0; layer < geometry->GetLayerCount(); ++layer)
        for (int i = 0; i < (geometry->*layerCount)(layer); ++i)
            seen.insert((geometry->*layerItem)(i, layer));
    for (int i = 0; i < n; ++i)
        if (Item* item = connected(node, i))
            if (seen.insert(item).second) loose.push_back(item);
    return loose;
}

}  // namespace

std::vector<KQovTexture*> KQovShadingScene::TexturesOfModelOnly(const KQovNode* node) {
    return OfModelOnly(node, &ConnectedTextureCount, &ConnectedTexture,
                       &KQovGeometry::GetTextureCount, &KQovGeometry::GetTexture);
}

std::vector<KQovMaterial*> KQovShadingScene::MaterialsOfModelOnly(const KQovNode* node) {
    return OfModelOnly(node, &ConnectedMaterialCount, &ConnectedMaterial,
                       &KQovGeometry::GetMaterialCount, &KQovGeometry::GetMaterial);
}
