#pragma once
// The node attribute that owns a geometry's layers and keeps the materials and textures they
// reference counted in the scene's use counts. Layer indices count from 0.

#include <functional>
#include <memory>
#include <vector>

#include "attributes/KQovLayer.h"
#include "scene/KQovNodeAttribute.h"

class KQovEntityContainer;

class KQovLayerContainer : public KQovNodeAttribute {
public:
    explicit KQovLayerContainer(KQovObjectManager* manager) : KQovNodeAttribute(manager) {}
    // Releases the uses of every referenced material and texture, then destroys the layers.
    ~KQovLayerContainer() override;

    int CreateLayer();
    int GetLayerCount() const { return int(mLayers.size()); }
    KQovLayer* GetLayer(int index) const;
    // Layers holding an element of a kind (0 for a kind outside 1..6).
    int GetLayerCount(int type) const;
    // Index of the n-th layer holding an element of a kind; -1 when none.
    int GetLayerIndex(int n, int type) const;
    KQovLayer* GetLayerOfType(int n, int type) const { return GetLayer(GetLayerIndex(n, type)); }

    // Destroys every layer, releasing the uses of what it references.
    void ClearLayers();
    // Replaces the layers by copies of the source's; the copies' uses are registered.
    void CopyLayers(const KQovLayerContainer& source);
    void Copy(const KQovLayerContainer& source) { CopyLayers(source); }

    // Registers every referenced material and texture with the scene once; null releases.
    void SetScene(KQovEntityContainer* scene);
    void ReleaseScene();
    KQovEntityContainer* GetScene() const { return mScene; }
    void ForgetEntityContainer(const KQovEntityContainer* scene) override;
    void MoveToEntityContainer(KQovEntityContainer* scene) override { SetScene(scene); }
    // Materials and textures going away leave every element: a position that named one names
    // none (-1), later positions move down with their entries. Allocates nothing.
    void ForgetObjects(const KQovObject* const* going, size_t count) override;
    // Every material or texture that `replacement` maps to another (null: kept) is replaced by
    // it; what the scene counted moves along, so its lists keep their order.
    void Replace(const std::function<KQovMaterial*(KQovMaterial*)>& replacement);
    void Replace(const std::function<KQovTexture*(KQovTexture*)>& replacement);

    int GetMaterialCount(int layer) const;
    int GetTextureCount(int layer) const;
    KQovMaterial* GetMaterial(int index, int layer) const;
    KQovTexture* GetTexture(int index, int layer) const;
    int GetMaterialIndex(const char* name, int layer) const;
    int GetTextureIndex(const char* name, int layer) const;
    // -1 for a negative layer, a material already present or one of another manager (it would
    // outlive its manager here).
    int AddMaterial(KQovMaterial* material, int layer);
    // The texture's position (also when already present); -1 for a negative layer or a texture
    // of another manager.
    int AddTexture(KQovTexture* texture, int layer);

protected:
    // Layer 0, created when missing.
    KQovLayer& GetLayer0();

private:
    void CountUses(bool add) const;
    bool OfAnotherManager(const KQovObject* object) const;

    std::vector<std::unique_ptr<KQovLayer>> mLayers;
    KQovEntityContainer* mScene = nullptr;
};
