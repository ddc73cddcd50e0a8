#pragma once
// Where materials and textures meet the scene of the nodes that use them: the
// entity container of a node's scene counts their uses, and a node's property
// set lists the materials and textures connected to it.

#include <vector>

class KObject;
class KPlug;
class KQovEntityContainer;
class KQovMaterial;
class KQovNode;
class KQovTexture;

class KQovShadingScene {
public:
    // For a property set told of connection event `code` by `sender`: the
    // container of the node whose property set `set` itself just gained as a
    // destination; null otherwise or when that node belongs to no scene.
    static KQovEntityContainer* OfNewDestination(const KObject* set, int code, const KPlug* sender,
                                                 KPlug* other);
    // Registered once per name: a namesake of a listed one is not added.
    static void Register(KQovEntityContainer* container, KQovMaterial* material);
    static void Register(KQovEntityContainer* container, KQovTexture* texture);

    // Connected to the node's property set, in connection order.
    static int ConnectedMaterialCount(const KQovNode* node);
    static KQovMaterial* ConnectedMaterial(const KQovNode* node, int index);
    static int ConnectedTextureCount(const KQovNode* node);
    static KQovTexture* ConnectedTexture(const KQovNode* node, int index);
    // Those connected textures that no layer of the node's geometry names (tied to the model
    // alone), in connection order; none for a node without geometry.
    static std::vector<KQovTexture*> TexturesOfModelOnly(const KQovNode* node);
    // The same for the connected materials.
    static std::vector<KQovMaterial*> MaterialsOfModelOnly(const KQovNode* node);
};
