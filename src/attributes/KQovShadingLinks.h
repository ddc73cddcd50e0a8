#pragma once
// What geometry layers need of materials, textures and the scene's entity container, reached
// through a small table of hooks so that the layers build before those classes exist. The
// entity container fills the table when it is linked in; until then every hook answers "none".

class KQovMaterial;
class KQovNode;
class KQovTexture;

// Use counts kept by a scene: one use per material or texture referenced by a registered layer.
class KQovShadingUses {
public:
    virtual ~KQovShadingUses() = default;
    virtual void AddMaterialUse(KQovMaterial* material) = 0;
    virtual void ReleaseMaterialUse(KQovMaterial* material) = 0;
    virtual void AddTextureUse(KQovTexture* texture) = 0;
    virtual void ReleaseTextureUse(KQovTexture* texture) = 0;
};

struct KQovShadingLinks {
    // The scene whose use counts a node's geometry registers with; null for none.
    KQovShadingUses* (*sceneOf)(const KQovNode* node) = nullptr;
    // Full (prefixed) names.
    const char* (*materialName)(const KQovMaterial* material) = nullptr;
    const char* (*textureName)(const KQovTexture* texture) = nullptr;
    // Materials and textures connected to a node's property set, in connection order.
    int (*connectedMaterialCount)(const KQovNode* node) = nullptr;
    KQovMaterial* (*connectedMaterial)(const KQovNode* node, int index) = nullptr;
    int (*connectedTextureCount)(const KQovNode* node) = nullptr;
    KQovTexture* (*connectedTexture)(const KQovNode* node, int index) = nullptr;

    static const KQovShadingLinks& Get();
    // Installs a table (a copy is kept); returns the previous one.
    static KQovShadingLinks Install(const KQovShadingLinks& links);
};
