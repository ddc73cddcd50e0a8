#pragma once
// One scene: its entity container (root node and the objects it refers to),
// the "Camera Switcher" node, characters, control-set plugs, character poses
// and poses, take information, the scene information record and the global
// light, camera and time settings. It switches the current take of every
// animated object at once, and converts between the links and layer
// elements the geometries hold and the deformers, connections and videos a
// file stores.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KString.h"
#include "scene/KPlugHandlePool.h"

class KObject;
class KQovCharacter;
class KQovCharacterPose;
class KQovControlSetPlug;
class KQovDeformer;
class KQovEntityContainer;
class KQovGenericNode;
class KQovGlobalCameraSettings;
class KQovGlobalLightSettings;
class KQovGlobalTimeSettings;
class KQovNode;
class KQovObject;
class KQovObjectManager;
class KQovPose;
class KQovSceneServices;
class KQovTakeNodeContainer;
struct KQovSceneInfo;
struct KQovTakeInfo;

class KQovScene {
public:
    enum : int { eTakeError = 0 };

    // Not owned; the later layer keeps it alive while scenes exist.
    static void SetServices(KQovSceneServices* services);
    static KQovSceneServices* GetServices();
    // Every live scene, in order of construction.
    static const std::vector<KQovScene*>& GetLiveScenes();

    explicit KQovScene(KQovObjectManager* manager);
    ~KQovScene();
    KQovScene(const KQovScene&) = delete;
    KQovScene& operator=(const KQovScene&) = delete;

    KQovObjectManager* GetObjectManager() const { return mManager; }
    KQovEntityContainer* GetEntityContainer() const { return mEntity.get(); }
    KQovNode* GetRootNode() const;
    // The entity container's generic nodes and deformers (deformer type 0 is every deformer,
    // 1 skins, 2 clusters).
    int GetGenericNodeCount() const;
    KQovGenericNode* GetGenericNode(int index) const;
    int GetDeformerCount(int deformerType = 0) const;
    KQovDeformer* GetDeformer(int index, int deformerType = 0) const;
    bool AddDeformer(KQovDeformer* deformer);
    KQovNode* GetCameraSwitcherNode() const { return mSwitcher; }
    // The manager destroys the previous switcher node; the new one is the scene's own. False
    // (nothing changed) for a node a scene owns already or one of another manager.
    bool SetCameraSwitcherNode(KQovNode* node);

    int GetCharacterCount() const { return int(mCharacters.size()); }
    // These three are defined where the classes are complete (a later layer).
    KQovCharacter* GetCharacter(int index) const;
    int GetControlSetPlugCount() const { return int(mControlSetPlugs.size()); }
    KQovControlSetPlug* GetControlSetPlug(int index) const;
    int GetCharacterPoseCount() const { return int(mCharacterPoses.size()); }
    KQovCharacterPose* GetCharacterPose(int index) const;
    // The new index; -1 when construction fails.
    int CreateCharacter(const char* name);
    int CreateControlSetPlug(const char* name);
    int CreateCharacterPose(const char* name);
    void DestroyCharacterPose(int index);

    int GetPoseCount() const { return int(mPoses.size()); }
    KQovPose* GetPose(int index) const;
    // False for a pose listed already or made by another manager.
    bool AddPose(KQovPose* pose);
    // The manager's destroyers: the object leaves the scene (nothing is destroyed).
    void ForgetPose(const KQovPose* pose);
    void ForgetSceneInfo(const KQovSceneInfo* info);

    const char* GetCurrentTakeName() const { return mCurrentTake.Buffer(); }
    // Every animated object is switched; false when one lacks the take.
    bool SetCurrentTake(const char* name);
    // Each take name once, in order of first appearance.
    void FillTakeNameArray(std::vector<KString>& names);
    bool TakeExists(const char* name);
    // The first record of the name. Its holder may change it, name and all, through the
    // pointer.
    KQovTakeInfo* GetTakeInfo(const char* name);
    // The same record, to read only.
    const KQovTakeInfo* FindTakeInfo(const char* name) const;
    int GetTakeInfoCount() const { return int(mTakeInfos.size()); }
    const KQovTakeInfo* GetTakeInfoAt(int index) const {
        return index >= 0 && index < GetTakeInfoCount() ? mTakeInfos[size_t(index)].get() : nullptr;
    }
    // Only for a take that some object has.
    bool SetTakeInfo(const KQovTakeInfo& info);

    KQovSceneInfo* GetSceneInfo() const { return mSceneInfo; }
    // The scene destroys it through the manager when cleared or destroyed.
    void SetSceneInfo(KQovSceneInfo* info);

    KQovGlobalLightSettings& GetGlobalLightSettings() { return *mLight; }
    KQovGlobalCameraSettings& GetGlobalCameraSettings() { return *mCamera; }
    KQovGlobalTimeSettings& GetGlobalTimeSettings() { return *mTime; }

    // Back to the state after construction; materials, textures, videos and
    // deformers stay listed.
    void Clear();

    // A node below `top` that the scene owns (its root, switcher or a producer camera's node),
    // or one from `top` down holding a producer camera; null when none or when `top` is the
    // scene's own.
    KQovNode* FindOwnedBelow(const KQovNode* top) const;
    // Whether `node`, or a node below it, is a live scene's root while `parent` is, or lies
    // below, a live scene's camera switcher or producer camera node: that node's destruction
    // would take the root with it while its scene still holds it.
    static bool RootWouldGoBelowSettings(const KQovNode* parent, const KQovNode* node);
    // Whether `node` is, or holds below it, a live scene's root (or its container's) while
    // `parent` is in a scene: the link would take the root into that scene.
    static bool RootWouldLeaveItsScene(const KQovNode* parent, const KQovNode* node);
    // A character pose's own scene: the manager refuses to destroy it while the pose holds it.
    void SetHeldByCharacterPose(bool held) { mHeldByCharacterPose = held; }
    bool IsHeldByCharacterPose() const { return mHeldByCharacterPose; }

    // Before writing.
    void CreateDeformersFromLinks();
    void ConnectLayerMaterials();
    void ConnectLayerTextures();
    // Paths become relative to `folder` (unchanged when null or empty).
    void CreateVideosFromMedia(const char* folder = nullptr);
    // After reading.
    void FillLayerMaterials();
    void FillLayerTextures();
    void CreateLinksFromDeformers();
    void DestroyDeformers();

    KError& GetError() { return mError; }

private:
    // The switcher node and the entity's nodes, textures, materials and
    // generic nodes, in that order.
    std::vector<KQovTakeNodeContainer*> AnimatedObjects() const;
    std::vector<KQovNode*> GeometryNodes() const;
    // Each node FindOwnedBelow looks at (some null).
    template <class Visit>
    void ForEachOwned(Visit visit) const;
    // The children of `top` holding, at or below them, a node FindOwnedBelow finds for some
    // live scene, sorted; false when they cannot be listed.
    static bool ChildrenHoldingOwned(const KQovNode* top, std::vector<const KQovNode*>& children);
    // Whether a live scene's root is `top` or lies below it.
    static bool HoldsARoot(const KQovNode* top);
    void ResetSwitcher();
    void DestroyCharacters();
    void ConnectLayerObjects(bool textures);
    void FillLayerObjects(bool textures);
    void AttachVideo(KQovObject* object, const KString& name, const KString& fileName,
                     const KString& relativeFileName);
    static KQovObject* At(const std::vector<KQovObject*>& list, int index);
    // The place of the first take record of the name; npos when none.
    size_t TakeInfoPlace(const char* name) const;

    KQovObjectManager* mManager;
    std::unique_ptr<KQovEntityContainer> mEntity;
    KQovNode* mSwitcher = nullptr;
    std::vector<KQovObject*> mCharacters;
    std::vector<KQovObject*> mControlSetPlugs;
    std::vector<KQovObject*> mCharacterPoses;
    std::vector<KQovPose*> mPoses;
    std::unique_ptr<KQovGlobalLightSettings> mLight;
    std::unique_ptr<KQovGlobalCameraSettings> mCamera;
    std::unique_ptr<KQovGlobalTimeSettings> mTime;
    KString mCurrentTake;
    std::vector<std::unique_ptr<KQovTakeInfo>> mTakeInfos;
    // Take records by name, found without a walk. Only the scene renames the records listed
    // here (it never does); one whose pointer went out by GetTakeInfo may be renamed by its
    // holder at any time, so it leaves the index and is compared by name at each lookup.
    std::unordered_map<std::string, size_t> mTakeInfoPlaces;
    std::vector<size_t> mLentTakeInfos;  // places, each once
    // Set where memory ran out for the index's upkeep: every look-up walks the records, as the
    // index would have found them, until Clear.
    bool mTakeInfoIndexGone = false;
    KQovSceneInfo* mSceneInfo = nullptr;
    bool mHeldByCharacterPose = false;
    KError mError;
};

// The source at a position of an object's sub-plug for a class, as a weak
// reference; empty when that position holds no live object.
KWeakRef GetSrcObjectOfClass(KObject& object, int index, int classId);
