#include "character/KQovSceneBridge.h"

#include <algorithm>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "character/KQovCharacter.h"
#include "character/KQovCharacterPose.h"
#include "character/KQovControlSetPlug.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneServices.h"

KQovCharacter* KQovScene::GetCharacter(int index) const {
    return static_cast<KQovCharacter*>(At(mCharacters, index));
}
KQovControlSetPlug* KQovScene::GetControlSetPlug(int index) const {
    return static_cast<KQovControlSetPlug*>(At(mControlSetPlugs, index));
}
KQovCharacterPose* KQovScene::GetCharacterPose(int index) const {
    return static_cast<KQovCharacterPose*>(At(mCharacterPoses, index));
}

namespace {

KQovGeometry* GeometryOf(KQovNodeAttribute* attribute) { return dynamic_cast<KQovGeometry*>(attribute); }

class Services final : public KQovSceneServices {
public:
    KQovNodeAttribute* CreateCameraSwitcher(KQovObjectManager* manager) override {
        return manager->CreateCameraSwitcher();
    }
    void SetDefaultCameraIndex(KQovNodeAttribute* switcher, int index) override {
        if (auto* s = dynamic_cast<KQovCameraSwitcher*>(switcher)) s->SetDefaultCameraIndex(index);
    }
    KQovObject* NewCharacter(KQovObjectManager* manager, const char* name) override {
        return new KQovCharacter(manager, name);
    }
    KQovObject* NewControlSetPlug(KQovObjectManager* manager, const char* name) override {
        return new KQovControlSetPlug(manager, name);
    }
    KQovObject* NewCharacterPose(KQovObjectManager* manager, const char* name) override {
        return new KQovCharacterPose(manager, name);
    }

    int GetLinkCount(KQovNodeAttribute* geometry) override {
        KQovGeometry* g = GeometryOf(geometry);
        return g ? g->GetLinkCount() : 0;
    }
    KQovNode* GetLink(KQovNodeAttribute* geometry, int index, KQovClusterLinkData& data) override {
        KQovGeometry* g = GeometryOf(geometry);
        KQovLink* link = g ? g->GetLink(index) : nullptr;
        if (!link) return nullptr;
        data.link = link->GetLink();
        data.linkName = link->GetLinkName();
        data.associateModelName = link->GetAssociateModelName();
        data.indices.assign(link->GetControlPointIndices(),
                            link->GetControlPointIndices() + link->GetControlPointIndicesCount());
        data.weights.assign(link->GetControlPointWeights(),
                            link->GetControlPointWeights() + link->GetControlPointIndicesCount());
        data.linkMode = link->GetLinkMode();
        data.userDataId = link->GetUserDataID();
        data.userData = link->GetUserData();
        data.transform = link->GetTransformMatrix();
        data.transformLink = link->GetTransformLinkMatrix();
        data.transformAssociateModel = link->GetTransformAssociateModelMatrix();
        data.transformParent = link->GetTransformParentMatrix();
        data.hasTransformParent = link->HasTransformParent();
        return link->GetAssociateModel();
    }
    void AddLink(KQovObjectManager* manager, KQovNodeAttribute* geometry,
                 const KQovClusterLinkData& data, KQovNode* associateModel) override {
        // The geometry destroys its links through the manager that lists them.
        KQovGeometry* g = GeometryOf(geometry);
        KQovLink* link = g ? KQovNewLink(manager) : nullptr;
        if (!link) return;
        link->SetLink(data.link);
        link->SetAssociateModel(associateModel);
        for (size_t i = 0; i < data.indices.size() && i < data.weights.size(); ++i)
            link->AddControlPointIndex(data.indices[i], data.weights[i]);
        link->SetLinkMode(data.linkMode);
        link->SetUserData(data.userDataId.Buffer(), data.userData.Buffer());
        link->SetTransformMatrix(data.transform);
        link->SetTransformLinkMatrix(data.transformLink);
        link->SetTransformAssociateModelMatrix(data.transformAssociateModel);
        if (data.hasTransformParent) link->SetTransformParentMatrix(data.transformParent);
        g->AddLink(link);
    }

    int GetLayerCount(KQovNodeAttribute* geometry) override {
        auto* c = dynamic_cast<KQovLayerContainer*>(geometry);
        return c ? c->GetLayerCount() : 0;
    }
    KQovLayerElementMaterial* GetMaterialElement(KQovNodeAttribute* geometry, int layer) override {
        KQovLayer* l = Layer(geometry, layer);
        return l ? l->GetMaterials() : nullptr;
    }
    KQovLayerElementTexture* GetTextureElement(KQovNodeAttribute* geometry, int layer) override {
        KQovLayer* l = Layer(geometry, layer);
        return l ? l->GetTextures() : nullptr;
    }
    KQovObject* AsObject(KQovMaterial* material) override { return material; }
    KQovObject* AsObject(KQovTexture* texture) override { return texture; }
    KQovMaterial* AsMaterial(KQovObject* object) override { return dynamic_cast<KQovMaterial*>(object); }
    KQovTexture* AsTexture(KQovObject* object) override { return dynamic_cast<KQovTexture*>(object); }

    void GetTextureMedia(KQovObject* texture, KString& mediaName, KString& fileName,
                         KString& relativeFileName) override {
        auto* t = dynamic_cast<KQovTexture*>(texture);
        if (!t) return;
        mediaName = t->GetMediaName();
        fileName = t->GetFileName();
        relativeFileName = t->GetRelativeFileName();
    }
    const char* GetGoboFileName(KQovNodeAttribute* light) override {
        auto* l = dynamic_cast<KQovLight*>(light);
        return l ? l->GetGoboFileName() : nullptr;
    }

private:
    static KQovLayer* Layer(KQovNodeAttribute* geometry, int layer) {
        auto* c = dynamic_cast<KQovLayerContainer*>(geometry);
        return c ? c->GetLayer(layer) : nullptr;
    }
};

KQovScene* MakePoseScene(KQovObjectManager* manager) {
    KQovScene* scene = manager ? manager->CreateScene() : nullptr;
    if (!scene) return nullptr;
    scene->Clear();
    scene->CreateCharacter("PoseCharacter");
    scene->SetHeldByCharacterPose(true);
    return scene;
}

void DestroyPoseScene(KQovObjectManager* manager, KQovScene* scene) {
    if (!manager) return;
    // Read only while alive: the manager's end may have destroyed it already.
    const std::vector<KQovScene*>& live = KQovScene::GetLiveScenes();
    if (std::find(live.begin(), live.end(), scene) != live.end()) scene->SetHeldByCharacterPose(false);
    manager->DestroyScene(scene, true);
}

}  // namespace

void KQovSceneBridge::Install() {
    static Services services;
    KQovScene::SetServices(&services);
    KQovCameraHooks hooks;
    hooks.create = [](KQovObjectManager* manager) { return manager->CreateCamera(); };
    hooks.attach = [](KQovNode* node, KQovCamera* camera) { node->SetNodeAttribute(camera); };
    hooks.setUp = [](KQovCamera* camera, int projection, double nearPlane, double farPlane,
                     const KVector4& position, const KVector4& up) {
        camera->Reset();
        camera->SetFocalLengthFromFieldOfView(40.0);
        camera->SetProjectionType(projection);
        camera->SetNearPlane(nearPlane);
        camera->SetFarPlane(farPlane);
        camera->SetPosition(position);
        camera->SetUpVector(up);
    };
    hooks.copy = [](KQovCamera* to, const KQovCamera* from) { to->CopyFrom(*from); };
    KQovGlobalCameraSettings::SetCameraHooks(hooks);
    KQovCharacterPose::SetPrivateSceneHooks(&MakePoseScene, &DestroyPoseScene);
}
