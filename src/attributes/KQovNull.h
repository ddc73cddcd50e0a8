#pragma once
// The null attribute: a plain locator with a size and no channels.

#include "attributes/KQovAttributeCommon.h"

class KQovNullProperties : public KQovAttributeProperties {
    KQOV_CLASS(KQovNullProperties)
public:
    enum : int { eSize, eRowCount };
    KQovNullProperties();
};

class KQovNull : public KQovPropertySetAttribute {
public:
    explicit KQovNull(KQovObjectManager* manager);
    ~KQovNull() override { KQovLeaveNode(this); }

    int GetAttributeType() const override { return eNull; }
    KString GetTypeName() const override { return KString("Null"); }
    KStringList GetTypeNames() const override;
    bool HasTakeNodeChannels() const override { return false; }

    void SetSize(double size);
    double GetSize() const { return mProperties->GetNumber(KQovNullProperties::eSize); }
    bool IsSizeSet() const { return mSizeSet; }

private:
    KQovNullProperties* mProperties;
    bool mSizeSet = false;
};
