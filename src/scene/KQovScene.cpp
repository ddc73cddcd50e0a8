#include "scene/KQovScene.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "foundation/KPath.h"
#include "foundation/KQovLayerElement.h"
#include "foundation/KQuotedText.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPose.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovSceneServices.h"
#include "scene/KQovTakeInfo.h"
#include "scene/KQovVideo.h"

namespace {
const char* const kSceneErrors[] = {"Take error."};
const char kSwitcherName[] = "Camera Switcher";

KQovSceneServices* gServices = nullptr;

// Never destroyed: a scene whose manager has static storage may go after this list would.
std::vector<KQovScene*>& LiveScenes() {
    static auto* scenes = new std::vector<KQovScene*>;
    return *scenes;
}

// The scene object owning a plug, when the plug is a property set.
KQovObject* OwnerOf(KPlug* plug) {
    auto* set = dynamic_cast<KQovPropertyHandler*>(plug);
    return set ? set->GetOwner() : nullptr;
}

KQovNode* NodeOf(KPlug* plug) {
    KQovObject* owner = OwnerOf(plug);
    return owner && owner->GetObjectType() == KQovObject::eNode ? static_cast<KQovNode*>(owner) : nullptr;
}

KQovDeformer* DeformerOf(KPlug* plug, int type) {
    auto* deformer = dynamic_cast<KQovDeformer*>(OwnerOf(plug));
    return deformer && deformer->GetDeformerType() == type ? deformer : nullptr;
}

// The first source of `plug` that is a node's property set.
KQovNode* FirstSourceNode(KPlug* plug) {
    for (int i = 0; plug && i < plug->GetSrcCount(); ++i)
        if (KQovNode* node = NodeOf(plug->GetSrc(i))) return node;
    return nullptr;
}

KString WithoutPrefix(const char* name) {
    const char* colon = std::strstr(name, "::");
    return KString(colon ? colon + 2 : name);
}

// Whether `node` lies in the subtree of `top`.
bool Below(const KQovNode* node, const KQovNode* top) {
    for (const KQovNode* p = node; p; p = p->GetParent())
        if (p == top) return true;
    return false;
}

bool IsGeometry(const KQovNode* node) {
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    if (!attribute) return false;
    int type = attribute->GetAttributeType();
    return type == KQovNodeAttribute::eMesh || type == KQovNodeAttribute::eNurb ||
           type == KQovNodeAttribute::ePatch;
}
}  // namespace

void KQovScene::SetServices(KQovSceneServices* services) { gServices = services; }
KQovSceneServices* KQovScene::GetServices() { return gServices; }
const std::vector<KQovScene*>& KQovScene::GetLiveScenes() { return LiveScenes(); }

KQovScene::KQovScene(KQovObjectManager* manager)
    : mManager(manager), mEntity(new KQovEntityContainer(manager)), mError(kSceneErrors, 1) {
    mSwitcher = manager ? manager->CreateNode(kSwitcherName) : nullptr;
    if (mSwitcher && gServices)
        if (KQovNodeAttribute* switcher = gServices->CreateCameraSwitcher(manager))
            mSwitcher->SetNodeAttribute(switcher);
    if (KQovNode* root = mEntity->GetRootNode()) root->SetSceneOwned(true);
    if (mSwitcher) {
        mSwitcher->SetSceneOwned(true);
        mSwitcher->SetVisibility(false);
        mSwitcher->SetShadingMode(1);
    }
    mLight.reset(new KQovGlobalLightSettings);
    mCamera.reset(new KQovGlobalCameraSettings(manager, this));
    mTime.reset(new KQovGlobalTimeSettings);
    LiveScenes().push_back(this);
}

KQovScene::~KQovScene() {
    auto& live = LiveScenes();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    mEntity.reset();
    if (mSwitcher) mSwitcher->SetSceneOwned(false);
    KQovObjectManager::LetGoOfSceneOwnedBelow(mSwitcher);
    if (mManager && mSwitcher) mManager->DestroyNode(mSwitcher, true);
    if (mManager && mSceneInfo) mManager->DestroySceneInfo(mSceneInfo);
    DestroyCharacters();
}

KQovNode* KQovScene::GetRootNode() const { return mEntity->GetRootNode(); }

int KQovScene::GetGenericNodeCount() const {
    return mEntity->GetGenericNodeCount();
}

KQovGenericNode* KQovScene::GetGenericNode(int index) const {
    return mEntity->GetGenericNode(index);
}

int KQovScene::GetDeformerCount(int deformerType) const {
    return mEntity->GetDeformerCount(deformerType);
}

KQovDeformer* KQovScene::GetDeformer(int index, int deformerType) const {
    return mEntity->GetDeformer(index, deformerType);
}

bool KQovScene::AddDeformer(KQovDeformer* deformer) {
    return mEntity->AddDeformer(deformer);
}

bool KQovScene::SetCameraSwitcherNode(KQovNode* node) {
    if (node == mSwitcher) return true;
    // A root, a producer camera or another scene's switcher would be destroyed under its
    // scene by the next change; a node of another manager would outlive it here.
    if (node && (node->IsSceneOwned() || node->GetObjectManager() != mManager)) return false;
    // A root below it would go with it.
    if (node && HoldsARoot(node)) return false;
    // Owned first: a new switcher hung under the old one is passed over as that goes.
    if (node) node->SetSceneOwned(true);
    KQovNode* old = std::exchange(mSwitcher, node);
    if (old) old->SetSceneOwned(false);
    KQovObjectManager::LetGoOfSceneOwnedBelow(old);
    if (mManager && old) mManager->DestroyNode(old, true);
    return true;
}

KQovObject* KQovScene::At(const std::vector<KQovObject*>& list, int index) {
    return index >= 0 && index < int(list.size()) ? list[size_t(index)] : nullptr;
}

int KQovScene::CreateCharacter(const char* name) {
    KQovObject* made = gServices ? gServices->NewCharacter(mManager, KMakePrefixedName("Constraint::", name).Buffer()) : nullptr;
    if (!made) return -1;
    mCharacters.push_back(made);
    return GetCharacterCount() - 1;
}

int KQovScene::CreateControlSetPlug(const char* name) {
    KQovObject* made =
        gServices ? gServices->NewControlSetPlug(mManager, KMakePrefixedName("ControlSetPlug::", name).Buffer())
                  : nullptr;
    if (!made) return -1;
    mControlSetPlugs.push_back(made);
    return GetControlSetPlugCount() - 1;
}

int KQovScene::CreateCharacterPose(const char* name) {
    KQovObject* made =
        gServices ? gServices->NewCharacterPose(mManager, KMakePrefixedName("Pose::", name).Buffer()) : nullptr;
    if (!made) return -1;
    mCharacterPoses.push_back(made);
    return GetCharacterPoseCount() - 1;
}

void KQovScene::DestroyCharacterPose(int index) {
    if (index < 0 || index >= GetCharacterPoseCount()) return;
    KQovObject* pose = mCharacterPoses[size_t(index)];
    mCharacterPoses.erase(mCharacterPoses.begin() + index);
    pose->PrepareDestroy();
    delete pose;
}

void KQovScene::DestroyCharacters() {
    for (auto* list : {&mCharacters, &mControlSetPlugs, &mCharacterPoses}) {
        std::vector<KQovObject*> objects;
        objects.swap(*list);
        for (KQovObject* object : objects) {
            object->PrepareDestroy();
            delete object;
        }
    }
}

KQovPose* KQovScene::GetPose(int index) const {
    return index >= 0 && index < GetPoseCount() ? mPoses[size_t(index)] : nullptr;
}

bool KQovScene::AddPose(KQovPose* pose) {
    // Another manager's pose would outlive its manager here.
    if (!pose || pose->GetObjectManager() != mManager ||
        std::find(mPoses.begin(), mPoses.end(), pose) != mPoses.end())
        return false;
    mPoses.push_back(pose);
    return true;
}

void KQovScene::ForgetPose(const KQovPose* pose) {
    mPoses.erase(std::remove(mPoses.begin(), mPoses.end(), pose), mPoses.end());
}

void KQovScene::ForgetSceneInfo(const KQovSceneInfo* info) {
    if (info && info == mSceneInfo) mSceneInfo = nullptr;
}

std::vector<KQovTakeNodeContainer*> KQovScene::AnimatedObjects() const {
    std::vector<KQovTakeNodeContainer*> objects;
    if (mSwitcher) objects.push_back(mSwitcher);
    KQovEntityContainer& e = *mEntity;
    for (int i = 0; i < e.GetNodeCount(); ++i) objects.push_back(e.GetNode(i));
    for (int i = 0; i < e.GetTextureCount(); ++i)
        objects.push_back(dynamic_cast<KQovTakeNodeContainer*>(e.GetTexture(i)));
    for (int i = 0; i < e.GetMaterialCount(); ++i)
        objects.push_back(dynamic_cast<KQovTakeNodeContainer*>(e.GetMaterial(i)));
    for (int i = 0; i < e.GetGenericNodeCount(); ++i) objects.push_back(e.GetGenericNode(i));
    objects.erase(std::remove(objects.begin(), objects.end(), nullptr), objects.end());
    return objects;
}

bool KQovScene::SetCurrentTake(const char* name) {
    mCurrentTake = name ? name : "";
    bool all = true;
    for (KQovTakeNodeContainer* object : AnimatedObjects())
        all = object->SetCurrentTakeNode(mCurrentTake.Buffer()) && all;
    if (!all) {
        KString text("Not all nodes have a take node called ");
        text += KQovMessageText(mCurrentTake.Buffer()).c_str();
        mError.SetErrorWithText(eTakeError, text.Buffer());
    }
    return all;
}

void KQovScene::FillTakeNameArray(std::vector<KString>& names) {
    names.clear();
    std::unordered_set<std::string_view> seen;  // views of the objects' own names
    for (KQovTakeNodeContainer* object : AnimatedObjects())
        for (int i = 0; i < object->GetTakeNodeCount(); ++i) {
            const char* name = object->GetTakeNodeName(i);
            if (seen.insert(name).second) names.emplace_back(name);
        }
}

bool KQovScene::TakeExists(const char* name) {
    if (!name) return false;
    // Each object's takes looked up in place: the list of every name, built for each take a
    // reader adds, made reading many takes grow as the cube of their number.
    for (KQovTakeNodeContainer* object : AnimatedObjects())
        if (object->FindTakeNodeIndex(name) >= 0) return true;
    return false;
}

size_t KQovScene::TakeInfoPlace(const char* name) const {
    if (!name) return std::string::npos;
    if (!mTakeInfoIndexGone) {
        try {
            size_t first = std::string::npos;
            if (const auto at = mTakeInfoPlaces.find(name); at != mTakeInfoPlaces.end())
                first = at->second;
            for (const size_t lent : mLentTakeInfos)
                if (lent < first && mTakeInfos[lent]->name == name) first = lent;
            return first;
        } catch (const std::bad_alloc&) {
            // No memory for the key: the walk finds the same record, the first of the name.
        }
    }
    for (size_t i = 0; i < mTakeInfos.size(); ++i)
        if (mTakeInfos[i]->name == name) return i;
    return std::string::npos;
}

KQovTakeInfo* KQovScene::GetTakeInfo(const char* name) {
    const size_t at = TakeInfoPlace(name);
    if (at == std::string::npos) return nullptr;
    KQovTakeInfo* info = mTakeInfos[at].get();
    // Its holder may rename it from now on: compared by name from here on.
    if (mTakeInfoIndexGone) return info;
    try {
        const auto indexed = mTakeInfoPlaces.find(info->name.Buffer() ? info->name.Buffer() : "");
        if (indexed != mTakeInfoPlaces.end() && indexed->second == at) {
            mLentTakeInfos.push_back(at);
            mTakeInfoPlaces.erase(indexed);
        }
    } catch (const std::bad_alloc&) {
        // Not noted as lent: no record is looked up through the index from here on.
        mTakeInfoIndexGone = true;
        mTakeInfoPlaces.clear();
        mLentTakeInfos.clear();
    }
    return info;
}

const KQovTakeInfo* KQovScene::FindTakeInfo(const char* name) const {
    const size_t at = TakeInfoPlace(name);
    return at == std::string::npos ? nullptr : mTakeInfos[at].get();
}

bool KQovScene::SetTakeInfo(const KQovTakeInfo& info) {
    if (!TakeExists(info.name.Buffer())) return false;
    // The same name: a record in the index stays under its key.
    if (const size_t at = TakeInfoPlace(info.name.Buffer()); at != std::string::npos) {
        *mTakeInfos[at] = info;
        return true;
    }
    mTakeInfos.push_back(std::make_unique<KQovTakeInfo>(info));
    if (mTakeInfoIndexGone) return true;
    try {
        mTakeInfoPlaces.emplace(info.name.Buffer() ? info.name.Buffer() : "", mTakeInfos.size() - 1);
    } catch (...) {
        mTakeInfos.pop_back();  // no record the index does not find
        throw;
    }
    return true;
}

void KQovScene::SetSceneInfo(KQovSceneInfo* info) {
    if (info == mSceneInfo) return;
    if (mManager && mSceneInfo) mManager->DestroySceneInfo(mSceneInfo);
    mSceneInfo = info;
}

void KQovScene::ResetSwitcher() {
    if (!mSwitcher) return;
    mSwitcher->SetName(kSwitcherName);
    mSwitcher->SetVisibility(false);
    mSwitcher->SetShadingMode(1);
    if (gServices && mSwitcher->GetNodeAttribute())
        gServices->SetDefaultCameraIndex(mSwitcher->GetNodeAttribute(), 0);
    for (int i = mSwitcher->GetTakeNodeCount() - 1; i > 0; --i) mSwitcher->RemoveTakeNode(i);
}

template <class Visit>
void KQovScene::ForEachOwned(Visit visit) const {
    constexpr int kProducers = KQovGlobalCameraSettings::eProducerCount;
    KQovNode* owned[2 + 2 * kProducers] = {GetRootNode(), mSwitcher};
    for (int i = 0; mCamera && i < kProducers; ++i) {
        owned[2 + i] = mCamera->GetProducerNode(i);
        KQovNodeAttribute* camera = mCamera->GetProducerAttribute(i);
        owned[2 + kProducers + i] = camera ? camera->GetNode() : nullptr;
    }
    for (KQovNode* node : owned)
        if (!visit(node)) return;
}

KQovNode* KQovScene::FindOwnedBelow(const KQovNode* top) const {
    if (!top || top->IsSceneOwned()) return nullptr;
    KQovNode* found = nullptr;
    // Mostly parentless, or on their own nodes: no walk up at all.
    ForEachOwned([&](KQovNode* node) {
        if (node && (node == top || (node->GetParent() && Below(node, top)))) found = node;
        return !found;
    });
    return found;
}

bool KQovScene::HoldsARoot(const KQovNode* top) {
    // Roots are mostly parentless: each is one step from the answer.
    const auto& live = LiveScenes();
    return std::any_of(live.begin(), live.end(),
                       [top](const KQovScene* scene) { return Below(scene->GetRootNode(), top); });
}

bool KQovScene::RootWouldGoBelowSettings(const KQovNode* parent, const KQovNode* node) {
    // Every join asks: a leaf that is no root holds none, and most joins stop here. Otherwise
    // the walk up from the parent is the one the cycle check takes; the live scenes, and the
    // roots' walks up, are looked at only below a switcher or producer camera.
    if (!parent || !node || (!node->IsSceneOwned() && node->GetChildCount() == 0)) return false;
    for (const KQovNode* at = parent; at; at = at->GetParent()) {
        const KQovEntityContainer* entity = at->GetEntityContainer();
        if (!at->IsSceneOwned() || (entity && entity->GetRootNode() == at)) continue;
        for (const KQovScene* scene : LiveScenes()) {
            bool settings = at == scene->mSwitcher;
            for (int i = 0;
                 !settings && scene->mCamera && i < KQovGlobalCameraSettings::eProducerCount; ++i)
                settings = at == scene->mCamera->GetProducerNode(i);
            if (settings) return HoldsARoot(node);
        }
    }
    return false;
}

bool KQovScene::RootWouldLeaveItsScene(const KQovNode* parent, const KQovNode* node) {
    if (!parent || !node || !parent->GetEntityContainer()) return false;
    if (const KQovEntityContainer* entity = node->GetEntityContainer())
        return entity->GetRootNode() == node;
    // Out of every scene, it can hold a root only below it; most joins of a reader's subtree
    // into its scene end at the first root looked at, which has no parent.
    return node->GetChildCount() > 0 && HoldsARoot(node);
}

bool KQovScene::ChildrenHoldingOwned(const KQovNode* top, std::vector<const KQovNode*>& children) {
    try {
        for (const KQovScene* scene : LiveScenes())
            scene->ForEachOwned([&](const KQovNode* node) {
                for (const KQovNode* at = node; at;) {
                    const KQovNode* parent = at->GetParent();
                    if (parent == top) {
                        children.push_back(at);
                        break;
                    }
                    at = parent;
                }
                return true;
            });
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::sort(children.begin(), children.end(), std::less<>());
    return true;
}

void KQovScene::Clear() {
    if (KQovNode* root = GetRootNode()) {
        // What live scenes own below the root is found once: a child holding none of it goes
        // without a look at every scene.
        std::vector<const KQovNode*> holding;
        const bool known = ChildrenHoldingOwned(root, holding);
        // The child leaves the root before its destruction is tried, so a node
        // the manager does not hold cannot keep the loop going.
        while (root->GetChildCount() > 0) {
            KQovNode* child = root->GetChild(root->GetChildCount() - 1);
            root->RemoveChild(child);
            if (known && !std::binary_search(holding.begin(), holding.end(), child, std::less<>())) {
                if (mManager) mManager->DestroyNodeOwnedByNoScene(child);
                continue;
            }
            KQovObjectManager::LetGoOfSceneOwnedBelow(child);
            if (mManager) mManager->DestroyNode(child, true);
        }
        for (int i = root->GetTakeNodeCount() - 1; i > 0; --i) root->RemoveTakeNode(i);
    }
    ResetSwitcher();
    SetSceneInfo(nullptr);
    DestroyCharacters();
    mPoses.clear();
    // Each generic node leaves the container whatever its use count (some are
    // listed only there), then goes.
    std::vector<KQovGenericNode*> generic;
    for (int i = 0; i < mEntity->GetGenericNodeCount(); ++i) generic.push_back(mEntity->GetGenericNode(i));
    for (KQovGenericNode* node : generic) {
        node->ForgetEntity(mEntity.get());
        mEntity->ForgetGenericNode(node);
        if (mManager) mManager->DestroyGenericNode(node);
    }
    mLight->Reset();
    mCamera->Reset();
    mTime->Reset();
    mCurrentTake = "";
    mTakeInfos.clear();
    mTakeInfoPlaces.clear();
    mLentTakeInfos.clear();
    mTakeInfoIndexGone = false;
}

std::vector<KQovNode*> KQovScene::GeometryNodes() const {
    std::vector<KQovNode*> nodes;
    for (int i = 0; i < mEntity->GetNodeCount(); ++i)
        if (KQovNode* node = mEntity->GetNode(i); node && IsGeometry(node)) nodes.push_back(node);
    return nodes;
}

void KQovScene::CreateDeformersFromLinks() {
    if (!gServices || !mManager) return;
    for (KQovNode* node : GeometryNodes()) {
        KQovNodeAttribute* geometry = node->GetNodeAttribute();
        int count = gServices->GetLinkCount(geometry);
        if (count <= 0) continue;
        KString skinName("Skin ");
        skinName += WithoutPrefix(node->GetName());
        KQovDeformer* skin = mManager->CreateDeformer(skinName.Buffer(), "Skin");
        if (!skin) continue;
        mEntity->AddDeformer(skin);
        node->GetPropertyHandler()->ConnectSrc(skin->GetPropertyHandler());
        for (int i = 0; i < count; ++i) {
            KQovClusterLinkData data;
            KQovNode* associate = gServices->GetLink(geometry, i, data);
            if (!data.link) continue;
            KString base("SubDeformer::Cluster ");
            base += WithoutPrefix(data.link->GetName());
            KString name = base;
            for (int n = 1; mEntity->FindDeformer(name.Buffer()); ++n) {
                name = base;
                name += " ";
                name += n;
            }
            KQovDeformer* cluster = mManager->CreateDeformer(name.Buffer(), "Cluster");
            if (!cluster) continue;
            mEntity->AddDeformer(cluster);
            cluster->SetFromLink(data);
            KQovPropertyHandler* set = cluster->GetPropertyHandler();
            set->ConnectSrc(data.link->GetPropertyHandler());
            if (associate)
                if (auto* props = dynamic_cast<KQovCluster*>(set))
                    props->GetSrcModelReference()->ConnectSrc(associate->GetPropertyHandler());
            skin->GetPropertyHandler()->ConnectSrc(set);
        }
    }
}

void KQovScene::CreateLinksFromDeformers() {
    if (!gServices || !mManager) return;
    for (int s = 0; s < mEntity->GetDeformerCount(KQovDeformer::eSkin); ++s) {
        KQovDeformer* skin = mEntity->GetDeformer(s, KQovDeformer::eSkin);
        KQovPropertyHandler* skinSet = skin->GetPropertyHandler();
        KQovNode* node = nullptr;
        for (int d = 0; !node && d < skinSet->GetDstCount(); ++d) node = NodeOf(skinSet->GetDst(d));
        if (!node || !IsGeometry(node)) continue;
        // In connection order, so the links come back in the order they had.
        for (int c = 0; c < skinSet->GetSrcCount(); ++c) {
            KQovDeformer* cluster = DeformerOf(skinSet->GetSrc(c), KQovDeformer::eCluster);
            if (!cluster) continue;
            KQovClusterLinkData data = cluster->GetLinkData();
            data.link = FirstSourceNode(cluster->GetPropertyHandler());
            KQovNode* associate = nullptr;
            if (auto* props = dynamic_cast<KQovCluster*>(cluster->GetPropertyHandler()))
                associate = FirstSourceNode(props->GetSrcModelReference());
            gServices->AddLink(mManager, node->GetNodeAttribute(), data, associate);
        }
    }
}

void KQovScene::DestroyDeformers() {
    // Each record leaves the container whatever its use count, so the loop
    // always ends; clusters go before skins.
    for (int type : {int(KQovDeformer::eCluster), 0}) {
        std::vector<KQovDeformer*> doomed;
        for (int i = 0; i < mEntity->GetDeformerCount(type); ++i) doomed.push_back(mEntity->GetDeformer(i, type));
        for (KQovDeformer* deformer : doomed) {
            while (mEntity->RemoveDeformer(deformer) == false &&
                   mEntity->GetError().GetErrorCode() == KQovEntityContainer::eDeformerInUse) {
            }
            if (mManager) mManager->DestroyDeformer(deformer);
        }
    }
}

namespace {
// The material or texture element of every layer of a geometry.
template <class Element>
std::vector<Element*> Elements(KQovSceneServices& services, KQovNodeAttribute* geometry) {
    std::vector<Element*> elements;
    for (int i = 0; i < services.GetLayerCount(geometry); ++i) {
        Element* element;
        if constexpr (std::is_same_v<Element, KQovLayerElementTexture>)
            element = services.GetTextureElement(geometry, i);
        else
            element = services.GetMaterialElement(geometry, i);
        if (element) elements.push_back(element);
    }
    return elements;
}

template <class Element>
void ConnectElements(KQovSceneServices& services, KQovNode* node) {
    KQovPropertyHandler* set = node->GetPropertyHandler();
    for (Element* element : Elements<Element>(services, node->GetNodeAttribute())) {
        int mode = element->GetReferenceMode();
        if (mode != 0 && mode != 2) continue;
        auto& direct = element->GetDirectArray();
        for (int i = 0; i < direct.GetCount(); ++i) {
            KQovObject* object = services.AsObject(direct.GetAt(i));
            KPlug* other = object ? object->GetPropertyHandler() : nullptr;
            if (other && !set->IsConnectedSrc(other)) set->ConnectSrc(other);
        }
        if (mode != 2) continue;
        // Any index outside the direct array is dropped, negative ones too.
        KArrayInt& index = element->GetIndexArray();
        for (int i = 0; i < index.GetCount(); ++i)
            if (index.GetAt(i) < 0 || index.GetAt(i) >= direct.GetCount()) index.SetAt(i, -1);
    }
}

template <class Element, class Item>
void FillElements(KQovSceneServices& services, KQovNode* node, Item* (KQovSceneServices::*as)(KQovObject*)) {
    KQovPropertyHandler* set = node->GetPropertyHandler();
    std::vector<Item*> connected;
    for (int i = 0; i < set->GetSrcCount(); ++i)
        if (KQovObject* owner = OwnerOf(set->GetSrc(i)))
            if (Item* item = (services.*as)(owner)) connected.push_back(item);
    // What joins a layer is counted in the node's scene, where its geometry counts its uses.
    KQovEntityContainer* scene = node->GetEntityContainer();
    auto add = [&services, scene](auto& direct, Item* item) {
        if (direct.Add(item) < 0 || !scene) return;
        if constexpr (std::is_same_v<Element, KQovLayerElementTexture>)
            scene->AddTexture(services.AsObject(item));
        else
            scene->AddMaterial(services.AsObject(item));
    };
    for (Element* element : Elements<Element>(services, node->GetNodeAttribute())) {
        auto& direct = element->GetDirectArray();
        if (element->GetReferenceMode() == 0) {
            for (size_t k = size_t(direct.GetCount()); k < connected.size(); ++k) add(direct, connected[k]);
        } else if (element->GetReferenceMode() == 2) {
            // The old -> new map comes from the values as read and is applied
            // once, so two entries never collapse into one.
            KArrayInt& index = element->GetIndexArray();
            std::vector<int> remap(connected.size(), -1);
            auto known = [&](int i) { return index.GetAt(i) >= 0 && size_t(index.GetAt(i)) < connected.size(); };
            for (int i = 0; i < index.GetCount(); ++i)
                if (known(i)) remap[size_t(index.GetAt(i))] = 0;
            for (size_t k = 0; k < connected.size(); ++k)
                if (remap[k] == 0) {
                    remap[k] = direct.GetCount();
                    add(direct, connected[k]);
                }
            for (int i = 0; i < index.GetCount(); ++i)
                if (known(i)) index.SetAt(i, remap[size_t(index.GetAt(i))]);
        }
    }
}
}  // namespace

void KQovScene::ConnectLayerMaterials() {
    if (!gServices) return;
    for (KQovNode* node : GeometryNodes()) ConnectElements<KQovLayerElementMaterial>(*gServices, node);
}

void KQovScene::ConnectLayerTextures() {
    if (!gServices) return;
    for (KQovNode* node : GeometryNodes()) ConnectElements<KQovLayerElementTexture>(*gServices, node);
}

void KQovScene::FillLayerMaterials() {
    if (!gServices) return;
    for (KQovNode* node : GeometryNodes())
        FillElements<KQovLayerElementMaterial>(*gServices, node, &KQovSceneServices::AsMaterial);
}

void KQovScene::FillLayerTextures() {
    if (!gServices) return;
    for (KQovNode* node : GeometryNodes())
        FillElements<KQovLayerElementTexture>(*gServices, node, &KQovSceneServices::AsTexture);
}

void KQovScene::CreateVideosFromMedia(const char* folder) {
    if (!gServices || !mManager) return;
    KString base = folder && *folder ? KString(folder) : KString();
    if (!base.IsEmpty() && base.Buffer()[base.GetLen() - 1] != '/') base += '/';
    auto relative = [&](const KString& path) {
        if (base.IsEmpty() || KIsRelativePath(path.Buffer())) return path;
        return KMakeRelativePathFrom(base.Buffer(), path.Buffer());
    };
    for (int i = 0; i < mEntity->GetTextureCount(); ++i) {
        KQovObject* texture = mEntity->GetTexture(i);
        KString media, file, rel;
        gServices->GetTextureMedia(texture, media, file, rel);
        KString name = media.IsEmpty() ? texture->GetNameWithoutPrefix() : media;
        AttachVideo(texture, name, file, base.IsEmpty() ? rel : relative(file));
    }
    for (int i = 0; i < mManager->GetNodeCount(); ++i) {
        KQovNode* node = mManager->GetNode(i);
        KQovNodeAttribute* light = node ? node->GetNodeAttribute() : nullptr;
        const char* gobo = light ? gServices->GetGoboFileName(light) : nullptr;
        if (!gobo) continue;
        KString path(gobo);
        AttachVideo(node, KExtractFileName(gobo, true), path, relative(path));
    }
}

void KQovScene::AttachVideo(KQovObject* object, const KString& name, const KString& fileName,
                            const KString& relativeFileName) {
    if (fileName.IsEmpty()) return;
    KQovPropertyHandler* set = object->GetPropertyHandler();
    if (!set || (set->GetSrcCount() > 0 && OwnerOf(set->GetSrc(0)))) return;
    KQovVideo* video = mManager->CreateVideo(name.Buffer());
    if (!video) return;
    video->SetFileName(fileName.Buffer());
    if (!relativeFileName.IsEmpty()) video->SetRelativeFileName(relativeFileName.Buffer());
    set->ConnectSrc(video->GetPropertyHandler());
}

KWeakRef GetSrcObjectOfClass(KObject& object, int index, int classId) {
    KObject* source = KObjectSafeCast<KObject>(object.GetSrcObject(index, classId));
    return source ? source->GetWeakRef() : KWeakRef{};
}
