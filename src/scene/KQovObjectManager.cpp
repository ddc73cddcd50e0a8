#include "scene/KQovObjectManager.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

#include "scene/KClassRegistry.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovPose.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"
#include "scene/KQovUserProperty.h"
#include "scene/KQovVideo.h"

namespace {

const char* const kManagerErrors[KQovObjectManager::eErrorCount] = {
    "Object not found", "Object belongs to a scene", "Scene belongs to a character pose"};

bool OfAScene(const KQovNode* node) { return node && node->IsSceneOwned(); }

template <class T>
T* At(const std::vector<T*>& list, int index) {
    return index >= 0 && size_t(index) < list.size() ? list[size_t(index)] : nullptr;
}

// Entries of the user-property list: a block is told from a record by its lowest bit.
constexpr uintptr_t kBlockEntry = 1;

void* EntryOf(KQovUserProperty::Block* block) {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(block) | kBlockEntry);
}

KQovUserProperty::Block* BlockOf(void* entry) {
    const auto bits = reinterpret_cast<uintptr_t>(entry);
    return bits & kBlockEntry ? reinterpret_cast<KQovUserProperty::Block*>(bits & ~kBlockEntry)
                              : nullptr;
}

// An object's records not made yet: told by the second-lowest bit.
constexpr uintptr_t kDeferredEntry = 2;

void* DeferredEntryOf(const KQovObject* object) {
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(object) | kDeferredEntry);
}

const KQovObject* DeferredOf(void* entry) {
    const auto bits = reinterpret_cast<uintptr_t>(entry);
    return bits & kDeferredEntry ? reinterpret_cast<const KQovObject*>(bits & ~kDeferredEntry)
                                 : nullptr;
}

// The entry's records in order, each given to `visit` until it returns true.
template <class Visit>
KQovUserProperty* FirstRecord(void* entry, Visit visit) {
    if (!entry || DeferredOf(entry)) return nullptr;
    KQovUserProperty::Block* block = BlockOf(entry);
    if (!block) {
        auto* record = static_cast<KQovUserProperty*>(entry);
        return visit(record) ? record : nullptr;
    }
    for (size_t at = 0; at < KQovUserProperty::GetBlockUsed(block); ++at) {
        KQovUserProperty* record = KQovUserProperty::GetBlockRecord(block, at);
        if (record && visit(record)) return record;
    }
    return nullptr;
}

}  // namespace

KQovObjectManager::KQovObjectManager() : mError(kManagerErrors, eErrorCount) {
    KQovSdkAddUser();
    try {
        WireLaterLayers();
    } catch (...) {
        KQovSdkRemoveUser();  // no destructor runs for a manager that was never made
        throw;
    }
}

KQovObjectManager::~KQovObjectManager() {
    DestroyAll();
    // What DestroyAll keeps for the caller still belongs to this manager.
    DisposeAll(mDeformers);
    DisposeAll(mImageConverterRegistries);
    mNodeRenamer.reset();
    mMaterialRenamer.reset();
    mTextureRenamer.reset();
    mVideoRenamer.reset();
    KQovSdkRemoveUser();
}

KQovObject* KQovObjectManager::Named(KQovObject* object, KQovRenamer* renamer) {
    if (object && renamer) {
        KQovNamePair names = object->GetNamePair();
        renamer->Rename(names);
        object->SetNamePair(std::move(names));
    }
    return object;
}

template <class T>
bool KQovObjectManager::TakeOut(std::vector<T*>& list, T* object) {
    auto it = object ? std::find(list.begin(), list.end(), object) : list.end();
    if (it == list.end()) {
        mError.SetError(eObjectNotFound);
        return false;
    }
    list.erase(it);
    return true;
}

// Outwards from where the last object was taken: destroys mostly walk a list in order,
// forwards or backwards, so the next one is close. Links and shapes, which one mesh may hold by
// the ten thousand and a caller destroy in any order, are looked up by address once one is not
// close. The object is never read: it may be gone.
template <class T>
size_t KQovObjectManager::FindSlot(const std::vector<T*>& list, Slots& slots, const T* object) {
    constexpr bool kPlaced = std::is_same<T, KQovLink>::value || std::is_same<T, KQovShape>::value;
    constexpr size_t kClose = 64;
    const size_t size = list.size();
    if (!object || size == 0) return size;
    if (kPlaced && slots.places) {
        try {
            for (; slots.placed < size; ++slots.placed)
                if (list[slots.placed]) (*slots.places)[list[slots.placed]] = slots.placed;
            const auto at = slots.places->find(object);
            return at == slots.places->end() ? size : at->second;
        } catch (const std::bad_alloc&) {
            slots.places.reset();  // searched instead
        }
    }
    const size_t hint = std::min(slots.hint, size - 1);
    for (size_t d = 0; d <= hint || hint + d < size; ++d) {
        if (hint + d < size && list[hint + d] == object) return hint + d;
        if (d > 0 && d <= hint && list[hint - d] == object) return hint - d;
        if (kPlaced && d == kClose && !slots.places) {
            try {
                slots.places = std::make_unique<std::unordered_map<const void*, size_t>>();
                slots.placed = 0;
                return FindSlot(list, slots, object);
            } catch (const std::bad_alloc&) {
                slots.places.reset();
            }
        }
    }
    return size;
}

// The slot stays empty until half the list is holes: taking objects out one at a time then
// costs no more than the list's length in all.
template <class T>
bool KQovObjectManager::EmptySlot(std::vector<T*>& list, Slots& slots, T* object) {
    const size_t at = FindSlot(list, slots, object);
    if (at == list.size()) {
        mError.SetError(eObjectNotFound);
        return false;
    }
    if (slots.places && at < slots.placed) slots.places->erase(object);
    list[at] = nullptr;
    ++slots.holes;
    slots.hint = at;
    if (slots.holes * 2 > list.size()) CloseUp(list, slots);
    return true;
}

// Only an object found listed is read (another manager's, or one destroyed, may be gone); the
// search leaves the hint at it for the EmptySlot that follows.
template <class T, class Owned>
bool KQovObjectManager::RefusedAsSceneOwned(const std::vector<T*>& list, Slots& slots, T* object,
                                            Owned ownedBy) {
    const size_t at = FindSlot(list, slots, object);
    if (at == list.size()) return false;
    slots.hint = at;
    if (!ownedBy(object)) return false;
    mError.SetError(eObjectOfAScene);
    return true;
}

template <class T>
void KQovObjectManager::CloseUp(std::vector<T*>& list, Slots& slots) {
    if (slots.holes == 0) return;
    size_t kept = 0;
    size_t hint = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i == slots.hint) hint = kept;
        if (list[i]) list[kept++] = list[i];
    }
    list.resize(kept);
    slots.holes = 0;
    slots.hint = hint;
    // Places moved: found again as they are asked for.
    if (slots.places) slots.places->clear();
    slots.placed = 0;
}

// ---- creation

KQovScene* KQovObjectManager::CreateScene() { return Listed(mScenes, ConstructScene()); }

KQovNode* KQovObjectManager::CreateNode(const char* name) {
    KQovNode* node = ConstructNode(KMakePrefixedName("Model::", name).Buffer());
    Named(node, mNodeRenamer.get());
    return Listed(mNodes, node);
}

KQovLink* KQovObjectManager::CreateLink() {
    KQovLink* link = Listed(mLinks, ConstructLink());
    if (link) MarkMaker(link);
    return link;
}

KQovMaterial* KQovObjectManager::CreateMaterial(const char* name) {
    KQovMaterial* material = ConstructMaterial(KMakePrefixedName("Material::", name).Buffer());
    if (material) Named(AsObject(material), mMaterialRenamer.get());
    return Listed(mMaterials, material);
}

KQovTexture* KQovObjectManager::CreateTexture(const char* name) {
    KQovTexture* texture = ConstructTexture(KMakePrefixedName("Texture::", name).Buffer());
    if (texture) Named(AsObject(texture), mTextureRenamer.get());
    return Listed(mTextures, texture);
}

KQovVideo* KQovObjectManager::CreateVideo(const char* name) {
    KQovVideo* video = ConstructVideo(KMakePrefixedName("Video::", name).Buffer());
    Named(video, mVideoRenamer.get());
    return Listed(mVideos, video);
}

KQovPose* KQovObjectManager::CreatePose(const char* name, bool bindPose) {
    return Listed(mPoses, ConstructPose(KMakePrefixedName("Pose::", name).Buffer(), bindPose));
}

KQovUserProperty* KQovObjectManager::CreateUserProperty(const char* name, const char* typeName,
                                                        const char* label) {
    return ListUserProperty(ConstructUserProperty(name, typeName, label));
}

KQovUserProperty* KQovObjectManager::CreateUserPropertyFromProperty(KProperty* property) {
    return ListUserProperty(ConstructUserPropertyFromProperty(property));
}

KQovUserProperty* KQovObjectManager::ListUserProperty(KQovUserProperty* record) {
    if (!record) return nullptr;
    KQovUserProperty::Block* block = record->GetBlock();
    if (!block)
        PlaceUserPropertyEntry(record);
    else if (KQovUserProperty::ListBlock(block))
        PlaceUserPropertyEntry(EntryOf(block));
    ++mUserPropertyCount;
    return record;
}

void KQovObjectManager::PlaceUserPropertyEntry(void* entry) {
    if (mFillSlot == SIZE_MAX) {
        mUserProperties.push_back(entry);
    } else if (mFillLast == SIZE_MAX) {
        mUserProperties[mFillSlot] = entry;
        mFillLast = mFillSlot;
    } else {
        // More than one entry (records made one at a time): they follow each other.
        mUserProperties.insert(mUserProperties.begin() + long(++mFillLast), entry);
    }
}

void* KQovObjectManager::LastPlacedUserPropertyEntry() const {
    if (mFillSlot != SIZE_MAX) return mFillLast == SIZE_MAX ? nullptr : mUserProperties[mFillLast];
    return mUserProperties.empty() ? nullptr : mUserProperties.back();
}

void KQovObjectManager::ListDeferredRecords(const KQovObject* object, int count) {
    mUserProperties.push_back(DeferredEntryOf(object));
    mUserPropertyCount += size_t(count);
}

size_t KQovObjectManager::FindDeferredSlot(const KQovObject* object) {
    const size_t size = mUserProperties.size();
    if (size == 0) return size;
    void* const wanted = DeferredEntryOf(object);
    // Outwards from the last slot found: objects are mostly made and destroyed in order.
    const size_t hint = std::min(mUserPropertySlots.hint, size - 1);
    for (size_t d = 0; d <= hint || hint + d < size; ++d) {
        if (hint + d < size && mUserProperties[hint + d] == wanted) return hint + d;
        if (d > 0 && d <= hint && mUserProperties[hint - d] == wanted) return hint - d;
    }
    return size;
}

std::pair<size_t, size_t> KQovObjectManager::BeginDeferredRecords(const KQovObject* object,
                                                                  int count) {
    const std::pair<size_t, size_t> outer(mFillSlot, mFillLast);
    mFillSlot = mFillLast = SIZE_MAX;
    const size_t slot = FindDeferredSlot(object);
    if (slot == mUserProperties.size()) return outer;  // not listed: made at the end
    mUserPropertySlots.hint = slot;
    mUserPropertyCount -= size_t(count);
    mUserProperties[slot] = nullptr;
    mFillSlot = slot;
    return outer;
}

void KQovObjectManager::EndDeferredRecords(std::pair<size_t, size_t> outer) {
    // Nothing made: the slot stays empty.
    if (mFillSlot != SIZE_MAX && mFillLast == SIZE_MAX) ++mUserPropertySlots.holes;
    // Entries inserted here moved those of an outer fill that lie after them.
    const size_t added = mFillSlot == SIZE_MAX || mFillLast == SIZE_MAX ? 0 : mFillLast - mFillSlot;
    if (outer.first != SIZE_MAX && mFillSlot != SIZE_MAX && mFillSlot < outer.first)
        outer.first += added;
    if (outer.second != SIZE_MAX && mFillSlot != SIZE_MAX && mFillSlot < outer.second)
        outer.second += added;
    mFillSlot = outer.first;
    mFillLast = outer.second;
}

void KQovObjectManager::DropDeferredRecords(const KQovObject* object, int count) {
    const size_t slot = FindDeferredSlot(object);
    if (slot == mUserProperties.size()) return;
    mUserPropertySlots.hint = slot;
    mUserPropertyCount -= size_t(count);
    mUserProperties[slot] = nullptr;
    ++mUserPropertySlots.holes;
    if (mNodeDestroyDepth == 0 && mUserPropertySlots.holes * 2 > mUserProperties.size())
        CloseUp(mUserProperties, mUserPropertySlots);
}

KQovGenericNode* KQovObjectManager::CreateGenericNode(const char* name) {
    return Listed(mGenericNodes, ConstructGenericNode(name));
}

KQovDeformer* KQovObjectManager::CreateDeformer(const char* name, const char* kind) {
    const KString full = KMakePrefixedName(GetDeformerPrefix(kind), name);
    return Listed(mDeformers, ConstructDeformer(name ? full.Buffer() : nullptr, kind));
}

KQovThumbnail* KQovObjectManager::CreateThumbnail() {
    return Listed(mThumbnails, ConstructThumbnail());
}
KQovSceneInfo* KQovObjectManager::CreateSceneInfo() {
    return Listed(mSceneInfos, ConstructSceneInfo());
}
KQovGeometryConverter* KQovObjectManager::CreateGeometryConverter() {
    return Listed(mGeometryConverters, ConstructGeometryConverter());
}
KImageConverterRegistry* KQovObjectManager::CreateImageConverterRegistry() {
    return Listed(mImageConverterRegistries, ConstructImageConverterRegistry());
}
KQovExporter* KQovObjectManager::CreateExporter() {
    return Listed(mExporters, ConstructExporter());
}
KQovImporter* KQovObjectManager::CreateImporter() {
    return Listed(mImporters, ConstructImporter());
}

// ---- the constructing operations of this layer

KQovScene* KQovObjectManager::ConstructScene() { return new KQovScene(this); }
KQovNode* KQovObjectManager::ConstructNode(const char* name) { return new KQovNode(this, name); }
KQovVideo* KQovObjectManager::ConstructVideo(const char* name) { return new KQovVideo(this, name); }
KQovPose* KQovObjectManager::ConstructPose(const char* name, bool bindPose) {
    return new KQovPose(this, name, bindPose);
}
KQovUserProperty* KQovObjectManager::ConstructUserPropertyFromProperty(KProperty* property) {
    if (!property) return nullptr;
    // A listed block takes more records only while it is last in the list, so that the list
    // keeps the order the records were made in.
    const bool open = mRecordBlock && (!KQovUserProperty::IsBlockListed(mRecordBlock) ||
                                       LastPlacedUserPropertyEntry() == EntryOf(mRecordBlock));
    if (open) {
        if (KQovUserProperty* record = KQovUserProperty::CreateInBlock(mRecordBlock, property))
            return record;
    }
    return new KQovUserProperty(this, property);
}

KQovObjectManager::RecordBatch::RecordBatch(KQovObjectManager* manager, size_t count)
    : mManager(manager), mOuter(manager ? manager->mRecordBlock : nullptr) {
    if (mManager) mManager->mRecordBlock = KQovUserProperty::CreateBlock(mManager, count);
}

KQovObjectManager::RecordBatch::~RecordBatch() {
    if (!mManager) return;
    // The records keep the block alive; an unused one goes now.
    KQovUserProperty::ReleaseBlock(mManager->mRecordBlock);
    mManager->mRecordBlock = mOuter;
}
KQovUserProperty* KQovObjectManager::ConstructUserProperty(const char* name, const char* typeName,
                                                           const char* label) {
    return name && label ? new KQovUserProperty(this, name, typeName, label) : nullptr;
}
KQovGenericNode* KQovObjectManager::ConstructGenericNode(const char* name) {
    return name ? new KQovGenericNode(this, name) : nullptr;
}
KQovDeformer* KQovObjectManager::ConstructDeformer(const char* name, const char* kind) {
    return name && kind ? new KQovDeformer(this, name, kind) : nullptr;
}
KQovThumbnail* KQovObjectManager::ConstructThumbnail() { return new KQovThumbnail(); }
KQovSceneInfo* KQovObjectManager::ConstructSceneInfo() { return new KQovSceneInfo(); }

// ---- destruction

bool KQovObjectManager::DestroyScene(KQovScene* scene, bool recursive) {
    // Only a scene found listed is read: another manager's, or one destroyed, may be gone.
    const bool listed = scene && std::find(mScenes.begin(), mScenes.end(), scene) != mScenes.end();
    if (listed && scene->IsHeldByCharacterPose()) {
        mError.SetError(eSceneOfACharacterPose);
        return false;
    }
    if (!TakeOut(mScenes, scene)) return false;
    KQovNode* root = recursive ? scene->GetRootNode() : nullptr;
    Dispose(scene);
    if (!recursive) return true;
    // What other scenes own stays theirs; the rest of the tree goes whole.
    LetGoOfSceneOwnedBelow(root);
    return DestroyNode(root, true);
}

KQovNode* KQovObjectManager::FindSceneOwnedBelow(const KQovNode* top) {
    // A leaf can only hold a producer camera: most destroys (a Clear's, one node's) then look
    // at no scene, whatever their number.
    if (!top || top->IsSceneOwned()) return nullptr;
    if (top->GetChildCount() == 0) {
        const KQovNodeAttribute* attribute = top->GetNodeAttribute();
        if (!attribute || !attribute->IsSceneOwned()) return nullptr;
    }
    for (const KQovScene* scene : KQovScene::GetLiveScenes())
        if (KQovNode* owned = scene->FindOwnedBelow(top)) return owned;
    return nullptr;
}

void KQovObjectManager::LetGoOfSceneOwnedBelow(KQovNode* top) {
    while (KQovNode* owned = FindSceneOwnedBelow(top)) {
        if (owned->IsSceneOwned())
            owned->GetParent()->RemoveChild(owned);
        else
            owned->SetNodeAttribute(nullptr);
    }
}

bool KQovObjectManager::DestroyNode(KQovNode* top, bool recursive) {
    if (RefusedAsSceneOwned(mNodes, mNodeSlots, top, &OfAScene)) return false;
    // Refused whole: a subtree destroyed but for a scene's node would be half gone.
    if (recursive && top != mOwnedByNoScene && FindSlot(mNodes, mNodeSlots, top) != mNodes.size() &&
        FindSceneOwnedBelow(top)) {
        mError.SetError(eObjectOfAScene);
        return false;
    }
    if (!EmptySlot(mNodes, mNodeSlots, top)) return false;
    ++mNodeDestroyDepth;
    bool ok = true;
    // Children before their parent, by the tree's own links rather than a stack: a deep chain
    // must not recurse, and a destruction (a scene's, a manager's) must not allocate.
    KQovNode* node = top;
    while (node) {
        if (recursive) {
            // A destroyed child leaves the list: the first child still listed is next. One not
            // listed here stays, and is passed over again (it never becomes listed).
            KQovNode* next = nullptr;
            for (int i = 0; i < node->GetChildCount() && !next; ++i) {
                KQovNode* child = node->GetChild(i);
                if (!child) continue;
                if (OfAScene(child)) {
                    mError.SetError(eObjectOfAScene);
                    ok = false;
                } else if (EmptySlot(mNodes, mNodeSlots, child))
                    next = child;
                else
                    ok = false;
            }
            if (next) {
                ++mNodeDestroyDepth;
                node = next;
                continue;
            }
        }
        KQovNode* up = node == top ? nullptr : node->GetParent();
        // The attribute must not keep a node about to go, even when it stays alive.
        if (KQovNodeAttribute* attribute = node->GetNodeAttribute()) {
            node->SetNodeAttribute(nullptr);
            if (recursive) ok = DestroyNodeAttribute(attribute) && ok;
        }
        const KQovUserPropertyOwner* owner = node->GetPropertyHandler();
        // Records never made need no disposing (their place goes with the node); those of
        // others it lists stay, and are not looked for.
        for (int i = 0; !node->AreRecordsDeferred() && i < node->GetUserPropertyCount(); ++i) {
            KQovUserProperty* record = node->GetUserProperty(i);
            if (record->GetOwner() != owner) continue;
            try {
                mNodeRecords.emplace_back(record, owner);
            } catch (const std::bad_alloc&) {
                DisposeNodeRecord(record, owner);  // no memory to batch it: at once
            }
        }
        Dispose(node);
        if (--mNodeDestroyDepth == 0) DisposeNodeRecords();
        node = up;
    }
    return ok;
}

bool KQovObjectManager::DestroyNodeOwnedByNoScene(KQovNode* node) {
    struct Restore {
        const KQovNode*& at;
        const KQovNode* outer;
        ~Restore() { at = outer; }
    } restore{mOwnedByNoScene, mOwnedByNoScene};
    mOwnedByNoScene = node;
    return DestroyNode(node, true);
}

void KQovObjectManager::DisposeNodeRecords() {
    if (mNodeRecords.empty()) {
        // Nodes whose records were never made left their slots only.
        if (mUserPropertySlots.holes * 2 > mUserProperties.size())
            CloseUp(mUserProperties, mUserPropertySlots);
        return;
    }
    // Only records still listed are looked at: the caller may have destroyed some already.
    struct Found {
        size_t slot;
        const KQovUserProperty* record;
        const void* owner;
    };
    std::vector<Found> found;
    try {
        found.reserve(mNodeRecords.size());
    } catch (const std::bad_alloc&) {
        // No memory to sort them: one at a time, as listed (a destruction must not fail).
        for (const auto& [record, owner] : mNodeRecords) DisposeNodeRecord(record, owner);
        mNodeRecords.clear();
        if (mUserPropertySlots.holes * 2 > mUserProperties.size())
            CloseUp(mUserProperties, mUserPropertySlots);
        return;
    }
    for (const auto& [record, owner] : mNodeRecords) {
        const size_t slot = FindUserPropertySlot(record);
        if (slot == mUserProperties.size()) continue;
        mUserPropertySlots.hint = slot;
        found.push_back({slot, record, owner});
    }
    mNodeRecords.clear();
    // In list order (within a block, in address order, which is the order records were made
    // in); a record two nodes listed goes by the owner the first one gave.
    auto inOrder = [](const Found& a, const Found& b) {
        return a.slot != b.slot ? a.slot < b.slot : std::less<>()(a.record, b.record);
    };
    if (!std::is_sorted(found.begin(), found.end(), inOrder))
        std::stable_sort(found.begin(), found.end(), inOrder);
    found.erase(std::unique(found.begin(), found.end(),
                            [](const Found& a, const Found& b) {
                                return a.slot == b.slot && a.record == b.record;
                            }),
                found.end());
    for (const Found& f : found)
        DisposeFoundRecord(f.slot, const_cast<KQovUserProperty*>(f.record), f.owner);
    if (mUserPropertySlots.holes * 2 > mUserProperties.size())
        CloseUp(mUserProperties, mUserPropertySlots);
}

void KQovObjectManager::DisposeFoundRecord(size_t slot, KQovUserProperty* record,
                                           const void* owner) {
    // Records another object owns are left alone.
    if (record->GetOwner() != owner) return;
    // The records the node made for its own properties would otherwise pile up, one set per
    // node ever made; described ones are the caller's and stay, without the owner.
    if (record->HasDescription()) {
        record->SetOwner(nullptr);
        return;
    }
    DisposeListedUserProperty(slot, record);
}

void KQovObjectManager::DisposeNodeRecord(KQovUserProperty* record, const void* owner) {
    const size_t slot = FindUserPropertySlot(record);
    if (slot == mUserProperties.size()) return;
    mUserPropertySlots.hint = slot;
    DisposeFoundRecord(slot, record, owner);
}

// Outwards from where the last record was found, as FindSlot.
size_t KQovObjectManager::FindUserPropertySlot(const KQovUserProperty* record) {
    const size_t size = mUserProperties.size();
    if (!record || size == 0) return size;
    auto holds = [record](void* entry) {
        if (entry == record) return true;
        if (DeferredOf(entry)) return false;
        KQovUserProperty::Block* block = BlockOf(entry);
        const ptrdiff_t at = KQovUserProperty::GetBlockPlace(block, record);
        return at >= 0 && KQovUserProperty::GetBlockRecord(block, size_t(at)) != nullptr;
    };
    const size_t hint = std::min(mUserPropertySlots.hint, size - 1);
    for (size_t d = 0; d <= hint || hint + d < size; ++d) {
        if (hint + d < size && holds(mUserProperties[hint + d])) return hint + d;
        if (d > 0 && d <= hint && holds(mUserProperties[hint - d])) return hint - d;
    }
    return size;
}

void KQovObjectManager::DisposeListedUserProperty(size_t slot, KQovUserProperty* record) {
    KQovUserProperty::Block* block = BlockOf(mUserProperties[slot]);
    Dispose(record);
    --mUserPropertyCount;
    if (block && KQovUserProperty::GetBlockLive(block) != 0) return;
    // The list's reference goes with the slot.
    KQovUserProperty::ReleaseBlock(block);
    mUserProperties[slot] = nullptr;
    ++mUserPropertySlots.holes;
}

void KQovObjectManager::DisposeAllUserProperties() {
    // The objects that stay past the records let go of them all at once, not one by one.
    for (KQovGenericNode* node : mGenericNodes)
        if (node) AsObject(node)->LetGoOfAllUserProperties();
    for (KQovDeformer* deformer : mDeformers)
        if (deformer) AsObject(deformer)->LetGoOfAllUserProperties();
    std::vector<void*> entries;
    entries.swap(mUserProperties);
    mUserPropertySlots = Slots{};
    mUserPropertyCount = 0;
    for (void* entry : entries) {
        if (DeferredOf(entry)) continue;  // nothing made
        KQovUserProperty::Block* block = BlockOf(entry);
        if (!block) {
            Dispose(static_cast<KQovUserProperty*>(entry));
            continue;
        }
        // Held while its records go, so that the last of them does not free it under us.
        for (size_t at = 0; at < KQovUserProperty::GetBlockUsed(block); ++at)
            Dispose(KQovUserProperty::GetBlockRecord(block, at));
        KQovUserProperty::ReleaseBlock(block);
    }
}

template <class T>
bool KQovObjectManager::DestroyListed(std::vector<T*>& list, T* object) {
    if (!TakeOut(list, object)) return false;
    Dispose(object);
    return true;
}

bool KQovObjectManager::DestroyNodeAttribute(KQovNodeAttribute* attribute) {
    if (RefusedAsSceneOwned(mAttributes, mAttributeSlots, attribute,
                            [](KQovNodeAttribute* a) { return a->IsSceneOwned() || OfAScene(a->GetNode()); }))
        return false;
    if (!EmptySlot(mAttributes, mAttributeSlots, attribute)) return false;
    Dispose(attribute);
    return true;
}
// Links and shapes leave a gap in their list: a geometry's many, destroyed one by one, go in
// linear time.
bool KQovObjectManager::DestroyLink(KQovLink* link) {
    if (!EmptySlot(mLinks, mLinkSlots, link)) return false;
    Dispose(link);
    return true;
}
// A material or texture goes from the layers that name it before it goes: no geometry keeps
// a reference to a destroyed one.
void KQovObjectManager::ForgetEverywhere(const KQovObject* const* going, size_t count) {
    for (KQovNodeAttribute* attribute : mAttributes)
        if (attribute) attribute->ForgetObjects(going, count);
    for (KQovShape* shape : mShapes)
        if (shape) AsAttribute(shape)->ForgetObjects(going, count);
}

template <class T>
bool KQovObjectManager::DestroyShading(std::vector<T*>& list, T* const* objects, size_t count) {
    // One object needs no list: destroying it allocates nothing.
    const KQovObject* one = nullptr;
    std::vector<const KQovObject*> many;
    if (count > 1) many.reserve(count);
    std::vector<T*> taken;
    if (count > 1) taken.reserve(count);
    bool ok = true;
    for (size_t i = 0; i < count; ++i) {
        if (!TakeOut(list, objects[i])) {
            ok = false;
            continue;
        }
        if (count == 1) {
            one = AsObject(objects[i]);
        } else {
            many.push_back(AsObject(objects[i]));
            taken.push_back(objects[i]);
        }
    }
    if (count == 1) {
        if (one) ForgetEverywhere(&one, 1);
        if (one) Dispose(objects[0]);
        return ok;
    }
    std::sort(many.begin(), many.end(), std::less<const KQovObject*>());
    ForgetEverywhere(many.data(), many.size());
    for (T* object : taken) Dispose(object);
    return ok;
}

bool KQovObjectManager::DestroyMaterial(KQovMaterial* material) {
    return DestroyShading(mMaterials, &material, 1);
}
bool KQovObjectManager::DestroyMaterials(const std::vector<KQovMaterial*>& materials) {
    return DestroyShading(mMaterials, materials.data(), materials.size());
}
bool KQovObjectManager::DestroyTextures(const std::vector<KQovTexture*>& textures) {
    return DestroyShading(mTextures, textures.data(), textures.size());
}
bool KQovObjectManager::DestroyShape(KQovShape* shape) {
    if (!EmptySlot(mShapes, mShapeSlots, shape)) return false;
    Dispose(shape);
    return true;
}
bool KQovObjectManager::DestroyTexture(KQovTexture* texture) {
    return DestroyShading(mTextures, &texture, 1);
}
bool KQovObjectManager::DestroyVideo(KQovVideo* video) { return DestroyListed(mVideos, video); }
bool KQovObjectManager::DestroyPose(KQovPose* pose) {
    if (!TakeOut(mPoses, pose)) return false;
    for (KQovScene* scene : KQovScene::GetLiveScenes()) scene->ForgetPose(pose);
    Dispose(pose);
    return true;
}
bool KQovObjectManager::DestroyUserProperty(KQovUserProperty* userProperty) {
    const size_t slot = FindUserPropertySlot(userProperty);
    if (slot == mUserProperties.size()) {
        mError.SetError(eObjectNotFound);
        return false;
    }
    mUserPropertySlots.hint = slot;
    // The record leaves the lists of the objects listing it as it goes.
    DisposeListedUserProperty(slot, userProperty);
    if (mUserPropertySlots.holes * 2 > mUserProperties.size())
        CloseUp(mUserProperties, mUserPropertySlots);
    return true;
}

bool KQovObjectManager::DestroyGenericNode(KQovGenericNode* node) {
    return DestroyListed(mGenericNodes, node);
}
bool KQovObjectManager::DestroyDeformer(KQovDeformer* deformer) {
    return DestroyListed(mDeformers, deformer);
}
bool KQovObjectManager::DestroyThumbnail(KQovThumbnail* thumbnail) {
    if (!TakeOut(mThumbnails, thumbnail)) return false;
    auto forget = [thumbnail](KQovSceneInfo* info) {
        if (info && info->GetThumbnail() == thumbnail) info->SetThumbnail(nullptr);
    };
    for (KQovSceneInfo* info : mSceneInfos) forget(info);
    for (KQovScene* scene : KQovScene::GetLiveScenes()) forget(scene->GetSceneInfo());
    Dispose(thumbnail);
    return true;
}
bool KQovObjectManager::DestroySceneInfo(KQovSceneInfo* sceneInfo) {
    if (!TakeOut(mSceneInfos, sceneInfo)) return false;
    for (KQovScene* scene : KQovScene::GetLiveScenes()) scene->ForgetSceneInfo(sceneInfo);
    Dispose(sceneInfo);
    return true;
}
bool KQovObjectManager::DestroyGeometryConverter(KQovGeometryConverter* converter) {
    return DestroyListed(mGeometryConverters, converter);
}
bool KQovObjectManager::DestroyExporter(KQovExporter* exporter) {
    return DestroyListed(mExporters, exporter);
}
bool KQovObjectManager::DestroyImporter(KQovImporter* importer) {
    return DestroyListed(mImporters, importer);
}

void KQovObjectManager::Dispose(KQovScene* scene) { delete scene; }
void KQovObjectManager::Dispose(KQovNode* node) { PrepareAndDelete(node); }
void KQovObjectManager::Dispose(KQovNodeAttribute* attribute) { delete attribute; }
void KQovObjectManager::Dispose(KQovVideo* video) { PrepareAndDelete(video); }
void KQovObjectManager::Dispose(KQovPose* pose) { delete pose; }
void KQovObjectManager::Dispose(KQovUserProperty* userProperty) {
    KQovUserProperty::Dispose(userProperty);
}
void KQovObjectManager::Dispose(KQovGenericNode* node) { delete node; }
void KQovObjectManager::Dispose(KQovDeformer* deformer) { delete deformer; }
void KQovObjectManager::Dispose(KQovThumbnail* thumbnail) { delete thumbnail; }
void KQovObjectManager::Dispose(KQovSceneInfo* sceneInfo) { delete sceneInfo; }

void KQovObjectManager::PrepareAndDelete(KQovObject* object) {
    if (!object) return;
    object->PrepareDestroy();
    delete object;
}

void KQovObjectManager::DestroyAll() {
    DisposeAll(mScenes);
    // Nodes must not keep attributes that are about to go.
    for (KQovNodeAttribute* attribute : mAttributes)
        if (KQovNode* node = attribute ? attribute->GetNode() : nullptr)
            node->SetNodeAttribute(nullptr);
    // Emptied slots go with the lists (Dispose passes over them).
    DisposeAll(mAttributes);
    mAttributeSlots = Slots{};
    DisposeAll(mNodes);
    mNodeSlots = Slots{};
    DisposeAll(mLinks);
    mLinkSlots = Slots{};
    DisposeAll(mMaterials);
    DisposeAll(mShapes);
    mShapeSlots = Slots{};
    DisposeAll(mTextures);
    DisposeAll(mVideos);
    DisposeAll(mPoses);
    DisposeAllUserProperties();
    DisposeAll(mGenericNodes);
    ForgetSceneInfosElsewhere();
    DisposeAll(mThumbnails);
    DisposeAll(mSceneInfos);
    DisposeAll(mGeometryConverters);
    DisposeAll(mExporters);
    DisposeAll(mImporters);
    for (KQovRenamer* renamer :
         {mNodeRenamer.get(), mMaterialRenamer.get(), mTextureRenamer.get(), mVideoRenamer.get()})
        if (renamer) renamer->Reset();
}

// This manager's scenes are gone; those of other managers let go of its records.
void KQovObjectManager::ForgetSceneInfosElsewhere() {
    auto listed = [](const auto& list, const void* object) {
        return object && std::find(list.begin(), list.end(), object) != list.end();
    };
    for (KQovScene* scene : KQovScene::GetLiveScenes()) {
        KQovSceneInfo* info = scene->GetSceneInfo();
        if (listed(mSceneInfos, info))
            scene->ForgetSceneInfo(info);
        else if (info && listed(mThumbnails, info->GetThumbnail()))
            info->SetThumbnail(nullptr);
    }
}

// ---- lookups

template <class T>
T* KQovObjectManager::FindNamed(const std::vector<T*>& list, KQovObject* (*asObject)(T*),
                                const char* prefix, const char* name, int occurrence) {
    const KString full = KMakePrefixedName(prefix, name);
    int matches = 0;
    for (T* object : list) {
        if (object && std::strcmp(asObject(object)->GetName(), full.Buffer()) == 0 &&
            matches++ == occurrence)
            return object;
    }
    mError.SetError(eObjectNotFound);
    return nullptr;
}

KQovNode* KQovObjectManager::FindNode(const char* name, int occurrence) {
    return FindNamed<KQovNode>(mNodes, [](KQovNode* n) -> KQovObject* { return n; }, "Model::",
                               name, occurrence);
}
KQovMaterial* KQovObjectManager::FindMaterial(const char* name, int occurrence) {
    return FindNamed<KQovMaterial>(mMaterials, &AsObject, "Material::", name, occurrence);
}
KQovTexture* KQovObjectManager::FindTexture(const char* name, int occurrence) {
    return FindNamed<KQovTexture>(mTextures, &AsObject, "Texture::", name, occurrence);
}
KQovVideo* KQovObjectManager::FindVideo(const char* name, int occurrence) {
    return FindNamed<KQovVideo>(mVideos, [](KQovVideo* v) -> KQovObject* { return v; }, "Video::",
                                name, occurrence);
}

template <class T>
T* KQovObjectManager::FindExact(const std::vector<T*>& list, const char* name) {
    for (T* object : list)
        if (name && std::strcmp(object->GetName(), name) == 0) return object;
    mError.SetError(eObjectNotFound);
    return nullptr;
}

KQovPose* KQovObjectManager::FindPose(const char* name) { return FindExact(mPoses, name); }
KQovGenericNode* KQovObjectManager::FindGenericNode(const char* name) {
    return FindExact(mGenericNodes, name);
}

KQovUserProperty* KQovObjectManager::FindUserProperty(const char* name) {
    if (!name) return nullptr;
    for (size_t i = 0; i < mUserProperties.size(); ++i) {
        // Records not made yet are made when one of them is the one asked for; they take the
        // entry's place.
        if (const KQovObject* object = DeferredOf(mUserProperties[i])) {
            if (!object->WouldHaveDeferredRecord(name)) continue;
            const_cast<KQovObject*>(object)->GetUserPropertyCount();
        }
        KQovUserProperty* found = FirstRecord(
            mUserProperties[i], [name](const KQovUserProperty* u) { return u->GetName() == name; });
        if (found) return found;
    }
    return nullptr;
}

KQovNode* KQovObjectManager::GetNode(int index) const {
    // Closing up changes no index a caller can see; a manager with holes was never const.
    if (mNodeSlots.holes != 0)
        CloseUp(const_cast<std::vector<KQovNode*>&>(mNodes), const_cast<Slots&>(mNodeSlots));
    return At(mNodes, index);
}
KQovMaterial* KQovObjectManager::GetMaterial(int index) const { return At(mMaterials, index); }

void KQovObjectManager::SetNodeRenamer(std::unique_ptr<KQovRenamer> renamer) {
    mNodeRenamer = std::move(renamer);
}
void KQovObjectManager::SetMaterialRenamer(std::unique_ptr<KQovRenamer> renamer) {
    mMaterialRenamer = std::move(renamer);
}
void KQovObjectManager::SetTextureRenamer(std::unique_ptr<KQovRenamer> renamer) {
    mTextureRenamer = std::move(renamer);
}
void KQovObjectManager::SetVideoRenamer(std::unique_ptr<KQovRenamer> renamer) {
    mVideoRenamer = std::move(renamer);
}
