#include "attributes/KQovNull.h"

namespace {

const KQovPropertyDescriptor kNullRows[] = {
    KQovAttributeRows::Embedded("Size", KProperty::eDOUBLE, 100.0),
};

}  // namespace

KQovNullProperties::KQovNullProperties() : KQovAttributeProperties(kNullRows, eRowCount) {}

KQovNull::KQovNull(KQovObjectManager* manager)
    : KQovPropertySetAttribute(manager, new KQovNullProperties()) {
    mProperties = static_cast<KQovNullProperties*>(GetPropertySet());
}

KStringList KQovNull::GetTypeNames() const {
    return KQovTypeNames({"Null"});
}

void KQovNull::SetSize(double size) {
    mProperties->SetNumber(KQovNullProperties::eSize, size);
    mSizeSet = true;
}
