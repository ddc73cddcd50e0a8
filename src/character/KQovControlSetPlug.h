#pragma once
// A scene object ("ControlSetPlug::") whose property set exposes a control
// set's links and effectors as object lists; connected to a character's
// "ControlSet" property it fills the character's control set.

#include <vector>

#include "foundation/KError.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

class KPropertyObjectList;
class KQovControlSetPlug;

class KQovControlSetPlugProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovControlSetPlugProperties)
public:
    explicit KQovControlSetPlugProperties(KQovControlSetPlug* plug);
    ~KQovControlSetPlugProperties() override;

    bool GetUseAxis() const;
    void SetUseAxis(bool value);
    int GetControlSetType() const;
    void SetControlSetType(int value);

    // The FK link properties, in slot order, with their slots.
    int GetLinkPropertyCount() const { return int(mLinks.size()); }
    KPropertyObjectList* GetLinkProperty(int index) const;
    int GetLinkSlot(int index) const;
    // The effector properties, in effector order.
    int GetEffectorPropertyCount() const { return int(mEffectors.size()); }
    KPropertyObjectList* GetEffectorProperty(int number) const;

private:
    struct Link {
        KWeakRef property;
        int slot;
    };
    std::vector<Link> mLinks;
    std::vector<KWeakRef> mEffectors;
};

class KQovControlSetPlug : public KQovTakeNodeContainer {
public:
    KQovControlSetPlug(KQovObjectManager* manager, const char* name);
    ~KQovControlSetPlug() override;

    void PrepareDestroy() override;
    int GetObjectType() const override { return eControlSetPlug; }
    KQovPropertyHandler* GetPropertyHandler() const override { return mProperties; }
    KQovControlSetPlugProperties* GetPlugProperties() const { return mProperties; }
    KString GetTypeName() const override { return KString("ControlSetPlug"); }
    KStringList GetTypeNames() const override;
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override;

private:
    KError mError;
    KQovControlSetPlugProperties* mProperties;
};

// Adds the channels of every animatable property of `set` to a take node.
void KQovInitAnimatableChannels(KQovTakeNodeContainer* owner, KQovPropertyHandler* set,
                                KQovTakeNode* takeNode);
