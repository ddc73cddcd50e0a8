#pragma once
// A collector built on the node visitor: it gathers the nodes of a tree about to join a
// scene with the materials, textures and videos their geometries use, and
// finds those whose names clash with the destination's objects or with each
// other.

#include <unordered_set>
#include <vector>

#include "scene/KQovNodeVisitor.h"

class KQovEntityContainer;
class KQovNode;
class KQovObject;

class KQovNodeCollector : public KQovNodeVisitor {
public:
    enum ECategory : int { eNodes, eMaterials, eTextures, eVideos, eSpare, eCategoryCount };

    // Nodes (and the spare category) are checked; the others only collected.
    explicit KQovNodeCollector(KQovEntityContainer* destination);

    void SetCategoryEnabled(int category, bool enabled);
    void Clear() override;
    bool Accept(KQovNode* node) override;

    const std::vector<KQovNode*>& GetNodes() const { return mNodes; }
    const std::vector<KQovNode*>& GetClashingNodes() const { return mClashingNodes; }
    const std::vector<KQovObject*>& GetMaterials() const { return mObjects[0]; }
    const std::vector<KQovObject*>& GetClashingMaterials() const { return mClashing[0]; }
    const std::vector<KQovObject*>& GetTextures() const { return mObjects[1]; }
    const std::vector<KQovObject*>& GetClashingTextures() const { return mClashing[1]; }
    const std::vector<KQovObject*>& GetVideos() const { return mObjects[2]; }
    const std::vector<KQovObject*>& GetClashingVideos() const { return mClashing[2]; }

private:
    bool TestNode(KQovNode* node);
    // Kind 0 materials, 1 textures, 2 videos.
    bool TestObjects(int kind, const std::vector<KQovObject*>& objects);
    bool InDestination(int kind, const KQovObject* object) const;

    bool mEnabled[eCategoryCount] = {true, false, false, false, true};
    std::vector<KQovNode*> mNodes, mClashingNodes;
    std::vector<KQovObject*> mObjects[3], mClashing[3];
    // What mNodes and mObjects hold, so that a large subtree is not searched once per entry.
    std::unordered_set<const void*> mHeldNodes, mHeldObjects[3];
    KQovEntityContainer* mDestination;
};
