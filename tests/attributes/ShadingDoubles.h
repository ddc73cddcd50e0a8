#pragma once
// Materials, textures and scenes made by one manager, so that layers and shading
// connections count their uses in real entity containers.

#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace attributes_test {

struct ShadingWorld {
    // The container of a new scene.
    KQovEntityContainer* NewScene() { return manager.CreateScene()->GetEntityContainer(); }
    // A node of the scene (listed before any attribute is set).
    KQovNode* NodeOf(KQovEntityContainer* scene, const char* name) {
        KQovNode* node = manager.CreateNode(name);
        scene->AddNode(node);
        return node;
    }
    KQovMaterial* Material(const char* name) { return manager.CreateMaterial(name); }
    KQovTexture* Texture(const char* name) { return manager.CreateTexture(name); }

    KQovObjectManager manager;
};

inline int Uses(const KQovEntityContainer* scene, const KQovMaterial* m) {
    return scene->GetMaterialUseCount(m);
}
inline int Uses(const KQovEntityContainer* scene, const KQovTexture* t) {
    return scene->GetTextureUseCount(t);
}

}  // namespace attributes_test
