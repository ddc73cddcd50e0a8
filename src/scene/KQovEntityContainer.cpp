#include "scene/KQovEntityContainer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "scene/KQovDeformer.h"
#include "scene/KQovGenericNode.h"

#include <vector>
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObject.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovVideo.h"

namespace {

const char* const kEntityContainerErrors[KQovEntityContainer::eErrorCount] = {
    "Node is null.",
    "Node is already owned by the entity.",
    "Node does not belong to the entity.",
    "Parameter is out of range.",
    "Material still in use.",
    "Material not found.",
    "Texture still in use.",
    "Texture not found.",
    "Video still in use.",
    "Video not found.",
    "Video name clash.",
    "",
    "",
    "",
    "",
    "",
    "",
};

template <class T>
T* FindByName(const KQovUseList<T>& list, const char* name) {
    return list.FindNamed(name);
}

void CollectTree(KQovNode* root, int type, std::vector<KQovNode*>& out) {
    for (KQovNode* node : KQovListNodes(root)) {
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        if (attribute && attribute->GetAttributeType() == type) out.push_back(node);
    }
}

}  // namespace

template <class T>
bool KQovUseList<T>::Contains(const T* object) const {
    return mUses.count(object) != 0;
}

template <class T>
int KQovUseList<T>::GetUseCount(const T* object) const {
    const auto it = mUses.find(object);
    return it == mUses.end() ? 0 : it->second.count;
}

template <class T>
uint64_t KQovUseList<T>::SerialOf(const T* object) const {
    return mUses.find(object)->second.serial;
}

template <class T>
void KQovUseList<T>::AddUse(T* object) {
    const auto [at, added] = mUses.try_emplace(object, Use{object, 0, mSerial});
    if (added) {
        try {
            mOrder.push_back(object);
            Watch(object);
        } catch (...) {
            if (!mOrder.empty() && mOrder.back() == object) mOrder.pop_back();
            mUses.erase(at);
            throw;
        }
        ++mSerial;
        if (mNamedValid) {
            try {
                Index(object, object->GetName());
            } catch (const std::bad_alloc&) {
                DropIndex();  // made again at the next look-up
            }
        }
    }
    ++at->second.count;
}

template <class T>
void KQovUseList<T>::Index(T* object, const char* name) const {
    const std::string_view key(name);
    const auto found = mNamed.find(key);
    if (found == mNamed.end()) {
        std::unique_ptr<char[]> text(new char[key.size() + 1]);
        std::memcpy(text.get(), name, key.size() + 1);
        const std::string_view owned(text.get(), key.size());
        mNamed.try_emplace(owned, Named{std::move(text), object, {}});
        return;
    }
    Named& named = found->second;
    const uint64_t serial = SerialOf(object);
    if (serial < SerialOf(named.first)) {
        named.later.insert(named.later.begin(), named.first);
        named.first = object;
        return;
    }
    const auto at = std::upper_bound(named.later.begin(), named.later.end(), serial,
                                     [this](uint64_t s, const T* o) { return s < SerialOf(o); });
    named.later.insert(at, object);
}

template <class T>
void KQovUseList<T>::Unindex(const T* object, const char* name) const {
    const auto found = mNamed.find(std::string_view(name));
    if (found == mNamed.end()) return;
    Named& named = found->second;
    if (named.first != object) {
        const auto at = std::find(named.later.begin(), named.later.end(), object);
        if (at != named.later.end()) named.later.erase(at);
    } else if (named.later.empty()) {
        mNamed.erase(found);
    } else {
        named.first = named.later.front();
        named.later.erase(named.later.begin());
    }
}

template <class T>
void KQovUseList<T>::NameChanged(KQovObject* object, const char* oldName) {
    const auto use = mUses.find(object);
    if (!mNamedValid || use == mUses.end()) return;
    T* listed = use->second.object;
    Unindex(listed, oldName);
    try {
        Index(listed, listed->GetName());
    } catch (const std::bad_alloc&) {
        DropIndex();
    }
}

template <class T>
void KQovUseList<T>::ObjectGoing(KQovObject* object) {
    const auto use = mUses.find(object);
    if (use != mUses.end()) Forget(use);
}

template <class T>
T* KQovUseList<T>::FindNamed(const char* name) const {
    if (!name) return nullptr;
    if (!mNamedValid) {
        try {
            for (T* object : mOrder) Index(object, object->GetName());
            mNamedValid = true;
        } catch (const std::bad_alloc&) {
            // Without memory for the index, the list is searched in order.
            DropIndex();
            for (T* object : mOrder)
                if (std::strcmp(object->GetName(), name) == 0) return object;
            return nullptr;
        }
    }
    const auto found = mNamed.find(std::string_view(name));
    return found == mNamed.end() ? nullptr : found->second.first;
}

template <class T>
int KQovUseList<T>::RemoveUse(T* object) {
    auto it = mUses.find(object);
    if (it == mUses.end()) return -1;
    const int left = --it->second.count;
    if (left == 0) Forget(it);
    return left;
}

template <class T>
void KQovUseList<T>::Forget(const T* object) {
    const auto use = mUses.find(object);
    if (use != mUses.end()) Forget(use);
}

template <class T>
void KQovUseList<T>::Forget(typename Uses::iterator use) {
    T* object = use->second.object;
    // Through the common part: a destructor may be under way.
    KQovObject* common = const_cast<KQovObject*>(use->first);
    if (mNamedValid) Unindex(object, common->GetName());
    mUses.erase(use);
    mOrder.erase(std::find(mOrder.begin(), mOrder.end(), object));
    Unwatch(common);
}

template <class T>
void KQovUseList<T>::Clear() {
    for (T* object : mOrder) Unwatch(object);
    mOrder.clear();
    mUses.clear();
    DropIndex();
}

KQovEntityContainer::KQovEntityContainer(KQovObjectManager* manager)
    : mError(kEntityContainerErrors, eErrorCount) {
    mRoot = manager ? manager->CreateNode("RootNode") : nullptr;
    if (mRoot) mRoot->mEntityContainer = this;
}

KQovEntityContainer::~KQovEntityContainer() {
    // Generic nodes outlive the scene in the manager: they must not keep a
    // pointer to a container that is gone.
    // A node added straight to the list names no container: walk a snapshot
    // so it is dropped too instead of being asked again and again.
    std::vector<KQovGenericNode*> genericNodes;
    for (int i = 0; i < mGenericNodes.GetCount(); ++i) genericNodes.push_back(mGenericNodes.Get(i));
    for (KQovGenericNode* node : genericNodes) node->ForgetEntity(this);
    mGenericNodes.Clear();
    // So do the nodes, and the geometry that counted its shading uses here.
    Release();
}

void KQovEntityContainer::Release() {
    if (mRoot && mNodeSlots.count(mRoot) == 0) Disown(mRoot);
    for (KQovNode* node : mNodes)
        if (node) Disown(node);
    if (mRoot) mRoot->SetSceneOwned(false);  // no longer a scene's root
    mRoot = nullptr;
    mNodes.clear();
    mNodeHoles = 0;
    mNodeSlots.clear();
    mMaterials.Clear();
    mTextures.Clear();
}

void KQovEntityContainer::Disown(KQovNode* node) {
    if (node->mEntityContainer != this) return;
    node->mEntityContainer = nullptr;
    if (KQovNodeAttribute* attribute = node->GetNodeAttribute()) attribute->ForgetEntityContainer(this);
}

void KQovEntityContainer::ForgetNode(const KQovNode* node) {
    TakeOutNode(node);
    if (node == mRoot) mRoot = nullptr;
}

// A scene's nodes go one by one when it is destroyed: erasing each from the list would
// cost the list's length per node.
void KQovEntityContainer::TakeOutNode(const KQovNode* node) {
    auto found = mNodeSlots.find(node);
    if (found == mNodeSlots.end()) return;
    mNodes[found->second] = nullptr;
    mNodeSlots.erase(found);
    if (++mNodeHoles * 2 > mNodes.size()) CloseUpNodes();
}

void KQovEntityContainer::CloseUpNodes() {
    if (mNodeHoles == 0) return;
    size_t kept = 0;
    for (KQovNode* node : mNodes) {
        if (!node) continue;
        mNodeSlots[node] = kept;
        mNodes[kept++] = node;
    }
    mNodes.resize(kept);
    mNodeHoles = 0;
}

KQovNode* KQovEntityContainer::GetNode(int index) {
    if (index < 0 || index >= GetNodeCount()) {
        mError.SetError(eOutOfRange);
        return nullptr;
    }
    CloseUpNodes();
    return mNodes[size_t(index)];
}

bool KQovEntityContainer::AddNode(KQovNode* node) {
    if (!node) {
        mError.SetError(eNodeIsNull);
        return false;
    }
    if (mNodeSlots.count(node) != 0) {
        mError.SetError(eNodeAlreadyOwned);
        return false;
    }
    mNodes.push_back(node);
    try {
        mNodeSlots.emplace(node, mNodes.size() - 1);
    } catch (...) {
        mNodes.pop_back();
        throw;
    }
    // A node belongs to one container, which it tells when it goes away.
    if (node->mEntityContainer && node->mEntityContainer != this) node->mEntityContainer->RemoveNode(node);
    node->mEntityContainer = this;
    // What the node's attribute uses is counted where the node is.
    if (KQovNodeAttribute* attribute = node->GetNodeAttribute()) {
        try {
            attribute->MoveToEntityContainer(this);
        } catch (...) {
            // Out of memory part of the way: the node and its uses end in no container.
            attribute->MoveToEntityContainer(nullptr);
            TakeOutNode(node);
            Disown(node);
            throw;
        }
    }
    return true;
}

bool KQovEntityContainer::RemoveNode(KQovNode* node) {
    if (!node) {
        mError.SetError(eNodeIsNull);
        return false;
    }
    if (mNodeSlots.count(node) == 0) {
        mError.SetError(eNodeNotOwned);
        return false;
    }
    TakeOutNode(node);
    if (node == mRoot) {
        mRoot->SetSceneOwned(false);
        mRoot = nullptr;
    }
    // What its attribute counted here goes with it.
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    if (attribute && node->mEntityContainer == this) attribute->MoveToEntityContainer(nullptr);
    // A node out of the container must not point at it once it is gone.
    Disown(node);
    return true;
}

void KQovEntityContainer::CollectNodesByAttributeType(std::vector<KQovNode*>& out, int type,
                                                      bool fromRootTree) {
    out.clear();
    if (fromRootTree) {
        if (mRoot) CollectTree(mRoot, type, out);
        return;
    }
    for (KQovNode* node : mNodes) {
        if (!node) continue;
        const KQovNodeAttribute* attribute = node->GetNodeAttribute();
        if (attribute && attribute->GetAttributeType() == type) out.push_back(node);
    }
}

template <class T>
T* KQovEntityContainer::GetAt(const KQovUseList<T>& list, int index) {
    if (index < 0 || index >= list.GetCount()) {
        mError.SetError(eOutOfRange);
        return nullptr;
    }
    return list.Get(index);
}

template <class T>
T* KQovEntityContainer::FindOrReport(const KQovUseList<T>& list, const KString& name, int notFound) {
    T* found = FindByName(list, name.Buffer());
    if (!found) mError.SetError(notFound);
    return found;
}

template <class T>
bool KQovEntityContainer::Remove(KQovUseList<T>& list, T* object, int inUse, int notFound) {
    const int left = object ? list.RemoveUse(object) : -1;
    if (left < 0) {
        mError.SetError(notFound);
        return false;
    }
    if (left > 0) {
        mError.SetError(inUse);
        return false;
    }
    return true;
}

KQovObject* KQovEntityContainer::GetMaterial(int index) {
    return GetAt(mMaterials, index);
}
bool KQovEntityContainer::AddMaterial(KQovObject* material) {
    if (material) mMaterials.AddUse(material);
    return true;
}
bool KQovEntityContainer::RemoveMaterial(KQovObject* material) {
    return Remove(mMaterials, material, eMaterialInUse, eMaterialNotFound);
}
KQovObject* KQovEntityContainer::FindMaterial(const KString& name) {
    return FindOrReport(mMaterials, name, eMaterialNotFound);
}

KQovObject* KQovEntityContainer::GetTexture(int index) {
    return GetAt(mTextures, index);
}
bool KQovEntityContainer::AddTexture(KQovObject* texture) {
    if (texture) mTextures.AddUse(texture);
    return true;
}
bool KQovEntityContainer::RemoveTexture(KQovObject* texture) {
    return Remove(mTextures, texture, eTextureInUse, eTextureNotFound);
}
KQovObject* KQovEntityContainer::FindTexture(const KString& name) {
    return FindOrReport(mTextures, name, eTextureNotFound);
}

KQovVideo* KQovEntityContainer::GetVideo(int index) {
    return GetAt(mVideos, index);
}
bool KQovEntityContainer::AddVideo(KQovVideo* video) {
    if (!video) return true;
    if (!mVideos.Contains(video)) {
        KQovVideo* named = FindByName(mVideos, video->GetName());
        if (named) {
            mError.SetError(eVideoNameClash);
            return false;
        }
    }
    mVideos.AddUse(video);
    return true;
}
bool KQovEntityContainer::RemoveVideo(KQovVideo* video) {
    return Remove(mVideos, video, eVideoInUse, eVideoNotFound);
}
KQovVideo* KQovEntityContainer::FindVideo(const KString& name) {
    return FindOrReport(mVideos, name, eVideoNotFound);
}

KQovGenericNode* KQovEntityContainer::GetGenericNode(int index) {
    return GetAt(mGenericNodes, index);
}
bool KQovEntityContainer::AddGenericNode(KQovGenericNode* node) {
    if (node) mGenericNodes.AddUse(node);
    return true;
}
bool KQovEntityContainer::RemoveGenericNode(KQovGenericNode* node) {
    return Remove(mGenericNodes, node, eGenericNodeInUse, eGenericNodeNotFound);
}
void KQovEntityContainer::ForgetGenericNode(const KQovGenericNode* node) {
    mGenericNodes.Forget(node);
}
KQovGenericNode* KQovEntityContainer::FindGenericNode(const char* name) {
    return FindByName(mGenericNodes, name);
}

int KQovEntityContainer::GetDeformerCount(int deformerType) const {
    if (deformerType == 0) return mDeformers.GetCount();
    int count = 0;
    for (int i = 0; i < mDeformers.GetCount(); ++i)
        if (mDeformers.Get(i)->GetDeformerType() == deformerType) ++count;
    return count;
}
KQovDeformer* KQovEntityContainer::GetDeformer(int index, int deformerType) {
    if (index < 0 || deformerType < 0) return nullptr;
    for (int i = 0; i < mDeformers.GetCount(); ++i) {
        KQovDeformer* deformer = mDeformers.Get(i);
        if ((deformerType == 0 || deformer->GetDeformerType() == deformerType) && index-- == 0)
            return deformer;
    }
    return nullptr;
}
bool KQovEntityContainer::AddDeformer(KQovDeformer* deformer) {
    if (deformer) mDeformers.AddUse(deformer);
    return true;
}
bool KQovEntityContainer::RemoveDeformer(KQovDeformer* deformer) {
    return Remove(mDeformers, deformer, eDeformerInUse, eDeformerNotFound);
}
KQovDeformer* KQovEntityContainer::FindDeformer(const char* name) {
    return FindByName(mDeformers, name);
}

template class KQovUseList<KQovObject>;
template class KQovUseList<KQovVideo>;
template class KQovUseList<KQovGenericNode>;
template class KQovUseList<KQovDeformer>;
