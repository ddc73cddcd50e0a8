#include "scene/KQovUserProperty.h"

#include <array>
#include <cmath>
#include <cstring>

#include "foundation/KColor.h"
#include "scene/KObject.h"
#include "scene/KProperty.h"
#include "scene/KTypedProperty.h"

namespace {

const char* const kTypeNames[] = {"Unidentified", "Bool", "Real", "Color", "Integer", "Vector"};
constexpr int kTypeCount = int(sizeof(kTypeNames) / sizeof(kTypeNames[0]));

uint32_t AttributesOf(int flags) {
    uint32_t attributes = 0;
    if (flags & KQovUserProperty::eFlagAnimatable) attributes |= KProperty::eAnimatable;
    if (flags & KQovUserProperty::eFlagUserProperty) attributes |= KProperty::eUserProperty;
    if (flags & KQovUserProperty::eFlagFromDescription) attributes |= KProperty::eFromDescription;
    return attributes;
}

bool IsColor(const KProperty* p) {
    return p->GetTypeCode() == KProperty::eCOLORRGB || p->GetTypeCode() == KProperty::eCOLORRGBA;
}

// The first three components of a vector or colour property; false when the
// property keeps its value in another layout.
bool ReadComponents(KProperty* p, double out[3]) {
    if (p->GetStorageCode() != p->GetTypeCode()) return false;
    switch (p->GetTypeCode()) {
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB: {
            std::array<double, 3> v{};
            p->GetValue(&v);
            std::memcpy(out, v.data(), sizeof(double) * 3);
            return true;
        }
        case KProperty::eCOLORRGBA: {
            std::array<double, 4> v{};
            p->GetValue(&v);
            std::memcpy(out, v.data(), sizeof(double) * 3);
            return true;
        }
        default:
            return false;
    }
}

// Writes (x, y, z) and, for a four-component colour, `alpha`.
bool WriteComponents(KProperty* p, double x, double y, double z, double alpha) {
    if (p->GetStorageCode() != p->GetTypeCode()) return false;
    switch (p->GetTypeCode()) {
        case KProperty::eVECTOR3D:
        case KProperty::eCOLORRGB: {
            const std::array<double, 3> v{x, y, z};
            p->SetValue(&v);
            return true;
        }
        case KProperty::eCOLORRGBA: {
            const std::array<double, 4> v{x, y, z, alpha};
            p->SetValue(&v);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

KQovUserProperty::KQovUserProperty(KQovObjectManager* manager, const char* name,
                                   const char* typeName, const char* label)
    : mDescription(new Description), mManager(manager) {
    mDescription->name = name ? name : "";
    mDescription->type = GetTypeFromName(typeName);
    mDescription->label = label ? label : "";
    mDescription->min = -HUGE_VAL;
    mDescription->max = HUGE_VAL;
}

KQovUserProperty::KQovUserProperty(KQovObjectManager* manager, KProperty* property)
    : mManager(manager) {
    if (property) mProperty = property->GetWeakRef();
}

KQovUserProperty::~KQovUserProperty() = default;

const char* KQovUserProperty::GetTypeName(int type) {
    return type >= 0 && type < kTypeCount ? kTypeNames[type] : nullptr;
}

int KQovUserProperty::GetTypeFromName(const char* name) {
    if (!name) return eUnidentified;
    for (int type = eBool; type < kTypeCount; ++type) {
        if (std::strcmp(name, kTypeNames[type]) == 0) return type;
    }
    return eUnidentified;
}

KProperty* KQovUserProperty::GetProperty() const {
    return KObjectSafeCast<KProperty>(mProperty.Resolve());
}

void KQovUserProperty::Bind(KProperty* property, KQovUserPropertyOwner* owner) {
    mProperty = property ? property->GetWeakRef() : KWeakRef{};
    mOwner = owner;
}

void KQovUserProperty::Changed() {
    if (mOwner) mOwner->UserPropertyChanged(this);
}

int KQovUserProperty::GetType() const {
    if (const KProperty* p = GetProperty()) {
        switch (p->GetTypeCode()) {
            case KProperty::eBOOL:
                return eBool;
            case KProperty::eFLOAT:
            case KProperty::eDOUBLE:
                return eReal;
            case KProperty::eCOLORRGB:
            case KProperty::eCOLORRGBA:
                return eColor;
            case KProperty::eINT:
                return eInteger;
            case KProperty::eVECTOR3D:
                return eVector;
            default:
                return eUnidentified;
        }
    }
    return mDescription ? mDescription->type : eUnidentified;
}

KString KQovUserProperty::GetName() const {
    if (const KProperty* p = GetProperty()) return KString(p->GetName());
    return mDescription ? mDescription->name : KString("");
}

void KQovUserProperty::GetLabel(KString& out, bool nameWhenEmpty) const {
    if (const KProperty* p = GetProperty())
        out = p->GetLabel() ? p->GetLabel() : "";
    else
        out = mDescription ? mDescription->label.Buffer() : "";
    if (nameWhenEmpty && out.IsEmpty()) out = GetName();
}

bool KQovUserProperty::Wraps(const KProperty* property) const {
    // A live property's reference names it alone: no need to resolve ours.
    return property && !mProperty.IsEmpty() && mProperty == property->GetWeakRef();
}

void KQovUserProperty::SetFlag(int flag, bool on) {
    if (mDescription) {
        if (on)
            mDescription->flags |= flag;
        else
            mDescription->flags &= ~flag;
    }
    if (KProperty* p = GetProperty()) p->SetFlag(AttributesOf(flag), on);
}

bool KQovUserProperty::GetFlag(int flag) const {
    if (const KProperty* p = GetProperty()) return p->TestFlag(AttributesOf(flag));
    return mDescription && (mDescription->flags & flag) != 0;
}

void KQovUserProperty::SetMin(double value) {
    if (mDescription) mDescription->min = value;
    if (KProperty* p = GetProperty()) p->SetMin(value);
}

void KQovUserProperty::SetMax(double value) {
    if (mDescription) mDescription->max = value;
    if (KProperty* p = GetProperty()) p->SetMax(value);
}

double KQovUserProperty::GetMin() const {
    if (const KProperty* p = GetProperty()) return p->GetMin();
    return mDescription ? mDescription->min : -HUGE_VAL;
}

double KQovUserProperty::GetMax() const {
    if (const KProperty* p = GetProperty()) return p->GetMax();
    return mDescription ? mDescription->max : HUGE_VAL;
}

void KQovUserProperty::SetValue(bool value) {
    SetValue(value ? 1 : 0);
}

void KQovUserProperty::SetValue(int value) {
    KProperty* p = GetProperty();
    if (!p) return;
    p->SetInt(value);
    Changed();
}

void KQovUserProperty::SetValue(double value) {
    KProperty* p = GetProperty();
    if (!p) return;
    p->SetDouble(value);
    Changed();
}

void KQovUserProperty::SetValue(double x, double y, double z) {
    KProperty* p = GetProperty();
    if (!p) return;
    if (IsColor(p)) {
        SetColor(KColor(x, y, z, 1.0));
    } else if (p->GetTypeCode() == KProperty::eVECTOR3D) {
        if (WriteComponents(p, x, y, z, 1.0)) Changed();
    }
}

void KQovUserProperty::SetColor(const KColor& color) {
    KProperty* p = GetProperty();
    if (!p || !IsColor(p)) return;
    if (WriteComponents(p, color.mRed, color.mGreen, color.mBlue, 1.0)) Changed();
}

void KQovUserProperty::GetValue(bool& value) const {
    if (KProperty* p = GetProperty()) value = p->GetInt() != 0;
}

void KQovUserProperty::GetValue(int& value) const {
    if (KProperty* p = GetProperty()) value = p->GetInt();
}

void KQovUserProperty::GetValue(double& value) const {
    if (KProperty* p = GetProperty()) value = p->GetDouble();
}

void KQovUserProperty::GetColor(KColor& color) const {
    KProperty* p = GetProperty();
    double v[3];
    if (p && IsColor(p) && ReadComponents(p, v)) color.Set(v[0], v[1], v[2], color.mAlpha);
}

void KQovUserProperty::GetVector(double& x, double& y, double& z) const {
    KProperty* p = GetProperty();
    double v[3];
    if (!p || !ReadComponents(p, v)) return;
    x = v[0];
    y = v[1];
    z = v[2];
}
