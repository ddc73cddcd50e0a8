#pragma once
// A named scene object that carries only user properties and their animation,
// and counts as one user of the entity container it is given.

#include "foundation/KError.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

class KQovEntityContainer;

class KQovGenericNodeProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovGenericNodeProperties)
public:
    explicit KQovGenericNodeProperties(KQovObject* owner) : KQovPropertyHandler(owner) {}
};

class KQovGenericNode : public KQovTakeNodeContainer {
public:
    KQovGenericNode(KQovObjectManager* manager, const char* name);
    // Leaves the entity's list, then destroys the property set.
    ~KQovGenericNode() override;

    int GetObjectType() const override { return eGenericNode; }
    KQovPropertyHandler* GetPropertyHandler() const override { return mProperties; }
    KString GetTypeName() const override { return KString("GenericNode"); }
    KStringList GetTypeNames() const override { return OneTypeName("GenericNode"); }
    void PrepareDestroy() override { mProperties->PrepareDestroy(); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override {
        InitAnimatableChannels(mProperties, takeNode);
    }

    // Drops the use of the current entity and counts one use of the new one;
    // the same entity again changes nothing.
    bool SetEntity(KQovEntityContainer* entity);
    KQovEntityContainer* GetEntity() const { return mEntity; }
    // The entity is going away: forget it without telling it.
    void ForgetEntity(KQovEntityContainer* entity);

private:
    KError mError;
    KQovGenericNodeProperties* mProperties;
    KQovEntityContainer* mEntity = nullptr;
};
