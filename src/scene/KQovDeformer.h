#pragma once
// A skin or cluster deformer. A cluster carries the data of one cluster link
// of a geometry, so a scene can turn its links into deformer objects.

#include <cstdint>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KMatrix.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

class KPropertyObjectList;
class KQovNode;

class KQovDeformerProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovDeformerProperties)
public:
    explicit KQovDeformerProperties(KQovObject* owner) : KQovPropertyHandler(owner) {}
    virtual KString GetTypeName() const = 0;
};

class KQovSkin : public KQovDeformerProperties {
public:
    explicit KQovSkin(KQovObject* owner) : KQovDeformerProperties(owner) {}
    KString GetTypeName() const override { return KString("Skin"); }
    // Stored as "Link_DeformAcuracy".
    double accuracy = 50.0;
};

class KQovCluster : public KQovDeformerProperties {
public:
    explicit KQovCluster(KQovObject* owner);
    KString GetTypeName() const override { return KString("Cluster"); }
    KPropertyObjectList* GetSrcModel() const;
    KPropertyObjectList* GetSrcModelReference() const;
};

// What a deformer copies from a cluster link (filled from the link by whoever
// holds one).
struct KQovClusterLinkData {
    KQovNode* link = nullptr;
    KString linkName;
    KString associateModelName;
    std::vector<int32_t> indices;
    std::vector<double> weights;
    int32_t linkMode = 0;
    KMatrix transform, transformLink, transformAssociateModel, transformParent;
    KString userDataId, userData;
    bool hasTransformParent = false;  // a link without one gets none back
};

class KQovDeformer : public KQovTakeNodeContainer {
public:
    enum : int32_t { eSkin = 1, eCluster = 2 };

    // "cluster" in any letter case makes a cluster; anything else a skin.
    KQovDeformer(KQovObjectManager* manager, const char* name, const char* kind);
    ~KQovDeformer() override;

    int GetObjectType() const override { return eDeformer; }
    KQovPropertyHandler* GetPropertyHandler() const override { return mProperties; }
    KString GetTypeName() const override { return mProperties->GetTypeName(); }
    KStringList GetTypeNames() const override { return OneTypeName("Deformer"); }
    void PrepareDestroy() override { mProperties->PrepareDestroy(); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override {
        InitAnimatableChannels(mProperties, takeNode);
    }

    int32_t GetDeformerType() const { return mDeformerType; }
    KQovDeformerProperties* GetProperties() const { return mProperties; }
    void SetMultiLayer(bool on) { mMultiLayer = on ? 1 : 0; }
    bool GetMultiLayer() const { return mMultiLayer != 0; }
    double GetAccuracy() const { return mAccuracy; }

    // Clusters only: a skin ignores it.
    void SetFromLink(const KQovClusterLinkData& link);
    // What SetFromLink stored.
    const KQovClusterLinkData& GetLinkData() const { return mLink; }

private:
    KQovDeformerProperties* mProperties;
    KError mError;
    uint8_t mMultiLayer = 0;
    int32_t mDeformerType;
    double mAccuracy = 50.0;
    KQovClusterLinkData mLink;
};
