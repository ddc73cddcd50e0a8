#include "scene/KQovNodeCollector.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "foundation/KQovLayerElement.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneServices.h"
#include "scene/KQovVideo.h"

namespace {
template <class T>
bool HoldsName(const std::vector<T*>& list, const char* name) {
    return std::any_of(list.begin(), list.end(), [name](T* o) { return std::strcmp(o->GetName(), name) == 0; });
}

// The objects of one kind that a node's geometry uses, each once: the layer
// materials or textures not referenced by index alone, or the videos
// connected to those textures.
std::vector<KQovObject*> UsedObjects(KQovNode* node, int kind) {
    std::vector<KQovObject*> out;
    KQovSceneServices* services = KQovScene::GetServices();
    KQovNodeAttribute* geometry = node->GetNodeAttribute();
    if (!services || !geometry) return out;
    std::unordered_set<const KQovObject*> held;
    auto add = [&out, &held](KQovObject* o) {
        if (o && held.insert(o).second) out.push_back(o);
    };
    for (int layer = 0; layer < services->GetLayerCount(geometry); ++layer) {
        if (kind == 0) {
            KQovLayerElementMaterial* e = services->GetMaterialElement(geometry, layer);
            if (!e || e->GetReferenceMode() == 1) continue;
            for (int i = 0; i < e->GetDirectArray().GetCount(); ++i)
                add(services->AsObject(e->GetDirectArray().GetAt(i)));
            continue;
        }
        KQovLayerElementTexture* e = services->GetTextureElement(geometry, layer);
        if (!e || e->GetReferenceMode() == 1) continue;
        for (int i = 0; i < e->GetDirectArray().GetCount(); ++i) {
            KQovObject* texture = services->AsObject(e->GetDirectArray().GetAt(i));
            if (kind == 1) {
                add(texture);
                continue;
            }
            KQovPropertyHandler* set = texture ? texture->GetPropertyHandler() : nullptr;
            for (int s = 0; set && s < set->GetSrcCount(); ++s)
                if (auto* video = dynamic_cast<KQovVideoProperties*>(set->GetSrc(s))) add(video->GetOwner());
        }
    }
    return out;
}
}  // namespace

KQovNodeCollector::KQovNodeCollector(KQovEntityContainer* destination) : mDestination(destination) {}

void KQovNodeCollector::SetCategoryEnabled(int category, bool enabled) {
    if (category >= 0 && category < eCategoryCount) mEnabled[category] = enabled;
}

void KQovNodeCollector::Clear() {
    ClearAccepted();
    mNodes.clear();
    mHeldNodes.clear();
    mClashingNodes.clear();
    for (int k = 0; k < 3; ++k) {
        mObjects[k].clear();
        mHeldObjects[k].clear();
        mClashing[k].clear();
    }
}

bool KQovNodeCollector::Accept(KQovNode* node) {
    bool clash = TestNode(node);
    // A node without layers (a null, a camera) uses no materials, textures or videos.
    KQovSceneServices* services = KQovScene::GetServices();
    KQovNodeAttribute* geometry = node->GetNodeAttribute();
    if (!services || !geometry || services->GetLayerCount(geometry) <= 0) return clash;
    for (int kind = 0; kind < 3; ++kind) clash = TestObjects(kind, UsedObjects(node, kind)) || clash;
    return clash;
}

bool KQovNodeCollector::TestNode(KQovNode* node) {
    bool clash = false;
    if (mEnabled[eNodes]) {
        KQovNode* root = mDestination ? mDestination->GetRootNode() : nullptr;
        clash = (root && root->FindChild(node->GetNameWithoutPrefix().Buffer(), true)) ||
                HoldsName(mNodes, node->GetName());
        if (clash) mClashingNodes.push_back(node);
    }
    if (mHeldNodes.insert(node).second) mNodes.push_back(node);
    return clash;
}

bool KQovNodeCollector::InDestination(int kind, const KQovObject* object) const {
    if (!mDestination) return false;
    KString name(object->GetName());
    KQovEntityContainer& d = *mDestination;
    KError saved = d.GetError();  // a miss is no error of the destination's
    bool found = kind == 0 ? d.FindMaterial(name) != nullptr
                           : (kind == 1 ? d.FindTexture(name) != nullptr : d.FindVideo(name) != nullptr);
    d.GetError() = saved;
    return found;
}

bool KQovNodeCollector::TestObjects(int kind, const std::vector<KQovObject*>& objects) {
    bool clash = false;
    for (KQovObject* object : objects) {
        if (mEnabled[eMaterials + kind]) {
            bool here = InDestination(kind, object) ||
                        (!clash && std::any_of(mObjects[kind].begin(), mObjects[kind].end(), [&](KQovObject* o) {
                             return std::strcmp(o->GetName(), object->GetName()) == 0;
                         }));
            if (here) {
                mClashing[kind].push_back(object);
                clash = true;
            }
        }
        if (mHeldObjects[kind].insert(object).second) mObjects[kind].push_back(object);
    }
    return clash;
}
