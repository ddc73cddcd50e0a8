#pragma once
// The factory and owner of every object of a scene library: each object is
// made, named, found and destroyed through the manager that made it. Every
// kind has a virtual constructing operation so that a host layer can derive a
// manager making its own subclasses; the public Create* operations call it,
// name the object, pass it through the kind's renamer and list it.

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/KError.h"
#include "scene/KQovUserProperty.h"

class KImageConverterRegistry;
class KProperty;
class KQovCamera;
class KQovCameraSwitcher;
class KQovDeformer;
class KQovExporter;
class KQovGenericNode;
class KQovGeometryConverter;
class KQovImporter;
class KQovLight;
class KQovLink;
class KQovMarker;
class KQovMaterial;
class KQovMesh;
class KQovNode;
class KQovNodeAttribute;
class KQovNull;
class KQovNurb;
class KQovObject;
class KQovOpticalReference;
class KQovPatch;
class KQovPose;
class KQovRenamer;
class KQovScene;
class KQovShape;
class KQovSkeleton;
class KQovTexture;
class KQovThumbnail;
class KQovVideo;
struct KQovSceneInfo;

class KQovObjectManager {
public:
    enum : int {
        eObjectNotFound = 0,
        eObjectOfAScene = 1,
        eSceneOfACharacterPose = 2,
        eErrorCount = 3
    };

    // Starts the library for the first user.
    KQovObjectManager();
    // DestroyAll, then whatever it leaves (deformers, image converter
    // registries) and the renamers; the last user shuts the library down.
    virtual ~KQovObjectManager();
    KQovObjectManager(const KQovObjectManager&) = delete;
    KQovObjectManager& operator=(const KQovObjectManager&) = delete;

    // Null when the object could not be made; otherwise named and listed.
    KQovScene* CreateScene();
    KQovNode* CreateNode(const char* name);
    KQovNull* CreateNull();
    KQovMarker* CreateMarker();
    KQovCamera* CreateCamera();
    KQovLight* CreateLight();
    KQovSkeleton* CreateSkeleton();
    KQovMesh* CreateMesh();
    KQovPatch* CreatePatch();
    KQovNurb* CreateNurb();
    KQovOpticalReference* CreateOpticalReference();
    KQovCameraSwitcher* CreateCameraSwitcher();
    KQovLink* CreateLink();
    KQovMaterial* CreateMaterial(const char* name);
    KQovShape* CreateShape();
    KQovTexture* CreateTexture(const char* name);
    KQovVideo* CreateVideo(const char* name);
    KQovPose* CreatePose(const char* name, bool bindPose);
    KQovUserProperty* CreateUserProperty(const char* name, const char* typeName, const char* label);
    KQovUserProperty* CreateUserPropertyFromProperty(KProperty* property);
    // The name is kept as given.
    KQovGenericNode* CreateGenericNode(const char* name);
    // "SubDeformer::" for clusters, "Deformer::" for skins.
    KQovDeformer* CreateDeformer(const char* name, const char* kind);
    KQovThumbnail* CreateThumbnail();
    KQovSceneInfo* CreateSceneInfo();
    KQovGeometryConverter* CreateGeometryConverter();
    KImageConverterRegistry* CreateImageConverterRegistry();
    KQovExporter* CreateExporter();
    KQovImporter* CreateImporter();

    // False and "Object not found" for an object this manager does not list. A character
    // pose's own scene is refused ("Scene belongs to a character pose"): the pose destroys it.
    virtual bool DestroyScene(KQovScene* scene, bool recursive);
    // Recursive: the subtree and the node attributes on it go too. Either way
    // the node's own attribute is detached first. A scene's root, camera switcher and
    // producer cameras, and their attributes, are refused ("Object belongs to a scene"): their
    // scene destroys them. So is a subtree holding one, before anything is destroyed.
    virtual bool DestroyNode(KQovNode* node, bool recursive);
    // What some live scene owns in the subtree of `top` (KQovScene::FindOwnedBelow).
    static KQovNode* FindSceneOwnedBelow(const KQovNode* top);
    // Lets go of it all (a node leaves its parent, a producer camera its node): the subtree
    // can then be destroyed whole, and they stay their scenes'.
    static void LetGoOfSceneOwnedBelow(KQovNode* top);
    virtual bool DestroyNodeAttribute(KQovNodeAttribute* attribute);
    // Links, shapes, poses, scene information and thumbnails leave the geometry, scenes and
    // scene information holding them.
    virtual bool DestroyLink(KQovLink* link);
    virtual bool DestroyMaterial(KQovMaterial* material);
    // Each as DestroyMaterial (DestroyTexture) does, the geometry walked once for all: false
    // when one is not this manager's (the others go all the same).
    bool DestroyMaterials(const std::vector<KQovMaterial*>& materials);
    bool DestroyTextures(const std::vector<KQovTexture*>& textures);
    virtual bool DestroyShape(KQovShape* shape);
    virtual bool DestroyTexture(KQovTexture* texture);
    virtual bool DestroyVideo(KQovVideo* video);
    virtual bool DestroyPose(KQovPose* pose);
    virtual bool DestroyUserProperty(KQovUserProperty* userProperty);
    virtual bool DestroyGenericNode(KQovGenericNode* node);
    virtual bool DestroyDeformer(KQovDeformer* deformer);
    virtual bool DestroyThumbnail(KQovThumbnail* thumbnail);
    virtual bool DestroySceneInfo(KQovSceneInfo* sceneInfo);
    bool DestroyGeometryConverter(KQovGeometryConverter* converter);
    bool DestroyExporter(KQovExporter* exporter);
    bool DestroyImporter(KQovImporter* importer);

    // The bare or the prefixed name; the occurrence counts exact matches from 0.
    virtual KQovNode* FindNode(const char* name, int occurrence = 0);
    virtual KQovMaterial* FindMaterial(const char* name, int occurrence = 0);
    virtual KQovTexture* FindTexture(const char* name, int occurrence = 0);
    virtual KQovVideo* FindVideo(const char* name, int occurrence = 0);
    // The exact stored name (no prefix added).
    virtual KQovPose* FindPose(const char* name);
    // No error when there is none.
    virtual KQovUserProperty* FindUserProperty(const char* name);
    virtual KQovGenericNode* FindGenericNode(const char* name);

    // Destroys everything but deformers and image converter registries, then
    // resets the renamers.
    virtual void DestroyAll();

    int GetNodeCount() const { return int(mNodes.size() - mNodeSlots.holes); }
    // Null outside 0..count-1.
    KQovNode* GetNode(int index) const;
    int GetMaterialCount() const { return int(mMaterials.size()); }
    int GetUserPropertyCount() const { return int(mUserPropertyCount); }
    KQovMaterial* GetMaterial(int index) const;
    int GetDeformerCount() const { return int(mDeformers.size()); }
    const std::vector<KImageConverterRegistry*>& GetImageConverterRegistries() const {
        return mImageConverterRegistries;
    }

    // The manager owns what these hold (the previous one is deleted).
    void SetNodeRenamer(std::unique_ptr<KQovRenamer> renamer);
    void SetMaterialRenamer(std::unique_ptr<KQovRenamer> renamer);
    void SetTextureRenamer(std::unique_ptr<KQovRenamer> renamer);
    void SetVideoRenamer(std::unique_ptr<KQovRenamer> renamer);
    KQovRenamer* GetNodeRenamer() const { return mNodeRenamer.get(); }
    KQovRenamer* GetMaterialRenamer() const { return mMaterialRenamer.get(); }
    KQovRenamer* GetTextureRenamer() const { return mTextureRenamer.get(); }
    KQovRenamer* GetVideoRenamer() const { return mVideoRenamer.get(); }

    KError& GetError() { return mError; }

    // While one is open, the records this manager's own ConstructUserPropertyFromProperty
    // makes share one allocation with room for `count`: an object's records are made
    // together and mostly go together. An override of the constructing operation still sees
    // every call. Batches nest; the innermost one gets the records.
    class RecordBatch {
    public:
        RecordBatch(KQovObjectManager* manager, size_t count);
        ~RecordBatch();
        RecordBatch(const RecordBatch&) = delete;
        RecordBatch& operator=(const RecordBatch&) = delete;

    private:
        KQovObjectManager* mManager;
        KQovUserProperty::Block* mOuter;
    };

protected:
    // One per kind, null when the object cannot be made. The bodies live with
    // the later layers whose classes they make.
    virtual KQovScene* ConstructScene();
    virtual KQovNode* ConstructNode(const char* name);
    virtual KQovNull* ConstructNull();
    virtual KQovMarker* ConstructMarker();
    virtual KQovCamera* ConstructCamera();
    virtual KQovLight* ConstructLight();
    virtual KQovSkeleton* ConstructSkeleton();
    virtual KQovMesh* ConstructMesh();
    virtual KQovPatch* ConstructPatch();
    virtual KQovNurb* ConstructNurb();
    virtual KQovOpticalReference* ConstructOpticalReference();
    virtual KQovLink* ConstructLink();
    virtual KQovMaterial* ConstructMaterial(const char* name);
    virtual KQovShape* ConstructShape();
    virtual KQovTexture* ConstructTexture(const char* name);
    virtual KQovVideo* ConstructVideo(const char* name);
    virtual KQovPose* ConstructPose(const char* name, bool bindPose);
    virtual KQovUserProperty* ConstructUserPropertyFromProperty(KProperty* property);
    virtual KQovUserProperty* ConstructUserProperty(const char* name, const char* typeName,
                                                    const char* label);
    virtual KQovGenericNode* ConstructGenericNode(const char* name);
    virtual KQovDeformer* ConstructDeformer(const char* name, const char* kind);
    virtual KQovThumbnail* ConstructThumbnail();
    virtual KQovSceneInfo* ConstructSceneInfo();
    virtual KQovGeometryConverter* ConstructGeometryConverter();
    virtual KImageConverterRegistry* ConstructImageConverterRegistry();
    virtual KQovExporter* ConstructExporter();
    virtual KQovImporter* ConstructImporter();

private:
    // The kinds of later layers as this layer handles them; these and the
    // Construct* bodies of those kinds live with the later layers.
    static KQovObject* AsObject(KQovMaterial* material);
    static KQovObject* AsObject(KQovTexture* texture);
    static KQovObject* AsObject(KQovObject* object) { return object; }
    static KQovNodeAttribute* AsAttribute(KQovShape* shape);
    // A link knows the manager that lists it (geometry of another manager refuses it).
    void MarkMaker(KQovLink* link);
    // Every attribute and shape of this manager lets go of objects about to be destroyed
    // (sorted by address).
    void ForgetEverywhere(const KQovObject* const* going, size_t count);
    // Takes the objects out of the list, lets the geometry forget them, then destroys them.
    template <class T>
    bool DestroyShading(std::vector<T*>& list, T* const* objects, size_t count);
    // How each kind goes once it is out of its list.
    static void Dispose(KQovLink* link);
    static void Dispose(KQovMaterial* material);
    static void Dispose(KQovShape* shape);
    static void Dispose(KQovTexture* texture);
    static void Dispose(KQovGeometryConverter* converter);
    static void Dispose(KImageConverterRegistry* registry);
    static void Dispose(KQovExporter* exporter);
    static void Dispose(KQovImporter* importer);
    static void Dispose(KQovScene* scene);
    static void Dispose(KQovNode* node);
    static void Dispose(KQovNodeAttribute* attribute);
    static void Dispose(KQovVideo* video);
    static void Dispose(KQovPose* pose);
    static void Dispose(KQovUserProperty* userProperty);
    static void Dispose(KQovGenericNode* node);
    static void Dispose(KQovDeformer* deformer);
    static void Dispose(KQovThumbnail* thumbnail);
    static void Dispose(KQovSceneInfo* sceneInfo);
    // Made directly, not through a virtual constructing operation.
    KQovCameraSwitcher* MakeCameraSwitcher();
    KQovShape* MakeShape();
    // Installs what lower layers call back into later ones.
    static void WireLaterLayers();

    static KQovObject* Named(KQovObject* object, KQovRenamer* renamer);
    // Disposes of the records made for the properties of destroyed nodes; one pass over
    // the list however many nodes a recursive destroy took.
    void DisposeNodeRecords();
    // The user-property list, where a block of records takes one entry.
    KQovUserProperty* ListUserProperty(KQovUserProperty* record);
    // An object whose records wait for its property set (KQovObject::DeferRecords) takes one
    // entry standing for `count` records: they are counted, and made in its place (Begin ..
    // End), or the entry goes with the object (Drop).
    friend class KQovObject;
    void ListDeferredRecords(const KQovObject* object, int count);
    // Begin gives what an outer Begin left open, for End to take up again.
    std::pair<size_t, size_t> BeginDeferredRecords(const KQovObject* object, int count);
    void EndDeferredRecords(std::pair<size_t, size_t> outer);
    void DropDeferredRecords(const KQovObject* object, int count);
    size_t FindDeferredSlot(const KQovObject* object);
    // Where the entries of records made now go: the end, or the place a deferred entry kept.
    void PlaceUserPropertyEntry(void* entry);
    void* LastPlacedUserPropertyEntry() const;
    // The slot of a listed, live record (by address: it is not read), else the list's size.
    size_t FindUserPropertySlot(const KQovUserProperty* record);
    // Disposes of a listed record and empties its slot when nothing is left in it.
    void DisposeListedUserProperty(size_t slot, KQovUserProperty* record);
    void DisposeAllUserProperties();
    // Scenes of other managers let go of this manager's scene information and thumbnails.
    void ForgetSceneInfosElsewhere();
    // One record of a destroyed node, as DisposeNodeRecords disposes of them (found at `slot`).
    void DisposeFoundRecord(size_t slot, KQovUserProperty* record, const void* owner);
    void DisposeNodeRecord(KQovUserProperty* record, const void* owner);
    static void PrepareAndDelete(KQovObject* object);
    // Empties the list, disposing of every object.
    template <class T>
    static void DisposeAll(std::vector<T*>& list) {
        std::vector<T*> objects;
        objects.swap(list);
        for (T* object : objects) Dispose(object);
    }
    // An object that cannot be listed for want of memory goes again.
    template <class T>
    static T* Listed(std::vector<T*>& list, T* object) {
        try {
            if (object) list.push_back(object);
        } catch (...) {
            Dispose(object);
            throw;
        }
        return object;
    }
    template <class T>
    T* ListedAttribute(T* attribute) {
        try {
            if (attribute) mAttributes.push_back(attribute);
        } catch (...) {
            Dispose(static_cast<KQovNodeAttribute*>(attribute));
            throw;
        }
        return attribute;
    }
    template <class T>
    bool TakeOut(std::vector<T*>& list, T* object);
    template <class T>
    bool DestroyListed(std::vector<T*>& list, T* object);
    // Slots destroys emptied in a list (null until it is closed up) and where the last one was.
    struct Slots {
        size_t holes = 0;
        size_t hint = 0;
        // Links' and shapes' places by address, made when one is not found near the hint (they
        // are destroyed in any order); it holds the list's first `placed` entries.
        std::unique_ptr<std::unordered_map<const void*, size_t>> places;
        size_t placed = 0;
    };
    template <class T>
    static size_t FindSlot(const std::vector<T*>& list, Slots& slots, const T* object);
    template <class T>
    bool EmptySlot(std::vector<T*>& list, Slots& slots, T* object);
    template <class T>
    static void CloseUp(std::vector<T*>& list, Slots& slots);
    // True, with the error set, for a listed object that `ownedBy` says a scene owns.
    template <class T, class Owned>
    bool RefusedAsSceneOwned(const std::vector<T*>& list, Slots& slots, T* object, Owned ownedBy);
    template <class T>
    T* FindNamed(const std::vector<T*>& list, KQovObject* (*asObject)(T*), const char* prefix,
                 const char* name, int occurrence);
    template <class T>
    T* FindExact(const std::vector<T*>& list, const char* name);

    std::vector<KQovScene*> mScenes;
    std::vector<KQovNode*> mNodes;
    std::vector<KQovNodeAttribute*> mAttributes;
    std::vector<KQovLink*> mLinks;
    std::vector<KQovMaterial*> mMaterials;
    std::vector<KQovShape*> mShapes;
    std::vector<KQovTexture*> mTextures;
    std::vector<KQovVideo*> mVideos;
    std::vector<KQovPose*> mPoses;
    // A record made on its own, or a block standing for its live records in the order they
    // were made (tagged, see ListUserProperty); null for an emptied slot.
    std::vector<void*> mUserProperties;
    size_t mUserPropertyCount = 0;
    std::vector<KQovThumbnail*> mThumbnails;
    std::vector<KQovSceneInfo*> mSceneInfos;
    std::vector<KQovGenericNode*> mGenericNodes;
    std::vector<KQovDeformer*> mDeformers;
    std::vector<KQovGeometryConverter*> mGeometryConverters;
    std::vector<KImageConverterRegistry*> mImageConverterRegistries;
    std::vector<KQovExporter*> mExporters;
    std::vector<KQovImporter*> mImporters;
    // What destroyed nodes listed, with the owner each node gave them, while a DestroyNode
    // is under way.
    std::vector<std::pair<KQovUserProperty*, const void*>> mNodeRecords;
    Slots mNodeSlots, mAttributeSlots, mUserPropertySlots, mLinkSlots, mShapeSlots;
    int mNodeDestroyDepth = 0;
    // DestroyNode(node, true) of a subtree a scene's Clear found to hold nothing a live scene
    // owns: no scene is looked at again. Not for others: a subtree holding a scene's node would
    // go half, where DestroyNode refuses it whole.
    friend class KQovScene;
    bool DestroyNodeOwnedByNoScene(KQovNode* node);
    // The node DestroyNodeOwnedByNoScene destroys, while it does.
    const KQovNode* mOwnedByNoScene = nullptr;
    // The open RecordBatch's block, if any.
    KQovUserProperty::Block* mRecordBlock = nullptr;
    // While deferred records are made: the slot of their first entry and whether it was used.
    size_t mFillSlot = SIZE_MAX;
    size_t mFillLast = SIZE_MAX;
    std::unique_ptr<KQovRenamer> mNodeRenamer;
    std::unique_ptr<KQovRenamer> mMaterialRenamer;
    std::unique_ptr<KQovRenamer> mTextureRenamer;
    std::unique_ptr<KQovRenamer> mVideoRenamer;
    KError mError;
};
