#pragma once
// The node attribute of an optical (motion-capture) reference marker.

#include "scene/KQovNodeAttribute.h"
#include "scene/KQovObject.h"

class KQovOpticalReference : public KQovNodeAttribute {
public:
    explicit KQovOpticalReference(KQovObjectManager* manager) : KQovNodeAttribute(manager) {}
    int GetAttributeType() const override { return eOpticalReference; }
    bool HasTakeNodeChannels() const override { return false; }
    KString GetTypeName() const override { return KString("Optical"); }
    KStringList GetTypeNames() const override { return KQovObject::OneTypeName("Marker"); }
};
