#pragma once
// What one scene holds: its root node, its nodes (each once) and the
// materials, textures, videos, generic nodes and deformers it refers to, each
// listed once with a count of its users. The container owns none of these
// objects: the object manager does.

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KString.h"
#include "scene/KQovNameWatcher.h"

class KQovDeformer;
class KQovGenericNode;
class KQovNode;
class KQovObject;
class KQovObjectManager;
class KQovVideo;

// One use-counted list: insertion order kept, membership by hash. It watches the names of the
// objects it lists, which leave it when they are destroyed.
template <class T>
class KQovUseList final : private KQovNameWatcher {
public:
    KQovUseList() = default;
    ~KQovUseList() { Clear(); }
    KQovUseList(const KQovUseList&) = delete;
    KQovUseList& operator=(const KQovUseList&) = delete;

    int GetCount() const { return int(mOrder.size()); }
    T* Get(int index) const { return mOrder[size_t(index)]; }
    bool Contains(const T* object) const;
    int GetUseCount(const T* object) const;
    void AddUse(T* object);
    // The uses left; -1 when the object is not listed.
    int RemoveUse(T* object);
    // Takes the object out whatever its count.
    void Forget(const T* object);
    void Clear();
    // The first listed object of the name; null when none.
    T* FindNamed(const char* name) const;

private:
    struct Use {
        T* object;
        int32_t count;
        uint64_t serial;  // listing order
    };
    using Uses = std::unordered_map<const KQovObject*, Use>;
    // The listed objects of one name, first listed first. The index owns its names' text:
    // it never looks at a name an object has let go of.
    struct Named {
        std::unique_ptr<char[]> text;
        T* first;
        std::vector<T*> later;
    };

    void NameChanged(KQovObject* object, const char* oldName) override;
    void ObjectGoing(KQovObject* object) override;
    uint64_t SerialOf(const T* object) const;
    void Forget(typename Uses::iterator use);
    // Each leaves the index as it was when it throws.
    void Index(T* object, const char* name) const;
    void Unindex(const T* object, const char* name) const;
    void DropIndex() const {
        mNamed.clear();
        mNamedValid = false;
    }

    std::vector<T*> mOrder;
    // Keyed by the object's common part, which its destructor still tells.
    Uses mUses;
    uint64_t mSerial = 0;
    // Made at the first look-up, then kept by every add, removal and rename.
    mutable std::unordered_map<std::string_view, Named> mNamed;
    mutable bool mNamedValid = false;
};

class KQovEntityContainer {
public:
    enum : int {
        eNodeIsNull = 0,
        eNodeAlreadyOwned = 1,
        eNodeNotOwned = 2,
        eOutOfRange = 3,
        eMaterialInUse = 4,
        eMaterialNotFound = 5,
        eTextureInUse = 6,
        eTextureNotFound = 7,
        eVideoInUse = 8,
        eVideoNotFound = 9,
        eVideoNameClash = 10,
        eGenericNodeInUse = 11,
        eGenericNodeNotFound = 12,
        eDeformerInUse = 14,
        eDeformerNotFound = 15,
        eErrorCount = 17,
    };

    // The root node "RootNode" is made by the manager (none without one).
    explicit KQovEntityContainer(KQovObjectManager* manager);
    // Empties every list; the nodes, their attributes and the generic nodes
    // that know the container forget it.
    ~KQovEntityContainer();
    // Lets go of the root, every node (each forgets the container) and the
    // material and texture records; the objects themselves live on.
    void Release();
    KQovEntityContainer(const KQovEntityContainer&) = delete;
    KQovEntityContainer& operator=(const KQovEntityContainer&) = delete;

    KQovNode* GetRootNode() const { return mRoot; }
    KError& GetError() { return mError; }

    int GetNodeCount() const { return int(mNodes.size() - mNodeHoles); }
    KQovNode* GetNode(int index);
    // A node of no container then belongs to this one.
    bool AddNode(KQovNode* node);
    bool RemoveNode(KQovNode* node);
    // A node going away leaves the list (and the root) without an error.
    void ForgetNode(const KQovNode* node);
    // Nodes whose attribute has the type: the root's tree depth first, parent
    // before children, or the node list in order.
    void CollectNodesByAttributeType(std::vector<KQovNode*>& out, int attributeType, bool fromRootTree);

    // Materials and textures: layers and materials call Add for every use they
    // make and Remove for every use they drop.
    int GetMaterialCount() const { return mMaterials.GetCount(); }
    KQovObject* GetMaterial(int index);
    bool AddMaterial(KQovObject* material);
    bool RemoveMaterial(KQovObject* material);
    KQovObject* FindMaterial(const KString& name);
    int GetMaterialUseCount(const KQovObject* material) const { return mMaterials.GetUseCount(material); }

    int GetTextureCount() const { return mTextures.GetCount(); }
    KQovObject* GetTexture(int index);
    bool AddTexture(KQovObject* texture);
    bool RemoveTexture(KQovObject* texture);
    KQovObject* FindTexture(const KString& name);
    int GetTextureUseCount(const KQovObject* texture) const { return mTextures.GetUseCount(texture); }

    int GetVideoCount() const { return mVideos.GetCount(); }
    KQovVideo* GetVideo(int index);
    // Refused when another listed video has the same current name.
    bool AddVideo(KQovVideo* video);
    bool RemoveVideo(KQovVideo* video);
    KQovVideo* FindVideo(const KString& name);
    int GetVideoUseCount(const KQovVideo* video) const { return mVideos.GetUseCount(video); }

    int GetGenericNodeCount() const { return mGenericNodes.GetCount(); }
    KQovGenericNode* GetGenericNode(int index);
    bool AddGenericNode(KQovGenericNode* node);
    bool RemoveGenericNode(KQovGenericNode* node);
    // A generic node going away leaves the list whatever its count.
    void ForgetGenericNode(const KQovGenericNode* node);
    KQovGenericNode* FindGenericNode(const char* name);
    int GetGenericNodeUseCount(const KQovGenericNode* node) const { return mGenericNodes.GetUseCount(node); }

    // Deformer type 0 is every deformer, 1 skins, 2 clusters.
    int GetDeformerCount(int deformerType = 0) const;
    KQovDeformer* GetDeformer(int index, int deformerType = 0);
    bool AddDeformer(KQovDeformer* deformer);
    bool RemoveDeformer(KQovDeformer* deformer);
    KQovDeformer* FindDeformer(const char* name);

private:
    // The node (and its attribute) no longer refer to this container.
    void Disown(KQovNode* node);
    // Empties the node's slot; the list closes up once half of it is empty slots.
    void TakeOutNode(const KQovNode* node);
    void CloseUpNodes();
    template <class T>
    T* GetAt(const KQovUseList<T>& list, int index);
    template <class T>
    T* FindOrReport(const KQovUseList<T>& list, const KString& name, int notFound);
    template <class T>
    bool Remove(KQovUseList<T>& list, T* object, int inUse, int notFound);

    KQovNode* mRoot = nullptr;
    // Null where a node was taken out and the list is not closed up yet.
    std::vector<KQovNode*> mNodes;
    size_t mNodeHoles = 0;
    // Each listed node's slot in mNodes.
    std::unordered_map<const KQovNode*, size_t> mNodeSlots;
    KQovUseList<KQovObject> mMaterials;
    KQovUseList<KQovObject> mTextures;
    KQovUseList<KQovVideo> mVideos;
    KQovUseList<KQovGenericNode> mGenericNodes;
    KQovUseList<KQovDeformer> mDeformers;
    KError mError;
};
