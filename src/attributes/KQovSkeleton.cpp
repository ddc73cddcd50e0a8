#include "attributes/KQovSkeleton.h"

namespace {

const KQovPropertyDescriptor kSkeletonRows[] = {
    KQovAttributeRows::Embedded("Size", KProperty::eDOUBLE, 100.0),
    [] {
        KQovPropertyDescriptor d =
            KQovAttributeRows::Embedded("LimbLength", KProperty::eDOUBLE, 1.0);
        d.userFlags = 1;
        return d;
    }(),
    KQovAttributeRows::Embedded("Color", KProperty::eCOLORRGB, 0.8, 0.8, 0.8),
};

}  // namespace

KQovSkeletonProperties::KQovSkeletonProperties()
    : KQovAttributeProperties(kSkeletonRows, eRowCount) {}

KQovSkeleton::KQovSkeleton(KQovObjectManager* manager)
    : KQovPropertySetAttribute(manager, new KQovSkeletonProperties()) {
    mProperties = static_cast<KQovSkeletonProperties*>(GetPropertySet());
    Reset();
}

KString KQovSkeleton::GetTypeName() const {
    switch (mKind) {
        case eRoot:
        case eRootAlternate:
            return KString("Root");
        case eLimb:
            return KString("Limb");
        case eLimbNode:
            return KString("LimbNode");
        default:
            return KString("");
    }
}

KStringList KQovSkeleton::GetTypeNames() const {
    if (mKind == eRoot || mKind == eRootAlternate)
        return KQovTypeNames({"Null", "Skeleton", "Root"});
    if (HasColor(mKind)) return KQovTypeNames({"Skeleton"});
    return KStringList();
}

void KQovSkeleton::UpdateColorFlag() {
    if (KProperty* color = mProperties->GetTableProperty(KQovSkeletonProperties::eColor))
        color->SetUserFlag(eColorHidden, !HasColor(mKind));
}

void KQovSkeleton::SetSkeletonType(int kind) {
    mKind = kind;
    mKindSet = true;
    UpdateColorFlag();
}

bool KQovSkeleton::SetLimbLength(double length) {
    if (mKind != eLimb) return false;
    mProperties->SetNumber(KQovSkeletonProperties::eLimbLength, length);
    mLimbLengthSet = true;
    return true;
}

double KQovSkeleton::GetLimbLength() const {
    return mProperties->GetNumber(KQovSkeletonProperties::eLimbLength);
}

void KQovSkeleton::SetSize(double size) {
    mProperties->SetNumber(KQovSkeletonProperties::eSize, size);
    mSizeSet = true;
}

double KQovSkeleton::GetSize() const {
    return mProperties->GetNumber(KQovSkeletonProperties::eSize);
}

bool KQovSkeleton::SetColor(double r, double g, double b) {
    if (!HasColor(mKind)) return false;
    mProperties->SetNumbers(KQovSkeletonProperties::eColor, r, g, b);
    mColorSet = true;
    return true;
}

KColor KQovSkeleton::GetColor() const {
    return mProperties->GetColor(KQovSkeletonProperties::eColor);
}

void KQovSkeleton::Reset() {
    mKind = eRoot;
    const KColor color = GetDefaultColor();
    mProperties->SetNumbers(KQovSkeletonProperties::eColor, color.mRed, color.mGreen, color.mBlue);
    UpdateColorFlag();
    mProperties->SetNumber(KQovSkeletonProperties::eSize, 100.0);
    mProperties->SetNumber(KQovSkeletonProperties::eLimbLength, 1.0);
    mLimbLengthSet = mSizeSet = mColorSet = mKindSet = false;
}
