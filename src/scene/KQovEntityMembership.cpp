// Which scene a node, and what its subtree uses, belongs to: moving subtrees
// between entity containers when nodes are linked and unlinked, and listing
// a video clip in the media of the scene that uses it.

#include <vector>

#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeCollector.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovVideo.h"

namespace {
KQovEntityContainer* ContainerOf(KQovObject* object) {
    if (!object) return nullptr;
    if (object->GetObjectType() == KQovObject::eNode) return static_cast<KQovNode*>(object)->GetEntityContainer();
    return nullptr;
}
bool IsContainerRoot(const KQovNode* node) {
    const KQovEntityContainer* container = node->GetEntityContainer();
    return container && container->GetRootNode() == node;
}
}  // namespace

bool KQovNode::SetEntityContainer(KQovEntityContainer* container, int mode) {
    if (container == mEntityContainer) return true;
    KQovNodeCollector collector(mode == 1 ? container : nullptr);
    if (mode != 1)
        for (int c = KQovNodeCollector::eNodes; c <= KQovNodeCollector::eVideos; ++c)
            collector.SetCategoryEnabled(c, false);
    collector.Collect(this);
    const struct {
        size_t count;
        int code;
    } clashes[] = {{collector.GetClashingNodes().size(), eNodeNameClash},
                   {collector.GetClashingTextures().size(), eTextureNameClash},
                   {collector.GetClashingVideos().size(), eNotAChild},
                   {collector.GetClashingMaterials().size(), eMaterialNameClash}};
    for (const auto& clash : clashes)
        if (clash.count > 0) {
            mError.SetError(clash.code);
            return false;
        }
    KQovEntityContainer* old = mEntityContainer;
    // The materials and textures a node's attribute uses leave and join with the node, as
    // often as its layers name them: a scene lists them whatever the order it was built in.
    for (KQovNode* node : collector.GetNodes())
        if (node->mEntityContainer) node->mEntityContainer->RemoveNode(node);
    for (KQovObject* video : collector.GetVideos())
        if (old) old->RemoveVideo(static_cast<KQovVideo*>(video));
    if (!container) return true;
    if (mode == 1) {
        if (container->GetRootNode() && container->GetRootNode() != this)
            container->GetRootNode()->SetEntityContainer(nullptr, 1);
        container->Release();
    }
    for (KQovNode* node : collector.GetNodes()) container->AddNode(node);
    for (KQovObject* video : collector.GetVideos()) container->AddVideo(static_cast<KQovVideo*>(video));
    return true;
}

bool KQovNodeProperties::Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other,
                                int type, void* extra) {
    // Only this set's own connections: a look-at or up-vector target linked
    // through one of its properties stays where it is.
    auto* child = sender == this ? dynamic_cast<KQovNodeProperties*>(other) : nullptr;
    if (child && mNode && child->mNode) {
        if (code == eQueryAcceptSource) {
            // The tree's rules, whatever call links the two: no cycle, no scene's root lost, and
            // one parent that the child knows (a walk up then sees every ancestor). A node
            // already in this scene cannot be linked again without being unlinked first (which
            // takes it out of the scene).
            int refused = mNode->mCheckedChild == child->mNode ? -1 : mNode->RefusalOfChild(child->mNode);
            if (refused < 0 && mNode->GetEntityContainer() &&
                child->mNode->GetEntityContainer() == mNode->GetEntityContainer())
                refused = KQovNode::eIndexOutOfRange;
            if (refused < 0 && ((type & eOneSided) || child->mNode->GetParent()))
                refused = KQovNode::eSecondParent;
            if (refused >= 0) {
                mNode->GetNodeError().SetError(refused);
                return false;
            }
        }
        if (code == eSourceAdded) {
            mNode->ChildJoined(child->mNode);
            mNode->ChildLinked(child->mNode);
        } else if (code == eSourceRemoving) {
            mNode->ChildUnlinked(child->mNode);
        }
        if (code == eSourceAdded && mNode->GetEntityContainer())
            child->mNode->SetEntityContainer(mNode->GetEntityContainer(), 0);
        else if (code == eSourceRemoved && !IsContainerRoot(child->mNode))
            // A scene's root below a node of no scene stays the scene's when let go.
            child->mNode->SetEntityContainer(nullptr, 0);
    }
    return KQovPropertyHandler::Notify(chain, code, sender, index, other, type, extra);
}

void KQovVideoProperties::RegisterInScene() {
    // The first object fed that belongs to a scene: a node with a container,
    // or a texture or material feeding such a node.
    KQovEntityContainer* container = nullptr;
    for (int i = 0; !container && i < GetDstCount(); ++i) {
        auto* set = dynamic_cast<KQovPropertyHandler*>(GetDst(i));
        KQovObject* owner = set ? set->GetOwner() : nullptr;
        container = ContainerOf(owner);
        int kind = owner ? owner->GetObjectType() : 0;
        if (kind != KQovObject::eTexture && kind != KQovObject::eMaterial) continue;
        for (int d = 0; !container && d < set->GetDstCount(); ++d)
            if (auto* user = dynamic_cast<KQovPropertyHandler*>(set->GetDst(d))) container = ContainerOf(user->GetOwner());
    }
    auto* video = static_cast<KQovVideo*>(GetOwner());
    if (!container || !video) return;
    KError saved = container->GetError();  // a miss is no error of the container's
    const bool listed = container->FindVideo(KString(video->GetName())) != nullptr;
    container->GetError() = saved;
    if (!listed) container->AddVideo(video);
}
