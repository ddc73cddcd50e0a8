#pragma once
// What a scene needs of the classes of later layers (camera switcher,
// characters, geometries, textures, lights). A later layer implements this
// and installs it with KQovScene::SetServices; without it a scene has no
// camera switcher attribute, makes no characters and converts nothing.

#include "scene/KQovDeformer.h"

class KQovLayerElementMaterial;
class KQovLayerElementTexture;
class KQovMaterial;
class KQovNode;
class KQovNodeAttribute;
class KQovObject;
class KQovObjectManager;
class KQovTexture;

class KQovSceneServices {
public:
    virtual ~KQovSceneServices() = default;

    // Made through the manager; null when that fails.
    virtual KQovNodeAttribute* CreateCameraSwitcher(KQovObjectManager* manager) = 0;
    virtual void SetDefaultCameraIndex(KQovNodeAttribute* switcher, int index) = 0;
    // The prefixed name is given; null when construction fails.
    virtual KQovObject* NewCharacter(KQovObjectManager* manager, const char* name) = 0;
    virtual KQovObject* NewControlSetPlug(KQovObjectManager* manager, const char* name) = 0;
    virtual KQovObject* NewCharacterPose(KQovObjectManager* manager, const char* name) = 0;

    // Cluster links of a mesh, NURBS or patch attribute.
    virtual int GetLinkCount(KQovNodeAttribute* geometry) = 0;
    // The link's data; its associate model (null when none) is returned.
    virtual KQovNode* GetLink(KQovNodeAttribute* geometry, int index, KQovClusterLinkData& data) = 0;
    // A new link made from the data, added to (and owned by) the geometry.
    virtual void AddLink(KQovObjectManager* manager, KQovNodeAttribute* geometry,
                         const KQovClusterLinkData& data, KQovNode* associateModel) = 0;

    // Layer elements (null when the n-th layer holds none).
    virtual int GetLayerCount(KQovNodeAttribute* geometry) = 0;
    virtual KQovLayerElementMaterial* GetMaterialElement(KQovNodeAttribute* geometry, int layer) = 0;
    virtual KQovLayerElementTexture* GetTextureElement(KQovNodeAttribute* geometry, int layer) = 0;
    // The scene object behind a material or texture and back (null when the
    // object is not of that class).
    virtual KQovObject* AsObject(KQovMaterial* material) = 0;
    virtual KQovObject* AsObject(KQovTexture* texture) = 0;
    virtual KQovMaterial* AsMaterial(KQovObject* object) = 0;
    virtual KQovTexture* AsTexture(KQovObject* object) = 0;

    // Media of a texture: its media name (may be empty), file and relative
    // file names (null when none).
    virtual void GetTextureMedia(KQovObject* texture, KString& mediaName, KString& fileName,
                                 KString& relativeFileName) = 0;
    // The gobo file name of a light attribute; null for none or another kind.
    virtual const char* GetGoboFileName(KQovNodeAttribute* light) = 0;
};
